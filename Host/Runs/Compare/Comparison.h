// One case run by two implementations and set side by side: where their traces first part (with
// the records around it and the calls each side was in there), and every result that differs.
// Traces of earlier runs compare the same way, their results unknown.
#pragma once

#include "CompareCases.h"
#include "ModuleRuns.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace comparison {

// What one side of a comparison produced. Results are text, as the report shows them.
struct Outcome {
  std::vector<std::string> Trace; // one record a line, as a trace file holds it
  bool ResultsKnown = false;      // false for a trace file
  std::string EntryStatus;        // "EFI_SUCCESS (0x00000000)"; empty when the entry never returned
  std::vector<std::string> RequestStatuses;
  bool Hung = false;
  std::vector<std::string> LastAccesses; // a hung run's
  std::vector<std::string> Running;      // the calls a hung run was in, outermost first
  std::string Breach;                    // the rule an image broke; empty when none
  std::string DriverFacts;               // dxe: what the driver left behind
};

// Runs the case on a board of its own.
Outcome RunCase(const runs::ModuleRuns &Runs, const Case &Each);
// What a run of What gave, with its trace already formatted a record a line.
Outcome RunOutcome(Run What, std::vector<std::string> Trace, const runs::RunResult &Result);
// The run of What on Target, with Decode or Window as its requests.
runs::RunResult RunOn(const runs::ModuleRuns &Runs, sim::Board &Target, Run What,
                      std::span<const DecodeRequestRow> Decode,
                      std::span<const runs::WindowRequest> Window);
// A trace file's text: its records, its results unknown.
Outcome TraceOutcome(const std::string &Text);

// The records around the first difference, on one side.
struct TraceSide {
  std::size_t Records = 0; // the trace's length
  struct Line {
    std::size_t Record;
    std::string Text;
  };
  std::vector<Line> Context;        // the differing record (if the trace reaches it) and neighbours
  std::vector<std::string> Running; // the calls in progress there, outermost first
};

struct TraceDifference {
  std::size_t Record = 0; // the first record that differs (or that one trace lacks)
  TraceSide A, B;
};

// A result that differs: "entry status", "request 3 status", "hung", ...
struct ResultDifference {
  std::string What, A, B;
};

struct CaseComparison {
  std::string Name;
  std::optional<TraceDifference> Trace;
  std::vector<ResultDifference> Results;
  bool same() const { return !Trace && Results.empty(); }
};

// Records shown before and after the first difference.
inline constexpr std::size_t ContextRecords = 3;

CaseComparison Compare(std::string Name, const Outcome &A, const Outcome &B);

// The calls entered and not yet returned before record At, read from the trace's call
// annotations ("# Name(...)" on entry, "# Name(...) -> STATUS" on return), outermost first.
std::vector<std::string> CallsInProgress(const std::vector<std::string> &Trace, std::size_t At);

// The lines the report gives a case: "same  NAME", or "different  NAME" followed by the first
// differing record of each side with its neighbours, the calls in progress, and the results that
// differ, each side named A or B.
std::string ReportText(const CaseComparison &Case);

} // namespace comparison
