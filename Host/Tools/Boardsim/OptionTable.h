// The table of boardsim's options, shared by the parser (Options.cpp) and the help
// (OptionHelp.cpp). An option that sets a setting of the run takes its name and the runs that
// have it from the setting's descriptor; the others name their runs themselves.
#pragma once

#include "Options.h"
#include "ScenarioSettings.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace boardsim {

// An option as given: its name for messages, and its value ("" for a flag).
struct OptionValue {
  const std::string &Option;
  const std::string &Value;
};

using Setter = void (*)(Invocation &, const OptionValue &);
// The values of the option that would set what a scenario changes from the default board: one
// value a register for --lpc/--pcr, "" for a flag that is set, none when the setting is the
// default's.
using Shower = std::vector<std::string> (*)(const sim::Scenario &);

struct OptionRow {
  const char *OwnName;              // for an option that sets no setting: "--trace"
  std::optional<sim::Setting> Sets; // the setting it sets
  const char *ValueName;            // "N"; nullptr for a flag
  unsigned OwnRuns;                 // for an option that sets no setting: the runs that have it
  bool Repeatable;
  std::string Help;
  Setter Set;
  Shower Shows = nullptr; // nullptr: the option sets no board setting

  const char *name() const { return Sets ? sim::Describe(*Sets).Option : OwnName; }
  unsigned runs() const { return Sets ? sim::Describe(*Sets).ReadBy : OwnRuns; }
  // "--spi-status=0x10", "--pm-timer-stuck": the option with one of its values.
  std::string given(const std::string &Value) const {
    return std::string(name()) + (ValueName != nullptr ? "=" + Value : "");
  }
};

std::span<const OptionRow> OptionTable();
// The row of the option that sets the setting.
const OptionRow &OptionFor(sim::Setting Which);

// What a scenario changes from the default board, as the options that set it.
struct ShownSetting {
  std::string Text; // "--spi-status=0x10"
  const OptionRow *Option;
};
std::vector<ShownSetting> ShownSettings(const sim::Scenario &Board);

// The help lines of the options of the runs in Runs (RunBit).
std::string OptionHelpLines(unsigned Runs);

} // namespace boardsim
