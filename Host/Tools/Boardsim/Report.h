// What one boardsim run produced, besides the board's own state.
#pragma once

#include "Board.h"
#include "ModuleRuns.h"
#include "RunFacts.h"

#include <string>
#include <vector>

namespace boardsim {

enum class Module { Pei, Dxe, Decode, Window };

struct RunReport {
  Module Which = Module::Pei;
  std::string ScenarioName;          // empty without --scenario
  std::vector<std::string> Requests; // decode and window: the requests as given
  std::string ImagePath;             // the shipped image that ran, when one did
  runs::RunResult Result;
  RunFacts Facts;
};

const char *ModuleName(Module Which);
// The module's entry call: its status width and its name.
sim::Operation EntryOperation(Module Which);

// The calls the summary and the JSON list as requests: the board table's SetIoDecode calls for
// pei, the given requests for decode and window (each with its nested calls after it).
std::vector<const sim::CallRecord *> RequestCalls(const RunReport &Report, const sim::Board &Board);

std::string Summary(const RunReport &Report, const sim::Board &Board);
std::string JsonText(const RunReport &Report, const sim::Board &Board);

} // namespace boardsim
