// The tools' command lines: parsed by the argument library, answered in the project's words. The
// library's own messages never reach the user: each of its errors is worded here, naming the
// option or argument and what it needs.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tooloutput {

// The version every tool of this folder answers to --version.
inline constexpr const char *ToolsVersion = "1.1";

// Parses argc/argv into App for the tool named Tool. Returns nullopt when the tool is to run.
// Otherwise returns the exit status: 0 after --help or --version answered on standard output
// alone (1 when that cannot be written), or 2 after one line "TOOL: PROBLEM" on standard error.
// Adds --version; lets unknown arguments through the library so that they are named here.
std::optional<int> ParseCommandLine(CLI::App &App, const std::string &Tool, int argc, char **argv);

// One line, without the tool's name, for an error of the argument library (for tests).
std::string CommandLineProblem(const CLI::App &App, const CLI::ParseError &Error);

// Values the tools check themselves, so that the library converts nothing and the message is
// the tool's: a whole number, decimal or 0x hexadecimal, from Low to High ("'-1' is not a number of
// bytes from 1 to 4096" with Unit "bytes"); one of Names.
CLI::Validator Number(std::uint64_t Low, std::uint64_t High, const std::string &Unit = "");
CLI::Validator OneOf(std::vector<std::string> Names);

} // namespace tooloutput
