// Named scenarios: the boards (and firmware around the driver) that the fault-injection tests run
// both modules on, by name, so that any of them can be replayed from the command line.
#pragma once

#include "Scenario.h"

#include <span>
#include <string_view>

namespace sim {

struct NamedScenario {
  const char *Name;        // "spi-dead"
  const char *Description; // one line
  Scenario Settings;
};

std::span<const NamedScenario> NamedScenarios();
// nullptr when no scenario has that name.
const NamedScenario *FindScenario(std::string_view Name);

} // namespace sim
