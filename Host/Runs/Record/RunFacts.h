// What a run did, read off its records as they are made: the facts the summary and the JSON
// report that no device model holds (how the SPI waits went, the driver's measuring interval).
// Only accesses count, so a run of the shipped image and of the host build give the same facts.
#pragma once

#include "SpiWaits.h"
#include "Trace.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {
class Board;
}

namespace runs {

// One of the firmware's waits that made a run of reads, each told apart from the next by the access
// before the run and the values read (SpiWaits.h).
struct SpiFirmwareWait {
  const char *Function; // "WaitTransmitReady"
  const char *WaitsFor; // "transmit FIFO not full and not busy"
  std::uint64_t Reads;
  bool RanOut; // made the firmware's bound of reads without seeing what it waits for
  // The image's functions its reads came from, in order: for a run of a shipped image, which
  // tells; empty for the host build.
  std::vector<std::string> ReadsFrom = {};
};

// A run of reads of one SPI register, of one value, in which bounded waits ran out, split into the
// firmware's waits that made it (SpiWaits.h); a run that no wait of the bring-up makes counts a
// wait for each bound of reads.
struct SpiWaitRun {
  std::string Register;               // "SPI status"
  std::uint32_t Value;                // the value it read
  std::uint64_t Reads;                // consecutive reads
  std::uint64_t RanOut;               // waits that used up their bound
  std::string After;                  // the last write to the controller before the run
  std::vector<SpiFirmwareWait> Waits; // the waits that made it, in order; else empty
};

enum class SpiState { NotChecked, Present, Absent, Dead }; // in the order of SpiStateName's names

struct MeasuringInterval {
  std::uint32_t PmTimerStart = 0, PmTimerEnd = 0;
  std::uint64_t TimeStamps[2] = {0, 0};
  bool Finished = false; // both time stamps taken
  std::uint32_t ticks() const;
};

class RunFacts {
public:
  // Source, when given, is the board the record comes from: it tells which function makes each of
  // a wait's reads, when the run can tell.
  void observe(const sim::TraceRecord &Record, const sim::Board *Source = nullptr);
  // Ends the last open run of reads; call once the run is over.
  void finish();

  SpiState spiState() const { return SpiState_; }
  const std::vector<SpiWaitRun> &spiWaits() const { return Waits_; }
  std::uint64_t spiWaitsRanOut() const;
  const std::optional<MeasuringInterval> &interval() const { return Interval_; }

private:
  void endReadRun();

  SpiState SpiState_ = SpiState::NotChecked;
  std::optional<std::uint64_t> ReadRunAddress_;
  std::optional<sim::TraceRecord> LastBusAccess_, ReadRunAfter_; // the access before the run
  std::uint32_t ReadRunValue_ = 0;
  std::uint64_t ReadRunLength_ = 0;
  std::vector<std::string> ReadRunFrom_; // each read's function, when the board tells
  std::string LastSpiWrite_ = "the start";
  std::vector<SpiWaitRun> Waits_;
  std::optional<std::uint32_t> LastPmTimer_;
  std::optional<MeasuringInterval> Interval_;
};

const char *SpiStateName(SpiState State);
// The SPI registers the bring-up polls with a bounded wait: status, 0x0C and 0x48.
bool PolledSpiRegister(std::uint64_t Address);

} // namespace runs
