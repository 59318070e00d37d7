// Names of the registers the simulated board knows, used as trace comments.
#include "Board.h"

#include <array>

namespace sim {
namespace {

struct NamedRegister {
  std::uint64_t Offset;
  const char *Name;
};

constexpr std::array BridgeRegisters = {
    NamedRegister{0x000, "bridge vendor/device ID"},
    NamedRegister{0x080, "I/O Decode Ranges"},
    NamedRegister{0x082, "I/O Enables"},
    NamedRegister{0x084, "Generic I/O Range 1"},
    NamedRegister{0x088, "Generic I/O Range 2"},
    NamedRegister{0x08C, "Generic I/O Range 3"},
    NamedRegister{0x090, "Generic I/O Range 4"},
    NamedRegister{0x0A0, "eSPI CS1 I/O Enables"},
    NamedRegister{0x0A4, "eSPI CS1 Generic I/O Range"},
    NamedRegister{0x200, "eSPI CS2 I/O Enables"},
    NamedRegister{0x204, "eSPI CS2 Generic I/O Range"},
    NamedRegister{0x240, "eSPI CS3 I/O Enables"},
    NamedRegister{0x244, "eSPI CS3 Generic I/O Range"},
};

constexpr std::array PcrRegisters = {
    NamedRegister{0x2730, "Generic I/O Range 1 mirror"},
    NamedRegister{0x2734, "Generic I/O Range 2 mirror"},
    NamedRegister{0x2738, "Generic I/O Range 3 mirror"},
    NamedRegister{0x273C, "Generic I/O Range 4 mirror"},
    NamedRegister{0x2770, "I/O Decode Ranges mirror"},
    NamedRegister{0x2774, "I/O Enables mirror"},
    NamedRegister{0x27BC, "eSPI CS1 Generic I/O Range mirror"},
    NamedRegister{0x27CC, "eSPI CS2 Generic I/O Range mirror"},
    NamedRegister{0x27D4, "eSPI CS3 Generic I/O Range mirror"},
};

constexpr std::array SpiRegisters = {
    NamedRegister{0x000, "SPI control 0"}, NamedRegister{0x004, "SPI control 1"},
    NamedRegister{0x008, "SPI status"},    NamedRegister{0x00C, "SPI register 0x0C"},
    NamedRegister{0x010, "SPI data"},      NamedRegister{0x048, "SPI register 0x48"},
    NamedRegister{0x200, "SPI clock"},
};

template <std::size_t N>
std::string Find(const std::array<NamedRegister, N> &Table, std::uint64_t Offset) {
  for (const NamedRegister &Entry : Table) {
    if (Entry.Offset == Offset) {
      return Entry.Name;
    }
  }
  return "";
}

} // namespace

std::string BridgeRegisterName(std::uint32_t Offset) {
  return Find(BridgeRegisters, Offset);
}

std::string MemoryRegisterName(std::uint64_t Address) {
  if (Address >= Map::EcamBase + Map::BridgeEcamOffset &&
      Address < Map::EcamBase + Map::BridgeEcamOffset + Map::BridgeConfigSize) {
    const std::string Name = BridgeRegisterName(
        static_cast<std::uint32_t>(Address - Map::EcamBase - Map::BridgeEcamOffset));
    return Name.empty() ? "bridge configuration (ECAM)" : Name + " (ECAM)";
  }
  if (Address >= Map::PcrBase && Address < Map::PcrBase + Map::PcrSize) {
    return Find(PcrRegisters, Address - Map::PcrBase);
  }
  if (Address >= Map::SpiRegisterWindow && Address < Map::SpiRegisterWindow + Map::SpiWindowSize) {
    return Find(SpiRegisters, Address - Map::SpiRegisterWindow);
  }
  if (Address == Map::SpiConfigWindow + SpiControllerModel::DeviceIdOffset) {
    return "SPI device ID";
  }
  return "";
}

} // namespace sim
