#include "FuzzCheck.h"

#include "Board.h"
#include "BoardPci.h"
#include "Comparison.h"
#include "FormatComparison.h"
#include "LibraryCases.h"
#include "Processor.h"
#include "RunRecord.h"
#include "SpiWaits.h"

#include <algorithm>
#include <cstdio>
#include <span>
#include <stdexcept>

namespace fuzzruns {
namespace {

using sim::AccessKind;
using sim::TraceRecord;

// --- The SPI controller's bounded waits -------------------------------------------------------

namespace Waits = runs::spiwaits;

std::string Hex(std::uint64_t Value) {
  return sim::HexText(Value, 8);
}

// Checks one run of status reads against the waits that make it.
std::optional<std::string> CheckStatusRun(std::span<const Waits::StatusWait *const> Plan,
                                          std::span<const std::uint32_t> Reads,
                                          std::size_t FirstRecord, bool EndsTrace, bool Finished) {
  const Waits::SplitReads Split = Waits::Split(Plan, Reads);
  const std::string Bound = std::to_string(Waits::Bound);
  for (const Waits::WaitSeen &Each : Split.Waits) {
    if (Each.Ended || Each.RanOut) {
      continue;
    }
    if (EndsTrace && !Finished) {
      return std::nullopt; // the run stopped inside the wait
    }
    return "the SPI wait for " + std::string(Each.Wait->WaitsFor) + " at record " +
           std::to_string(FirstRecord) + " gave up after " + std::to_string(Each.Reads) +
           " status reads, before the status read as waited for or " + Bound + " reads were made";
  }
  if (Split.Left != 0) {
    return "the SPI status was read " + std::to_string(Reads.size()) +
           " times in a row from record " + std::to_string(FirstRecord) + ", " +
           std::to_string(Split.Left) +
           " more than its waits may make (each ends when the status reads as waited for, or "
           "after " +
           Bound + " reads)";
  }
  return std::nullopt;
}

// --- PCI configuration access through the ports -----------------------------------------------

constexpr unsigned LatchBytes = 4;

bool IsLatch(const TraceRecord &Record, AccessKind Kind) {
  return Record.Kind == Kind && Record.Width == LatchBytes &&
         Record.Address == sim::hw::Pci::AddressPort;
}

// --- Comparing the two runs -------------------------------------------------------------------

std::string InputText(const BoardInput &Input) {
  return std::string("run: ") + comparison::RunName(Input.What) + ", " +
         std::to_string(Input.Decode.size() + Input.Window.size()) + " requests, " +
         std::to_string(Input.Answers.size()) + " bytes of hardware answers";
}

// The call in one line: its capacity, what is null, each slot and the format, non-printable bytes
// as \xHH.
std::string CallText(const runs::FormatCall &Call) {
  const auto Bytes = [](const auto &From) {
    return comparison::EscapedBytes(
        {reinterpret_cast<const std::uint8_t *>(From.data()), From.size()});
  };
  std::string Text = "call: capacity " + sim::HexText(Call.Capacity, 16) +
                     (Call.NullBuffer ? ", null buffer" : "") +
                     (Call.NullFormat ? ", null format" : "") + ", slots [";
  for (std::size_t Slot = 0; Slot < Call.Arguments.size(); ++Slot) {
    const runs::FormatArgument &Each = Call.Arguments[Slot];
    Text += Slot == 0 ? "" : ", ";
    Text += Each.Bytes ? "&\"" + Bytes(*Each.Bytes) + "\"+" + std::to_string(Each.Misalign)
                       : sim::HexText(Each.Value, 16);
  }
  return Text + "], format \"" + Bytes(Call.Format) + "\"";
}

// The rules every run of an image keeps, whatever it runs: no breach, and its stack within Budget.
// Context() names the input in the finding, made only for one.
template <typename ContextText>
std::optional<Finding> RuleFinding(const runs::RunResult &Got, std::uint32_t Budget,
                                   const ContextText &Context) {
  if (Got.Image && Got.Image->Breach) {
    return Finding{"the image broke a rule", *Got.Image->Breach + "\n" + Context()};
  }
  if (Got.Image && Got.Image->StackHighWater > Budget) {
    return Finding{"the image went over its stack budget",
                   "stack high-water mark " + std::to_string(Got.Image->StackHighWater) +
                       " bytes, budget " + std::to_string(Budget) + " bytes\n" + Context()};
  }
  return std::nullopt;
}

// The script's rows or the delay's call in one line, and how much the answers hold.
std::string LibraryText(const LibraryInput &Input) {
  std::string Text;
  if (Input.Delay) {
    Text = std::string("delay: ") + modules::ModuleOf(Input.Call.Module).Name + " " +
           sim::HexText(Input.Call.Count, 16) +
           (Input.Call.Microseconds ? " microseconds" : " ticks");
  } else {
    Text = "script: " + std::to_string(Input.Rows.size()) + " rows [";
    for (std::size_t Index = 0; Index < Input.Rows.size(); ++Index) {
      const sim::ScriptTableRow &Row = Input.Rows[Index];
      Text += (Index == 0 ? "" : ", ") + sim::HexText(Row.Port, 4) + " " +
              sim::HexText(Row.AndMask, 2) + " " + sim::HexText(Row.OrValue, 2);
    }
    Text += "]";
  }
  return Text + ", PM timer from " + sim::HexText(Input.Settings.PmTimerStart, 8) + ", " +
         std::to_string(Input.Answers.size()) + " bytes of hardware answers";
}

} // namespace

std::optional<Finding> CheckLibraryInput(const runs::ModuleRuns &Host,
                                         const runs::ModuleRuns &Image, const LibraryInput &Input,
                                         const StackBudgets &Budgets, BoardPair &Boards) {
  const auto Run = [&](const runs::ModuleRuns &Runs, sim::Board &On, runs::DelayResult &Got) {
    On.reset(Input.Settings);
    On.answerReadsFrom(Input.Answers);
    if (Input.Delay) {
      Got = Runs.runDelay(On, Input.Call);
      return comparison::DelayOutcome(Got, On);
    }
    Got.Run = Runs.runScript(On, Input.Rows);
    return comparison::ScriptOutcome(Got.Run, On);
  };
  runs::DelayResult Expected, Got;
  const comparison::Outcome A = Run(Host, Boards.Host, Expected);
  const comparison::Outcome B = Run(Image, Boards.Image, Got);
  const bool Driver = Input.Delay && Input.Call.Module == modules::ModuleId::BoardInitDxe;
  if (auto Broken = RuleFinding(Got.Run, Driver ? Budgets.Driver : Budgets.EarlyInit,
                                [&] { return LibraryText(Input); })) {
    return Broken;
  }
  const comparison::CaseComparison Results =
      comparison::Compare("input (A the host build, B the image)", A, B);
  if (!Results.same()) {
    return Finding{"the image and the host build differ",
                   comparison::ReportText(Results) + LibraryText(Input)};
  }
  return std::nullopt;
}

std::optional<Finding> CheckFormatInput(const runs::ModuleRuns &Host, const runs::ModuleRuns &Image,
                                        runs::FormatCall Call, std::uint32_t DriverStack,
                                        BoardPair &Boards) {
  const sim::Scenario Default;
  Boards.Host.reset(Default);
  runs::FormatResult Expected;
  try {
    Expected = Host.runFormat(Boards.Host, Call);
  } catch (const std::length_error &) {
    Call.Capacity = runs::FormatRoom;
    Boards.Host.reset(Default);
    Expected = Host.runFormat(Boards.Host, Call);
  }
  Boards.Image.reset(Default);
  const runs::FormatResult Got = Image.runFormat(Boards.Image, Call);
  if (auto Broken = RuleFinding(Got.Run, DriverStack, [&] { return CallText(Call); })) {
    return Broken;
  }
  const comparison::CaseComparison Results =
      comparison::Compare("input (A the host build, B the image)",
                          comparison::FormatOutcome(Expected), comparison::FormatOutcome(Got));
  if (!Results.same()) {
    return Finding{"the image and the host build differ",
                   comparison::ReportText(Results) + CallText(Call)};
  }
  return std::nullopt;
}

std::optional<std::string> SpiWaitFinding(const std::vector<TraceRecord> &Trace, bool Finished) {
  const TraceRecord *Before = nullptr;
  for (std::size_t Index = 0; Index < Trace.size();) {
    const TraceRecord &Record = Trace[Index];
    if (Record.Kind == AccessKind::Note) {
      ++Index;
      continue;
    }
    if (!Waits::IsStatusRead(Record)) {
      Before = &Record;
      ++Index;
      continue;
    }
    const std::size_t First = Index;
    std::vector<std::uint32_t> Reads;
    while (Index < Trace.size() &&
           (Waits::IsStatusRead(Trace[Index]) || Trace[Index].Kind == AccessKind::Note)) {
      if (Trace[Index].Kind != AccessKind::Note) {
        Reads.push_back(static_cast<std::uint32_t>(Trace[Index].Value));
      }
      ++Index;
    }
    const auto Plan = Before != nullptr ? Waits::WaitsAfter(*Before)
                                        : std::span<const Waits::StatusWait *const>{};
    if (Plan.empty()) {
      return "the SPI status was read at record " + std::to_string(First) +
             " where no wait of the bring-up reads it";
    }
    if (auto Broken = CheckStatusRun(Plan, Reads, First, Index == Trace.size(), Finished)) {
      return Broken;
    }
    Before = &Trace[Index - 1];
  }
  return std::nullopt;
}

std::optional<std::string> PciFrameFinding(const std::vector<TraceRecord> &Trace, bool Finished) {
  std::optional<bool> FlagsIf; // the interrupt flag as the last flags read showed it
  bool InAccess = false;
  std::size_t Start = 0;
  std::uint64_t Saved = 0;
  std::optional<bool> AccessIf;
  unsigned LatchWrites = 0;
  bool Restoring = false; // the latch is back: the next access puts the interrupt flag back
  for (std::size_t Index = 0; Index < Trace.size(); ++Index) {
    const TraceRecord &Record = Trace[Index];
    if (Record.Kind == AccessKind::Note) {
      continue;
    }
    if (Restoring) {
      Restoring = false;
      const AccessKind Expected = *AccessIf ? AccessKind::Sti : AccessKind::Cli;
      if (Record.Kind != Expected) {
        return "the PCI configuration access from record " + std::to_string(Start) +
               " did not put the interrupt flag back: it was " + (*AccessIf ? "set" : "clear") +
               ", and record " + std::to_string(Index) + " is " + sim::FormatRecord(Record) +
               " where " + sim::KindMnemonic(Expected) + " belongs";
      }
      continue;
    }
    if (Record.Kind == AccessKind::Flags) {
      FlagsIf = (Record.Value & sim::CpuModel::InterruptFlag) != 0;
    } else if (IsLatch(Record, AccessKind::PortIn)) {
      InAccess = true;
      Start = Index;
      Saved = Record.Value;
      AccessIf = FlagsIf;
      LatchWrites = 0;
    } else if (InAccess && IsLatch(Record, AccessKind::PortOut) && ++LatchWrites == 2) {
      InAccess = false;
      if (Record.Value != Saved) {
        return "the PCI configuration access from record " + std::to_string(Start) + " left " +
               Hex(Record.Value) + " in the address latch at record " + std::to_string(Index) +
               " where it had found " + Hex(Saved);
      }
      Restoring = AccessIf.has_value();
    }
  }
  if (Finished && (InAccess || Restoring)) {
    return "the run ended inside the PCI configuration access from record " + std::to_string(Start);
  }
  return std::nullopt;
}

std::optional<Finding> CheckInput(const runs::ModuleRuns &Host, const runs::ModuleRuns &Image,
                                  const BoardInput &Input, const StackBudgets &Budgets,
                                  BoardPair &Boards) {
  sim::Board &HostBoard = Boards.Host;
  sim::Board &ImageBoard = Boards.Image;
  HostBoard.reset(Input.Settings);
  ImageBoard.reset(Input.Settings);
  HostBoard.answerReadsFrom(Input.Answers);
  ImageBoard.answerReadsFrom(Input.Answers);
  const runs::RunRecord Host_ =
      runs::RecordRun(Host, HostBoard, Input.What, Input.Decode, Input.Window);
  const runs::RunRecord Image_ =
      runs::RecordRun(Image, ImageBoard, Input.What, Input.Decode, Input.Window);
  const runs::RunResult &Expected = Host_.Result;
  const runs::RunResult &Got = Image_.Result;

  if (auto Broken =
          RuleFinding(Got, Input.What == comparison::Run::Dxe ? Budgets.Driver : Budgets.EarlyInit,
                      [&] { return InputText(Input); })) {
    return Broken;
  }

  // Results first, as text (a few lines); the traces record by record, formatted only to report.
  comparison::CaseComparison Results = comparison::Compare(
      "input", comparison::RecordOutcome(Host_, {}), comparison::RecordOutcome(Image_, {}));
  const std::vector<TraceRecord> &A = Host_.Trace;
  const std::vector<TraceRecord> &B = Image_.Trace;
  const bool SameTrace = std::equal(A.begin(), A.end(), B.begin(), B.end(), sim::SameRecord);
  if (!SameTrace || !Results.same()) {
    const comparison::CaseComparison Whole = comparison::Compare(
        "input (A the host build, B the image)", comparison::RecordOutcome(Host_, A),
        comparison::RecordOutcome(Image_, B));
    return Finding{"the image and the host build differ",
                   comparison::ReportText(Whole) + InputText(Input)};
  }

  const bool Finished = !Expected.Hung;
  if (auto Broken = SpiWaitFinding(A, Finished)) {
    return Finding{"a bounded SPI wait broke its bound", *Broken + "\n" + InputText(Input)};
  }
  if (auto Broken = PciFrameFinding(A, Finished)) {
    return Finding{"a PCI configuration access did not put the machine back",
                   *Broken + "\n" + InputText(Input)};
  }
  return std::nullopt;
}

} // namespace fuzzruns
