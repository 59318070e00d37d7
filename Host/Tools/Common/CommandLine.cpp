#include "CommandLine.h"

#include "ToolOutput.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace tooloutput {
namespace {

// A positional argument as the help shows it to users: "image" is IMAGE.
std::string Shown(std::string Name) {
  for (char &Each : Name) {
    Each = static_cast<char>(std::toupper(static_cast<unsigned char>(Each)));
  }
  return Name;
}

// The argument the library named before ':' in its message, when it is one of App's options.
const CLI::Option *NamedOption(const CLI::App &App, const std::string &Message,
                               const std::string &Separator) {
  const auto End = Message.find(Separator);
  if (End == std::string::npos) {
    return nullptr;
  }
  const std::string Name = Message.substr(0, End);
  for (const CLI::Option *Each : App.get_options()) {
    if (Each->get_name() == Name || Each->check_name(Name)) {
      return Each;
    }
  }
  return nullptr;
}

std::string Wanted(const CLI::Option &Option) {
  return Option.get_type_name().empty() ? "a value" : "a value " + Option.get_type_name();
}

// The single positional argument (IMAGE), if the tool takes one.
const CLI::Option *SinglePositional(const CLI::App &App) {
  for (const CLI::Option *Each : App.get_options()) {
    if (Each->get_positional() && Each->get_items_expected_max() == 1) {
      return Each;
    }
  }
  return nullptr;
}

// Arguments the library let through: an unknown option, or a positional too many.
std::optional<std::string> Leftovers(const CLI::App &App) {
  const std::vector<std::string> Left = App.remaining();
  std::size_t Extra = 0;
  for (const std::string &Each : Left) {
    if (Each == "--") {
      continue; // the end of the options, kept by the library
    }
    if (Each.size() > 1 && Each[0] == '-') {
      return "there is no option " + Each.substr(0, Each.find('=')) + " (see --help)";
    }
    ++Extra;
  }
  if (Extra == 0) {
    return std::nullopt;
  }
  const auto Unexpected =
      std::find_if(Left.begin(), Left.end(), [](const std::string &Each) { return Each != "--"; });
  if (const CLI::Option *One = SinglePositional(App); One && One->count() == 1) {
    return "give one " + Shown(One->get_name()) + ", not " + std::to_string(Extra + 1);
  }
  return "'" + *Unexpected + "' was not expected (see --help)";
}

// An empty value, as an unset shell variable gives it ("--output=", "-o ''", "''" for IMAGE), is
// refused, never taken for the next argument or for a file named "".
std::optional<std::string> EmptyValue(const CLI::App &App, int argc, char **argv) {
  const auto Refused = [](const CLI::Option &Option) {
    return Option.get_positional()
               ? "give one " + Shown(Option.get_name()) + ", not an empty one"
               : Option.get_name() + " needs " + Wanted(Option) + ", not an empty one";
  };
  for (int Each = 1; Each < argc; ++Each) {
    const std::string Argument = argv[Each];
    if (Argument == "--") {
      break;
    }
    if (Argument.size() > 3 && Argument.rfind("--", 0) == 0 && Argument.back() == '=') {
      const std::string Name = Argument.substr(0, Argument.size() - 1);
      for (const CLI::Option *Option : App.get_options()) {
        if (Option->check_name(Name) && Option->get_expected_max() > 0) {
          return Refused(*Option);
        }
      }
    }
  }
  for (const CLI::Option *Option : App.get_options()) {
    for (const std::string &Value : Option->results()) {
      if (Value.empty() && Option->get_expected_max() > 0) {
        return Refused(*Option);
      }
    }
  }
  return std::nullopt;
}

} // namespace

std::string CommandLineProblem(const CLI::App &App, const CLI::ParseError &Error) {
  const std::string Message = Error.what();
  if (const auto Left = Leftovers(App)) {
    return *Left;
  }
  if (dynamic_cast<const CLI::ValidationError *>(&Error)) {
    return Message; // "--name: " and the tool's own validator's words
  }
  if (dynamic_cast<const CLI::RequiredError *>(&Error)) {
    if (const CLI::Option *Option = NamedOption(App, Message, " is required")) {
      if (!Option->get_positional()) {
        return "give " + Option->get_name() + " " + Option->get_type_name();
      }
      return Option->get_items_expected_max() == 1 ? "give one " + Shown(Option->get_name())
                                                   : "give at least one " + Option->get_type_name();
    }
  }
  if (dynamic_cast<const CLI::ArgumentMismatch *>(&Error)) {
    if (const CLI::Option *Option = NamedOption(App, Message, ":")) {
      if (Message.find("At Most") != std::string::npos) {
        return Option->get_positional() ? "give one " + Shown(Option->get_name())
                                        : Option->get_name() + " is given more than once";
      }
      return Option->get_name() + " needs " + Wanted(*Option);
    }
  }
  if (dynamic_cast<const CLI::ConversionError *>(&Error)) {
    // "Could not convert: NAME = VALUE", or "NAME: ..." for a flag given values.
    constexpr std::string_view Prefix = "Could not convert: ";
    const bool Converted = Message.rfind(Prefix, 0) == 0;
    const std::string Rest = Converted ? Message.substr(Prefix.size()) : Message;
    if (const CLI::Option *Option = NamedOption(App, Rest, Converted ? " = " : ":")) {
      if (Option->get_expected_max() == 0) { // a flag
        return Option->get_name() + " takes no value";
      }
      return Option->get_name() + ": '" + Rest.substr(Rest.find(" = ") + 3) +
             "' is not a value it takes";
    }
  }
  return "the command line is not understood (see --help)";
}

std::optional<int> ParseCommandLine(CLI::App &App, const std::string &Tool, int argc, char **argv) {
  App.allow_extras();
  App.name(Tool); // the help's usage line names the tool, not the path it was started by
  const std::string Version = Tool + " " + ToolsVersion;
  App.set_version_flag("--version", Version, "print the version and exit");
  std::string Answer;
  try {
    if (const auto Empty = EmptyValue(App, argc, argv)) {
      PrintError("{}: {}\n", Tool, *Empty);
      return 2;
    }
    App.parse(argc, argv);
    auto Left = Leftovers(App);
    Left = Left ? Left : EmptyValue(App, argc, argv);
    if (!Left) {
      return std::nullopt;
    }
    PrintError("{}: {}\n", Tool, *Left);
    return 2;
  } catch (const CLI::CallForHelp &) {
    Answer = App.help();
  } catch (const CLI::CallForVersion &) {
    Answer = Version + "\n";
  } catch (const CLI::ParseError &Error) {
    PrintError("{}: {}\n", Tool, CommandLineProblem(App, Error));
    return 2;
  }
  try {
    OutputSet Outputs;
    Outputs.standardOutput().write(Answer);
    Outputs.commit();
    return 0;
  } catch (const WriteFailed &Error) {
    PrintError("{}: {}\n", Tool, Error.what());
    return 1;
  }
}

CLI::Validator Number(std::uint64_t Low, std::uint64_t High, const std::string &Unit) {
  const std::string Noun = Unit.empty() ? "a number" : "a number of " + Unit;
  return CLI::Validator(
      [Low, High, Noun](std::string &Text) -> std::string {
        const bool Hex = Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X');
        const char *First = Text.data() + (Hex ? 2 : 0);
        const char *Last = Text.data() + Text.size();
        std::uint64_t Value = 0;
        const auto [End, Problem] = std::from_chars(First, Last, Value, Hex ? 16 : 10);
        if (First == Last || Problem != std::errc() || End != Last || Value < Low || Value > High) {
          return "'" + Text + "' is not " + Noun + " from " + std::to_string(Low) + " to " +
                 std::to_string(High);
        }
        Text = std::to_string(Value);
        return "";
      },
      ""); // the option's type name says what it is
}

CLI::Validator OneOf(std::vector<std::string> Names) {
  std::string List;
  for (const std::string &Each : Names) {
    List += (List.empty() ? "" : ", ") + Each;
  }
  return CLI::Validator(
      [Names, List](std::string &Text) -> std::string {
        for (const std::string &Each : Names) {
          if (Text == Each) {
            return "";
          }
        }
        return "'" + Text + "' is not one of " + List;
      },
      "");
}

} // namespace tooloutput
