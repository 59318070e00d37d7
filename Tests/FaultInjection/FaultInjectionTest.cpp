// Both modules on a board whose devices are missing or broken, one fault at a time and all at
// once. Every run either ends with the module's usual result or, where the module must wait on a
// device by design (the PM-timer waits, the UART's transmit wait), spins until the step budget
// stops it; each row pins which, and what reached the serial line and the SPI peripheral.
#include "DxeRun.h"
#include "PeiRun.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using sim::SpiPresence;

constexpr const char *BootLines = "Zelk SetupInit Start\r\nZelk SetupInit result = EFI_SUCCESS\r\n";
// Far above a full run of either module (about 1,300 accesses), so only a spin reaches it.
constexpr std::uint64_t StepBudget = 20000;
constexpr std::size_t InitFrames = 5;
constexpr std::size_t SuperIoScriptWrites = 22;

// Where a hung run spins: the one device register it keeps reading (pauses aside).
constexpr const char *PmTimerSpin = "IN32 0x1808";
constexpr const char *UartSpin = "IN8 0x03FD";

struct Expected {
  bool Hung;
  const char *Spin;        // for a hung run
  std::size_t Frames;      // frames the SPI peripheral received
  const char *Serial;      // DXE only
  std::size_t SuperIo = 0; // PEI only
};

struct Fault {
  const char *Name;
  std::function<void(sim::Scenario &)> Break;
  sim::DxeEnvironmentSettings Firmware;
  Expected Pei;
  Expected Dxe;
};

sim::DxeEnvironmentSettings WithTimerHob() {
  sim::DxeEnvironmentSettings Settings;
  Settings.TimerHob = true;
  return Settings;
}

sim::DxeEnvironmentSettings WithoutHobList() {
  sim::DxeEnvironmentSettings Settings;
  Settings.HobListInConfigTable = false;
  return Settings;
}

// A zero-length HOB before the timer HOB: the walk stops there and never sees the timer HOB.
sim::DxeEnvironmentSettings WithCorruptHobList() {
  sim::DxeEnvironmentSettings Settings = WithTimerHob();
  Settings.ExtraHob = sim::HeaderOnlyHob{EFI_HOB_TYPE_GUID_EXTENSION, 0};
  return Settings;
}

void AllOnes(sim::Scenario &S) {
  S.AllOnesEverywhere = true;
}
void TimerStuck(sim::Scenario &S) {
  S.PmTimerStuck = true;
}
void SpiAbsent(sim::Scenario &S) {
  S.Spi.Presence = SpiPresence::Absent;
}
void EverythingBroken(sim::Scenario &S) {
  S.AllOnesEverywhere = true;
  S.PmTimerStuck = true;
  S.Spi.Presence = SpiPresence::Dead;
  S.Spi.Status = 0x10;
  S.UartLineStatus = 0x00;
}

const std::vector<Fault> &Faults() {
  static const std::vector<Fault> Table = {
      {"healthy board",
       [](sim::Scenario &) {},
       {},
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      // No device answers: the SPI controller is not seen, every generic slot looks taken,
      // the UART always looks empty; only the PM timer, which never moves, holds the driver.
      {"all ones everywhere",
       AllOnes,
       {},
       {false, "", 0, "", SuperIoScriptWrites},
       {true, PmTimerSpin, 0, ""}},
      {"all ones everywhere, timer HOB",
       AllOnes,
       WithTimerHob(),
       {false, "", 0, "", SuperIoScriptWrites},
       {false, "", 0, BootLines}},
      // Every SPI wait is bounded: a stuck status costs reads, never the frames.
      {"SPI status stuck busy",
       [](sim::Scenario &S) { S.Spi.Status = 0x10; },
       {},
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"SPI transmit FIFO stuck full",
       [](sim::Scenario &S) { S.Spi.Status = 0x00; },
       {},
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"SPI receive stuck not empty and busy",
       [](sim::Scenario &S) { S.Spi.Status = 0x18; },
       {},
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"SPI register 0x0C and drain stuck",
       [](sim::Scenario &S) {
         S.Spi.Reg0C = 0xE0;
         S.Spi.Drain = 1;
       },
       {},
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"SPI controller absent",
       SpiAbsent,
       {},
       {false, "", 0, "", SuperIoScriptWrites},
       {false, "", 0, BootLines}},
      {"SPI controller dead",
       [](sim::Scenario &S) { S.Spi.Presence = SpiPresence::Dead; },
       {},
       {false, "", 0, "", SuperIoScriptWrites},
       {false, "", 0, BootLines}},
      {"UART line status all ones",
       [](sim::Scenario &S) { S.UartLineStatus = 0xFF; },
       {},
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      // The transmit wait has no bound: a holding register that never empties holds the first
      // byte back for good.
      {"UART never empties",
       [](sim::Scenario &S) { S.UartLineStatus = 0x00; },
       {},
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {true, UartSpin, InitFrames, ""}},
      // The 10 us delay after each SPI frame and the driver's measuring interval both wait on
      // the PM timer; the first frame is on the wire before its delay starts.
      {"PM timer stuck", TimerStuck, {}, {true, PmTimerSpin, 1, ""}, {true, PmTimerSpin, 0, ""}},
      {"PM timer stuck, timer HOB",
       TimerStuck,
       WithTimerHob(),
       {true, PmTimerSpin, 1, ""},
       {true, PmTimerSpin, 1, ""}},
      {"PM timer stuck, SPI absent, timer HOB",
       [](sim::Scenario &S) {
         TimerStuck(S);
         SpiAbsent(S);
       },
       WithTimerHob(),
       {false, "", 0, "", SuperIoScriptWrites},
       {false, "", 0, BootLines}},
      {"no HOB list",
       [](sim::Scenario &) {},
       WithoutHobList(),
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"corrupt HOB list",
       [](sim::Scenario &) {},
       WithCorruptHobList(),
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"corrupt HOB list, PM timer stuck, SPI absent",
       [](sim::Scenario &S) {
         TimerStuck(S);
         SpiAbsent(S);
       },
       WithCorruptHobList(),
       {false, "", 0, "", SuperIoScriptWrites},
       {true, PmTimerSpin, 0, ""}},
      {"everything broken at once",
       EverythingBroken,
       WithoutHobList(),
       {false, "", 0, "", SuperIoScriptWrites},
       {true, PmTimerSpin, 0, ""}},
      {"everything broken at once, timer HOB",
       EverythingBroken,
       WithTimerHob(),
       {false, "", 0, "", SuperIoScriptWrites},
       {false, "", 0, BootLines}},
  };
  return Table;
}

sim::Scenario Broken(const Fault &Each) {
  sim::Scenario Settings;
  Settings.MaxSteps = StepBudget;
  Each.Break(Settings);
  return Settings;
}

// The distinct accesses of a hung run's last records, pauses aside and values dropped: a run
// that spins on one register shows that register alone.
std::set<std::string> SpinAccesses(const std::vector<sim::TraceRecord> &Last) {
  std::set<std::string> Accesses;
  for (const sim::TraceRecord &Record : Last) {
    if (Record.Kind == sim::AccessKind::Note || Record.Kind == sim::AccessKind::Pause) {
      continue;
    }
    const std::string Line = sim::FormatRecord(Record, false);
    Accesses.insert(Line.substr(0, Line.rfind(' ')));
  }
  return Accesses;
}

TEST(FaultInjection, EarlyInitEndsOrSpinsOnlyOnThePmTimer) {
  for (const Fault &Each : Faults()) {
    sim::Board Board(Broken(Each));
    const sim::PeiRunResult Result = sim::RunPei(Board);
    ASSERT_EQ(Result.Hung, Each.Pei.Hung) << Each.Name;
    EXPECT_EQ(Board.spiFrames().size(), Each.Pei.Frames) << Each.Name;
    if (Result.Hung) {
      EXPECT_EQ(SpinAccesses(Result.LastAccesses), std::set<std::string>{Each.Pei.Spin})
          << Each.Name;
      continue;
    }
    EXPECT_EQ(Result.EntryStatus, 0u) << Each.Name;
    EXPECT_EQ(Board.superIoWrites().size(), Each.Pei.SuperIo) << Each.Name;
    EXPECT_TRUE(Board.interruptsEnabled()) << Each.Name;
    EXPECT_EQ(Board.serialOutput(), "") << Each.Name;
  }
}

TEST(FaultInjection, DriverEndsOrSpinsOnlyOnThePmTimerOrTheUart) {
  for (const Fault &Each : Faults()) {
    sim::Board Board(Broken(Each));
    const sim::DxeRunResult Result = sim::RunDxe(Board, Each.Firmware);
    ASSERT_EQ(Result.Hung, Each.Dxe.Hung) << Each.Name;
    EXPECT_EQ(Board.spiFrames().size(), Each.Dxe.Frames) << Each.Name;
    EXPECT_EQ(Board.serialOutput(), Each.Dxe.Serial) << Each.Name;
    if (Result.Hung) {
      EXPECT_EQ(SpinAccesses(Result.LastAccesses), std::set<std::string>{Each.Dxe.Spin})
          << Each.Name;
      continue;
    }
    EXPECT_EQ(Result.EntryStatus, EFI_SUCCESS) << Each.Name;
    EXPECT_TRUE(Board.interruptsEnabled()) << Each.Name;
  }
}

} // namespace
