#include "TimerStartup.h"

#include "DxeGuids.h"
#include "HobList.h"
#include "HwAccess.h"
#include "PmTimer.h"

namespace {

// Interrupts stay masked across the interval so that the two time-stamp readings bracket exactly
// the PM-timer ticks counted; the measurement itself is not kept.
void RunMeasuringInterval() {
  const bool InterruptsWereEnabled = (ReadFlags() & CpuFlags::InterruptEnable) != 0;
  DisableInterrupts();
  const std::uint32_t Start = PortRead32(PmTimer::Port) & PmTimer::CounterMask;
  (void)ReadTimeStampCounter();
  // Bit 23 of the 32-bit difference turns on once the reading has passed the target, also across
  // the counter's wrap from 0xFFFFFF to 0.
  while (((Start + MeasuringIntervalTicks - PortRead32(PmTimer::Port)) &
          PmTimer::DifferenceSignBit) == 0) {
    CpuPause();
  }
  (void)ReadTimeStampCounter();
  if (InterruptsWereEnabled) {
    EnableInterrupts();
  } else {
    DisableInterrupts();
  }
}

} // namespace

void TimerStartup(const void *HobList) {
  if (HobListHasGuidHob(HobList, DxeGuid::TimerCalibrated)) {
    return;
  }
  RunMeasuringInterval();
}
