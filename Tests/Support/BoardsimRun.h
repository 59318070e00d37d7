// Running the boardsim binary from a test: its result, its JSON, and counting the lines of its
// report.
#pragma once

#include "RunTool.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstddef>
#include <sstream>
#include <string>

namespace tooltest {

inline ToolResult Boardsim(const std::string &Arguments) {
  return RunTool(BOARDSIM_PATH, Arguments);
}

// The run's JSON, on standard output; the run must succeed.
inline nlohmann::json BoardsimJson(const std::string &Arguments) {
  const ToolResult Run = Boardsim(Arguments + " --json=-");
  EXPECT_EQ(Run.Exit, 0) << Arguments << "\n" << Run.Err;
  return nlohmann::json::parse(Run.Out);
}

// The lines of Text that start with Prefix.
inline std::size_t CountLines(const std::string &Text, const std::string &Prefix) {
  std::size_t Count = 0;
  std::istringstream Lines(Text);
  for (std::string Line; std::getline(Lines, Line);) {
    Count += Line.rfind(Prefix, 0) == 0 ? 1 : 0;
  }
  return Count;
}

} // namespace tooltest
