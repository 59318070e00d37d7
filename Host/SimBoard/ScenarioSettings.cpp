#include "ScenarioSettings.h"

#include <algorithm>
#include <iterator>

namespace sim {
namespace {

const Scenario Default{};

constexpr unsigned Dxe = RunBit(RunKind::Dxe);
// The board's devices are read by both entries; the bridge's registers by every run (the driver's
// board starts with the bridge as the early-init module leaves it, presets on top).
constexpr unsigned DeviceReaders = EntryRuns;
constexpr unsigned BridgeReaders = AllRuns;

// What no device answers once every read is all ones.
constexpr unsigned DeviceAnswers =
    SettingBit(Setting::SpiPresence) | SettingBit(Setting::SpiStatus) |
    SettingBit(Setting::SpiReg0C) | SettingBit(Setting::SpiDrain) | SettingBit(Setting::SpiClock) |
    SettingBit(Setting::PmTimerStart) | SettingBit(Setting::PmTimerStuck) |
    SettingBit(Setting::UartLineStatus);
// The registers of an SPI controller that is absent, or present with control 0 all ones: the
// firmware leaves such a controller alone and reads none of them.
constexpr unsigned SpiRegisters = SettingBit(Setting::SpiStatus) | SettingBit(Setting::SpiReg0C) |
                                  SettingBit(Setting::SpiDrain) | SettingBit(Setting::SpiClock);
constexpr unsigned HobListContents = SettingBit(Setting::TimerHob) | SettingBit(Setting::ExtraHob);

constexpr SettingDescriptor Table[] = {
    {Setting::SpiPresence, "--spi", "/scenario/spi/presence", "board flags bits 1:0", DeviceReaders,
     SpiRegisters,
     "an absent controller, or one whose control 0 reads all ones, is left alone: the firmware "
     "reads none of its registers",
     [](const Scenario &Board) { return Board.Spi.Presence != Default.Spi.Presence; }},
    {Setting::SpiStatus, "--spi-status", "/scenario/spi/status", "board u32 SPI status",
     DeviceReaders, 0, nullptr,
     [](const Scenario &Board) { return Board.Spi.Status != Default.Spi.Status; }},
    {Setting::SpiReg0C, "--spi-reg0c", "/scenario/spi/reg0c", "board u32 SPI register 0x0C",
     DeviceReaders, 0, nullptr,
     [](const Scenario &Board) { return Board.Spi.Reg0C != Default.Spi.Reg0C; }},
    {Setting::SpiDrain, "--spi-drain", "/scenario/spi/drain", "board u32 SPI register 0x48",
     DeviceReaders, 0, nullptr,
     [](const Scenario &Board) { return Board.Spi.Drain != Default.Spi.Drain; }},
    {Setting::SpiClock, "--spi-clock", "/scenario/spi/clock", "board u32 SPI clock", DeviceReaders,
     0, nullptr, [](const Scenario &Board) { return Board.Spi.Clock != Default.Spi.Clock; }},
    {Setting::PmTimerStart, "--pm-timer", "/scenario/pm_timer_start", "board u32 PM timer start",
     DeviceReaders, 0, nullptr,
     [](const Scenario &Board) { return Board.PmTimerStart != Default.PmTimerStart; }},
    {Setting::PmTimerStuck, "--pm-timer-stuck", "/scenario/pm_timer_stuck", "board flags bit 2",
     DeviceReaders, 0, nullptr,
     [](const Scenario &Board) { return Board.PmTimerStuck != Default.PmTimerStuck; }},
    {Setting::UartLineStatus, "--uart-lsr", "/scenario/uart_line_status",
     "board u8 UART line status", Dxe, 0, nullptr,
     [](const Scenario &Board) { return Board.UartLineStatus != Default.UartLineStatus; }},
    {Setting::AllOnes, "--all-ones", "/scenario/all_ones", "board flags bit 3", AllRuns,
     DeviceAnswers, "no device answers: every read is all ones",
     [](const Scenario &Board) { return Board.AllOnesEverywhere != Default.AllOnesEverywhere; }},
    // Every run makes PCI configuration accesses, each with interrupts held off around it.
    {Setting::InterruptsOff, "--interrupts-off", "/scenario/interrupts_off", "board flags bit 4",
     AllRuns, 0, nullptr,
     [](const Scenario &Board) { return Board.InterruptsOff != Default.InterruptsOff; }},
    {Setting::LpcPresets, "--lpc", "/scenario/lpc_presets", "presets, space 0", BridgeReaders, 0,
     nullptr, [](const Scenario &Board) { return !Board.LpcConfig.empty(); }},
    {Setting::PcrPresets, "--pcr", "/scenario/pcr_presets", "presets, space 1", BridgeReaders, 0,
     nullptr, [](const Scenario &Board) { return !Board.PcrWindow.empty(); }},
    {Setting::NoHobList, "--no-hob-list", "/scenario/firmware/hob_list", "firmware flags bit 0",
     Dxe, HobListContents,
     "without the HOB list in the configuration table the driver finds none of its HOBs",
     [](const Scenario &Board) {
       return Board.Firmware.HobListInConfigTable != Default.Firmware.HobListInConfigTable;
     }},
    {Setting::TimerHob, "--timer-hob", "/scenario/firmware/timer_hob", "firmware flags bit 1", Dxe,
     0, nullptr,
     [](const Scenario &Board) { return Board.Firmware.TimerHob != Default.Firmware.TimerHob; }},
    {Setting::ExtraHob, "--extra-hob", "/scenario/firmware/extra_hob",
     "firmware flags bit 4, u16 type, u16 length", Dxe, 0, nullptr,
     [](const Scenario &Board) { return Board.Firmware.ExtraHob.Present; }},
    {Setting::Smm, "--smm", "/scenario/firmware/smm", "firmware flags bits 3:2", Dxe, 0, nullptr,
     [](const Scenario &Board) { return Board.Firmware.Smm != Default.Firmware.Smm; }},
    // A fuzz input runs with the targets' own step budget.
    {Setting::MaxSteps, "--max-steps", "/scenario/max_steps", nullptr, AllRuns, 0, nullptr,
     [](const Scenario &Board) { return Board.MaxSteps != Default.MaxSteps; }},
};

static_assert([] {
  for (std::size_t Row = 0; Row < std::size(Table); ++Row) {
    if (static_cast<std::size_t>(Table[Row].Which) != Row) {
      return false;
    }
  }
  return true;
}());

} // namespace

std::span<const SettingDescriptor> Settings() {
  return Table;
}

const SettingDescriptor &Describe(Setting Which) {
  return Table[static_cast<std::size_t>(Which)];
}

unsigned ChangedSettings(const Scenario &Board) {
  unsigned Changed = 0;
  for (const SettingDescriptor &Each : Table) {
    Changed |= Each.Changed(Board) ? SettingBit(Each.Which) : 0;
  }
  return Changed;
}

std::optional<Cancellation> CancellationIn(unsigned CancellingSet, unsigned CancelledSet) {
  for (const SettingDescriptor &Cancelling : Table) {
    if ((CancellingSet & SettingBit(Cancelling.Which)) == 0) {
      continue;
    }
    for (const SettingDescriptor &Cancelled : Table) {
      if ((CancelledSet & Cancelling.Cancels & SettingBit(Cancelled.Which)) != 0) {
        return Cancellation{Cancelling.Which, Cancelled.Which};
      }
    }
  }
  return std::nullopt;
}

} // namespace sim
