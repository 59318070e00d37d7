// boardsim's command line: one table of options (OptionTable.h) drives the parsing, the settings
// each option sets and the help text, so no option exists without its help or its setting; the
// subcommands are the run kinds (RunKinds.h), and what each setting means, which runs read it and
// which settings it cancels comes from the settings' descriptors (ScenarioSettings.h).
#pragma once

#include "DecodeRequest.h"
#include "ModuleRuns.h"
#include "Report.h"
#include "Scenario.h"

#include <optional>
#include <string>
#include <vector>

namespace boardsim {

// What one command line asks for.
struct Invocation {
  enum class Action { Run, ListScenarios, Help, Version };
  Action What = Action::Run;
  Module Which = Module::Pei;
  bool TopLevelHelp = false;
  bool ScenariosHelp = false; // the help of 'boardsim scenarios'
  bool ScenariosJson = false; // 'boardsim scenarios --json'

  sim::Scenario Scenario;
  std::string ScenarioName; // empty without --scenario
  std::string TracePath, JsonPath;
  std::string TraceEventsPath; // --trace-events: the run for a trace viewer
  std::string ImagePath;       // --image: the shipped image runs instead of the host build
  std::string MapPath;         // --map: the image's linker map when it is not beside the image
  std::optional<std::uint16_t> GdbPort; // --gdb: the port gdb connects to
  // --tables: the file of table rows, an input of the run; --print-tables: print, run nothing.
  std::string TablesPath;
  bool PrintTables = false;
  // The linker map the run reads: --map, else the file beside the image; empty without --image.
  // Every file the run reads is its image and this map.
  std::string mapPath() const;
  bool Verbose = false; // --verbose: the summary adds the details the JSON gives
  bool Strict = false;  // --strict: a warning fails the run
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
// The named scenarios as JSON: each one's name, description, settings and subcommands.
std::string ScenarioJson();
// The help a Help invocation asks for.
std::string HelpText(const Invocation &Asked);

// What the scenario changes from the default board, as the options that would set it
// ("--spi-status=0x10 --pm-timer-stuck"; empty for the default board).
std::string ScenarioOptions(const sim::Scenario &Board);

inline constexpr const char *Version = "boardsim 1.1";

} // namespace boardsim
