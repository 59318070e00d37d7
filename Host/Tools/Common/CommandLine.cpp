#include "CommandLine.h"

#include "ExitStatus.h"
#include "HelpLayout.h"
#include "Suggest.h"
#include "ToolOutput.h"

#include <algorithm>
#include <charconv>

namespace tooloutput {
namespace {

constexpr const char *EndOfOptions = "--";

bool TakesValue(const CLI::Option &Option) {
  return Option.get_expected_max() > 0;
}

std::string Wanted(const CLI::Option &Option) {
  return Option.get_type_name().empty() ? "a value" : "a value " + Option.get_type_name();
}

// The option a command-line word names, "--output=x" and "-o" alike; nullptr for none.
const CLI::Option *Named(const CLI::App &App, const std::string &Word) {
  if (Word.size() < 2 || Word[0] != '-' || Word == EndOfOptions) {
    return nullptr;
  }
  const bool Long = Word[1] == '-';
  const std::string Name = Long ? Word.substr(0, Word.find('=')) : Word.substr(0, 2);
  for (const CLI::Option *Each : App.get_options()) {
    if (!Each->get_positional() && Each->check_name(Name)) {
      return Each;
    }
  }
  return nullptr;
}

// Arguments the library let through: an unknown option, or a positional argument too many.
std::optional<std::string> Leftovers(const CLI::App &App, const std::string &Tool) {
  std::vector<std::string> Extra;
  for (const std::string &Each : App.remaining()) {
    if (Each == EndOfOptions) {
      continue; // the end of the options, kept by the library
    }
    if (Each.size() > 1 && Each[0] == '-') {
      return UnknownOption(Each, App, Tool);
    }
    Extra.push_back(Each);
  }
  if (Extra.empty()) {
    return std::nullopt;
  }
  for (const CLI::Option *Each : App.get_options()) {
    if (Each->get_positional() && Each->get_items_expected_max() == 1 && Each->count() == 1) {
      return "give one " + ArgumentName(*Each) + ", not " + std::to_string(Extra.size() + 1);
    }
  }
  return "'" + Extra.front() + "' was not expected (see " + Tool + " --help)";
}

// --help and --version answer alone: anything beside them is a mistake the answer would hide.
std::optional<std::string> NotAlone(const CLI::Option &Asked, int argc, char **argv) {
  if (Asked.count() == 0 || argc <= 2) {
    return std::nullopt;
  }
  const std::string Name = Asked.get_lnames().front();
  const std::string Other =
      argv[1] == "--" + Name || argv[1] == std::string("-h") ? argv[2] : argv[1];
  return "--" + Name + " answers alone: '" + Other + "' was not expected";
}

// What the tool said it needs, checked once the rest is known to be good.
std::optional<std::string> Missing(const std::vector<const CLI::Option *> &Required) {
  for (const CLI::Option *Each : Required) {
    if (Each->count() != 0) {
      continue;
    }
    if (!Each->get_positional()) {
      return "give " + Each->get_name() + " " + Each->get_type_name();
    }
    return Each->get_items_expected_max() == 1 ? "give one " + ArgumentName(*Each)
                                               : "give at least one " + ArgumentName(*Each);
  }
  return std::nullopt;
}

// The tool's options of one value give "given more than once" rather than the library's
// refusal; the library is told to keep the last, and the count tells.
std::vector<const CLI::Option *> TakeOverRules(CLI::App &App) {
  std::vector<const CLI::Option *> Required;
  for (CLI::Option *Each : App.get_options()) {
    if (Each->get_required()) {
      Required.push_back(Each);
      Each->required(false);
    }
    if (Each->get_multi_option_policy() == CLI::MultiOptionPolicy::Throw) {
      Each->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    }
  }
  return Required;
}

int Answer(const std::string &Tool, const std::string &Text) {
  try {
    OutputSet Outputs;
    Outputs.standardOutput().write(Text);
    Outputs.commit();
    return ExitSuccess;
  } catch (const WriteFailed &Error) {
    PrintError("{}: {}\n", Tool, Error.what());
    return ExitOutputFailed;
  }
}

} // namespace

std::vector<std::string> OptionNames(const CLI::App &App) {
  std::vector<std::string> Names;
  for (const CLI::Option *Each : App.get_options()) {
    for (const std::string &Long : Each->get_lnames()) {
      Names.push_back("--" + Long);
    }
  }
  return Names;
}

std::string UnknownOption(const std::string &Given, const CLI::App &App, const std::string &See) {
  const std::string Name = Given.substr(0, Given.find('='));
  const std::string Nearest = DidYouMean(Name, OptionNames(App));
  return "unknown option '" + Name + "'" +
         (Nearest.empty() ? " (see " + See + " --help)" : Nearest);
}

std::optional<std::string> SpellingProblem(const CLI::App &App,
                                           const std::vector<std::string> &Arguments) {
  for (std::size_t Index = 0; Index < Arguments.size(); ++Index) {
    const std::string &Word = Arguments[Index];
    if (Word == EndOfOptions) {
      break;
    }
    const CLI::Option *Option = Named(App, Word);
    if (Option == nullptr) {
      continue;
    }
    const bool Long = Word[1] == '-';
    const std::string::size_type Equals = Word.find('=');
    const std::string Name = Long ? Word.substr(0, Equals) : Word.substr(0, 2);
    if (!Long && Word.size() > 2 && Word[2] == '=') {
      return Name + " takes its value as " + Name + " " + Option->get_type_name() + " or " +
             Option->get_name() + "=" + Option->get_type_name() + ", not '" + Word + "'";
    }
    if (!TakesValue(*Option)) {
      if ((Long && Equals != std::string::npos) || (!Long && Word.size() > 2)) {
        return Name + " takes no value, got '" + Word + "'";
      }
      continue;
    }
    if (Long && Equals == Word.size() - 1) {
      return Option->get_name() + " needs " + Wanted(*Option) + ", not an empty one";
    }
    const bool Inline = Long ? Equals != std::string::npos : Word.size() > 2;
    if (!Inline && Index + 1 == Arguments.size()) {
      return Option->get_name() + " needs " + Wanted(*Option);
    }
    Index += Inline ? 0 : 1; // the value, whatever it looks like
  }
  return std::nullopt;
}

std::optional<std::string> GivenProblem(const CLI::App &App) {
  for (const CLI::Option *Option : App.get_options()) {
    if (!TakesValue(*Option)) {
      continue;
    }
    for (const std::string &Value : Option->results()) {
      if (Value.empty()) {
        return Option->get_positional()
                   ? "give one " + ArgumentName(*Option) + ", not an empty one"
                   : Option->get_name() + " needs " + Wanted(*Option) + ", not an empty one";
      }
    }
    const bool OneValue = Option->get_items_expected_max() == 1 && !Option->get_positional() &&
                          Option->get_multi_option_policy() != CLI::MultiOptionPolicy::TakeAll;
    if (OneValue && Option->count() > 1) {
      return Option->get_name() + " is given more than once";
    }
  }
  return std::nullopt;
}

void ParseArguments(CLI::App &App, const std::vector<std::string> &Arguments,
                    const std::string &See) {
  if (const auto Problem = SpellingProblem(App, Arguments)) {
    throw CommandLineError(*Problem);
  }
  std::vector<const char *> Words = {See.c_str()}; // the library skips the program's name
  for (const std::string &Each : Arguments) {
    Words.push_back(Each.c_str());
  }
  try {
    App.parse(static_cast<int>(Words.size()), Words.data());
  } catch (const CLI::ParseError &) {
    // What is left has no words of the tool's; the help says what the command line takes.
    throw CommandLineError("the command line is not understood (see " + See + " --help)");
  }
  if (const auto Problem = GivenProblem(App)) {
    throw CommandLineError(*Problem);
  }
}

std::optional<int> ParseCommandLine(CLI::App &App, const std::string &Tool, int argc, char **argv) {
  App.allow_extras();
  App.name(Tool); // the help's usage line names the tool, not the path it was started by
  App.formatter(std::make_shared<ToolHelp>());
  App.set_help_flag();
  const CLI::Option *Help = App.add_flag("-h,--help")->description("show this help");
  const CLI::Option *Version = App.add_flag("--version")->description("print the version and exit");
  const std::vector<const CLI::Option *> Required = TakeOverRules(App);
  const auto Refuse = [&Tool](const std::string &Problem) {
    PrintError("{}: {}\n", Tool, Problem);
    return ExitBadInput;
  };
  try {
    ParseArguments(App, std::vector<std::string>(argv + 1, argv + argc), Tool);
  } catch (const CommandLineError &Error) {
    return Refuse(Error.what());
  }
  for (const auto &Problem :
       {Leftovers(App, Tool), NotAlone(*Help, argc, argv), NotAlone(*Version, argc, argv)}) {
    if (Problem) {
      return Refuse(*Problem);
    }
  }
  if (Help->count() != 0) {
    return Answer(Tool, App.help());
  }
  if (Version->count() != 0) {
    return Answer(Tool, Tool + " " + ToolsVersion + "\n");
  }
  if (const auto Problem = Missing(Required)) {
    return Refuse(*Problem);
  }
  return std::nullopt;
}

CLI::Option *NumberFrom(CLI::Option *Option, std::uint64_t Low, std::uint64_t High,
                        const std::string &Unit) {
  const std::string Noun = Unit.empty() ? "a number" : "a number of " + Unit;
  const std::string Name = Option->get_name();
  return Option->check(CLI::Validator(
      [Low, High, Noun, Name](std::string &Text) -> std::string {
        const bool Hex = Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X');
        const char *First = Text.data() + (Hex ? 2 : 0);
        const char *Last = Text.data() + Text.size();
        std::uint64_t Value = 0;
        const auto [End, Problem] = std::from_chars(First, Last, Value, Hex ? 16 : 10);
        if (First == Last || Problem != std::errc() || End != Last || Value < Low || Value > High) {
          throw CommandLineError(Name + ": '" + Text + "' is not " + Noun + " from " +
                                 std::to_string(Low) + " to " + std::to_string(High));
        }
        Text = std::to_string(Value);
        return "";
      },
      "")); // the option's type name says what it is
}

CLI::Option *OneOf(CLI::Option *Option, std::vector<std::string> Names) {
  std::string List;
  for (const std::string &Each : Names) {
    List += (List.empty() ? "" : ", ") + Each;
  }
  const std::string Name = Option->get_name();
  return Option->check(CLI::Validator(
      [Names, List, Name](std::string &Text) -> std::string {
        if (std::find(Names.begin(), Names.end(), Text) == Names.end()) {
          throw CommandLineError(Name + ": '" + Text + "' is not one of " + List +
                                 DidYouMean(Text, Names));
        }
        return "";
      },
      ""));
}

} // namespace tooloutput
