// Names of the registers the simulated board knows, used as trace comments.
#include "Board.h"
#include "BoardLpcBridge.h"
#include "BoardPci.h"
#include "BoardPcr.h"
#include "BoardSpi.h"

namespace sim {
namespace {

std::string Find(std::span<const hw::NamedRegister> Table, std::uint64_t Offset) {
  const hw::NamedRegister *Found = hw::FindRegister(Table, Offset);
  return Found == nullptr ? "" : Found->Name;
}

bool Inside(std::uint64_t Address, std::uint64_t Base, std::uint64_t Size) {
  return Address >= Base && Address < Base + Size;
}

} // namespace

std::string BridgeRegisterName(std::uint32_t Offset) {
  return Find(hw::LpcBridge::Registers, Offset);
}

std::string MemoryRegisterName(std::uint64_t Address) {
  constexpr std::uint64_t BridgeEcamBase = hw::Pci::EcamBase + hw::LpcBridge::EcamOffset;
  if (Inside(Address, BridgeEcamBase, hw::LpcBridge::ConfigSize)) {
    const std::string Name =
        BridgeRegisterName(static_cast<std::uint32_t>(Address - BridgeEcamBase));
    return Name.empty() ? "bridge configuration (ECAM)" : Name + " (ECAM)";
  }
  if (Inside(Address, hw::Pcr::Base, hw::Pcr::Size)) {
    return Find(hw::Pcr::Registers, Address - hw::Pcr::Base);
  }
  if (Inside(Address, hw::Spi::RegisterWindow, hw::Spi::WindowSize)) {
    return Find(hw::Spi::Registers, Address - hw::Spi::RegisterWindow);
  }
  if (Address == hw::Spi::ConfigWindow + hw::Spi::DeviceIdOffset) {
    return "SPI device ID";
  }
  return "";
}

} // namespace sim
