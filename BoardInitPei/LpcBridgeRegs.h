// Configuration registers of the PCH's LPC/eSPI bridge (bus 0, device 31, function 0) that
// route legacy I/O cycles to the LPC bus or to an eSPI chip select.
#pragma once

#include "PciConfig.h"
#include "Register.h"

#include <cstdint>

namespace LpcBridge {

inline constexpr std::uint32_t Bus = 0;
inline constexpr std::uint32_t Device = 31;
inline constexpr std::uint32_t Function = 0;

constexpr std::uint32_t ConfigAddress(std::uint32_t Register) {
  return PciAddress(Bus, Device, Function, Register);
}

namespace Reg {
inline constexpr Register32 VendorDeviceId{0x000};
inline constexpr Register16 IoDecodeRanges{0x080};  // shared by all targets
inline constexpr Register16 IoEnables{0x082};       // LPC / primary
inline constexpr Register32 GenericIoRange1{0x084}; // ranges 1-4 follow
inline constexpr Register16 EspiCs1IoEnables{0x0A0};
inline constexpr Register32 EspiCs1GenericIoRange{0x0A4};
// Chip selects 2 and 3 lie above the 256-byte legacy configuration space.
inline constexpr Register16 EspiCs2IoEnables{0x200};
inline constexpr Register32 EspiCs2GenericIoRange{0x204};
inline constexpr Register16 EspiCs3IoEnables{0x240};
inline constexpr Register32 EspiCs3GenericIoRange{0x244};
} // namespace Reg

inline constexpr std::uint32_t GenericIoRangeStride = 4;
// The LPC / primary target has four Generic I/O Range registers; each eSPI chip select has one.
inline constexpr std::uint32_t PrimaryGenericIoRanges = 4;
inline constexpr std::uint32_t ChipSelectGenericIoRanges = 1;

} // namespace LpcBridge
