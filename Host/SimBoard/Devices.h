// Device models of the simulated board, each apart from the others. None of them records
// traces; the board does that around every access. The UART and the Super I/O chip only keep what
// they were sent, in the board itself.
#pragma once

#include "BoardPmTimer.h"
#include "BoardSuperIo.h"
#include "RegisterSpace.h"
#include "Scenario.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

class CpuModel {
public:
  std::uintptr_t flags() const { return Flags_; }
  void clearInterruptFlag() { Flags_ &= ~InterruptFlag; }
  void setInterruptFlag() { Flags_ |= InterruptFlag; }
  bool interruptsEnabled() const { return (Flags_ & InterruptFlag) != 0; }
  std::uint64_t readTimeStampCounter() { return ++TimeStamp_; }

  static constexpr std::uintptr_t InterruptFlag = 0x200;

private:
  std::uintptr_t Flags_ = 0x00000202;
  std::uint64_t TimeStamp_ = 0;
};

class PmTimerModel {
public:
  PmTimerModel(std::uint32_t Start, bool Stuck)
      : Count_(Start & hw::PmTimer::CountMask), Stuck_(Stuck) {}
  // Returns the count, then advances it one tick (24 bits, wrapping to 0).
  std::uint32_t read() {
    const std::uint32_t Value = Count_;
    if (!Stuck_) {
      Count_ = (Count_ + 1) & hw::PmTimer::CountMask;
    }
    return Value;
  }
  std::uint32_t count() const { return Count_; }

private:
  std::uint32_t Count_;
  bool Stuck_;
};

class SpiControllerModel {
public:
  explicit SpiControllerModel(const SpiSettings &Settings);

  std::uint32_t readConfig(std::uint64_t Offset, unsigned Width) const;
  std::uint32_t readRegister(std::uint64_t Offset, unsigned Width);
  void writeRegister(std::uint64_t Offset, unsigned Width, std::uint32_t Value);

  const std::vector<std::uint32_t> &framesReceived() const { return Frames_; }
  std::uint32_t registerValue(std::uint64_t Offset) const;

private:
  SpiSettings Settings_;
  RegisterSpace Config_; // the configuration window: zero but for the device ID
  RegisterSpace Registers_;
  std::vector<std::uint32_t> Frames_;
};

} // namespace sim
