// Generic I/O Range registers (bridge and mirror share the layout) and the size word that
// requests a window.
#pragma once

#include "Register.h"

#include <cstdint>

namespace GenericIoRange {
// Bits 2-7 of (window size - 1): a set bit leaves that port-address bit out of the compare.
inline constexpr RegisterField AddressMask{23, 18};
// Bits 2-15 of the window base; bits 0-1 are implied by the 4-byte minimum window.
inline constexpr RegisterField Base{15, 2};
inline constexpr std::uint32_t Enable = BitMask(0);

// The smallest window the register can express is 4 bytes, the largest 256.
inline constexpr std::uint32_t MinimumWindow = 4;
} // namespace GenericIoRange

namespace GenericIoSizeWord {
inline constexpr RegisterField DecodeTarget{11, 8};
inline constexpr RegisterField Size{7, 0};
// A 256-byte window cannot be written in eight size bits: this one value asks for it, on the
// LPC / primary target, and is read as size 255 there.
inline constexpr std::uint16_t FullWindow = 0x0100;
inline constexpr std::uint16_t FullWindowAsSize = 0x00FF;
} // namespace GenericIoSizeWord
