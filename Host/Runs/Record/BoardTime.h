// Board time: how long a run, and each wait the firmware spun in, took by the board's PM timer.
//
// What the board model can tell: its PM timer advances one tick each time it is read and at no
// other time, so board time passes only while the firmware reads the timer. A delay (a run of
// PM-timer reads) takes the ticks between its first and its last reading, which is what the
// firmware itself measured; a bounded wait that polls another register (an SPI status register,
// the UART line status) reads no timer and so takes no board time, however many reads it makes:
// its reads are the measure of it.
#pragma once

#include "Board.h"
#include "Trace.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace runs {

inline constexpr std::uint32_t PmTimerHz = 3579545;

enum class WaitKind { Delay, MeasuringInterval, BoundedWait }; // in WaitKindName's order

// One run of reads of one register that the firmware spun on: at least two reads in a row with no
// other port or memory access between them (processor events such as pause may come between),
// or the one the run hung in.
struct TimedWait {
  WaitKind Kind = WaitKind::Delay;
  std::string Register;             // the board's name for it: "PM timer", "SPI status"
  bool IsPort = false;              // an I/O port; a memory address otherwise
  std::uint64_t Address = 0;        // the port or the physical address
  std::uint64_t Reads = 0;          // consecutive reads
  std::uint64_t Ticks = 0;          // PM-timer ticks from the first reading in it to the last
  bool Finished = true;             // false: the run hung inside it
  std::vector<std::string> Running; // the calls in progress when it began, outermost first
};

class BoardTime {
public:
  // Running, when given, is the board the record comes from: its calls in progress name where each
  // wait was.
  void observe(const sim::TraceRecord &Record, const sim::Board *Running = nullptr);
  // Ends the open wait; a hung run ends inside it.
  void finish(bool Hung);

  std::uint64_t pmTimerReads() const { return Reads_; }
  std::optional<std::uint32_t> firstReading() const { return First_; }
  std::optional<std::uint32_t> lastReading() const { return Last_; }
  // The ticks the run saw: from its first PM-timer reading to its last, across any wrap.
  std::uint64_t ticks() const { return Ticks_; }
  const std::vector<TimedWait> &waits() const { return Waits_; }
  // The wait a hung run was in: the one its last port or memory access belongs to.
  const TimedWait *hungIn() const;

private:
  void closeWait();

  std::uint64_t Reads_ = 0;
  std::optional<std::uint32_t> First_, Last_;
  std::uint64_t Ticks_ = 0;
  std::optional<TimedWait> Open_;
  bool TimeStampInOpen_ = false;
  std::vector<TimedWait> Waits_;
};

const char *WaitKindName(WaitKind Kind);
// Ticks in microseconds: rounded to the nearest whole one, or as text with two decimals.
std::uint64_t Microseconds(std::uint64_t Ticks);
std::string MicrosecondsText(std::uint64_t Ticks);
// "the delay on the PM timer, port 0x1808"; "the bounded wait on SPI status at 0xFE032004".
std::string WaitText(const TimedWait &Wait);
// The summary's block: its heading, which says what board time measures, then for each run
// Subject ("BoardInitPei") and the run's ticks, with the count of its waits (and the one a hung
// run was in) or, with EachWait, each wait.
std::string BoardTimeHeading();
std::string BoardTimeSummary(const BoardTime &Time, const std::string &Subject, bool EachWait);

} // namespace runs
