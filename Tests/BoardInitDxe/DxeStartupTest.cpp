#include "BoardInitDxe/DxeEntry.h"
#include "BoardInitDxe/DxeModuleData.h"
#include "BoardInitDxe/HobList.h"
#include "DxeEnvironment.h"
#include "HostBuildRuns.h"
#include "HwAccess.h"
#include "TraceText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

void *RealGetHobList() asm("__real__Z10GetHobListv");
void *WrapGetHobList() asm("__wrap__Z10GetHobListv");

namespace {

// GetHobList calls during a run, and those that found no list cached and scanned the table.
struct HobListLookups {
  unsigned Calls = 0;
  unsigned Scans = 0;
};
HobListLookups Lookups;

} // namespace

void *WrapGetHobList() {
  ++Lookups.Calls;
  if (gDxeModuleData.HobList == nullptr) {
    ++Lookups.Scans;
  }
  return RealGetHobList();
}

namespace {

using sim::HeaderOnlyHob;
using sim::SmmMode;
using sim::SpiPresence;

constexpr const char *BootLines = "Zelk SetupInit Start\r\nZelk SetupInit result = EFI_SUCCESS\r\n";

std::string TimerRead(std::uint32_t Count) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "IN32 0x1808 0x%08X", Count & 0xFFFFFF);
  return Text;
}

// The simulated counter advances one tick per read, so the interval reads its start, then up to
// start + 364, the first reading past the target, with a pause after each miss.
std::vector<std::string> MeasuringInterval(std::uint32_t Start, bool InterruptsWereOn) {
  std::vector<std::string> Lines = {InterruptsWereOn ? "FLAGS 0x00000202" : "FLAGS 0x00000002",
                                    "CLI", TimerRead(Start), "RDTSC 0x0000000000000001"};
  for (std::uint32_t Tick = 1; Tick <= 364; ++Tick) {
    Lines.push_back(TimerRead(Start + Tick));
    if (Tick < 364) {
      Lines.emplace_back("PAUSE");
    }
  }
  Lines.emplace_back("RDTSC 0x0000000000000002");
  Lines.emplace_back(InterruptsWereOn ? "STI" : "CLI");
  return Lines;
}

// The timer start-up's share of the trace: every access before the SPI presence check.
std::vector<std::string> TimerStartupLines(const sim::Board &Board) {
  std::vector<std::string> Lines;
  for (const std::string &Each : sim::test::Lines(Board)) {
    if (Each.rfind("RD16 0xFE033002", 0) == 0) {
      break;
    }
    Lines.push_back(Each);
  }
  return Lines;
}

// The firmware calls the SMM detection makes for each answer of LocateProtocol.
std::vector<std::string> SmmCalls(SmmMode Smm) {
  const std::string Locate =
      "LocateProtocol({F4CCBFB7-F6E0-47FD-9DD4-10A8F150C191}, NULL, Interface) -> ";
  const std::string Success = "EFI_SUCCESS (0x0000000000000000)";
  const std::string InSmm = "InSmm(SmmBase2, InSmram) -> " + Success;
  switch (Smm) {
  case SmmMode::Absent:
    return {Locate + "EFI_NOT_FOUND (0x800000000000000E)"};
  case SmmMode::NullInterface:
    return {Locate + Success + "; hands back NULL"};
  case SmmMode::Outside:
    return {Locate + Success, InSmm + "; stores FALSE"};
  case SmmMode::Inside:
    return {Locate + Success, InSmm + "; stores TRUE"};
  }
  return {};
}

TEST(DxeStartup, EveryVariantRunsItsStartUpAndPrintsBothLines) {
  struct Case {
    const char *Name;
    sim::DxeEnvironmentSettings Settings; // listed, timer HOB, SMM, extra HOB before the timer HOB
    bool Spi;                             // the controller answers with its device ID
    std::uint32_t PmTimerStart;
    bool Measures;
  };
  using enum standin::SmmMode;
  const Case Cases[] = {
      {"no timer HOB", {true, false, Absent, {}}, true, 0, true},
      {"timer HOB", {true, true, Absent, {}}, true, 0, false},
      {"no HOB list", {false, true, Absent, {}}, true, 0, true},
      {"counter wraps", {true, false, Absent, {}}, true, 0xFFFF00, true},
      {"zero-length HOB ends the walk",
       {true, true, Absent, HeaderOnlyHob{true, 4, 0}},
       true,
       0,
       true},
      {"7-byte HOB ends the walk", {true, true, Absent, HeaderOnlyHob{true, 1, 7}}, true, 0, true},
      {"bare 8-byte HOB skipped", {true, true, Absent, HeaderOnlyHob{true, 3, 8}}, true, 0, false},
      {"GUID HOB with no name", {true, false, Absent, HeaderOnlyHob{true, 4, 8}}, true, 0, true},
      {"controller absent", {true, true, Absent, {}}, false, 0, false},
      {"outside SMM", {true, true, Outside, {}}, true, 0, false},
      {"inside SMM", {true, true, Inside, {}}, true, 0, false},
      {"no interface", {true, true, NullInterface, {}}, true, 0, false},
  };
  const std::vector<std::uint32_t> InitFrames = {0x0700, 0x0401, 0x0307, 0x020E, 0x01FF};
  for (const Case &Each : Cases) {
    sim::Scenario Scenario;
    Scenario.Spi.Presence = Each.Spi ? SpiPresence::Present : SpiPresence::Absent;
    Scenario.PmTimerStart = Each.PmTimerStart;
    Scenario.Firmware = Each.Settings;
    sim::Board Board(Scenario);
    Lookups = {};
    const runs::RunResult Result = runs::HostBuild().runDxe(Board);
    ASSERT_FALSE(Result.Hung) << Each.Name;
    // Two lookups: a list found by the first is cached for the second; without one, both scan.
    EXPECT_EQ(Lookups.Calls, 2u) << Each.Name;
    EXPECT_EQ(Lookups.Scans, Each.Settings.HobListInConfigTable ? 1u : 2u) << Each.Name;
    ASSERT_TRUE(Result.Dxe) << Each.Name;
    EXPECT_EQ(Result.Dxe->HobListFound, Each.Settings.HobListInConfigTable) << Each.Name;
    EXPECT_EQ(Result.EntryStatus, EFI_SUCCESS) << Each.Name;
    EXPECT_EQ(Board.serialOutput(), BootLines) << Each.Name;

    const std::vector<std::string> Interval = MeasuringInterval(Each.PmTimerStart, true);
    EXPECT_EQ(TimerStartupLines(Board), Each.Measures ? Interval : std::vector<std::string>{})
        << Each.Name;
    EXPECT_TRUE(Board.interruptsEnabled()) << Each.Name;

    if (Each.Spi) {
      EXPECT_EQ(Board.spiFrames(), InitFrames) << Each.Name;
    } else {
      // The presence check is the only access to either window.
      EXPECT_EQ(sim::test::MemoryLines(Board, 0xFE032000, 0x2000),
                std::vector<std::string>{"RD16 0xFE033002 0xFFFF"});
    }

    std::vector<std::string> Calls;
    for (const sim::TraceRecord &Record : Board.trace()) {
      if (Record.Kind == sim::AccessKind::Note && Record.Text.rfind("BoardInitDxeEntry", 0) != 0) {
        Calls.push_back(Record.Text);
      }
    }
    EXPECT_EQ(Calls, SmmCalls(Each.Settings.Smm)) << Each.Name;
    ASSERT_TRUE(Result.Dxe) << Each.Name;
    EXPECT_EQ(Result.Dxe->LocateProtocolCalls, 1u) << Each.Name;
    EXPECT_EQ(Result.Dxe->InSmmCalls, Calls.size() - 1) << Each.Name;
    EXPECT_EQ(Result.Dxe->InSmm, Each.Settings.Smm == SmmMode::Inside) << Each.Name;
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

} // namespace
