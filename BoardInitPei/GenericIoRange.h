// Generic I/O windows of 4 to 256 bytes on the bridge, for devices without a fixed decode.
#pragma once

#include "PeiStatus.h"
#include "Register.h"

#include <cstdint>

// The size word that requests a window.
namespace GenericIoSizeWord {
inline constexpr RegisterField DecodeTarget{11, 8};
inline constexpr RegisterField Size{7, 0};
// A 256-byte window cannot be written in eight size bits: this one value asks for it, on the
// LPC / primary target, and is read as size 255 there.
inline constexpr std::uint16_t FullWindow = 0x0100;
inline constexpr std::uint16_t FullWindowAsSize = 0x00FF;
} // namespace GenericIoSizeWord

// Opens the window holding Port in a slot of the size word's decode target, and in the slot's
// mirror. Size word: bits 7:0 window size in bytes, bits 11:8 decode target; 0x0100 asks for a
// 256-byte window on the LPC / primary target.
Pei::Status SetGenericIoRange(std::uint16_t Port, std::uint16_t SizeWord);
