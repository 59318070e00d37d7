// Running one of the project's tools as a user does, for the end-to-end tests: a command line in,
// the exit status, standard output and standard error out.
#pragma once

#include "FileRead.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace tooltest {

struct ToolResult {
  int Exit = -1; // -1 when the tool did not exit on its own (a signal ended it)
  std::string Out, Err;
};

// What the tests read back is small; a larger file is a fault of its own.
inline constexpr std::uint64_t MaxOutputBytes = std::uint64_t{64} << 20;

inline std::string ReadAll(const std::string &Path) {
  return formats::ReadFileText(Path, MaxOutputBytes);
}

// A file of this test process alone: CTest runs each test as a process of its own, side by side,
// so a fixed name would be written by two tests at once.
inline std::string TempFile(const std::string &Name) {
  return ::testing::TempDir() + "tooltest-" + std::to_string(getpid()) + "-" + Name;
}

// Program run through the shell with Arguments as written on a command line.
inline ToolResult RunTool(const std::string &Program, const std::string &Arguments) {
  const std::string ErrPath = TempFile("stderr.txt");
  ToolResult Run;
  FILE *Pipe = popen((Program + " " + Arguments + " 2>" + ErrPath).c_str(), "r");
  if (Pipe == nullptr) {
    ADD_FAILURE() << "cannot start " << Program;
    return Run;
  }
  std::array<char, 4096> Chunk;
  for (std::size_t Got; (Got = std::fread(Chunk.data(), 1, Chunk.size(), Pipe)) > 0;) {
    Run.Out.append(Chunk.data(), Got);
  }
  const int Status = pclose(Pipe);
  Run.Exit = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  Run.Err = ReadAll(ErrPath);
  std::remove(ErrPath.c_str());
  return Run;
}

} // namespace tooltest
