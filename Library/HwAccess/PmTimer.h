// Busy-wait delays on the ACPI power-management timer: a free-running 24-bit up-counter.
#pragma once

#include "HwAccess.h"
#include "Register.h"

#include <cstdint>

namespace PmTimer {
// The count is read 32 bits at a time from this port; bits 31:24 read zero.
inline constexpr std::uint16_t Port = 0x1808;
inline constexpr std::uint32_t FrequencyHz = 3579545;
inline constexpr RegisterField Counter{23, 0};
inline constexpr std::uint32_t CounterMask = FieldMask(Counter);
// Bit 23 of a 24-bit difference is its sign: set once the reading has passed the target.
inline constexpr std::uint32_t DifferenceSignBit = BitMask(Counter.High);
// One pass of a long delay waits at most 2^22 ticks, well inside the counter's half range: a
// tick count splits into whole passes (bits 31:22) and a first, shorter pass (bits 21:0).
inline constexpr RegisterField WholePasses{31, 22};
inline constexpr RegisterField FirstPass{21, 0};
inline constexpr std::uint32_t PassTicks = FieldMask(FirstPass) + 1;
inline constexpr std::uint32_t MicrosecondsPerSecond = 1000000;
} // namespace PmTimer

BOARD_REGCALL void PmTimerDelayTicks(std::uint32_t Ticks);
BOARD_REGCALL std::uintptr_t DelayMicroseconds(std::uintptr_t Microseconds);
