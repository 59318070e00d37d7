// PM-timer delays, written once over the primitives for every target.
#include "PmTimer.h"

#include "HwAccess.h"
#include "WideDivision.h"

void PmTimerDelayTicks(std::uint32_t Ticks) {
  std::uint32_t Passes = FieldGet(PmTimer::WholePasses, Ticks);
  std::uint32_t Chunk = FieldGet(PmTimer::FirstPass, Ticks);
  for (;;) {
    const std::uint32_t Target = (PortRead32(PmTimer::Port) & PmTimer::CounterMask) + Chunk;
    Chunk = PmTimer::PassTicks;
    // The reading is compared unmasked: the counter's upper byte reads zero, and the bit-23 test
    // on the 32-bit difference also absorbs the wrap from 0xFFFFFF to 0.
    while (((Target - PortRead32(PmTimer::Port)) & PmTimer::DifferenceSignBit) == 0) {
      CpuPause();
    }
    if (Passes-- == 0) {
      break;
    }
  }
}

std::uintptr_t DelayMicroseconds(std::uintptr_t Microseconds) {
  const std::uint64_t Product = std::uint64_t{PmTimer::FrequencyHz} * Microseconds;
  PmTimerDelayTicks(
      static_cast<std::uint32_t>(DivideU64ByU32(Product, PmTimer::MicrosecondsPerSecond)));
  return Microseconds;
}
