// Named scenarios: the boards (and firmware around the driver) that the fault-injection tests run
// both modules on, by name, so that any of them can be replayed from the command line. A name
// stands for its board: no scenario holds a setting that another of its settings cancels, and a
// run takes a scenario only when it reads every setting the scenario changes.
#pragma once

#include "RunKinds.h"
#include "Scenario.h"
#include "ScenarioSettings.h"

#include <optional>
#include <span>
#include <string_view>

namespace sim {

struct NamedScenario {
  const char *Name;        // "spi-dead"
  const char *Description; // one line: what the board is
  Scenario Settings;
};

std::span<const NamedScenario> NamedScenarios();
// nullptr when no scenario has that name.
const NamedScenario *FindScenario(std::string_view Name);

// The first setting the board changes from the default that the run does not read, if any.
std::optional<Setting> SettingNotRead(const Scenario &Board, RunKind Run);
// Whether the run reads every setting the board changes from the default, so that it runs the
// board the scenario names and not another under its name.
bool ScenarioFits(const Scenario &Board, RunKind Run);

} // namespace sim
