// Status values of the early-init module. The module is 32-bit on the board, and its status
// stays 32 bits on every target so that the host sees the same values the board does.
#pragma once

#include <cstdint>

namespace Pei {

using Status = std::uint32_t;

inline constexpr Status ErrorBit = 0x80000000;
inline constexpr Status EFI_SUCCESS = 0;
inline constexpr Status EFI_INVALID_PARAMETER = ErrorBit | 2;
inline constexpr Status EFI_UNSUPPORTED = ErrorBit | 3;
inline constexpr Status EFI_OUT_OF_RESOURCES = ErrorBit | 9;

} // namespace Pei
