#include "BoardInitDxe/DxeEntry.h"
#include "BoardInitDxe/DxeModuleData.h"
#include "DxeRun.h"
#include "HwAccess.h"
#include "TraceText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using sim::DxeEnvironmentSettings;
using sim::HeaderOnlyHob;
using sim::SmmMode;

constexpr const char *BootLines = "Zelk SetupInit Start\r\nZelk SetupInit result = EFI_SUCCESS\r\n";
constexpr const char *SpiPresenceRead = "RD16 0xFE033002";
constexpr std::uint64_t SpiWindows = 0xFE032000;
constexpr std::uint64_t SpiWindowsSize = 0x2000;

std::string Line(const char *Format, unsigned long long Value) {
  char Text[48];
  std::snprintf(Text, sizeof Text, Format, Value);
  return Text;
}

// The measuring interval on the simulated counter, which advances one tick per read: the start,
// then reads up to start + 364, the first one past the target, with a pause after each miss.
std::vector<std::string> MeasuringInterval(std::uint32_t Start, bool InterruptsWereOn) {
  std::vector<std::string> Lines = {InterruptsWereOn ? "FLAGS 0x00000202" : "FLAGS 0x00000002",
                                    "CLI", Line("IN32 0x1808 0x%08llX", Start),
                                    "RDTSC 0x0000000000000001"};
  for (std::uint32_t Tick = 1; Tick <= 364; ++Tick) {
    Lines.push_back(Line("IN32 0x1808 0x%08llX", (Start + Tick) & 0xFFFFFF));
    if (Tick < 364) {
      Lines.emplace_back("PAUSE");
    }
  }
  Lines.emplace_back("RDTSC 0x0000000000000002");
  Lines.emplace_back(InterruptsWereOn ? "STI" : "CLI");
  return Lines;
}

// What the timer start-up did: every access before the SPI bring-up's presence check.
std::vector<std::string> TimerStartupLines(const sim::Board &Board) {
  std::vector<std::string> Lines;
  for (const std::string &Each : sim::test::Lines(Board)) {
    if (Each.rfind(SpiPresenceRead, 0) == 0) {
      break;
    }
    Lines.push_back(Each);
  }
  return Lines;
}

std::vector<std::string> Notes(const sim::Board &Board) {
  std::vector<std::string> Lines;
  for (const sim::TraceRecord &Record : Board.trace()) {
    if (Record.Kind == sim::AccessKind::Note) {
      Lines.push_back(Record.Text);
    }
  }
  return Lines;
}

TEST(DxeStartup, TimerStartupRunsOneIntervalUnlessTheTimerHobIsListed) {
  struct Case {
    const char *Name;
    bool Listed;   // the HOB list is in the configuration table
    bool TimerHob; // the timer GUID HOB right before the end HOB
    std::optional<HeaderOnlyHob> ExtraHob;
    std::uint32_t PmTimerStart;
    bool Measures;
  };
  const Case Cases[] = {
      {"no timer HOB", true, false, {}, 0, true},
      {"timer HOB before the end HOB", true, true, {}, 0, false},
      {"no HOB list in the configuration table", false, true, {}, 0, true},
      {"interval across the counter's wrap", true, false, {}, 0xFFFF00, true},
      {"zero-length HOB ends the walk", true, true, HeaderOnlyHob{4, 0}, 0, true},
      {"7-byte HOB ends the walk", true, true, HeaderOnlyHob{1, 7}, 0, true},
      {"bare 8-byte HOB is stepped over", true, true, HeaderOnlyHob{3, 8}, 0, false},
      {"GUID HOB too short for a name is not read past the list", true, false, HeaderOnlyHob{4, 8},
       0, true},
  };
  for (const Case &Each : Cases) {
    sim::Scenario Scenario;
    Scenario.PmTimerStart = Each.PmTimerStart;
    sim::Board Board(Scenario);
    DxeEnvironmentSettings Settings;
    Settings.HobListInConfigTable = Each.Listed;
    Settings.TimerHob = Each.TimerHob;
    Settings.ExtraHob = Each.ExtraHob;
    const sim::DxeRunResult Result = sim::RunDxe(Board, Settings);
    ASSERT_FALSE(Result.Hung) << Each.Name;
    EXPECT_EQ(Result.EntryStatus, EFI_SUCCESS) << Each.Name;
    EXPECT_EQ(TimerStartupLines(Board), Each.Measures ? MeasuringInterval(Each.PmTimerStart, true)
                                                      : std::vector<std::string>{})
        << Each.Name;
    EXPECT_TRUE(Board.interruptsEnabled()) << Each.Name;
    EXPECT_EQ(Board.serialOutput(), BootLines) << Each.Name;
  }
}

TEST(DxeStartup, MeasuringIntervalLeavesMaskedInterruptsMasked) {
  sim::Board Board;
  gDxeModuleData = {};
  sim::DxeEnvironment Environment;
  sim::RunOnBoard(Board, [&] {
    DisableInterrupts();
    BoardInitDxeEntry(nullptr, Environment.systemTable());
  });
  std::vector<std::string> Expected = MeasuringInterval(0, false);
  Expected.insert(Expected.begin(), "CLI");
  EXPECT_EQ(TimerStartupLines(Board), Expected);
  EXPECT_FALSE(Board.interruptsEnabled());
}

TEST(DxeStartup, SpiBringUpRunsOnlyWhenTheControllerAnswers) {
  const std::vector<std::uint32_t> InitFrames = {0x0700, 0x0401, 0x0307, 0x020E, 0x01FF};
  for (const sim::SpiPresence Presence : {sim::SpiPresence::Present, sim::SpiPresence::Absent}) {
    sim::Scenario Scenario;
    Scenario.Spi.Presence = Presence;
    sim::Board Board(Scenario);
    DxeEnvironmentSettings Settings;
    Settings.TimerHob = true; // keeps the PM-timer reads of the trace to the bring-up's delays
    const sim::DxeRunResult Result = sim::RunDxe(Board, Settings);
    ASSERT_FALSE(Result.Hung);
    const std::vector<std::string> Window =
        sim::test::MemoryLines(Board, SpiWindows, SpiWindowsSize);
    if (Presence == sim::SpiPresence::Present) {
      EXPECT_EQ(Board.spiFrames(), InitFrames);
    } else {
      // The presence check is the only access to either window.
      EXPECT_EQ(Window, std::vector<std::string>{"RD16 0xFE033002 0xFFFF"});
    }
    EXPECT_EQ(Board.serialOutput(), BootLines);
  }
}

TEST(DxeStartup, SmmDetectionAsksInSmmOnlyAfterLocateProtocolSucceeds) {
  const std::string Locate = "LocateProtocol {F4CCBFB7-F6E0-47FD-9DD4-10A8F150C191} -> ";
  struct Case {
    SmmMode Smm;
    bool InSmm;
    std::vector<std::string> Notes;
  };
  const Case Cases[] = {
      {SmmMode::Absent, false, {Locate + "0x800000000000000E"}},
      {SmmMode::Outside,
       false,
       {Locate + "0x0000000000000000", "InSmm stores FALSE -> 0x0000000000000000"}},
      {SmmMode::Inside,
       true,
       {Locate + "0x0000000000000000", "InSmm stores TRUE -> 0x0000000000000000"}},
      {SmmMode::NullInterface, false, {Locate + "0x0000000000000000"}},
  };
  for (const Case &Each : Cases) {
    sim::Board Board;
    DxeEnvironmentSettings Settings;
    Settings.Smm = Each.Smm;
    const sim::DxeRunResult Result = sim::RunDxe(Board, Settings);
    const int Mode = static_cast<int>(Each.Smm);
    ASSERT_FALSE(Result.Hung) << Mode;
    EXPECT_EQ(Result.EntryStatus, EFI_SUCCESS) << Mode;
    EXPECT_EQ(Result.InSmm, Each.InSmm) << Mode;
    EXPECT_EQ(Result.LocateProtocolCalls, 1u) << Mode;
    EXPECT_EQ(Result.InSmmCalls, Each.Notes.size() - 1) << Mode;
    EXPECT_EQ(Notes(Board), Each.Notes) << Mode;
    EXPECT_EQ(Board.serialOutput(), BootLines) << Mode;
  }
}

// The SMM calls come after the SPI bring-up and before the first byte on the serial port.
TEST(DxeStartup, SmmDetectionSitsBetweenSpiBringUpAndTheFirstLine) {
  sim::Board Board;
  DxeEnvironmentSettings Settings;
  Settings.Smm = SmmMode::Inside;
  sim::RunDxe(Board, Settings);
  std::size_t LastSpi = 0, FirstNote = 0, LastNote = 0, FirstUart = 0;
  const std::vector<sim::TraceRecord> &Trace = Board.trace();
  for (std::size_t Index = 0; Index < Trace.size(); ++Index) {
    const sim::TraceRecord &Record = Trace[Index];
    if (Record.Kind == sim::AccessKind::Note) {
      FirstNote = FirstNote == 0 ? Index : FirstNote;
      LastNote = Index;
    } else if (Record.Kind == sim::AccessKind::MemRead ||
               Record.Kind == sim::AccessKind::MemWrite) {
      LastSpi = Record.Address >= SpiWindows ? Index : LastSpi;
    } else if (Record.Kind == sim::AccessKind::PortOut && Record.Address == 0x3F8) {
      FirstUart = FirstUart == 0 ? Index : FirstUart;
    }
  }
  EXPECT_LT(LastSpi, FirstNote);
  EXPECT_LT(LastNote, FirstUart);
}

} // namespace
