// Timer start-up: one measuring interval of the time-stamp counter against the PM timer, unless
// the HOB list says the boot needs none.
#pragma once

#include <cstdint>

// 363 ticks of the 3.579545 MHz PM timer: about 101 microseconds.
inline constexpr std::uint32_t MeasuringIntervalTicks = 363;

void TimerStartup(const void *HobList);
