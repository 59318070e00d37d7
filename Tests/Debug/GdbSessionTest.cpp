// The real gdb against the server: it must accept the target description of each architecture,
// read registers at their widths and memory, step both ways, stop at a breakpoint, and detach.
#include "FakeTarget.h"
#include "Server.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace gdbremote::testing {
namespace {

constexpr const char *Gdb = "/usr/bin/gdb";
constexpr std::chrono::seconds ConnectTimeout{30};
constexpr int GdbSeconds = 60;

// Runs the fake machine under the server the way an emulator would: forward steps move one byte,
// reverse ones back to the start, continue runs to the next breakpoint in memory or to the end.
std::vector<Resume> serve(Server &Debugger, Architecture Arch) {
  FakeTarget Machine(Arch);
  std::vector<Resume> Resumes;
  if (!Debugger.accept(ConnectTimeout))
    return Resumes;
  StopReason Reason;
  for (;;) {
    const Resume Action = Debugger.stopped(Machine, Reason);
    Resumes.push_back(Action);
    if (Action == Resume::Kill || Action == Resume::Detach)
      return Resumes;
    if (Action == Resume::Step) {
      Machine.step(1);
      Reason = {StopKind::Step};
    } else if (Action == Resume::ReverseStep || Action == Resume::ReverseContinue) {
      const bool AtStart = Machine.ip() == MemoryBase;
      if (!AtStart)
        Machine.step(Action == Resume::ReverseStep ? -1 : -int(Machine.ip() - MemoryBase));
      Reason = {AtStart || Action == Resume::ReverseContinue ? StopKind::ReplayBegin
                                                             : StopKind::Step};
    } else {
      const auto Next = Debugger.breakpoints().upper_bound(Machine.ip());
      if (Next == Debugger.breakpoints().end()) {
        Debugger.exited(0);
        return Resumes;
      }
      Machine.step(int(*Next - Machine.ip()));
      Reason = {StopKind::Breakpoint};
    }
  }
}

std::string runGdb(std::uint16_t Port, const char *ArchName,
                   const std::vector<std::string> &Commands) {
  std::string Line = "timeout " + std::to_string(GdbSeconds) + " " + Gdb +
                     " -batch -nx -ex 'set architecture " + ArchName +
                     "' -ex 'target remote 127.0.0.1:" + std::to_string(Port) + "'";
  for (const auto &Command : Commands)
    Line += " -ex '" + Command + "'";
  Line += " 2>&1";
  std::string Output;
  FILE *Pipe = ::popen(Line.c_str(), "r");
  std::array<char, 512> Buffer;
  while (Pipe && std::fgets(Buffer.data(), Buffer.size(), Pipe))
    Output += Buffer.data();
  if (Pipe)
    ::pclose(Pipe);
  return Output;
}

struct GdbCase {
  Architecture Arch;
  const char *ArchName;
  std::vector<std::string> Expected; // in the order gdb prints them
};

const std::vector<std::string> Commands = {"info registers pc",
                                           "p sizeof($pc)",
                                           "p/x $sp",
                                           "x/4xb 0x1000",
                                           "x/2xb 0x2000",
                                           "stepi",
                                           "p/x $pc",
                                           "reverse-stepi",
                                           "p/x $pc",
                                           "reverse-stepi",
                                           "break *0x1004",
                                           "continue",
                                           "stepi",
                                           "reverse-continue",
                                           "detach"};

TEST(GdbSession, GdbAcceptsTheDescriptionStepsBothWaysAndDetaches) {
  if (!std::filesystem::exists(Gdb))
    GTEST_SKIP() << Gdb << " is not installed";
  const GdbCase Cases[] = {
      {Architecture::I386,
       "i386",
       {"pc             0x1000", "$1 = 4", "$2 = 0x8000", "0x1000:\t0x55\t0x89\t0xe5\t0x7d",
        "Cannot access memory at address 0x2000", "0x00001001 in ?? ()", "$3 = 0x1001",
        "$4 = 0x1000", "No more reverse-execution history.", "Breakpoint 1, 0x00001004 in ?? ()",
        "0x00001005 in ?? ()", "No more reverse-execution history.",
        "[Inferior 1 (Remote target) detached]"}},
      {Architecture::X86_64,
       "i386:x86-64",
       {"pc             0x1000", "$1 = 8", "$2 = 0x8000", "0x1000:\t0x55\t0x89\t0xe5\t0x7d",
        "Cannot access memory at address 0x2000", "0x0000000000001001 in ?? ()", "$3 = 0x1001",
        "$4 = 0x1000", "No more reverse-execution history.",
        "Breakpoint 1, 0x0000000000001004 in ?? ()", "0x0000000000001005 in ?? ()",
        "No more reverse-execution history.", "[Inferior 1 (Remote target) detached]"}},
  };
  for (const auto &Case : Cases) {
    Server Debugger(0);
    std::vector<Resume> Resumes;
    std::thread Machine([&] { Resumes = serve(Debugger, Case.Arch); });
    const std::string Output = runGdb(Debugger.port(), Case.ArchName, Commands);
    Machine.join();
    EXPECT_EQ(Output.find("Remote 'g' packet reply is too long"), std::string::npos) << Output;
    std::size_t From = 0;
    for (const auto &Text : Case.Expected) {
      const auto At = Output.find(Text, From);
      ASSERT_NE(At, std::string::npos)
          << Case.ArchName << ": no \"" << Text << "\" after offset " << From << " in:\n"
          << Output;
      From = At + Text.size();
    }
    ASSERT_FALSE(Resumes.empty());
    EXPECT_EQ(Resumes.front(), Resume::Step) << "stepi";
    EXPECT_EQ(Resumes.back(), Resume::Detach) << "detach";
  }
}

} // namespace
} // namespace gdbremote::testing
