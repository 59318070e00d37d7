// PCI configuration access for the board's bridge functions.
//
// A PCI address packs bus << 20 | device << 15 | function << 12 | register, the same packing as
// the offset into the memory-mapped enhanced configuration window. Registers below 0x100 go
// through the legacy address/data ports; registers 0x100 to 0xFFF cannot be expressed there
// (the port encoding carries register bits 7:2 only) and go through the enhanced window.
#pragma once

#include "HwAccess.h"
#include "Register.h"

#include <cstdint>

namespace PciPort {
inline constexpr std::uint16_t Address = 0x0CF8;
inline constexpr std::uint16_t Data = 0x0CFC;
} // namespace PciPort

// The packed address, which is also the offset into the enhanced configuration window.
namespace PciAddressField {
inline constexpr RegisterField Bus{27, 20};
inline constexpr RegisterField Device{19, 15};
inline constexpr RegisterField Function{14, 12};
inline constexpr RegisterField BusDeviceFunction{27, 12};
inline constexpr RegisterField Register{11, 0};
} // namespace PciAddressField

// The same address as the address port takes it.
namespace PciAddressEncoding {
inline constexpr std::uint32_t Enable = BitMask(31);
inline constexpr RegisterField BusDeviceFunction{23, 8};
// Bus, device and function move from bits 27:12 of the packed address to bits 23:8 on the port.
inline constexpr unsigned BusDeviceFunctionShift =
    FieldShift(PciAddressField::BusDeviceFunction) - FieldShift(BusDeviceFunction);
inline constexpr std::uint32_t BusDeviceFunctionMask = FieldMask(BusDeviceFunction);
// The port reaches register bits 7:2; bit 1 picks the half of the data dword a 16-bit access
// uses.
inline constexpr std::uint32_t RegisterMask = FieldMask(RegisterField{7, 2});
inline constexpr std::uint32_t DataByteSelectMask = BitMask(1);
// First register that lies outside the 256-byte space the ports reach.
inline constexpr std::uint32_t ExtendedRegisterStart = 0x100;
inline constexpr std::uint32_t RegisterFieldMask = FieldMask(PciAddressField::Register);
} // namespace PciAddressEncoding

// Board memory map: base of the enhanced configuration window.
inline constexpr PhysicalAddress PciExpressBaseAddress = 0xE0000000;

// Register is an offset below 0x1000 and is placed as it is.
constexpr std::uint32_t PciAddress(std::uint32_t Bus, std::uint32_t Device, std::uint32_t Function,
                                   std::uint32_t Register) {
  return FieldValue(PciAddressField::Bus, Bus) | FieldValue(PciAddressField::Device, Device) |
         FieldValue(PciAddressField::Function, Function) | Register;
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
