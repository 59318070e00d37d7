// The PCH's private-configuration window for the DMI port. The DMI side decodes I/O cycles on
// its own copy of the bridge's decode registers, so every bridge register changed here has a
// mirror that must receive the same change, at the same width.
#pragma once

#include "HwAccess.h"
#include "Register.h"

#include <cstdint>

namespace PchPcr {

inline constexpr PhysicalAddress DmiWindowBase = 0xFD880000;

namespace Mirror {
inline constexpr Register32 GenericIoRange1{0x2730}; // ranges 1-4 follow at a 4-byte stride
inline constexpr Register16 IoDecodeRanges{0x2770};
// One enables mirror serves every decode target.
inline constexpr Register16 IoEnables{0x2774};
inline constexpr Register32 EspiCs1GenericIoRange{0x27BC};
inline constexpr Register32 EspiCs2GenericIoRange{0x27CC};
inline constexpr Register32 EspiCs3GenericIoRange{0x27D4};
} // namespace Mirror

constexpr PhysicalAddress MirrorAddress(std::uint32_t Offset) {
  return DmiWindowBase + Offset;
}

} // namespace PchPcr
