// Each setting's descriptor against the fuzz input layout: a board that changes one setting
// changes exactly that one, and a fuzz input carries it across exactly when the descriptor names
// its field (the firmware around the driver in the driver's target, the presets in the others).
#include "FuzzInput.h"
#include "ScenarioSettings.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using fuzzruns::Target;
using sim::Setting;

TEST(FuzzSettings, AFuzzInputCarriesEverySettingItsDescriptorGivesAField) {
  struct Row {
    Setting Changed;
    std::function<void(sim::Scenario &)> Change;
    Target For; // a target whose layout has the setting's part
    bool Carried;
  };
  const Row Rows[] = {
      {Setting::SpiPresence, [](sim::Scenario &B) { B.Spi.Presence = sim::SpiPresence::Dead; },
       Target::Pei, true},
      {Setting::SpiStatus, [](sim::Scenario &B) { B.Spi.Status = 0x10; }, Target::Pei, true},
      {Setting::SpiReg0C, [](sim::Scenario &B) { B.Spi.Reg0C = 0xE0; }, Target::Pei, true},
      {Setting::SpiDrain, [](sim::Scenario &B) { B.Spi.Drain = 1; }, Target::Pei, true},
      {Setting::SpiClock, [](sim::Scenario &B) { B.Spi.Clock = 0x80640003; }, Target::Pei, true},
      {Setting::PmTimerStart, [](sim::Scenario &B) { B.PmTimerStart = 0xFFFFF0; }, Target::Pei,
       true},
      {Setting::PmTimerStuck, [](sim::Scenario &B) { B.PmTimerStuck = true; }, Target::Pei, true},
      {Setting::UartLineStatus, [](sim::Scenario &B) { B.UartLineStatus = 0x20; }, Target::Dxe,
       true},
      {Setting::AllOnes, [](sim::Scenario &B) { B.AllOnesEverywhere = true; }, Target::Requests,
       true},
      {Setting::LpcPresets,
       [](sim::Scenario &B) {
         B.LpcConfig[0x84] = {0x00FC0A01, 4};
       },
       Target::Requests, true},
      {Setting::PcrPresets,
       [](sim::Scenario &B) {
         B.PcrWindow[0x2774] = {0x8000, 2};
       },
       Target::Pei, true},
      {Setting::NoHobList, [](sim::Scenario &B) { B.Firmware.HobListInConfigTable = false; },
       Target::Dxe, true},
      {Setting::TimerHob, [](sim::Scenario &B) { B.Firmware.TimerHob = true; }, Target::Dxe, true},
      {Setting::ExtraHob,
       [](sim::Scenario &B) {
         B.Firmware.ExtraHob = {true, 3, 24};
       },
       Target::Dxe, true},
      {Setting::Smm, [](sim::Scenario &B) { B.Firmware.Smm = sim::SmmMode::Inside; }, Target::Dxe,
       true},
      // The targets run every input with their own step budget.
      {Setting::MaxSteps, [](sim::Scenario &B) { B.MaxSteps = 5; }, Target::Pei, false},
  };
  for (const Row &Each : Rows) {
    const sim::SettingDescriptor &Described = sim::Describe(Each.Changed);
    SCOPED_TRACE(Described.Option);
    comparison::Case Made;
    Made.What = Each.For == Target::Dxe ? comparison::Run::Dxe : comparison::Run::Pei;
    Each.Change(Made.Settings);
    EXPECT_EQ(sim::ChangedSettings(Made.Settings), sim::SettingBit(Each.Changed));
    EXPECT_EQ(Described.FuzzField != nullptr, Each.Carried);
    const std::vector<std::uint8_t> Bytes = fuzzruns::Encode(Each.For, Made);
    if (Each.Carried) {
      const fuzzruns::BoardInput Input = fuzzruns::Decode(Each.For, Bytes);
      EXPECT_NE(sim::ChangedSettings(Input.Settings) & sim::SettingBit(Each.Changed), 0u);
    } else {
      comparison::Case Default;
      Default.What = Made.What;
      EXPECT_EQ(Bytes, fuzzruns::Encode(Each.For, Default));
    }
  }
}

} // namespace
