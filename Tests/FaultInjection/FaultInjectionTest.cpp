// Both modules on a board whose devices are missing or broken, one fault at a time and all at
// once. Every run either ends with the module's usual result or, where the module must wait on a
// device by design (the PM-timer waits, the UART's transmit wait), spins until the step budget
// stops it; each row pins which, and what reached the serial line and the SPI peripheral. A
// scenario is a board of its own: none holds a setting that another of its settings cancels, and
// each is run only by the modules that read all of its settings.
#include "HostBuildRuns.h"
#include "NamedScenarios.h"
#include "ScenarioSettings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
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
// --scenario=NAME` too where the row has a Pei expectation: the early-init module reads every
// setting of those scenarios, and none of the firmware around the driver or the UART.
constexpr std::nullopt_t DriverOnly = std::nullopt;

struct Fault {
  const char *Name;
  std::optional<Expected> Pei;
  Expected Dxe;
};

const std::vector<Fault> &Faults() {
  static const std::vector<Fault> Table = {
      {"healthy",
       Expected{false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      // No device answers: the SPI controller is not seen, every generic slot looks taken,
      // the UART always looks empty; only the PM timer, which never moves, holds the driver.
      {"all-ones", Expected{false, "", 0, "", SuperIoScriptWrites}, {true, PmTimerSpin, 0, ""}},
      // The driver ends, but no UART takes its bytes: nothing reaches the serial line.
      {"all-ones-timer-hob", DriverOnly, {false, "", 0, ""}},
      {"all-ones-no-hob-list", DriverOnly, {true, PmTimerSpin, 0, ""}},
      // Every SPI wait is bounded: a stuck status costs reads, never the frames.
      // Entered with interrupts off, each phase leaves them off: every PCI access puts the flag
      // back as it found it.
      {"interrupts-off",
       Expected{false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"spi-busy",
       Expected{false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"spi-fifo-full",
       Expected{false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"spi-receive-busy",
       Expected{false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"spi-quiet-drain-stuck",
       Expected{false, "", InitFrames, "", SuperIoScriptWrites},
       {false, "", InitFrames, BootLines}},
      {"spi-absent", Expected{false, "", 0, "", SuperIoScriptWrites}, {false, "", 0, BootLines}},
      {"spi-dead", Expected{false, "", 0, "", SuperIoScriptWrites}, {false, "", 0, BootLines}},
      {"uart-all-ones", DriverOnly, {false, "", InitFrames, BootLines}},
      // The transmit wait has no bound: a holding register that never empties holds the first
      // byte back for good.
      {"uart-never-empties", DriverOnly, {true, UartSpin, InitFrames, ""}},
      // The 10 us delay after each SPI frame and the driver's measuring interval both wait on
      // the PM timer; the first frame is on the wire before its delay starts.
      {"pm-timer-stuck", Expected{true, PmTimerSpin, 1, ""}, {true, PmTimerSpin, 0, ""}},
      {"pm-timer-stuck-timer-hob", DriverOnly, {true, PmTimerSpin, 1, ""}},
      // Without a controller no frame waits on the timer: early init ends; the driver's
      // measuring interval still holds it.
      {"pm-timer-stuck-spi-absent",
       Expected{false, "", 0, "", SuperIoScriptWrites},
       {true, PmTimerSpin, 0, ""}},
      {"pm-timer-stuck-spi-absent-timer-hob", DriverOnly, {false, "", 0, BootLines}},
      {"no-hob-list", DriverOnly, {false, "", InitFrames, BootLines}},
      {"corrupt-hob-list", DriverOnly, {false, "", InitFrames, BootLines}},
      {"corrupt-hob-list-pm-timer-stuck-spi-absent", DriverOnly, {true, PmTimerSpin, 0, ""}},
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
    if (!Each.Pei) {
      continue;
    }
    sim::Board Board(Broken(Each));
    const runs::RunResult Result = runs::HostBuild().runPei(Board);
    ASSERT_EQ(Result.Hung, Each.Pei->Hung) << Each.Name;
    EXPECT_EQ(Board.spiFrames().size(), Each.Pei->Frames) << Each.Name;
    if (Result.Hung) {
      EXPECT_EQ(SpinAccesses(Result.LastAccesses), std::set<std::string>{Each.Pei->Spin})
          << Each.Name;
      continue;
    }
    EXPECT_EQ(Result.EntryStatus, 0u) << Each.Name;
    EXPECT_EQ(Board.superIoWrites().size(), Each.Pei->SuperIo) << Each.Name;
    EXPECT_EQ(Board.interruptsEnabled(), !Broken(Each).InterruptsOff) << Each.Name;
    EXPECT_EQ(Board.serialOutput(), "") << Each.Name;
  }
}

TEST(FaultInjection, EveryNamedScenarioHasARow) {
  EXPECT_EQ(Faults().size(), sim::NamedScenarios().size());
}

// A row expects the early-init module on exactly the scenarios that it takes: the ones it reads
// every setting of.
TEST(FaultInjection, EarlyInitRunsExactlyTheScenariosItReads) {
  for (const Fault &Each : Faults()) {
    const sim::NamedScenario *Named = sim::FindScenario(Each.Name);
    ASSERT_NE(Named, nullptr) << Each.Name;
    EXPECT_EQ(Each.Pei.has_value(), sim::ScenarioFits(Named->Settings, sim::RunKind::Pei))
        << Each.Name;
    EXPECT_TRUE(sim::ScenarioFits(Named->Settings, sim::RunKind::Dxe)) << Each.Name;
  }
}

// No name for a board on which one setting hides another: all ones would give the board of
// all-ones under a second name.
TEST(FaultInjection, NoScenarioHoldsASettingAnotherOfItsSettingsCancels) {
  for (const sim::NamedScenario &Each : sim::NamedScenarios()) {
    const unsigned Settings = sim::ChangedSettings(Each.Settings);
    EXPECT_FALSE(sim::CancellationIn(Settings, Settings)) << Each.Name;
  }
}

// What cancels what: every read all ones hides each device's answer but not the firmware around
// the driver nor the bridge's preset registers; a controller that is absent or dead hides its
// registers; no HOB list hides its HOBs.
TEST(FaultInjection, SettingsCancelOnlyWhatTheBoardThenHides) {
  using sim::Setting;
  struct Row {
    Setting Set;
    Setting Other;
    bool Cancels;
  };
  const Row Rows[] = {
      {Setting::AllOnes, Setting::SpiStatus, true},
      {Setting::AllOnes, Setting::SpiPresence, true},
      {Setting::AllOnes, Setting::PmTimerStuck, true},
      {Setting::AllOnes, Setting::PmTimerStart, true},
      {Setting::AllOnes, Setting::UartLineStatus, true},
      {Setting::AllOnes, Setting::NoHobList, false},
      {Setting::AllOnes, Setting::TimerHob, false},
      {Setting::AllOnes, Setting::Smm, false},
      {Setting::AllOnes, Setting::LpcPresets, false},
      {Setting::AllOnes, Setting::MaxSteps, false},
      {Setting::SpiPresence, Setting::SpiStatus, true},
      {Setting::SpiPresence, Setting::SpiReg0C, true},
      {Setting::SpiPresence, Setting::SpiClock, true},
      {Setting::SpiPresence, Setting::PmTimerStuck, false},
      {Setting::NoHobList, Setting::TimerHob, true},
      {Setting::NoHobList, Setting::ExtraHob, true},
      {Setting::NoHobList, Setting::Smm, false},
      {Setting::PmTimerStuck, Setting::PmTimerStart, false},
      {Setting::SpiStatus, Setting::SpiPresence, false},
  };
  for (const Row &Each : Rows) {
    const auto Found = sim::CancellationIn(sim::SettingBit(Each.Set), sim::SettingBit(Each.Other));
    EXPECT_EQ(Found.has_value(), Each.Cancels)
        << sim::Describe(Each.Set).Option << " " << sim::Describe(Each.Other).Option;
  }
}

// A run takes a board only when it reads every setting the board changes.
TEST(FaultInjection, ARunFitsTheBoardsItReadsEverySettingOf) {
  sim::Scenario Presets;
  Presets.LpcConfig[0x80] = {0x0001, 2};
  sim::Scenario Budget;
  Budget.MaxSteps = 5;
  struct Row {
    const char *Name;
    sim::Scenario Board;
    bool Pei, Dxe, Decode, Window;
  };
  const Row Rows[] = {
      {"healthy", sim::FindScenario("healthy")->Settings, true, true, true, true},
      {"all-ones", sim::FindScenario("all-ones")->Settings, true, true, true, true},
      {"spi-busy", sim::FindScenario("spi-busy")->Settings, true, true, false, false},
      {"uart-never-empties", sim::FindScenario("uart-never-empties")->Settings, false, true, false,
       false},
      {"corrupt-hob-list", sim::FindScenario("corrupt-hob-list")->Settings, false, true, false,
       false},
      {"a preset bridge register", Presets, true, true, true, true},
      {"a step budget", Budget, true, true, true, true},
  };
  for (const Row &Each : Rows) {
    EXPECT_EQ(sim::ScenarioFits(Each.Board, sim::RunKind::Pei), Each.Pei) << Each.Name;
    EXPECT_EQ(sim::ScenarioFits(Each.Board, sim::RunKind::Dxe), Each.Dxe) << Each.Name;
    EXPECT_EQ(sim::ScenarioFits(Each.Board, sim::RunKind::Decode), Each.Decode) << Each.Name;
    EXPECT_EQ(sim::ScenarioFits(Each.Board, sim::RunKind::Window), Each.Window) << Each.Name;
  }
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
    EXPECT_EQ(Board.interruptsEnabled(), !Broken(Each).InterruptsOff) << Each.Name;
  }
}

} // namespace
