#include "Options.h"

#include "Arguments.h"
#include "Images.h"
#include "NamedScenarios.h"
#include "OptionTable.h"
#include "TableText.h"
#include "Trace.h"

#include <algorithm>
#include <map>
#include <set>
#include <span>

namespace boardsim {
namespace {

using sim::Setting;

const OptionRow *FindOption(const std::string &Name, Module Which) {
  // A name may have a row for each of its runs; the run's own row is the one.
  const OptionRow *Found = nullptr;
  for (const OptionRow &Each : OptionTable()) {
    if (Name == Each.name() && (Found == nullptr || (Each.runs() & sim::RunBit(Which)) != 0)) {
      Found = &Each;
    }
  }
  return Found;
}

const sim::RunKindRow *FindSubcommand(const std::string &Name) {
  return sim::FindRunKind(Name);
}

// "pei, dxe, decode, window, boot, compare or scenarios"
std::string SubcommandList(const char *Last) {
  std::string Text;
  for (const sim::RunKindRow &Each : sim::RunKinds()) {
    Text += std::string(Each.Name) + ", ";
  }
  return Text + "boot, compare " + Last + " scenarios";
}

// The scenario's value of a setting, as the option that would set it: "--spi-status=0x10".
std::string ScenarioValue(Setting Which, const sim::Scenario &Named) {
  const OptionRow &Option = OptionFor(Which);
  const std::vector<std::string> Values = Option.Shows(Named);
  return Option.given(Values.empty() ? "" : Values.front());
}

// "--spi-status=0x10 (from --scenario=spi-busy)".
std::string FromScenario(Setting Which, const Invocation &Run, const sim::Scenario &Named) {
  return ScenarioValue(Which, Named) + " (from --scenario=" + Run.ScenarioName + ")";
}

// A named scenario stands for its board: the subcommand must read every setting it changes, an
// option may add settings to it but not change one of its own, and no setting the board holds
// may cancel one that the scenario or an option asked for.
void CheckSettings(const Invocation &Run,
                   const std::vector<std::pair<const OptionRow *, std::string>> &Given) {
  const sim::NamedScenario *Named = sim::FindScenario(Run.ScenarioName);
  const unsigned FromScenarioSet = Named != nullptr ? sim::ChangedSettings(Named->Settings) : 0;
  if (Named != nullptr) {
    if (const auto Outside = sim::SettingNotRead(Named->Settings, Run.Which)) {
      const OptionRow &Option = OptionFor(*Outside);
      throw UsageError("--scenario=" + Run.ScenarioName + " sets " +
                       ScenarioValue(*Outside, Named->Settings) + ", and " + Option.name() +
                       " is an option of " + sim::RunNames(Option.runs()) + ", not of " +
                       ModuleName(Run.Which));
    }
  }
  unsigned FromOptions = 0;
  std::map<Setting, std::string> OptionText;
  for (const auto &[Option, Value] : Given) {
    if (!Option->Sets) {
      continue;
    }
    if ((FromScenarioSet & sim::SettingBit(*Option->Sets)) != 0) {
      throw UsageError(Option->given(Value) +
                       " would change a setting of --scenario=" + Run.ScenarioName +
                       ", which sets " + ScenarioValue(*Option->Sets, Named->Settings) +
                       ": options add to a scenario's settings, never change them");
    }
    FromOptions |= sim::SettingBit(*Option->Sets);
    OptionText[*Option->Sets] = Option->given(Value);
  }
  // A setting cancels others only where it changes the board (--spi=present cancels nothing);
  // what it cancels is refused once asked for, even at the default's value.
  const auto Found =
      sim::CancellationIn(sim::ChangedSettings(Run.Scenario), FromScenarioSet | FromOptions);
  if (Found) {
    auto Side = [&](Setting Which) {
      return (FromOptions & sim::SettingBit(Which)) != 0
                 ? OptionText[Which]
                 : FromScenario(Which, Run, Named->Settings);
    };
    throw UsageError(Side(Found->Cancelling) + " and " + Side(Found->Cancelled) +
                     " contradict each other: " + OptionFor(Found->Cancelling).name() +
                     " cancels " + OptionFor(Found->Cancelled).name() + " (" +
                     sim::Describe(Found->Cancelling).Because + ")");
  }
}

} // namespace

std::string Invocation::mapPath() const {
  if (ImagePath.empty()) {
    return {};
  }
  return MapPath.empty() ? imagerun::MapPathFor(ImagePath) : MapPath;
}

const char *ModuleName(Module Which) {
  return sim::RunKindOf(Which).Name;
}

Invocation ParseCommandLine(int argc, const char *const *argv) {
  Invocation Run;
  const std::vector<std::string> Arguments(argv + 1, argv + argc);
  if (Arguments.empty()) {
    throw UsageError("a subcommand is needed: " + SubcommandList("or") + " (see boardsim --help)");
  }
  const std::string &First = Arguments[0];
  auto IsHelp = [](const std::string &Argument) {
    return Argument == "--help" || Argument == "-h";
  };
  if (IsHelp(First)) {
    // "boardsim --help pei" is "boardsim pei --help".
    Run.What = Invocation::Action::Help;
    Run.TopLevelHelp = Arguments.size() == 1;
    if (Arguments.size() > 2) {
      throw UsageError(First + " takes at most one subcommand, got '" + Arguments[2] + "'");
    }
    if (Arguments.size() == 2) {
      const sim::RunKindRow *Named = FindSubcommand(Arguments[1]);
      Run.ScenariosHelp = Arguments[1] == "scenarios";
      if (Named == nullptr && !Run.ScenariosHelp) {
        throw UsageError("no help for '" + Arguments[1] + "': the subcommands are " +
                         SubcommandList("and"));
      }
      Run.Which = Named != nullptr ? Named->Kind : Run.Which;
    }
    return Run;
  }
  if (First == "--version") {
    Run.What = Invocation::Action::Version;
    return Run;
  }
  if (First == "scenarios") {
    if (Arguments.size() == 2 && IsHelp(Arguments[1])) {
      Run.What = Invocation::Action::Help;
      Run.ScenariosHelp = true;
      return Run;
    }
    if (Arguments.size() > 1) {
      throw UsageError("scenarios takes no arguments, got '" + Arguments[1] + "'");
    }
    Run.What = Invocation::Action::ListScenarios;
    return Run;
  }
  const sim::RunKindRow *Subcommand = FindSubcommand(First);
  if (Subcommand == nullptr) {
    throw UsageError(First[0] == '-' ? "'" + First + "' before the subcommand: the subcommand (" +
                                           SubcommandList("or") + ") comes first"
                                     : "unknown subcommand '" + First + "' (expected " +
                                           SubcommandList("or") + ")");
  }
  Run.Which = Subcommand->Kind;
  const std::string Help = " (see boardsim " + std::string(Subcommand->Name) + " --help)";

  // Options and requests in any order; "--" ends the options.
  std::vector<std::pair<const OptionRow *, std::string>> Given;
  std::vector<std::string> Operands;
  bool OptionsEnded = false;
  for (std::size_t Index = 1; Index < Arguments.size(); ++Index) {
    const std::string &Argument = Arguments[Index];
    if (OptionsEnded || Argument.empty() || Argument[0] != '-') {
      Operands.push_back(Argument);
      continue;
    }
    if (Argument == "--") {
      OptionsEnded = true;
      continue;
    }
    if (IsHelp(Argument)) {
      Run.What = Invocation::Action::Help;
      return Run;
    }
    const std::string::size_type Equals = Argument.find('=');
    const std::string Name = Argument.substr(0, Equals);
    const OptionRow *Option = FindOption(Name, Run.Which);
    if (Option == nullptr) {
      throw UsageError("unknown option '" + Name + "'" + Help);
    }
    if ((Option->runs() & sim::RunBit(Run.Which)) == 0) {
      throw UsageError(Name + " is an option of " + sim::RunNames(Option->runs()) + ", not of " +
                       Subcommand->Name);
    }
    std::string Value;
    if (Option->ValueName == nullptr) {
      if (Equals != std::string::npos) {
        throw UsageError(Name + " takes no value, got '" + Argument + "'");
      }
    } else if (Equals != std::string::npos) {
      Value = Argument.substr(Equals + 1);
    } else if (Index + 1 < Arguments.size()) {
      Value = Arguments[++Index];
    } else {
      throw UsageError(Name + " needs a value " + Option->ValueName);
    }
    // An empty value is a mistake, typically an unset shell variable: running the host build in
    // place of an image, or writing no file, would leave the caller believing the opposite.
    if (Option->ValueName != nullptr && Value.empty()) {
      throw UsageError(Name + " needs a value " + Option->ValueName + ", not an empty one");
    }
    const bool Again = std::any_of(Given.begin(), Given.end(),
                                   [&](const auto &Earlier) { return Earlier.first == Option; });
    if (Again && !Option->Repeatable) {
      throw UsageError(Name + " is given more than once");
    }
    Given.emplace_back(Option, Value);
  }

  // The scenario first, then every other option on top, in the order given.
  std::stable_partition(Given.begin(), Given.end(), [](const auto &Each) {
    return std::string(Each.first->name()) == "--scenario";
  });
  std::map<std::string, std::set<std::uint64_t>> PresetOffsets;
  for (const auto &[Option, Value] : Given) {
    const std::string Name = Option->name();
    const std::string::size_type Equals = Value.find('=');
    if (Option->Repeatable && Equals != std::string::npos) {
      // One register per option: the same register twice would silently drop one value.
      const std::string Offset = Value.substr(0, Equals);
      if (!PresetOffsets[Name]
               .insert(ParseNumber(Offset, 32, Name + " offset in '" + Value + "'"))
               .second) {
        throw UsageError(Name + ": register " + Offset + " is given more than once");
      }
    }
    Option->Set(Run, {Name, Value});
  }
  CheckSettings(Run, Given);

  // --print-tables prints the tables and runs nothing: there is no trace or result to write.
  if (Run.PrintTables && (!Run.TracePath.empty() || !Run.JsonPath.empty())) {
    throw UsageError(std::string("--print-tables and ") +
                     (Run.TracePath.empty() ? "--json" : "--trace") + " contradict each other");
  }
  if (!Run.MapPath.empty() && Run.ImagePath.empty()) {
    throw UsageError("--map names the map of an --image, and no --image is given: the host build "
                     "has no map");
  }

  const bool TakesRequests = (sim::RunBit(Run.Which) & sim::RequestRuns) != 0;
  if (!TakesRequests && !Operands.empty()) {
    throw UsageError("unexpected argument '" + Operands[0] + "': " + Subcommand->Name +
                     " takes no requests" + Help);
  }
  if (TakesRequests && Operands.empty()) {
    throw UsageError(std::string(Subcommand->Name) + " needs at least one request " +
                     Subcommand->Operands + Help);
  }
  for (const std::string &Text : Operands) {
    const std::string What = "request '" + Text + "'";
    if (Run.Which == Module::Decode) {
      const auto Fields = ParseRequest(Text, {16, 8, 32}, "PORT,SIZE,ATTRIBUTES", What);
      Run.Decode.push_back({static_cast<std::uint16_t>(Fields[0]),
                            static_cast<std::uint8_t>(Fields[1]), 0,
                            static_cast<std::uint32_t>(Fields[2])});
    } else {
      const auto Fields = ParseRequest(Text, {16, 16}, "PORT,SIZEWORD", What);
      Run.Window.push_back(
          {static_cast<std::uint16_t>(Fields[0]), static_cast<std::uint16_t>(Fields[1])});
    }
  }
  return Run;
}

} // namespace boardsim
