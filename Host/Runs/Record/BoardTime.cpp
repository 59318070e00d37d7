#include "BoardTime.h"

#include "BoardPmTimer.h"
#include "BoardUart.h"
#include "RunFacts.h"

#include <sstream>

namespace runs {
namespace {

namespace PmTimer = sim::hw::PmTimer;

constexpr std::uint64_t MicrosecondsPerSecond = 1000000;
// Hundredths of a microsecond, for the summary's two decimals.
constexpr std::uint64_t Hundredths = 100;
// A run of fewer reads is a single look at the register, not a spin.
constexpr std::uint64_t WaitReads = 2;

bool PmTimerRead(const sim::TraceRecord &Record) {
  return Record.Kind == sim::AccessKind::PortIn && Record.Address == PmTimer::Port;
}

// The reads a wait is made of: the PM timer (a delay), the UART line status and the SPI
// registers the bring-up polls (bounded waits).
bool Waitable(const sim::TraceRecord &Record) {
  return PmTimerRead(Record) ||
         (Record.Kind == sim::AccessKind::PortIn &&
          Record.Address == sim::hw::Uart::LineStatusPort) ||
         (Record.Kind == sim::AccessKind::MemRead && PolledSpiRegister(Record.Address));
}

std::uint64_t Rounded(std::uint64_t Ticks, std::uint64_t Units) {
  return (Ticks * Units + PmTimerHz / 2) / PmTimerHz;
}

} // namespace

const char *WaitKindName(WaitKind Kind) {
  constexpr const char *Names[] = {"delay", "measuring interval", "wait"};
  return Names[static_cast<std::size_t>(Kind)];
}

std::uint64_t Microseconds(std::uint64_t Ticks) {
  return Rounded(Ticks, MicrosecondsPerSecond);
}

std::string MicrosecondsText(std::uint64_t Ticks) {
  const std::uint64_t Value = Rounded(Ticks, MicrosecondsPerSecond * Hundredths);
  const std::string Fraction = std::to_string(Value % Hundredths);
  return std::to_string(Value / Hundredths) + "." + (Fraction.size() == 1 ? "0" : "") + Fraction;
}

std::string WaitText(const TimedWait &Wait) {
  return std::string("the ") + WaitKindName(Wait.Kind) + " on the " + Wait.Register + " (" +
         (Wait.IsPort ? "port " + sim::HexText(Wait.Address, 4) : sim::HexText(Wait.Address, 8)) +
         ")";
}

void BoardTime::observe(const sim::TraceRecord &Record, const sim::Board *Running) {
  if (Record.Kind == sim::AccessKind::Rdtsc && Open_ && Open_->IsPort &&
      Open_->Address == PmTimer::Port) {
    // The driver's measuring interval: time stamps taken between readings of the timer.
    TimeStampInOpen_ = true;
  }
  if (!sim::IsBusAccess(Record.Kind)) {
    return;
  }
  std::uint64_t Ticks = 0;
  if (PmTimerRead(Record)) {
    const auto Reading = static_cast<std::uint32_t>(Record.Value) & PmTimer::CountMask;
    // Each step between two readings is below the counter's range, so a wrap is one step.
    Ticks = Last_ ? (Reading - *Last_) & PmTimer::CountMask : 0;
    Ticks_ += Ticks;
    First_ = First_.value_or(Reading);
    Last_ = Reading;
    ++Reads_;
  }
  const bool Continues =
      Open_ &&
      Record.Kind == (Open_->IsPort ? sim::AccessKind::PortIn : sim::AccessKind::MemRead) &&
      Record.Address == Open_->Address;
  if (Continues) {
    ++Open_->Reads;
    Open_->Ticks += Ticks;
    return;
  }
  closeWait();
  if (!Waitable(Record)) {
    return;
  }
  TimedWait Wait;
  Wait.Kind = PmTimerRead(Record) ? WaitKind::Delay : WaitKind::BoundedWait;
  Wait.Register = Record.Text;
  Wait.IsPort = Record.Kind == sim::AccessKind::PortIn;
  Wait.Address = Record.Address;
  Wait.Reads = 1;
  if (Running != nullptr) {
    for (const sim::CallRecord &Call : Running->openCalls()) {
      Wait.Running.push_back(sim::CallText(Call));
    }
  }
  Open_ = std::move(Wait);
}

void BoardTime::closeWait() {
  if (Open_ && (Open_->Reads >= WaitReads || !Open_->Finished)) {
    if (TimeStampInOpen_) {
      Open_->Kind = WaitKind::MeasuringInterval;
    }
    Waits_.push_back(std::move(*Open_));
  }
  Open_.reset();
  TimeStampInOpen_ = false;
}

void BoardTime::finish(bool Hung) {
  if (Open_ && Hung) {
    Open_->Finished = false;
  }
  closeWait();
}

const TimedWait *BoardTime::hungIn() const {
  return !Waits_.empty() && !Waits_.back().Finished ? &Waits_.back() : nullptr;
}

std::string BoardTimeHeading() {
  return "PM-timer time the firmware read (the timer ticks only when read; waits reading no timer "
         "count 0):\n";
}

std::string BoardTimeSummary(const BoardTime &Time, const std::string &Subject, bool EachWait) {
  std::ostringstream Out;
  Out << "  " << Subject << ": ";
  if (Time.pmTimerReads() == 0) {
    Out << "no PM-timer readings, so no board time passed\n";
  } else {
    Out << Time.ticks() << (Time.ticks() == 1 ? " tick (" : " ticks (")
        << MicrosecondsText(Time.ticks()) << " microseconds) from the first of "
        << Time.pmTimerReads()
        << (Time.pmTimerReads() == 1 ? " PM-timer reading" : " PM-timer readings")
        << " to the last\n";
  }
  const auto Described = [](const TimedWait &Wait) {
    std::string Line = WaitText(Wait);
    Line[0] = 'T';
    if (!Wait.Running.empty()) {
      Line += " in " + Wait.Running.back();
    }
    return Line + ": " + std::to_string(Wait.Reads) + (Wait.Reads == 1 ? " read, " : " reads, ") +
           std::to_string(Wait.Ticks) + (Wait.Ticks == 1 ? " tick (" : " ticks (") +
           MicrosecondsText(Wait.Ticks) + " microseconds)" +
           (Wait.Finished ? "" : ", and the run hung in it");
  };
  if (!EachWait) {
    // The count of each kind; the wait a hung run was in, whose reads are where it stopped.
    std::size_t Delays = 0, Bounded = 0;
    for (const TimedWait &Wait : Time.waits()) {
      ++(Wait.Kind == WaitKind::BoundedWait ? Bounded : Delays);
    }
    if (Delays + Bounded != 0) {
      Out << "  " << Delays << (Delays == 1 ? " delay" : " delays") << " on the PM timer, "
          << Bounded << (Bounded == 1 ? " bounded wait" : " bounded waits")
          << " on other registers (--verbose lists each)\n";
    }
    if (const TimedWait *HungIn = Time.hungIn()) {
      Out << "  " << Described(*HungIn) << "\n";
    }
    return Out.str();
  }
  // Waits that read alike, one after another, share a line.
  std::string Previous;
  std::size_t Repeats = 0;
  const auto Flush = [&] {
    if (Repeats != 0) {
      Out << "  " << Previous << (Repeats == 1 ? "" : ", " + std::to_string(Repeats) + " times")
          << "\n";
    }
  };
  for (const TimedWait &Wait : Time.waits()) {
    std::string Line = Described(Wait);
    if (Line != Previous) {
      Flush();
      Previous = std::move(Line);
      Repeats = 0;
    }
    ++Repeats;
  }
  Flush();
  return Out.str();
}

} // namespace runs
