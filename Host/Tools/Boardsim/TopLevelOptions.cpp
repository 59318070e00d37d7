#include "TopLevelOptions.h"

#include "Arguments.h"

#include "CommandLine.h"
#include "Suggest.h"

#include <CLI/CLI.hpp>

namespace boardsim {
namespace {

// The words of boardsim's own command line that are no run kind.
constexpr const char *BootName = "boot";
constexpr const char *CompareName = "compare";
constexpr const char *ScenariosName = "scenarios";

bool IsHelp(const std::string &Argument) {
  return Argument == "--help" || Argument == "-h";
}

// Every subcommand's name, for suggestions.
std::vector<std::string> SubcommandNames() {
  std::vector<std::string> Names;
  for (const sim::RunKindRow &Each : sim::RunKinds()) {
    Names.emplace_back(Each.Name);
  }
  for (const char *Each : {BootName, CompareName, ScenariosName}) {
    Names.emplace_back(Each);
  }
  return Names;
}

void Parse(CLI::App &App, const std::vector<std::string> &Arguments, const std::string &See) {
  try {
    tooloutput::ParseArguments(App, Arguments, See);
  } catch (const tooloutput::CommandLineError &Error) {
    throw UsageError(Error.what());
  }
}

[[noreturn]] void BeforeSubcommand(const std::string &Word) {
  throw UsageError("'" + Word + "' before the subcommand: the subcommand (" + SubcommandList("or") +
                   ") comes first");
}

} // namespace

std::string SubcommandList(const char *Last) {
  std::string Text;
  for (const sim::RunKindRow &Each : sim::RunKinds()) {
    Text += std::string(Each.Name) + ", ";
  }
  return Text + BootName + ", " + CompareName + " " + Last + " " + ScenariosName;
}

std::string UnknownSubcommand(const std::string &Given) {
  const std::string Nearest = tooloutput::DidYouMean(Given, SubcommandNames());
  return "unknown subcommand '" + Given + "'" +
         (Nearest.empty() ? " (expected " + SubcommandList("or") + ")" : Nearest);
}

void CheckHelpAlone(const std::vector<std::string> &Arguments) {
  for (const std::string &Each : Arguments) {
    if (!IsHelp(Each)) {
      throw UsageError("--help answers alone: '" + Each + "' was not expected");
    }
  }
}

Invocation ParseTopLevel(const std::vector<std::string> &Arguments) {
  CLI::App App;
  App.allow_extras();
  App.set_help_flag();
  const CLI::Option *Help = App.add_flag("-h,--help");
  const CLI::Option *Version = App.add_flag("--version");
  std::vector<std::string> Subcommands;
  App.add_option("subcommand", Subcommands);
  Parse(App, Arguments, "boardsim");
  for (const std::string &Each : App.remaining()) {
    if (Each.size() > 1 && Each[0] == '-' && Each != "--") {
      BeforeSubcommand(Each);
    }
  }
  Invocation Run;
  if (Version->count() != 0) {
    if (Help->count() != 0 || !Subcommands.empty()) {
      throw UsageError("--version answers alone: '" + Arguments[Arguments[0] == "--version"] +
                       "' was not expected");
    }
    Run.What = Invocation::Action::Version;
    return Run;
  }
  if (Help->count() == 0) {
    BeforeSubcommand(Arguments[0]);
  }
  // "boardsim --help pei" is "boardsim pei --help".
  Run.What = Invocation::Action::Help;
  Run.TopLevelHelp = Subcommands.empty();
  if (Subcommands.size() > 1) {
    throw UsageError(Arguments[0] + " takes at most one subcommand, got '" + Subcommands[1] + "'");
  }
  if (Subcommands.size() == 1) {
    const sim::RunKindRow *Named = sim::FindRunKind(Subcommands[0]);
    Run.ScenariosHelp = Subcommands[0] == ScenariosName;
    if (Named == nullptr && !Run.ScenariosHelp) {
      const std::string Nearest = tooloutput::DidYouMean(Subcommands[0], SubcommandNames());
      throw UsageError(
          "no help for '" + Subcommands[0] + "'" +
          (Nearest.empty() ? ": the subcommands are " + SubcommandList("and") : Nearest));
    }
    Run.Which = Named != nullptr ? Named->Kind : Run.Which;
  }
  return Run;
}

Invocation ParseScenarios(const std::vector<std::string> &Arguments) {
  CLI::App App;
  App.allow_extras();
  App.set_help_flag();
  const CLI::Option *Help = App.add_flag("-h,--help");
  const CLI::Option *AsJson = App.add_flag("--json");
  Parse(App, Arguments, "boardsim scenarios");
  for (const std::string &Each : App.remaining()) {
    if (Each.size() > 1 && Each[0] == '-') {
      throw UsageError(tooloutput::UnknownOption(Each, App, "boardsim scenarios"));
    }
    throw UsageError("scenarios takes no arguments, got '" + Each + "'");
  }
  Invocation Run;
  if (Help->count() != 0) {
    CheckHelpAlone(Arguments);
    Run.What = Invocation::Action::Help;
    Run.ScenariosHelp = true;
    return Run;
  }
  Run.What = Invocation::Action::ListScenarios;
  Run.ScenariosJson = AsJson->count() != 0;
  return Run;
}

} // namespace boardsim
