#include "HelpLayout.h"

#include <cctype>
#include <sstream>

namespace tooloutput {
namespace {

// The least space between an entry and its text on one line.
constexpr std::size_t ColumnGap = 2;

} // namespace

std::string Wrapped(const std::string &Text, std::size_t Indent) {
  std::string Out;
  std::istringstream Lines(Text);
  for (std::string Line; std::getline(Lines, Line);) {
    std::istringstream Words(Line);
    std::string Current(Indent, ' ');
    bool Empty = true;
    for (std::string Word; Words >> Word;) {
      if (!Empty && Current.size() + 1 + Word.size() > HelpWidth) {
        Out += Current + "\n";
        Current = std::string(Indent, ' ');
        Empty = true;
      }
      Current += (Empty ? "" : " ") + Word;
      Empty = false;
    }
    Out += (Empty ? std::string() : Current) + "\n";
  }
  return Out;
}

std::string HelpLine(const std::string &Left, const std::string &Text) {
  std::string Out = "  " + Left;
  if (Left.size() + 2 + ColumnGap > HelpColumn) {
    Out += "\n" + std::string(HelpColumn, ' ');
  } else {
    Out += std::string(HelpColumn - 2 - Left.size(), ' ');
  }
  const std::string Body = Wrapped(Text, HelpColumn);
  return Out + Body.substr(Body.find_first_not_of(' '));
}

std::string ArgumentName(const CLI::Option &Option) {
  std::string Name = Option.get_type_name();
  if (Name.empty()) {
    Name = Option.get_name();
    for (char &Each : Name) {
      Each = static_cast<char>(std::toupper(static_cast<unsigned char>(Each)));
    }
  }
  return Name;
}

std::string OptionForm(const CLI::Option &Option) {
  std::string Names;
  for (const std::string &Short : Option.get_snames()) {
    Names += "-" + Short + ", ";
  }
  for (const std::string &Long : Option.get_lnames()) {
    Names += "--" + Long + ", ";
  }
  Names.resize(Names.size() - 2);
  return Option.get_expected_max() == 0 ? Names : Names + "=" + Option.get_type_name();
}

std::string ToolHelp::make_help(const CLI::App *App, std::string Name, CLI::AppFormatMode) const {
  std::string Usage = "usage: " + (Name.empty() ? App->get_name() : Name) + " [options]";
  std::string Arguments, Options;
  for (const CLI::Option *Each : App->get_options()) {
    if (Each->get_positional()) {
      const bool Many = Each->get_items_expected_max() > 1;
      Usage += " " + ArgumentName(*Each) + (Many ? "..." : "");
      Arguments += HelpLine(ArgumentName(*Each), Each->get_description());
    } else {
      Options += HelpLine(OptionForm(*Each), Each->get_description());
    }
  }
  std::string Help = Usage + "\n\n" + Wrapped(App->get_description()) + "\n";
  if (!Arguments.empty()) {
    Help += "Arguments:\n" + Arguments + "\n";
  }
  Help += "Options:\n" + Options;
  if (!App->get_footer().empty()) {
    Help += "\n" + App->get_footer();
  }
  return Help;
}

} // namespace tooloutput
