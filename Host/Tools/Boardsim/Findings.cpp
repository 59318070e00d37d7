#include "Findings.h"

#include "DeviceReport.h"

#include <sstream>

namespace boardsim {
namespace {

std::string Plural(std::uint64_t Count, const char *One, const char *Many) {
  return std::to_string(Count) + " " + (Count == 1 ? One : Many);
}

bool ShowsDecode(Module Which) {
  return Which != Module::Dxe;
}

void MirrorWarning(std::vector<std::string> &Out, const std::string &Name, std::uint32_t Register,
                   std::uint32_t Mirror, int Digits) {
  if (Register != Mirror) {
    Out.push_back("WARNING: " + Name + " " + sim::HexText(Register, Digits) + " | mirror " +
                  sim::HexText(Mirror, Digits) + ": MIRROR DIFFERS");
  }
}

std::string Ending(const RunRecord &Report) {
  const runs::RunResult &Result = Report.Result;
  if (Result.Image && Result.Image->Breach) {
    return "STOPPED: the firmware broke a rule (named above)";
  }
  if (Result.Hung && Result.Image && Result.Image->SpunWithoutAccess) {
    return "HUNG: " + std::to_string(runs::InstructionsWithoutAccess) +
           " instructions without an access";
  }
  if (Result.Hung) {
    return "HUNG: stopped by " + StepBudgetText(Report.Settings.MaxSteps);
  }
  return "ran to its end";
}

std::string SpiFinding(const RunRecord &Report) {
  switch (Report.Facts.spiState()) {
  case SpiState::NotChecked:
    return {};
  case SpiState::Absent:
    return "SPI controller absent: left alone";
  case SpiState::Dead:
    return "SPI controller present but dead: left alone";
  case SpiState::Present:
    break;
  }
  const std::uint64_t RanOut = Report.Facts.spiWaitsRanOut();
  return "SPI controller present: " +
         Plural(RanOut, "bounded wait ran out", "bounded waits ran out");
}

std::string RequestFinding(const RunRecord &Report) {
  const std::size_t Asked = Report.Decode.Requests.size();
  std::size_t Refused = 0, Unanswered = 0;
  for (const RequestOutcome &Request : Report.Decode.Requests) {
    if (!Request.Call.Status) {
      ++Unanswered;
    } else if (*Request.Call.Status != 0) {
      ++Refused;
    }
  }
  std::string Text = Plural(Asked, "request", "requests") + ": " +
                     std::to_string(Asked - Refused - Unanswered) + " succeeded, " +
                     std::to_string(Refused) + " refused";
  if (Unanswered != 0) {
    Text += ", " + std::to_string(Unanswered) + " did not return";
  }
  return Text;
}

} // namespace

std::vector<std::string> MirrorWarnings(const DecodeState &State) {
  std::vector<std::string> Out;
  MirrorWarning(Out, "I/O Decode Ranges", State.IoDecodeRanges, State.IoDecodeRangesMirror, 4);
  MirrorWarning(Out, "I/O Enables", State.IoEnables, State.IoEnablesMirror, 4);
  for (const GenericWindow &Window : State.Windows) {
    MirrorWarning(Out, Window.Slot, Window.Register, Window.Mirror, 8);
  }
  return Out;
}

std::size_t WarningCount(const RunRecord &Report) {
  std::size_t Count = 0;
  if (ShowsDecode(Report.Which)) {
    Count += Report.Decode.Warnings.size() + MirrorWarnings(ReadDecodeState(Report.End)).size();
  }
  if (Report.Which == Module::Pei) {
    Count += SuperIoWarningCount(Report.End);
  }
  if (Report.Which == Module::Dxe) {
    Count += SerialLossWarningCount(Report.End);
  }
  return Count;
}

std::string StepBudgetText(std::uint64_t MaxSteps) {
  return "the step budget of " + Plural(MaxSteps, "step", "steps") +
         " (bus accesses and processor events)";
}

std::string FindingsSummary(const RunRecord &Report) {
  std::ostringstream Out;
  Out << "Findings:\n  " << Ending(Report) << "\n";
  const std::size_t Warnings = WarningCount(Report);
  Out << "  "
      << (Warnings == 0 ? std::string("no warnings")
                        : Plural(Warnings, "warning", "warnings") +
                              ", each marked WARNING beside what it concerns")
      << "\n";
  if (ShowsDecode(Report.Which)) {
    const DecodeState State = ReadDecodeState(Report.End);
    const std::vector<std::string> Mirrors = MirrorWarnings(State);
    for (const std::string &Warning : Mirrors) {
      Out << "  " << Warning << "\n";
    }
    if (Mirrors.empty()) {
      Out << "  every decode register matches its private-configuration mirror\n";
    }
    if (const std::uint16_t Reserved = ReservedDecodeRangeBits(State.IoDecodeRanges)) {
      Out << "  I/O Decode Ranges has reserved bits " << sim::HexText(Reserved, 4) << " set\n";
    }
  }
  if (Report.Which == Module::Decode || Report.Which == Module::Window) {
    Out << "  " << RequestFinding(Report) << "\n";
  }
  if (const std::string Spi = SpiFinding(Report); !Spi.empty()) {
    Out << "  " << Spi << "\n";
  }
  return Out.str();
}

} // namespace boardsim
