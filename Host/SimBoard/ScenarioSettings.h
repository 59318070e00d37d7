// The settings of a run, one descriptor each: the boardsim option that sets it, where the JSON
// gives it, how a fuzz input holds it, the runs that read it, and the settings it cancels. A
// setting cancels another when, once it changes the board, the other can no longer reach the
// firmware: with every read all ones no device's answer does; an absent SPI controller, or one
// whose control 0 reads all ones, is left alone, so none of its other registers is read; and a
// configuration table without the HOB list hands over none of the HOBs. Two such settings on one
// board would give the board of the first under the name of both, so they are refused together,
// and no named scenario holds both.
#pragma once

#include "RunKinds.h"
#include "Scenario.h"

#include <optional>
#include <span>

namespace sim {

enum class Setting : unsigned {
  SpiPresence,
  SpiStatus,
  SpiReg0C,
  SpiDrain,
  SpiClock,
  PmTimerStart,
  PmTimerStuck,
  UartLineStatus,
  AllOnes,
  InterruptsOff,
  LpcPresets,
  PcrPresets,
  NoHobList,
  TimerHob,
  ExtraHob,
  Smm,
  MaxSteps,
}; // in the order of Settings()

// Sets of settings, as bits.
constexpr unsigned SettingBit(Setting Which) {
  return 1u << static_cast<unsigned>(Which);
}

struct SettingDescriptor {
  Setting Which;
  const char *Option;    // "--spi-status": the boardsim option that sets it
  const char *JsonKey;   // "/scenario/spi/status": where boardsim's JSON gives it
  const char *FuzzField; // "board u32 SPI status": its field in a fuzz input; nullptr for none
  unsigned ReadBy;       // the run kinds (RunBit) whose runs read it
  unsigned Cancels;      // the settings (SettingBit) it cancels once set
  const char *Because;   // why it cancels them; nullptr when it cancels none
  bool (*Changed)(const Scenario &Board); // the board differs from the default in it
};

std::span<const SettingDescriptor> Settings();
const SettingDescriptor &Describe(Setting Which);

// The settings in which the board differs from the default board (SettingBit).
unsigned ChangedSettings(const Scenario &Board);

// A setting of Cancelled that one of Cancelling cancels: the first such pair, in table order. A
// board's own settings: CancellationIn(ChangedSettings(Board), ChangedSettings(Board)).
struct Cancellation {
  Setting Cancelling;
  Setting Cancelled;
};
std::optional<Cancellation> CancellationIn(unsigned Cancelling, unsigned Cancelled);

} // namespace sim
