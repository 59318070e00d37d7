// Busy-wait delays on the ACPI power-management timer: a free-running 24-bit up-counter.
#pragma once

#include "HwAccess.h"

#include <cstdint>

namespace PmTimer {
inline constexpr std::uint16_t Port = 0x1808;
inline constexpr std::uint32_t FrequencyHz = 3579545;
inline constexpr std::uint32_t CounterMask = 0x00FFFFFF;
// Bit 23 of a 24-bit difference is its sign: set once the reading has passed the target.
inline constexpr std::uint32_t DifferenceSignBit = 0x00800000;
// One pass of a long delay waits at most 2^22 ticks, well inside the counter's half range.
inline constexpr unsigned PassShift = 22;
inline constexpr std::uint32_t PassTicks = std::uint32_t{1} << PassShift;
inline constexpr std::uint32_t MicrosecondsPerSecond = 1000000;
} // namespace PmTimer

BOARD_REGCALL void PmTimerDelayTicks(std::uint32_t Ticks);
BOARD_REGCALL std::uintptr_t DelayMicroseconds(std::uintptr_t Microseconds);
