// Layout of the emulated machines. What both share: the page size and the stack paint, and the
// board's device windows, which the 64-bit machine of the driver (DxeEmulatedMachine.h) maps too.
// The rest is the 32-bit machine the early-init module runs on: its flash at the image's
// preferred base, a little RAM for the stack and the PEI services table, and the addresses the
// module must never reach (the PEI services' entries, the return to the PEI core). Everything
// else is unmapped: any access there is a fault of the module.
#pragma once

#include "BoardPci.h"
#include "BoardPcr.h"
#include "BoardSpi.h"

#include <array>
#include <cstdint>

namespace imagerun::machine {

// Unicorn maps whole 4 KiB pages.
inline constexpr std::uint32_t PageSize = 0x1000;
constexpr std::uint64_t PageRoundUp(std::uint64_t Size) {
  return (Size + PageSize - 1) & ~std::uint64_t{PageSize - 1};
}

// The stack: temporary RAM, painted before the run so that the bytes still painted afterwards
// show how deep the module went. Below it nothing is mapped: an overflow faults.
inline constexpr std::uint32_t StackBase = 0x00100000;
inline constexpr std::uint32_t StackSize = 0x4000;
inline constexpr std::uint32_t StackTop = StackBase + StackSize;
inline constexpr std::uint8_t StackPaint = 0xA5;

// The PEI services table and the pointer to it that the entry receives.
inline constexpr std::uint32_t ServicesPage = 0x000F0000;
inline constexpr std::uint32_t ServicesTable = ServicesPage;
inline constexpr std::uint32_t ServicesPointer = ServicesPage + 0x800;

// Unmapped on purpose. Each PEI service pointer holds its own trap address; a call (or a read
// through it) stops the run naming the service. The return address of every call the runner
// makes is the exit trap, where the run ends normally.
inline constexpr std::uint32_t ServiceTrapBase = 0x000E0000;
inline constexpr std::uint32_t ServiceTrapStride = 0x10;
inline constexpr std::uint32_t ExitTrap = 0x000EF000;

// The file handle argument: recognisable in a register dump, and unmapped, so the module
// dereferencing it faults.
inline constexpr std::uint32_t FileHandleToken = 0xF11EF11E;

// The board's memory-mapped devices, each access answered by sim::Board with its own width.
struct DeviceWindow {
  std::uint64_t Base;
  std::uint64_t Size;
};

// The board model's windows: the PCI configuration window, the private-configuration window and
// the three SPI controllers' register and configuration windows, side by side.
inline constexpr std::array<DeviceWindow, 3> DeviceWindows = {{
    {sim::hw::Pci::EcamBase, sim::hw::Pci::EcamSize},
    {sim::hw::Pcr::Base, sim::hw::Pcr::Size},
    {sim::hw::Spi::AllWindowsBase, sim::hw::Spi::AllWindowsSize},
}};

constexpr bool Overlaps(std::uint64_t Base, std::uint64_t Size, std::uint64_t OtherBase,
                        std::uint64_t OtherSize) {
  return Base < OtherBase + OtherSize && OtherBase < Base + Size;
}

} // namespace imagerun::machine
