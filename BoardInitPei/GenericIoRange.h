// Generic I/O windows of 4 to 256 bytes on the bridge, for devices without a fixed decode.
#pragma once

#include "PeiStatus.h"

#include <cstdint>

// Opens the window holding Port in a slot of the size word's decode target, and in the slot's
// mirror. Size word: bits 0-7 window size in bytes, bits 8-11 decode target; 0x0100 asks for a
// 256-byte window on the LPC / primary target.
Pei::Status SetGenericIoRange(std::uint16_t Port, std::uint16_t SizeWord);
