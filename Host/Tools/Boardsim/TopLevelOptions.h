// boardsim's command lines that run nothing: 'boardsim --help [SUBCOMMAND]', 'boardsim --version'
// and 'boardsim scenarios [--json]', and the words every command line uses for the subcommands.
#pragma once

#include "Options.h"

#include <string>
#include <vector>

namespace boardsim {

// The subcommands in one phrase: "pei, dxe, decode, window, boot, compare or scenarios".
std::string SubcommandList(const char *Last);
// "unknown subcommand 'pie' (did you mean pei?)", else the subcommands there are.
std::string UnknownSubcommand(const std::string &Given);

// Arguments start after the tool's name ('--help pei'), or after 'scenarios'.
Invocation ParseTopLevel(const std::vector<std::string> &Arguments);
Invocation ParseScenarios(const std::vector<std::string> &Arguments);

// --help answers alone: whatever else is given would go unseen. Throws UsageError naming it.
void CheckHelpAlone(const std::vector<std::string> &Arguments);

} // namespace boardsim
