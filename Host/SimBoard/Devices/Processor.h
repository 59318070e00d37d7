// The boot processor's own state that the firmware reaches: the flags register with its interrupt
// flag, and the time-stamp counter. Not on the bus: its events are instructions, not cycles.
#pragma once

#include <cstdint>

namespace sim {

class CpuModel {
public:
  CpuModel() = default;
  explicit CpuModel(bool InterruptsOff)
      : Flags_(InterruptsOff ? ResetFlags & ~InterruptFlag : ResetFlags) {}
  std::uintptr_t flags() const { return Flags_; }
  void clearInterruptFlag() { Flags_ &= ~InterruptFlag; }
  void setInterruptFlag() { Flags_ |= InterruptFlag; }
  bool interruptsEnabled() const { return (Flags_ & InterruptFlag) != 0; }
  // The counter as the next read returns it: each read advances it by one.
  std::uint64_t readTimeStampCounter() { return ++TimeStamp_; }

  static constexpr std::uintptr_t InterruptFlag = 0x200;
  // Reset state: interrupts enabled, the always-one bit 1 set.
  static constexpr std::uintptr_t ResetFlags = 0x00000202;

private:
  std::uintptr_t Flags_ = ResetFlags;
  std::uint64_t TimeStamp_ = 0;
};

} // namespace sim
