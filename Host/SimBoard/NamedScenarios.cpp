#include "NamedScenarios.h"

#include "BoardSpi.h"

#include <algorithm>
#include <vector>

namespace sim {
namespace {

// The SPI status bits the scenarios hold still.
constexpr std::uint32_t SpiReceiveNotEmpty = hw::Spi::StatusReceiveNotEmpty;
constexpr std::uint32_t SpiBusy = hw::Spi::StatusBusy;
// The UART line status with the transmit holding register never empty.
constexpr std::uint8_t UartNeverEmpties = 0x00;
constexpr std::uint8_t UartAllOnes = 0xFF;

Scenario WithTimerHob(Scenario Settings) {
  Settings.Firmware.TimerHob = true;
  return Settings;
}

Scenario WithoutHobList(Scenario Settings) {
  Settings.Firmware.HobListInConfigTable = false;
  return Settings;
}

// A zero-length HOB before the timer HOB: the walk stops there and never sees the timer HOB.
Scenario WithCorruptHobList(Scenario Settings) {
  Settings = WithTimerHob(Settings);
  Settings.Firmware.ExtraHob = HeaderOnlyHob{true, EFI_HOB_TYPE_GUID_EXTENSION, 0};
  return Settings;
}

const std::vector<NamedScenario> &Table() {
  const Scenario AllOnes{.AllOnesEverywhere = true};
  const Scenario TimerStuck{.PmTimerStuck = true};
  const Scenario TimerStuckSpiAbsent{.Spi = {.Presence = SpiPresence::Absent},
                                     .PmTimerStuck = true};
  static const std::vector<NamedScenario> Scenarios = {
      {"healthy", "the board as the firmware expects it", Scenario{}},
      {"all-ones", "no device answers: every read is all ones", AllOnes},
      {"all-ones-timer-hob", "no device answers; the HOB list carries the timer HOB",
       WithTimerHob(AllOnes)},
      {"all-ones-no-hob-list", "no device answers; the configuration table has no HOB list",
       WithoutHobList(AllOnes)},
      {"interrupts-off",
       "the module entered with interrupts disabled, as the reset vector leaves "
       "them",
       Scenario{.InterruptsOff = true}},
      {"spi-busy", "SPI status stuck busy (0x10)", Scenario{.Spi = {.Status = SpiBusy}}},
      {"spi-fifo-full", "SPI transmit FIFO stuck full (status 0x00)",
       Scenario{.Spi = {.Status = 0}}},
      {"spi-receive-busy", "SPI receive stuck not empty and busy (status 0x18)",
       Scenario{.Spi = {.Status = SpiReceiveNotEmpty | SpiBusy}}},
      {"spi-quiet-drain-stuck", "SPI register 0x0C activity bits and the drain register stuck",
       Scenario{.Spi = {.Reg0C = hw::Spi::Reg0CActivity, .Drain = 1}}},
      {"spi-absent", "no SPI controller (device ID 0xFFFF)",
       Scenario{.Spi = {.Presence = SpiPresence::Absent}}},
      {"spi-dead", "SPI controller present, control 0 reads all ones",
       Scenario{.Spi = {.Presence = SpiPresence::Dead}}},
      {"uart-all-ones", "UART line status reads 0xFF", Scenario{.UartLineStatus = UartAllOnes}},
      {"uart-never-empties", "UART transmit holding register never empties (line status 0x00)",
       Scenario{.UartLineStatus = UartNeverEmpties}},
      {"pm-timer-stuck", "the PM timer never advances", TimerStuck},
      {"pm-timer-stuck-timer-hob", "the PM timer never advances; timer HOB present",
       WithTimerHob(TimerStuck)},
      {"pm-timer-stuck-spi-absent", "the PM timer never advances, no SPI controller",
       TimerStuckSpiAbsent},
      {"pm-timer-stuck-spi-absent-timer-hob",
       "the PM timer never advances, no SPI controller; timer HOB present",
       WithTimerHob(TimerStuckSpiAbsent)},
      {"no-hob-list", "the configuration table has no HOB list", WithoutHobList({})},
      {"corrupt-hob-list", "a zero-length HOB ends the walk before the timer HOB",
       WithCorruptHobList({})},
      {"corrupt-hob-list-pm-timer-stuck-spi-absent",
       "corrupt HOB list, the PM timer never advances, no SPI controller",
       WithCorruptHobList(TimerStuckSpiAbsent)},
  };
  return Scenarios;
}

} // namespace

std::span<const NamedScenario> NamedScenarios() {
  return Table();
}

const NamedScenario *FindScenario(std::string_view Name) {
  const auto Found = std::find_if(Table().begin(), Table().end(),
                                  [&](const NamedScenario &Each) { return Name == Each.Name; });
  return Found == Table().end() ? nullptr : &*Found;
}

std::optional<Setting> SettingNotRead(const Scenario &Board, RunKind Run) {
  const unsigned Changed = ChangedSettings(Board);
  for (const SettingDescriptor &Each : Settings()) {
    if ((Changed & SettingBit(Each.Which)) != 0 && (Each.ReadBy & RunBit(Run)) == 0) {
      return Each.Which;
    }
  }
  return std::nullopt;
}

bool ScenarioFits(const Scenario &Board, RunKind Run) {
  return !SettingNotRead(Board, Run);
}

} // namespace sim
