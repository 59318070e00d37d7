// The tools' command lines: tokenized by the argument library, every problem named here in the
// tools' own words. The library's messages never reach the user: what went wrong is read from the
// options' state (how often each was given, the values it holds, what is left over), and the
// values are checked by this file's own checks, which throw CommandLineError.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tooloutput {

// The version every tool of this folder answers to --version.
inline constexpr const char *ToolsVersion = "1.1";

// A command line the tool cannot use; the text names the argument and what it needs.
class CommandLineError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Parses argc/argv into App for the tool named Tool. Returns nullopt when the tool is to run.
// Otherwise returns the exit status: 0 after --help or --version answered alone on standard
// output (5 when that cannot be written), or 2 after one line "TOOL: PROBLEM" on standard error.
// Adds -h/--help and --version and gives App the help layout every tool shares.
std::optional<int> ParseCommandLine(CLI::App &App, const std::string &Tool, int argc, char **argv);

// Parses Arguments (the command line after the tool's name) into App, for a tool that drives the
// library itself (boardsim's subcommands, the fuzz targets): a spelling that loses a value, a value
// a check refuses, an empty value or an option of one value given twice throws CommandLineError.
// What the options did not take stays in App.remaining() for the caller, which knows what it may
// be. See names the help in a message ("boardsim compare": "see boardsim compare --help").
void ParseArguments(CLI::App &App, const std::vector<std::string> &Arguments,
                    const std::string &See);

// The problems the library leaves to its user. Arguments are the command line after the tool's
// name.
//  - an option spelt so that its value is lost or invented: "--output=" (empty), "-o=FILE" (a
//    short option takes no '='), "--flag=VALUE", a value option last with no value;
std::optional<std::string> SpellingProblem(const CLI::App &App,
                                           const std::vector<std::string> &Arguments);
//  - after parsing: an empty value ("-o ''"), an option of one value given twice.
std::optional<std::string> GivenProblem(const CLI::App &App);
// "unknown option '--scenaro' (did you mean --scenario?)", else "... (see SEE --help)".
std::string UnknownOption(const std::string &Given, const CLI::App &App, const std::string &See);
// The long names of App's options, "--scenario", for suggestions.
std::vector<std::string> OptionNames(const CLI::App &App);

// Checks of a value, added to Option: a whole number, decimal or 0x hexadecimal, from Low to High
// ("--max-bytes: '-1' is not a number of bytes from 1 to 4096" with Unit "bytes"), converted to
// decimal for the library; one of Names ("--machine: 'arm' is not one of i386, x86-64").
CLI::Option *NumberFrom(CLI::Option *Option, std::uint64_t Low, std::uint64_t High,
                        const std::string &Unit = "");
CLI::Option *OneOf(CLI::Option *Option, std::vector<std::string> Names);

} // namespace tooloutput
