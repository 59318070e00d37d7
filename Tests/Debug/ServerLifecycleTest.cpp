// A session's life: no-ack mode, the end of the run, kill, an interrupt while running, gdb going
// away mid-packet, and a port that cannot be had.
#include "ServerSession.h"

#include <gtest/gtest.h>

#include <random>

namespace gdbremote::testing {
namespace {

struct LifecycleCase {
  const char *Case;
  OnContinue Then;
  std::vector<Exchange> Script;
  std::vector<Resume> Resumes;
};

TEST(ServerLifecycle, EndsEachWayGdbOrTheRunEndsIt) {
  const LifecycleCase Cases[] = {
      {"NoAckMode",
       OnContinue::StopAtBreakpoint,
       {{"Asked", "$QStartNoAckMode#b0", "+$OK#9a"},
        {"NoAckAfterIt", "$?#3f", "$T05thread:01;#07", false},
        {"ResumeUnacknowledged", "$c#63", "$O72756e0a#50$T05thread:01;swbreak:;#6b", false},
        {"Kill", "$vKill;1#6e", "$OK#9a", false}},
       {Resume::Continue, Resume::Kill}},
      {"RunEnds",
       OnContinue::Exit,
       {{"Continue", "$c#63", "+$O72756e0a#50"},
        {"ExitCode", "", "$W03#ba"},
        {"NoRegistersAfterTheEnd", "$g#67", "+$E02#a7"},
        {"NoMemoryAfterTheEnd", "$m1000,4#8e", "+$E02#a7"},
        {"ResumeGetsTheEndAgain", "$c#63", "+$W03#ba"},
        {"Detach", "$D#44", "+$OK#9a"}},
       {Resume::Continue, Resume::Detach}},
      {"Kill", OnContinue::StopAtBreakpoint, {{"Kill", "$k#6b", "+"}}, {Resume::Kill}},
      {"Interrupt",
       OnContinue::WaitForInterrupt,
       {{"Continue", "$c#63", "+$O72756e0a#50"},
        {"Interrupted", "\x03", "$T02thread:01;#04"},
        {"StillServed", "$p8#a8", "+$00100000#81"}},
       {Resume::Continue, Resume::Detach}},
      // gdb goes away inside a packet: the run goes on to its end without it.
      {"DisconnectMidPacket",
       OnContinue::StopAtBreakpoint,
       {{"Breakpoint", "$Z0,1004,1#d8", "+$OK#9a"}, {"HalfAPacket", "$m10", ""}},
       {Resume::Detach}},
  };
  for (const auto &Case : Cases) {
    ServerSession Session(Architecture::I386, Case.Then);
    play(Session, Case.Script);
    EXPECT_EQ(Session.finish(), Case.Resumes) << Case.Case;
    EXPECT_EQ(Session.breakpointsLeft(), 0u) << Case.Case;
  }
}

// Random bytes, packet marks among them, leave the server answering the next good packet.
TEST(ServerLifecycle, SurvivesLineNoise) {
  constexpr std::size_t NoiseBytes = 4096;
  constexpr unsigned Seed = 0x6db;
  std::mt19937 Random(Seed);
  std::uniform_int_distribution<int> Byte(0, 0xff);
  std::string Noise;
  for (std::size_t I = 0; I < NoiseBytes; ++I)
    Noise += static_cast<char>(Byte(Random));
  ServerSession Session(Architecture::X86_64);
  Session.send(Noise);
  // The noise may end inside a packet or its checksum: three marks end either, then rip.
  Session.send("###$p10#d1");
  const std::string Got = Session.receiveUntil("+$0010000000000000#01");
  EXPECT_TRUE(Got.ends_with("+$0010000000000000#01")) << Got.size() << " bytes";
  Session.send("+");
  EXPECT_EQ(Session.finish(), std::vector<Resume>{Resume::Detach});
}

TEST(ServerLifecycle, KilledSessionIsClosedByTheServer) {
  ServerSession Session(Architecture::X86_64);
  Session.send("$k#6b");
  EXPECT_EQ(Session.receive(1), "+");
  EXPECT_TRUE(Session.closedByServer());
}

TEST(ServerLifecycle, PortInUseIsNamed) {
  Server First(0);
  try {
    Server Second(First.port());
    FAIL() << "a second server took port " << First.port();
  } catch (const ServerError &Error) {
    EXPECT_EQ(std::string(Error.what()), "port " + std::to_string(First.port()) + " is in use");
  }
}

TEST(ServerLifecycle, UnconnectedServerLetsTheRunGoOn) {
  Server Idle(0);
  FakeTarget Machine(Architecture::I386);
  EXPECT_FALSE(Idle.accept(std::chrono::milliseconds(1)));
  EXPECT_EQ(Idle.stopped(Machine, {StopKind::Breakpoint}), Resume::Detach);
  EXPECT_FALSE(Idle.interruptRequested());
  Idle.console(ConsoleText);
  Idle.exited(0);
}

} // namespace
} // namespace gdbremote::testing
