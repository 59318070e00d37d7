// The board's address map: every region of I/O ports and of memory that a device answers, in one
// table. The bus decodes every access by it and names every register through it; the image
// runner maps its memory regions and checks an image's placement against them.
#pragma once

#include "BoardLegacyPorts.h"
#include "BoardLpcBridge.h"
#include "BoardPci.h"
#include "BoardPcr.h"
#include "BoardPmTimer.h"
#include "BoardSpi.h"
#include "BoardSuperIo.h"
#include "BoardUart.h"
#include "Device.h"

#include <array>
#include <cstdint>

namespace sim {

// The board's devices. Empty is a region the board knows holds no device (it reads all ones).
enum class DeviceId {
  PciHostBridge,
  PcrWindow,
  SpiController,
  Uart,
  SuperIo,
  KeyboardController,
  EmbeddedController,
  PmTimer,
  Empty,
};
inline constexpr std::size_t DeviceIdCount = 9;

struct Region {
  AddressSpace Space;
  std::uint64_t Base;
  std::uint64_t Size;
  DeviceId Device;
  unsigned DeviceRegion; // which of the device's regions this is
  // Behind the LPC bridge, on this decode target: an I/O cycle reaches the device only when the
  // bridge decodes the port to this target. Devices inside the PCH are claimed by the PCH first.
  bool BehindBridge;
  const char *Name; // what the report calls the region
};

inline constexpr unsigned OnLpc = 0;

inline constexpr std::array<Region, 15> BoardRegions = {{
    // Inside the PCH: claimed before the bridge sees the cycle.
    {AddressSpace::Io, hw::Pci::AddressPort, 4, DeviceId::PciHostBridge, 0, false,
     "PCI host bridge"},
    {AddressSpace::Io, hw::Pci::DataPort, hw::Pci::DataPortBytes, DeviceId::PciHostBridge, 1, false,
     "PCI host bridge"},
    {AddressSpace::Io, hw::PmTimer::Port, 4, DeviceId::PmTimer, 0, false, "PM timer"},
    {AddressSpace::Memory, hw::Pci::EcamBase, hw::Pci::EcamSize, DeviceId::PciHostBridge, 2, false,
     "the PCI configuration window"},
    {AddressSpace::Memory, hw::Pcr::Base, hw::Pcr::Size, DeviceId::PcrWindow, 0, false,
     "the private-configuration window"},
    {AddressSpace::Memory, hw::Spi::AllWindowsBase,
     hw::Spi::RegisterWindow - hw::Spi::AllWindowsBase, DeviceId::Empty, 0, false,
     "the PCH's other SPI controllers (not on this board)"},
    {AddressSpace::Memory, hw::Spi::RegisterWindow, hw::Spi::WindowSize, DeviceId::SpiController, 0,
     false, "the SPI controller's register window"},
    {AddressSpace::Memory, hw::Spi::ConfigWindow, hw::Spi::WindowSize, DeviceId::SpiController, 1,
     false, "the SPI controller's configuration window"},
    {AddressSpace::Memory, hw::Spi::ConfigWindow + hw::Spi::WindowSize,
     hw::Spi::AllWindowsBase + hw::Spi::AllWindowsSize - hw::Spi::ConfigWindow -
         hw::Spi::WindowSize,
     DeviceId::Empty, 0, false, "the PCH's other SPI controllers (not on this board)"},
    // Behind the LPC bridge, all on the LPC bus.
    {AddressSpace::Io, hw::SuperIo::IndexPort, hw::SuperIo::PortCount, DeviceId::SuperIo, 0, true,
     "Super I/O"},
    {AddressSpace::Io, hw::Uart::Base, hw::Uart::PortCount, DeviceId::Uart, 0, true, "UART"},
    {AddressSpace::Io, hw::Legacy::KeyboardData, 1, DeviceId::KeyboardController, 0, true,
     "keyboard controller"},
    {AddressSpace::Io, hw::Legacy::KeyboardStatus, 1, DeviceId::KeyboardController, 1, true,
     "keyboard controller"},
    {AddressSpace::Io, hw::Legacy::EcData, 1, DeviceId::EmbeddedController, 0, true,
     "embedded controller"},
    {AddressSpace::Io, hw::Legacy::EcStatus, 1, DeviceId::EmbeddedController, 1, true,
     "embedded controller"},
}};

// The region that holds the whole access, or nullptr.
constexpr const Region *FindRegion(AddressSpace Space, std::uint64_t Address, unsigned Width) {
  for (const Region &Each : BoardRegions) {
    if (Each.Space == Space && Address >= Each.Base && Address + Width <= Each.Base + Each.Size) {
      return &Each;
    }
  }
  return nullptr;
}

constexpr bool RegionsOverlap(const Region &A, const Region &B) {
  return A.Space == B.Space && A.Base < B.Base + B.Size && B.Base < A.Base + A.Size;
}

constexpr bool NoRegionsOverlap() {
  for (std::size_t First = 0; First < BoardRegions.size(); ++First) {
    for (std::size_t Second = First + 1; Second < BoardRegions.size(); ++Second) {
      if (RegionsOverlap(BoardRegions[First], BoardRegions[Second])) {
        return false;
      }
    }
  }
  return true;
}
static_assert(NoRegionsOverlap(), "two regions of the board's address map overlap");

} // namespace sim
