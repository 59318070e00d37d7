// boardsim compare: two builds (the host build or a shipped image, either side) run over the same
// cases, or two traces of earlier runs, set side by side record for record.
#pragma once

#include "Comparison.h"

#include <string>
#include <vector>

namespace boardsim {

// One side of a comparison, as the report and the JSON name it.
struct CompareSide {
  enum class Kind { Host, Image, Trace };
  Kind What = Kind::Host;
  std::string Path; // the image or the trace; empty for the host build
};

struct CompareReport {
  CompareSide A, B;
  std::vector<std::string> Runs; // "pei", "decode", ...: the runs compared; empty for traces
  struct Entry {
    comparison::CaseComparison Result;
    std::string Run;      // "pei"; empty for traces
    std::string Scenario; // the named scenario; empty for the other boards and for traces
  };
  std::vector<Entry> Cases;
  std::size_t different() const;
  // For each case, the index of the first case that parts the same way (itself when none before
  // it does, and for a case that is the same).
  std::vector<std::size_t> partingFirsts() const;
};

// argv[1] is "compare". Returns the exit status: 0 every case the same, 1 any differs; throws
// UsageError (exit 2) for bad input, tooloutput::WriteFailed (exit 5) for an output that could
// not be written.
int CompareMain(int argc, const char *const *argv);

std::string CompareHelp();
std::string CompareText(const CompareReport &Report);
std::string CompareJson(const CompareReport &Report);

} // namespace boardsim
