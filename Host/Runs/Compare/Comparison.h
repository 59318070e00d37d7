// One case run by two implementations and set side by side: where their traces first part (with
// the records around it and the calls each side was in there), and every result that differs.
// Traces of earlier runs compare the same way, their results unknown.
#pragma once

#include "CompareCases.h"
#include "FinalState.h"
#include "ModuleRuns.h"
#include "RunRecord.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace comparison {

// What one side of a comparison produced: its trace a record a line, and for a run its results as
// text, as the report shows them: how it ended, then what it left on the board (FinalState.h).
struct Outcome {
  std::vector<std::string> Trace; // a trace file's: one record a line, as the file holds it
  // A run's records, formatted only where the report shows them (a hung run makes a million).
  std::vector<sim::TraceRecord> Records;
  bool ResultsKnown = false; // false for a trace file
  std::vector<runs::NamedFact> Results;
};

// Runs the case on a board of its own.
Outcome RunCase(const runs::ModuleRuns &Runs, const Case &Each);
// A boot on a board of its own: Early's entry, then Driver's; the two phases' traces one after the
// other, each phase's results named after its module ("BoardInitDxe: entry status").
Outcome RunBoot(const runs::ModuleRuns &Early, const runs::ModuleRuns &Driver,
                const BootCase &Each);
// What the recorded run gave, with Records as its trace.
Outcome RecordOutcome(const runs::RunRecord &Record, std::vector<sim::TraceRecord> Records = {});
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
  // The first record that differs (or that one trace lacks), counted from 0: line Record + 1 of a
  // trace file.
  std::size_t Record = 0;
  TraceSide A, B;
};

// A result that differs: "entry status", "request 3 status", "hung", "I/O Enables", ...
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

// What two differing cases share when they part the same way: the differing record on each side,
// the calls each side was in there, and the results that differ. Where in the trace that is may
// differ (a board that makes more accesses before it).
std::string PartingKey(const CaseComparison &Case);

// The lines the report gives a case: "same  NAME", or "different  NAME" followed by the first
// differing record of each side with its neighbours, the calls in progress, and the results that
// differ, each side named A or B.
std::string ReportText(const CaseComparison &Case);
// One block for cases that part the same way (PartingKey), the first shown in full: a line for
// each case, then the first case's difference.
std::string ReportText(const std::vector<const CaseComparison *> &Group);

} // namespace comparison
