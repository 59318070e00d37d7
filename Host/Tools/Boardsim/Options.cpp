#include "Options.h"

#include "Arguments.h"
#include "Images.h"
#include "NamedScenarios.h"
#include "OptionTable.h"
#include "TableText.h"
#include "TopLevelOptions.h"
#include "Trace.h"

#include "CommandLine.h"
#include "Suggest.h"

#include <CLI/CLI.hpp>

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

namespace {

// A run kind's command line: its rows of the option table, each a library option.
struct RunApp {
  CLI::App App;
  std::map<const CLI::Option *, const OptionRow *> Rows;
  const CLI::Option *Help = nullptr;
  std::vector<std::string> Operands;
};

void Register(RunApp &Run, const sim::RunKindRow &Kind) {
  CLI::App &App = Run.App;
  App.allow_extras();
  App.set_help_flag();
  Run.Help = App.add_flag("-h,--help");
  for (const OptionRow &Each : OptionTable()) {
    if ((Each.runs() & sim::RunBit(Kind.Kind)) == 0) {
      continue;
    }
    CLI::Option *Option = Each.ValueName == nullptr
                              ? App.add_flag(Each.name())
                              : App.add_option(Each.name())->type_name(Each.ValueName);
    // Every occurrence is kept; the table's rule says which may repeat.
    Option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    Run.Rows[Option] = &Each;
  }
  if ((sim::RunBit(Kind.Kind) & sim::RequestRuns) != 0) {
    App.add_option("requests", Run.Operands);
  }
}

// An argument the run's options did not take: an option of another run, or none at all.
[[noreturn]] void RefuseLeftover(const RunApp &Run, const sim::RunKindRow &Kind,
                                 const std::string &Word) {
  const std::string Help = " (see boardsim " + std::string(Kind.Name) + " --help)";
  if (Word.size() > 1 && Word[0] == '-') {
    const std::string Name = Word.substr(0, Word.find('='));
    if (const OptionRow *Other = FindOption(Name, Kind.Kind)) {
      throw UsageError(Name + " is an option of " + sim::RunNames(Other->runs()) + ", not of " +
                       Kind.Name);
    }
    // A slip of an option of another run names the option and the runs that have it.
    std::vector<std::string> Names;
    for (const OptionRow &Each : OptionTable()) {
      Names.emplace_back(Each.name());
    }
    const std::string Own = tooloutput::DidYouMean(Name, tooloutput::OptionNames(Run.App));
    const auto Other = tooloutput::NearestName(Name, Names);
    if (Own.empty() && Other) {
      throw UsageError("unknown option '" + Name + "' (did you mean " + *Other + "? it is an " +
                       "option of " + sim::RunNames(FindOption(*Other, Kind.Kind)->runs()) +
                       ", not of " + Kind.Name + ")");
    }
    throw UsageError(
        tooloutput::UnknownOption(Word, Run.App, "boardsim " + std::string(Kind.Name)));
  }
  throw UsageError("unexpected argument '" + Word + "': " + Kind.Name + " takes no requests" +
                   Help);
}

} // namespace

Invocation ParseCommandLine(int argc, const char *const *argv) {
  Invocation Run;
  const std::vector<std::string> Arguments(argv + 1, argv + argc);
  if (Arguments.empty()) {
    throw UsageError("a subcommand is needed: " + SubcommandList("or") + " (see boardsim --help)");
  }
  const std::string &First = Arguments[0];
  if (!First.empty() && First[0] == '-') {
    return ParseTopLevel(Arguments);
  }
  if (First == "scenarios") {
    return ParseScenarios({Arguments.begin() + 1, Arguments.end()});
  }
  const sim::RunKindRow *Subcommand = sim::FindRunKind(First);
  if (Subcommand == nullptr) {
    throw UsageError(UnknownSubcommand(First));
  }
  Run.Which = Subcommand->Kind;
  const std::string Help = " (see boardsim " + std::string(Subcommand->Name) + " --help)";

  // Options and requests in any order; "--" ends the options.
  const std::vector<std::string> Rest(Arguments.begin() + 1, Arguments.end());
  RunApp Parsed;
  Parsed.App.name(Subcommand->Name);
  Register(Parsed, *Subcommand);
  try {
    tooloutput::ParseArguments(Parsed.App, Rest, "boardsim " + std::string(Subcommand->Name));
  } catch (const tooloutput::CommandLineError &Error) {
    throw UsageError(Error.what());
  }
  if (Parsed.Help->count() != 0) {
    CheckHelpAlone(Rest);
    Run.What = Invocation::Action::Help;
    return Run;
  }
  for (const std::string &Each : Parsed.App.remaining()) {
    if (Each != "--") {
      RefuseLeftover(Parsed, *Subcommand, Each);
    }
  }
  // Each option as given, in the order given.
  std::vector<std::pair<const OptionRow *, std::string>> Given;
  std::map<const CLI::Option *, std::size_t> Taken;
  for (const CLI::Option *Each : Parsed.App.parse_order()) {
    const auto Row = Parsed.Rows.find(Each);
    if (Row == Parsed.Rows.end()) {
      continue; // a request
    }
    const OptionRow *Option = Row->second;
    const std::string Value =
        Option->ValueName != nullptr ? Each->results().at(Taken[Each]++) : std::string();
    const bool Again = std::any_of(Given.begin(), Given.end(),
                                   [&](const auto &Earlier) { return Earlier.first == Option; });
    if (Again && !Option->Repeatable) {
      throw UsageError(std::string(Option->name()) + " is given more than once");
    }
    Given.emplace_back(Option, Value);
  }
  const std::vector<std::string> &Operands = Parsed.Operands;

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
