// Fixed-function I/O decode of the bridge: range fields and enable bits for legacy devices.
#pragma once

#include "PeiStatus.h"

#include <cstdint>

// Opens (or, with port 0, closes) the decoding of one legacy device. Attributes: bits 7:0
// device type, bits 11:8 decode target.
Pei::Status SetIoDecode(std::uint16_t Port, std::uint8_t Size, std::uint32_t Attributes);
