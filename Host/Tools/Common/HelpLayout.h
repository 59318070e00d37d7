// One layout for every tool's help: "usage: TOOL ..." first, then what it does, "Arguments:",
// "Options:" with each option's help in one column, and the exit statuses; every line wrapped at
// the same width, so that the tools read alike in a terminal.
#pragma once

#include <CLI/CLI.hpp>

#include <cstddef>
#include <string>

namespace tooloutput {

inline constexpr std::size_t HelpWidth = 100;
// The column where an option's help starts.
inline constexpr std::size_t HelpColumn = 26;

// One entry of a list ("  --json=FILE   write the result ..."), its text wrapped under the column;
// a left side too wide for the column puts the text on the next line.
std::string HelpLine(const std::string &Left, const std::string &Text);

// Text wrapped at the help's width, each line starting with Indent.
std::string Wrapped(const std::string &Text, std::size_t Indent = 0);

// An option as the help and the messages show it: "-o, --output=FILE", "--no-imports".
std::string OptionForm(const CLI::Option &Option);
// A positional argument by the name the help shows: IMAGE, OBJECT.
std::string ArgumentName(const CLI::Option &Option);

// The help of a tool's App in that layout: the usage line from its arguments, the description,
// the arguments and options with their help, and the footer (the exit statuses) as it is.
class ToolHelp : public CLI::FormatterBase {
public:
  std::string make_help(const CLI::App *App, std::string Name, CLI::AppFormatMode) const override;
};

} // namespace tooloutput
