// The early-init module's script runner and both modules' PM-timer delays over data beyond the
// board's tables: scripts of any length with merged rows, and delays of every pass structure up to
// the largest count. Each case runs on a board of its own whose reads may be answered from the
// case (the port values a merge reads, the timer readings that end each pass of a long delay at
// once), and gives its trace and what the call returned.
#pragma once

#include "Comparison.h"
#include "ModuleRuns.h"

#include <cstdint>
#include <string>
#include <vector>

namespace comparison {

struct ScriptCase {
  std::string Name; // "script 257 rows"
  std::vector<sim::ScriptTableRow> Rows;
  std::vector<std::uint8_t> Answers; // the reads' values, in order; empty: the devices answer
};

struct DelayCase {
  std::string Name; // "delay BoardInitPei 0x400001 ticks"
  runs::DelayCall Call;
  std::uint32_t TimerStart = 0;      // where the board's counter starts
  std::vector<std::uint8_t> Answers; // the timer's readings, 4 bytes each; empty: it counts
};

std::vector<ScriptCase> ScriptCases();
// Both modules' delays: the same counts through each one's copy.
std::vector<DelayCase> DelayCases();

// The outcome of a script or delay that has run on Board: its trace, how it ended and, for a delay,
// what it returned.
Outcome ScriptOutcome(const runs::RunResult &Run, const sim::Board &Board);
Outcome DelayOutcome(const runs::DelayResult &Got, const sim::Board &Board);

Outcome RunScriptCase(const runs::ModuleRuns &Runs, const ScriptCase &Each);
Outcome RunDelayCase(const runs::ModuleRuns &Runs, const DelayCase &Each);

} // namespace comparison
