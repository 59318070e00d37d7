// PCI configuration access for the board's bridge functions.
//
// A PCI address packs bus << 20 | device << 15 | function << 12 | register, the same packing as
// the offset into the memory-mapped enhanced configuration window. Registers below 0x100 go
// through the legacy address/data ports; registers 0x100 to 0xFFF cannot be expressed there
// (the port encoding carries register bits 2-7 only) and go through the enhanced window.
#pragma once

#include "HwAccess.h"

#include <cstdint>

namespace PciPort {
inline constexpr std::uint16_t Address = 0x0CF8;
inline constexpr std::uint16_t Data = 0x0CFC;
} // namespace PciPort

namespace PciAddressEncoding {
inline constexpr std::uint32_t Enable = 0x80000000;
// Bus, device and function move from bits 12-27 of the packed address to bits 8-23 on the port.
inline constexpr unsigned BusDeviceFunctionShift = 4;
inline constexpr std::uint32_t BusDeviceFunctionMask = 0x00FFFF00;
inline constexpr std::uint32_t RegisterMask = 0xFC;
inline constexpr std::uint32_t DataByteSelectMask = 0x2;
// First register that lies outside the 256-byte space the ports reach.
inline constexpr std::uint32_t ExtendedRegisterStart = 0x100;
inline constexpr std::uint32_t RegisterFieldMask = 0xFFF;
} // namespace PciAddressEncoding

// Board memory map: base of the enhanced configuration window.
inline constexpr PhysicalAddress PciExpressBaseAddress = 0xE0000000;

constexpr std::uint32_t PciAddress(std::uint32_t Bus, std::uint32_t Device, std::uint32_t Function,
                                   std::uint32_t Register) {
  return Bus << 20 | Device << 15 | Function << 12 | Register;
}

// One configuration access; the widths and directions below all take this one path, so the
// images carry the port frame and the window choice once. The four forms are folded into their
// callers, which pass the access as one more argument.
enum class PciAccess : std::uint8_t { Read16, Write16, Read32, Write32 };

// Reads (Value unused) or writes Value; returns the value read or written, 16-bit accesses in the
// low 16 bits.
BOARD_REGCALL std::uint32_t PciCfgAccess(std::uint32_t Address, PciAccess Access,
                                         std::uint32_t Value);

[[gnu::always_inline]] inline std::uint16_t PciCfgRead16(std::uint32_t Address) {
  return static_cast<std::uint16_t>(PciCfgAccess(Address, PciAccess::Read16, 0));
}
[[gnu::always_inline]] inline std::uint16_t PciCfgWrite16(std::uint32_t Address,
                                                          std::uint16_t Value) {
  PciCfgAccess(Address, PciAccess::Write16, Value);
  return Value;
}
[[gnu::always_inline]] inline std::uint32_t PciCfgRead32(std::uint32_t Address) {
  return PciCfgAccess(Address, PciAccess::Read32, 0);
}
[[gnu::always_inline]] inline std::uint32_t PciCfgWrite32(std::uint32_t Address,
                                                          std::uint32_t Value) {
  PciCfgAccess(Address, PciAccess::Write32, Value);
  return Value;
}
