// Both modules on a board whose devices are missing or broken, one fault at a time and all at
// once. Every run either ends with the module's usual result or, where the module must wait on a
// device by design (the PM-timer waits, the UART's transmit wait), spins until the step budget
// stops it; each row pins which, and what reached the serial line and the SPI peripheral.
#include "HostBuildRuns.h"
#include "NamedScenarios.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace {

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

// Each row names a scenario that `boardsim dxe --scenario=NAME` replays, and `boardsim pei
// --scenario=NAME` too when pei has an option for every setting the scenario changes.
struct Fault {
  const char *Name;
  Expected Pei;
  Expected Dxe;
};

const std::vector<Fault> &Faults() {
  static const std::vector<Fault> Table = {
      {"healthy",
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      // No device answers: the SPI controller is not seen, every generic slot looks taken,
      // the UART always looks empty; only the PM timer, which never moves, holds the driver.
      {"all-ones", {false, "", 0, "", SuperIoScriptWrites}, {true, PmTimerSpin, 0, ""}},
      // The driver ends, but no UART takes its bytes: nothing reaches the serial line.
      {"all-ones-timer-hob", {false, "", 0, "", SuperIoScriptWrites}, {false, "", 0, ""}},
      // Every SPI wait is bounded: a stuck status costs reads, never the frames.
      {"spi-busy",
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"spi-fifo-full",
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"spi-receive-busy",
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"spi-quiet-drain-stuck",
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"spi-absent", {false, "", 0, "", SuperIoScriptWrites}, {false, "", 0, BootLines}},
      {"spi-dead", {false, "", 0, "", SuperIoScriptWrites}, {false, "", 0, BootLines}},
      {"uart-all-ones",
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      // The transmit wait has no bound: a holding register that never empties holds the first
      // byte back for good.
      {"uart-never-empties",
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {true, UartSpin, InitFrames, ""}},
      // The 10 us delay after each SPI frame and the driver's measuring interval both wait on
      // the PM timer; the first frame is on the wire before its delay starts.
      {"pm-timer-stuck", {true, PmTimerSpin, 1, ""}, {true, PmTimerSpin, 0, ""}},
      {"pm-timer-stuck-timer-hob", {true, PmTimerSpin, 1, ""}, {true, PmTimerSpin, 1, ""}},
      {"pm-timer-stuck-spi-absent-timer-hob",
       {false, "", 0, "", SuperIoScriptWrites},
       {false, "", 0, BootLines}},
      {"no-hob-list",
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"corrupt-hob-list",
       {false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"corrupt-hob-list-pm-timer-stuck-spi-absent",
       {false, "", 0, "", SuperIoScriptWrites},
       {true, PmTimerSpin, 0, ""}},
      {"everything-broken", {false, "", 0, "", SuperIoScriptWrites}, {true, PmTimerSpin, 0, ""}},
      {"everything-broken-timer-hob", {false, "", 0, "", SuperIoScriptWrites}, {false, "", 0, ""}},
  };
  return Table;
}

sim::Scenario Broken(const Fault &Each) {
  const sim::NamedScenario *Named = sim::FindScenario(Each.Name);
  EXPECT_NE(Named, nullptr) << Each.Name;
  sim::Scenario Settings = Named != nullptr ? Named->Settings : sim::Scenario{};
  Settings.MaxSteps = StepBudget;
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
    const runs::RunResult Result = runs::HostBuild().runPei(Board);
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

TEST(FaultInjection, EveryNamedScenarioHasARow) {
  EXPECT_EQ(Faults().size(), sim::NamedScenarios().size());
}

TEST(FaultInjection, DriverEndsOrSpinsOnlyOnThePmTimerOrTheUart) {
  for (const Fault &Each : Faults()) {
    sim::Board Board(Broken(Each));
    const runs::RunResult Result = runs::HostBuild().runDxe(Board);
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
