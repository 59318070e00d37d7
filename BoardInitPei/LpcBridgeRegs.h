// Configuration registers of the PCH's LPC/eSPI bridge (bus 0, device 31, function 0) that
// route legacy I/O cycles to the LPC bus or to an eSPI chip select.
#pragma once

#include "PciConfig.h"

#include <cstdint>

namespace LpcBridge {

inline constexpr std::uint32_t Bus = 0;
inline constexpr std::uint32_t Device = 31;
inline constexpr std::uint32_t Function = 0;

constexpr std::uint32_t ConfigAddress(std::uint32_t Register) {
  return PciAddress(Bus, Device, Function, Register);
}

namespace Reg {
inline constexpr std::uint32_t IoDecodeRanges = 0x080;   // 16 bits, shared by all targets
inline constexpr std::uint32_t IoEnables = 0x082;        // 16 bits, LPC / primary
inline constexpr std::uint32_t GenericIoRange1 = 0x084;  // 32 bits each, ranges 1-4 follow
inline constexpr std::uint32_t EspiCs1IoEnables = 0x0A0; // 16 bits
inline constexpr std::uint32_t EspiCs1GenericIoRange = 0x0A4;
// Chip selects 2 and 3 lie above the 256-byte legacy configuration space.
inline constexpr std::uint32_t EspiCs2IoEnables = 0x200;
inline constexpr std::uint32_t EspiCs2GenericIoRange = 0x204;
inline constexpr std::uint32_t EspiCs3IoEnables = 0x240;
inline constexpr std::uint32_t EspiCs3GenericIoRange = 0x244;
} // namespace Reg

inline constexpr std::uint32_t GenericIoRangeStride = 4;

} // namespace LpcBridge
