#include "Comparison.h"

#include "Board.h"
#include "CallRecord.h"
#include "Trace.h"

#include <algorithm>
#include <sstream>
#include <string_view>

namespace comparison {
namespace {

// A call annotation: "# " and the call's text; its return adds " -> " and the result.
constexpr std::string_view AnnotationMark = "# ";
constexpr std::string_view ReturnMark = " -> ";

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

std::string Joined(const std::vector<std::string> &Items, const char *Separator) {
  std::string Text;
  for (const std::string &Each : Items) {
    Text += (Text.empty() ? "" : Separator) + Each;
  }
  return Text;
}

std::string OrNone(const std::string &Text) {
  return Text.empty() ? "(none)" : Text;
}

TraceSide Side(const std::vector<std::string> &Trace, std::size_t At) {
  TraceSide Shown;
  Shown.Records = Trace.size();
  const std::size_t First = At > ContextRecords ? At - ContextRecords : 0;
  for (std::size_t Record = First; Record < std::min(Trace.size(), At + ContextRecords + 1);
       ++Record) {
    Shown.Context.push_back({Record, Trace[Record]});
  }
  Shown.Running = CallsInProgress(Trace, At);
  return Shown;
}

std::optional<TraceDifference> FirstDifference(const std::vector<std::string> &A,
                                               const std::vector<std::string> &B) {
  const auto Parted = std::mismatch(A.begin(), A.end(), B.begin(), B.end());
  if (Parted.first == A.end() && Parted.second == B.end()) {
    return std::nullopt;
  }
  const std::size_t At = static_cast<std::size_t>(Parted.first - A.begin());
  return TraceDifference{At, Side(A, At), Side(B, At)};
}

void CompareResults(const Outcome &A, const Outcome &B, std::vector<ResultDifference> &Out) {
  const auto Differs = [&](std::string What, const std::string &InA, const std::string &InB) {
    if (InA != InB) {
      Out.push_back({std::move(What), OrNone(InA), OrNone(InB)});
    }
  };
  Differs("entry status", A.EntryStatus, B.EntryStatus);
  const std::size_t Requests = std::min(A.RequestStatuses.size(), B.RequestStatuses.size());
  for (std::size_t Index = 0; Index < Requests; ++Index) {
    Differs("request " + std::to_string(Index + 1) + " status", A.RequestStatuses[Index],
            B.RequestStatuses[Index]);
  }
  Differs("requests returned", std::to_string(A.RequestStatuses.size()),
          std::to_string(B.RequestStatuses.size()));
  Differs("hung", YesNo(A.Hung), YesNo(B.Hung));
  Differs("calls in progress when it hung", Joined(A.Running, " > "), Joined(B.Running, " > "));
  Differs("last accesses", Joined(A.LastAccesses, " | "), Joined(B.LastAccesses, " | "));
  Differs("broken rule", A.Breach, B.Breach);
  Differs("driver", A.DriverFacts, B.DriverFacts);
}

} // namespace

runs::RunResult RunOn(const runs::ModuleRuns &Runs, sim::Board &Target, Run What,
                      std::span<const DecodeRequestRow> Decode,
                      std::span<const runs::WindowRequest> Window) {
  switch (What) {
  case Run::Pei:
    return Runs.runPei(Target);
  case Run::Dxe:
    return Runs.runDxe(Target);
  case Run::Decode:
    return Runs.runDecodeRequests(Target, Decode);
  case Run::Window:
    break;
  }
  return Runs.runWindowRequests(Target, Window);
}

Outcome RunCase(const runs::ModuleRuns &Runs, const Case &Each) {
  // The trace is formatted as it is made; the board keeps no copy of its own.
  sim::Scenario Settings = Each.Settings;
  Settings.RecordTrace = false;
  sim::Board Board(Settings);
  std::vector<std::string> Trace;
  Board.addObserver(
      [&Trace](const sim::TraceRecord &Record) { Trace.push_back(sim::FormatRecord(Record)); });
  const runs::RunResult Result = RunOn(Runs, Board, Each.What, Each.Decode, Each.Window);
  return RunOutcome(Each.What, std::move(Trace), Result);
}

Outcome RunOutcome(Run What, std::vector<std::string> Trace, const runs::RunResult &Result) {
  Outcome Out;
  Out.Trace = std::move(Trace);
  const unsigned Bits = sim::StatusBits(sim::RunKindOf(What).Entry);
  Out.ResultsKnown = true;
  if (Result.EntryStatus) {
    Out.EntryStatus = sim::StatusText(*Result.EntryStatus, Bits);
  }
  for (const std::uint64_t Status : Result.Statuses) {
    Out.RequestStatuses.push_back(sim::StatusText(Status, Bits));
  }
  Out.Hung = Result.Hung;
  Out.LastAccesses = Formatted(Result.LastAccesses);
  for (const sim::CallRecord &Call : Result.Running) {
    Out.Running.push_back(sim::CallText(Call));
  }
  if (Result.Image && Result.Image->Breach) {
    Out.Breach = *Result.Image->Breach;
  }
  if (Result.Dxe) {
    Out.DriverFacts = DriverFactsText(*Result.Dxe);
  }
  return Out;
}

Outcome TraceOutcome(const std::string &Text) {
  Outcome Out;
  std::istringstream Lines(Text);
  for (std::string Line; std::getline(Lines, Line);) {
    Out.Trace.push_back(std::move(Line));
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
  Result.Trace = FirstDifference(A.Trace, B.Trace);
  if (A.ResultsKnown && B.ResultsKnown) {
    CompareResults(A, B, Result.Results);
  }
  return Result;
}

std::string ReportText(const CaseComparison &Case) {
  std::ostringstream Out;
  Out << (Case.same() ? "same       " : "different  ") << Case.Name << "\n";
  if (Case.Trace) {
    const TraceDifference &Parted = *Case.Trace;
    Out << "  the traces part at record " << Parted.Record << " (A " << Parted.A.Records
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
  return Out.str();
}

} // namespace comparison
