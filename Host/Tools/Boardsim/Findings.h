// What a person looks for first after a run, at the top of its summary: whether it ended, hung or
// broke a rule; how many warnings the summary marks (each stands beside what it concerns); how
// the SPI bring-up's bounded waits went; whether the decode registers agree with their mirrors.
#pragma once

#include "DecodeState.h"
#include "Report.h"

#include <cstddef>
#include <string>
#include <vector>

namespace boardsim {

// The WARNING lines the summary of the run prints; --strict fails a run that has any.
std::size_t WarningCount(const RunRecord &Report);

// A WARNING line for each decode register whose private-configuration mirror differs from it.
std::vector<std::string> MirrorWarnings(const DecodeState &State);

// "the step budget of 1000000 steps (bus accesses and processor events)": what a hung run ran
// out of, in the words of its summary and its error line.
std::string StepBudgetText(std::uint64_t MaxSteps);

// The summary's "Findings:" block.
std::string FindingsSummary(const RunRecord &Report);

} // namespace boardsim
