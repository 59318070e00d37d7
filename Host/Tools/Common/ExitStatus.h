// The exit statuses every tool here ends with, so that a script can act on them: a check that
// found something (a broken rule, a budget exceeded, two builds that differ) is told apart from
// input that could not be used and from an output that could not be written.
#pragma once

#include <initializer_list>
#include <string>

namespace tooloutput {

enum ExitStatus : int {
  ExitSuccess = 0,
  ExitCheckFailed = 1,  // the tool did its job and found a fault: a rule, a budget, a difference
  ExitBadInput = 2,     // the command line or an input could not be used; nothing was written
  ExitHung = 3,         // a simulated run hung (boardsim)
  ExitBreach = 4,       // the firmware broke a rule while it ran (boardsim --image)
  ExitOutputFailed = 5, // an output could not be created, written, closed or put in place
};

// One line of a tool's "Exit status:" block: the status and what it means for that tool.
struct ExitStatusLine {
  ExitStatus Status;
  const char *Meaning;
};

// The help's block, in one layout for every tool: "Exit status:" then each status and its
// meaning, wrapped at the help's width under the meaning's column.
std::string ExitStatusHelp(std::initializer_list<ExitStatusLine> Lines);

} // namespace tooloutput
