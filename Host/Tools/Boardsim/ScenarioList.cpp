// 'boardsim scenarios': the named scenarios, one a line or as JSON, each with the subcommands that
// take it. A subcommand takes a scenario only when it reads every setting the scenario changes;
// boot takes what dxe takes (its board is set as dxe's), and compare takes any of them to select
// its cases.
#include "NamedScenarios.h"
#include "OptionTable.h"
#include "Options.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <sstream>

namespace boardsim {
namespace {

constexpr const char *BootName = "boot";
constexpr const char *CompareName = "compare";

// The run kinds whose --scenario takes a scenario: every one the option is for.
unsigned ScenarioRuns() {
  for (const OptionRow &Each : OptionTable()) {
    if (std::string(Each.name()) == "--scenario") {
      return Each.runs();
    }
  }
  return 0;
}

std::vector<std::string> TakenBy(const sim::Scenario &Board) {
  std::vector<std::string> Names;
  for (const sim::RunKindRow &Each : sim::RunKinds()) {
    if ((ScenarioRuns() & sim::RunBit(Each.Kind)) != 0 && sim::ScenarioFits(Board, Each.Kind)) {
      Names.emplace_back(Each.Name);
    }
  }
  if (sim::ScenarioFits(Board, Module::Dxe)) {
    Names.emplace_back(BootName);
  }
  Names.emplace_back(CompareName);
  return Names;
}

std::string Joined(const std::vector<std::string> &Names) {
  std::string Text;
  for (const std::string &Each : Names) {
    Text += (Text.empty() ? "" : " ") + Each;
  }
  return Text;
}

} // namespace

std::string ScenarioList() {
  std::ostringstream Out;
  std::size_t NameWidth = 0, TakenWidth = 0;
  for (const sim::NamedScenario &Each : sim::NamedScenarios()) {
    NameWidth = std::max(NameWidth, std::string(Each.Name).size());
    TakenWidth = std::max(TakenWidth, Joined(TakenBy(Each.Settings)).size());
  }
  for (const sim::NamedScenario &Each : sim::NamedScenarios()) {
    const std::string Name = Each.Name;
    const std::string Taken = Joined(TakenBy(Each.Settings));
    const std::string Settings = ScenarioOptions(Each.Settings);
    Out << Name << std::string(NameWidth + 2 - Name.size(), ' ') << Taken
        << std::string(TakenWidth + 2 - Taken.size(), ' ') << Each.Description
        << "; options: " << (Settings.empty() ? "none" : Settings) << "\n";
  }
  return Out.str();
}

std::string ScenarioJson() {
  nlohmann::ordered_json List = nlohmann::ordered_json::array();
  for (const sim::NamedScenario &Each : sim::NamedScenarios()) {
    nlohmann::ordered_json Options = nlohmann::ordered_json::array();
    for (const ShownSetting &Setting : ShownSettings(Each.Settings)) {
      Options.push_back(Setting.Text);
    }
    List.push_back({{"name", Each.Name},
                    {"description", Each.Description},
                    {"options", Options},
                    {"subcommands", TakenBy(Each.Settings)}});
  }
  return List.dump(2) + "\n";
}

} // namespace boardsim
