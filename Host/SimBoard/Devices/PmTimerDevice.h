// The ACPI power-management timer in the PCH's ACPI I/O space: a 24-bit counter read 32 bits at
// a time. The board advances it one tick each time it is read and at no other time, so a run's
// board time is counted in the reads the firmware makes.
#pragma once

#include "BoardPmTimer.h"
#include "Device.h"

namespace sim {

class PmTimerModel : public Device {
public:
  PmTimerModel(std::uint32_t Start, bool Stuck)
      : Count_(Start & hw::PmTimer::CountMask), Stuck_(Stuck) {}

  std::uint32_t read(unsigned, std::uint64_t Offset, unsigned Width) override {
    if (Offset != 0 || Width != 4) {
      return FloatingValue(Width);
    }
    const std::uint32_t Value = Count_;
    if (!Stuck_) {
      Count_ = (Count_ + 1) & hw::PmTimer::CountMask;
    }
    return Value;
  }
  // The counter is read-only.
  void write(unsigned, std::uint64_t, unsigned, std::uint32_t) override {}
  std::string registerName(unsigned, std::uint64_t Offset) const override {
    return Offset == 0 ? "PM timer" : "";
  }

  std::uint32_t count() const { return Count_; }

private:
  std::uint32_t Count_;
  bool Stuck_;
};

} // namespace sim
