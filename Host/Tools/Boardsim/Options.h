// boardsim's command line: one table of options drives the parsing, the settings each option
// sets and the help text, so no option exists without its help or its setting.
#pragma once

#include "DecodeRequest.h"
#include "ModuleRuns.h"
#include "Report.h"
#include "Scenario.h"

#include <string>
#include <vector>

namespace boardsim {

// What one command line asks for.
struct Invocation {
  enum class Action { Run, ListScenarios, Help, Version };
  Action What = Action::Run;
  Module Which = Module::Pei;
  bool TopLevelHelp = false;
  sim::Scenario Scenario;
  std::string ScenarioName; // empty without --scenario
  std::string TracePath, JsonPath;
  std::string ImagePath; // --image: the shipped image runs instead of the host build
  std::vector<DecodeRequestRow> Decode;
  std::vector<runs::WindowRequest> Window;
};

// Parses argv (throws UsageError naming the bad input); every argument is checked here, before
// anything runs or any file is touched.
Invocation ParseCommandLine(int argc, const char *const *argv);

// The help of the whole tool, or of one subcommand.
std::string TopLevelHelp();
std::string SubcommandHelp(Module Which);
std::string ScenarioList();

inline constexpr const char *Version = "boardsim 1.1";

} // namespace boardsim
