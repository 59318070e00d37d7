#include "RunFacts.h"

#include "Board.h"
#include "BoardPmTimer.h"
#include "BoardSpi.h"

#include <numeric>

namespace runs {
namespace {

namespace Spi = sim::hw::Spi;
namespace PmTimer = sim::hw::PmTimer;

constexpr std::uint64_t RegisterWindow = Spi::RegisterWindow;
constexpr std::uint64_t DeviceIdAddress = Spi::ConfigWindow + Spi::DeviceIdOffset;
constexpr std::uint64_t WindowSize = Spi::WindowSize;
constexpr std::uint32_t AllOnes = 0xFFFFFFFF;
// What the run shows of the firmware's waits: each bounded wait on the controller gives up after
// its bound of reads of one register that all read the same, which is how the summary tells a
// wait that ran out.
constexpr unsigned WaitReads = runs::spiwaits::Bound;

bool InRegisterWindow(std::uint64_t Address) {
  return Address >= RegisterWindow && Address < RegisterWindow + WindowSize;
}

} // namespace

bool PolledSpiRegister(std::uint64_t Address) {
  const std::uint64_t Offset = Address - RegisterWindow;
  return InRegisterWindow(Address) &&
         (Offset == Spi::Status || Offset == Spi::Reg0C || Offset == Spi::Reg48);
}

std::uint32_t MeasuringInterval::ticks() const {
  return (PmTimerEnd - PmTimerStart) & PmTimer::CountMask;
}

const char *SpiStateName(SpiState State) {
  constexpr const char *Names[] = {"not checked", "present", "absent", "dead"};
  return Names[static_cast<std::size_t>(State)];
}

void RunFacts::endReadRun() {
  if (ReadRunAddress_ && ReadRunLength_ >= WaitReads) {
    SpiWaitRun Run{sim::MemoryRegisterName(*ReadRunAddress_),
                   ReadRunValue_,
                   ReadRunLength_,
                   ReadRunLength_ / WaitReads,
                   LastSpiWrite_,
                   {}};
    namespace Waits = runs::spiwaits;
    const std::vector<std::uint32_t> Reads(ReadRunLength_, ReadRunValue_);
    const std::uint64_t Offset = *ReadRunAddress_ - RegisterWindow;
    const Waits::SplitReads Split = Offset == Spi::Reg0C   ? Waits::SplitQuiet(Reads)
                                    : Offset == Spi::Reg48 ? Waits::SplitDrain(Reads)
                                    : ReadRunAfter_
                                        ? Waits::Split(Waits::WaitsAfter(*ReadRunAfter_), Reads)
                                        : Waits::SplitReads{};
    if (!Split.Waits.empty() && Split.Left == 0) {
      Run.RanOut = 0;
      std::size_t Read = Split.Unused;
      for (const Waits::WaitSeen &Each : Split.Waits) {
        SpiFirmwareWait Wait{Each.Wait->Function, Each.Wait->WaitsFor, Each.Reads, Each.RanOut};
        for (std::size_t Index = Read; Index < Read + Each.Reads && Index < ReadRunFrom_.size();
             ++Index) {
          if (Wait.ReadsFrom.empty() || Wait.ReadsFrom.back() != ReadRunFrom_[Index]) {
            Wait.ReadsFrom.push_back(ReadRunFrom_[Index]);
          }
        }
        Read += Each.Reads;
        Run.Waits.push_back(std::move(Wait));
        Run.RanOut += Each.RanOut ? 1 : 0;
      }
    }
    Waits_.push_back(std::move(Run));
  }
  ReadRunAddress_.reset();
  ReadRunLength_ = 0;
  ReadRunFrom_.clear();
}

void RunFacts::observe(const sim::TraceRecord &Record, const sim::Board *Source) {
  // The driver's measuring interval: a PM-timer reading, a time stamp, the timer read until the
  // ticks have passed, a second time stamp.
  if (Record.Kind == sim::AccessKind::Rdtsc) {
    if (!Interval_) {
      Interval_ = MeasuringInterval{};
      Interval_->PmTimerStart = LastPmTimer_.value_or(0);
      Interval_->TimeStamps[0] = Record.Value;
    } else if (!Interval_->Finished) {
      Interval_->PmTimerEnd = LastPmTimer_.value_or(0);
      Interval_->TimeStamps[1] = Record.Value;
      Interval_->Finished = true;
    }
  }
  if (!sim::IsBusAccess(Record.Kind)) {
    return;
  }
  const bool Read = Record.Kind == sim::AccessKind::MemRead;
  const bool Write = Record.Kind == sim::AccessKind::MemWrite;
  const auto Value = static_cast<std::uint32_t>(Record.Value);

  // A wait's reads follow one another with nothing in between.
  const bool SameRun = Read && ReadRunAddress_ == Record.Address && ReadRunValue_ == Value;
  if (!SameRun) {
    endReadRun();
    if (Read && PolledSpiRegister(Record.Address)) {
      ReadRunAddress_ = Record.Address;
      ReadRunValue_ = Value;
      ReadRunAfter_ = LastBusAccess_;
    }
  }
  LastBusAccess_ = Record;
  if (ReadRunAddress_) {
    ++ReadRunLength_;
    if (Source != nullptr) {
      if (const sim::AccessSite *Site = Source->accessSource();
          Site != nullptr && !Site->Caller.empty()) {
        ReadRunFrom_.push_back(Site->Caller);
      }
    }
  }

  if (Read && Record.Address == DeviceIdAddress && Record.Width == 2) {
    SpiState_ = Value == Spi::DeviceId ? SpiState::Present : SpiState::Absent;
  } else if (Read && Record.Address == RegisterWindow + Spi::Control0 &&
             SpiState_ == SpiState::Present && Value == AllOnes) {
    SpiState_ = SpiState::Dead;
  } else if (Write && InRegisterWindow(Record.Address)) {
    LastSpiWrite_ = sim::MemoryRegisterName(Record.Address) + " <- " + sim::HexText(Value, 8);
  }

  if (Record.Kind == sim::AccessKind::PortIn && Record.Address == PmTimer::Port) {
    LastPmTimer_ = Value & PmTimer::CountMask;
  }
}

void RunFacts::finish() {
  endReadRun();
}

std::uint64_t RunFacts::spiWaitsRanOut() const {
  return std::accumulate(
      Waits_.begin(), Waits_.end(), std::uint64_t{0},
      [](std::uint64_t Sum, const SpiWaitRun &Each) { return Sum + Each.RanOut; });
}

} // namespace runs
