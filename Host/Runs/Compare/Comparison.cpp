#include "Comparison.h"

#include "Board.h"
#include "CallRecord.h"
#include "Trace.h"

#include <algorithm>
#include <sstream>
#include <string_view>

namespace comparison {
namespace {

using runs::Joined;

// A call annotation: "# " and the call's text; its return adds the return mark and the result.
constexpr std::string_view AnnotationMark = "# ";
constexpr std::string_view ReturnMark = sim::CallReturnMark;

std::vector<std::string> Formatted(const std::vector<sim::TraceRecord> &Records) {
  std::vector<std::string> Lines;
  Lines.reserve(Records.size());
  for (const sim::TraceRecord &Record : Records) {
    Lines.push_back(sim::FormatRecord(Record));
  }
  return Lines;
}

std::string YesNo(bool Value) {
  return Value ? "yes" : "no";
}

std::string DriverFactsText(const runs::DxeFacts &Facts) {
  return "HOB list found " + YesNo(Facts.HobListFound) + ", in SMM " + YesNo(Facts.InSmm) +
         ", LocateProtocol calls " + std::to_string(Facts.LocateProtocolCalls) + ", InSmm calls " +
         std::to_string(Facts.InSmmCalls);
}

std::string OrNone(const std::string &Text) {
  return Text.empty() ? "(none)" : Text;
}

// A side's trace, a trace file's lines or a run's records, as the report reads it.
std::size_t Length(const Outcome &Side) {
  return Side.Records.empty() ? Side.Trace.size() : Side.Records.size();
}

std::string Line(const Outcome &Side, std::size_t Record) {
  return Side.Records.empty() ? Side.Trace[Record] : sim::FormatRecord(Side.Records[Record]);
}

TraceSide Side(const Outcome &Trace, std::size_t At) {
  TraceSide Shown;
  Shown.Records = Length(Trace);
  const std::size_t First = At > ContextRecords ? At - ContextRecords : 0;
  for (std::size_t Record = First; Record < std::min(Shown.Records, At + ContextRecords + 1);
       ++Record) {
    Shown.Context.push_back({Record, Line(Trace, Record)});
  }
  if (Trace.Records.empty()) {
    Shown.Running = CallsInProgress(Trace.Trace, At);
  } else {
    // Only the call annotations tell the calls in progress.
    std::vector<std::string> Notes;
    for (std::size_t Record = 0; Record < std::min(At, Trace.Records.size()); ++Record) {
      if (Trace.Records[Record].Kind == sim::AccessKind::Note) {
        Notes.push_back(sim::FormatRecord(Trace.Records[Record]));
      }
    }
    Shown.Running = CallsInProgress(Notes, Notes.size());
  }
  return Shown;
}

std::optional<TraceDifference> FirstDifference(const Outcome &A, const Outcome &B) {
  const std::size_t Common = std::min(Length(A), Length(B));
  std::size_t At = 0;
  if (!A.Records.empty() && !B.Records.empty()) {
    At = static_cast<std::size_t>(
        std::mismatch(A.Records.begin(), A.Records.begin() + static_cast<std::ptrdiff_t>(Common),
                      B.Records.begin(), sim::SameRecord)
            .first -
        A.Records.begin());
  } else {
    while (At < Common && Line(A, At) == Line(B, At)) {
      ++At;
    }
  }
  if (At == Common && Length(A) == Length(B)) {
    return std::nullopt;
  }
  return TraceDifference{At, Side(A, At), Side(B, At)};
}

// Results of the same name set side by side; a result only one side has (a request the other
// never returned from) is told by the counts beside it.
void CompareResults(const Outcome &A, const Outcome &B, std::vector<ResultDifference> &Out) {
  for (const runs::NamedFact &InA : A.Results) {
    const auto InB =
        std::find_if(B.Results.begin(), B.Results.end(),
                     [&](const runs::NamedFact &Each) { return Each.What == InA.What; });
    if (InB != B.Results.end() && InA.Text != InB->Text) {
      Out.push_back({InA.What, OrNone(InA.Text), OrNone(InB->Text)});
    }
  }
}

sim::Scenario Untraced(sim::Scenario Settings) {
  Settings.RecordTrace = false;
  return Settings;
}

// A case's board of its own: its trace is kept here as it is made, and the board keeps no copy.
struct CaseBoard {
  explicit CaseBoard(const sim::Scenario &Settings) : Board(Untraced(Settings)) {}
  sim::Board Board;
  std::vector<sim::TraceRecord> Trace;
  const sim::TraceObserver Sink = [this](const sim::TraceRecord &Record) {
    Trace.push_back(Record);
  };
  std::span<const sim::TraceObserver> sinks() const { return {&Sink, 1}; }
};

} // namespace

Outcome RunCase(const runs::ModuleRuns &Runs, const Case &Each) {
  CaseBoard On(Each.Settings);
  const runs::RunRecord Record =
      runs::RecordRun(Runs, On.Board, Each.What, Each.Decode, Each.Window, On.sinks());
  return RecordOutcome(Record, std::move(On.Trace));
}

Outcome RunBoot(const runs::ModuleRuns &Early, const runs::ModuleRuns &Driver,
                const BootCase &Each) {
  CaseBoard On(Each.Settings);
  Outcome Out;
  Out.ResultsKnown = true;
  const auto Phase = [&](const runs::ModuleRuns &Runs, Run What) {
    const runs::RunRecord Record = runs::RecordRun(Runs, On.Board, What, {}, {}, On.sinks());
    const std::string Module = sim::RunModule(sim::RunKindOf(What)).Name;
    for (runs::NamedFact &Each : RecordOutcome(Record, {}).Results) {
      Out.Results.push_back({Module + ": " + Each.What, std::move(Each.Text)});
    }
    const runs::RunResult &Result = Record.Result;
    return !Result.Hung && !(Result.Image && Result.Image->Breach);
  };
  // The driver runs on what the early phase left, when that phase ended.
  if (Phase(Early, Run::Pei)) {
    Phase(Driver, Run::Dxe);
  }
  Out.Records = std::move(On.Trace);
  return Out;
}

Outcome RecordOutcome(const runs::RunRecord &Record, std::vector<sim::TraceRecord> Records) {
  const runs::RunResult &Result = Record.Result;
  Outcome Out;
  Out.Records = std::move(Records);
  Out.ResultsKnown = true;
  const unsigned Bits = sim::StatusBits(sim::RunKindOf(Record.Which).Entry);
  std::vector<runs::NamedFact> &Results = Out.Results;
  Results.push_back(
      {"entry status", Result.EntryStatus ? sim::StatusText(*Result.EntryStatus, Bits) : ""});
  for (std::size_t Index = 0; Index < Result.Statuses.size(); ++Index) {
    Results.push_back({"request " + std::to_string(Index + 1) + " status",
                       sim::StatusText(Result.Statuses[Index], Bits)});
  }
  Results.push_back({"requests returned", std::to_string(Result.Statuses.size())});
  Results.push_back({"hung", YesNo(Result.Hung)});
  std::vector<std::string> Running;
  for (const sim::CallRecord &Call : Result.Running) {
    Running.push_back(sim::CallText(Call));
  }
  Results.push_back({"calls in progress when it hung", Joined(Running, " > ")});
  Results.push_back({"last accesses", Joined(Formatted(Result.LastAccesses), " | ")});
  Results.push_back(
      {"broken rule", Result.Image && Result.Image->Breach ? *Result.Image->Breach : ""});
  Results.push_back({"driver", Result.Dxe ? DriverFactsText(*Result.Dxe) : ""});
  for (runs::NamedFact &Each : runs::FinalState(Record)) {
    Results.push_back(std::move(Each));
  }
  return Out;
}

Outcome TraceOutcome(const std::string &Text) {
  Outcome Out;
  std::istringstream Lines(Text);
  // A note of where a record was made is no part of the record: a run of an image and of the host
  // build give the same records.
  for (std::string Line; std::getline(Lines, Line);) {
    Out.Trace.emplace_back(sim::WithoutSite(Line));
  }
  return Out;
}

std::vector<std::string> CallsInProgress(const std::vector<std::string> &Trace, std::size_t At) {
  std::vector<std::string> Open;
  for (std::size_t Record = 0; Record < std::min(At, Trace.size()); ++Record) {
    const std::string_view Line = Trace[Record];
    if (!Line.starts_with(AnnotationMark)) {
      continue;
    }
    const std::string_view Call = Line.substr(AnnotationMark.size());
    const std::string_view::size_type Returned = Call.find(ReturnMark);
    if (Returned == std::string_view::npos) {
      Open.emplace_back(Call);
    } else if (!Open.empty() && Open.back() == Call.substr(0, Returned)) {
      Open.pop_back();
    }
    // Otherwise a service call that made no access: entered and returned in one line.
  }
  return Open;
}

CaseComparison Compare(std::string Name, const Outcome &A, const Outcome &B) {
  CaseComparison Result;
  Result.Name = std::move(Name);
  Result.Trace = FirstDifference(A, B);
  if (A.ResultsKnown && B.ResultsKnown) {
    CompareResults(A, B, Result.Results);
  }
  return Result;
}

std::string PartingKey(const CaseComparison &Case) {
  std::string Key;
  const auto Add = [&Key](const std::string &Part) { Key += Part + '\n'; };
  if (Case.Trace) {
    for (const TraceSide *Side : {&Case.Trace->A, &Case.Trace->B}) {
      std::string At = "(end of trace)";
      for (const TraceSide::Line &Each : Side->Context) {
        if (Each.Record == Case.Trace->Record) {
          At = Each.Text;
        }
      }
      Add(At);
      Add(Joined(Side->Running, " > "));
    }
  }
  for (const ResultDifference &Each : Case.Results) {
    Add(Each.What + ": " + Each.A + "; " + Each.B);
  }
  return Key;
}

namespace {

void Details(std::ostringstream &Out, const CaseComparison &Case) {
  if (Case.Trace) {
    const TraceDifference &Parted = *Case.Trace;
    Out << "  the traces part at record " << Parted.Record << ", line "
        << sim::TraceFileLine(Parted.Record) << " of a trace file (A " << Parted.A.Records
        << " records, B " << Parted.B.Records << ")\n";
    const auto Show = [&](const char *Label, const TraceSide &Side) {
      Out << "  " << Label << ":\n";
      for (const TraceSide::Line &Each : Side.Context) {
        Out << (Each.Record == Parted.Record ? "    > " : "      ") << Each.Record << ": "
            << Each.Text << "\n";
      }
      if (Parted.Record >= Side.Records) {
        Out << "    > " << Parted.Record << ": (end of trace)\n";
      }
    };
    Show("A", Parted.A);
    Show("B", Parted.B);
    Out << "  calls in progress there:\n"
        << "    A: " << OrNone(Joined(Parted.A.Running, " > ")) << "\n"
        << "    B: " << OrNone(Joined(Parted.B.Running, " > ")) << "\n";
  }
  if (!Case.Results.empty()) {
    Out << "  results that differ:\n";
    for (const ResultDifference &Each : Case.Results) {
      Out << "    " << Each.What << ": A " << Each.A << "; B " << Each.B << "\n";
    }
  }
}

} // namespace

std::string ReportText(const CaseComparison &Case) {
  std::ostringstream Out;
  Out << (Case.same() ? "same       " : "different  ") << Case.Name << "\n";
  Details(Out, Case);
  return Out.str();
}

std::string ReportText(const std::vector<const CaseComparison *> &Group) {
  if (Group.size() == 1) {
    return ReportText(*Group.front());
  }
  std::ostringstream Out;
  const CaseComparison &First = *Group.front();
  for (const CaseComparison *Each : Group) {
    Out << "different  " << Each->Name;
    if (Each != &First && Each->Trace) {
      Out << "  (parts as " << First.Name << ", at record " << Each->Trace->Record << ")";
    } else if (Each != &First) {
      Out << "  (differs as " << First.Name << ")";
    }
    Out << "\n";
  }
  Out << "  these " << Group.size() << " cases part the same way; " << First.Name << ":\n";
  Details(Out, First);
  return Out.str();
}

} // namespace comparison
