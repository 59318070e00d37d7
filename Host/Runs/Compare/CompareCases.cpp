#include "CompareCases.h"

#include "BoardLpcBridge.h"
#include "BoardPcr.h"
#include "NamedScenarios.h"

#include <utility>

namespace comparison {
namespace {

// Device types and decode targets of the attributes word.
constexpr std::uint32_t Floppy = 1, Keyboard = 2, Serial = 6, Parallel = 7, GamePort = 8,
                        Other = 0xFF;
constexpr std::uint32_t Cs1 = 0x100, Cs2 = 0x200, Cs3 = 0x300, Target4 = 0x400, Target9 = 0x900,
                        Target15 = 0xF00;
// Bridge registers and mirrors the boards preset, from the board model.
using sim::hw::LpcBridge::EspiCs1IoEnables;
using sim::hw::LpcBridge::GenericIoRange1;
using sim::hw::LpcBridge::IoEnables;
using sim::hw::Pcr::IoEnablesMirror;

DecodeRequestRow D(std::uint16_t Port, std::uint8_t Size, std::uint32_t Attributes) {
  return {Port, Size, 0, Attributes};
}

sim::Scenario AllOnes(std::uint64_t MaxSteps = 1000000) {
  sim::Scenario Settings;
  Settings.AllOnesEverywhere = true;
  Settings.MaxSteps = MaxSteps;
  return Settings;
}

sim::Scenario Budget(std::uint64_t MaxSteps) {
  sim::Scenario Settings;
  Settings.MaxSteps = MaxSteps;
  return Settings;
}

// Bits and a generic window another agent left in the bridge and its mirrors.
sim::Scenario Foreign() {
  sim::Scenario Settings;
  Settings.LpcConfig[GenericIoRange1] = {0x00000A01, 4};
  Settings.LpcConfig[IoEnables] = {0x8000, 2};
  Settings.PcrWindow[IoEnablesMirror] = {0x4000, 2};
  return Settings;
}

// The entry with tables of its own, as many rows as the module's (its code holds the counts): a
// Super I/O script of rows with a non-zero and-mask, which the board's script has none of; each
// reads the port and writes back the bits the mask keeps with the or-value merged in: on the
// chip's data port in two logical devices, with a mask that keeps every bit, on a port no device
// answers (all ones kept) and on the POST port. The last row leaves configuration mode.
sim::Scenario ReadModifyWriteScript() {
  sim::Scenario Settings;
  Settings.Tables.Script = std::vector<sim::ScriptTableRow>{
      {0x2E, 0x00, 0x87}, {0x2E, 0x00, 0x87}, {0x2E, 0x00, 0x07}, {0x2F, 0x00, 0x0D},
      {0x2E, 0x00, 0x76}, {0x2F, 0xF0, 0x05}, {0x2F, 0x0F, 0xA0}, {0x2F, 0xFF, 0x00},
      {0x2E, 0x00, 0x30}, {0x2F, 0x01, 0x01}, {0x2E, 0x00, 0x07}, {0x2F, 0x00, 0x01},
      {0x2E, 0x00, 0x60}, {0x2F, 0x00, 0x03}, {0x2E, 0x00, 0x61}, {0x2F, 0x80, 0x78},
      {0x2E, 0x00, 0x70}, {0x2F, 0x0F, 0x04}, {0x4E, 0x01, 0x02}, {0x80, 0xFE, 0x01},
      {0x2E, 0x00, 0x02}, {0x2E, 0x00, 0xAA}};
  return Settings;
}

// A decode table of other devices: COM B at its standard base, the parallel port, the floppy, a
// game port, windows on eSPI chip selects 1 and 2, and COM A by its other standard base.
sim::Scenario OtherDecodeTable() {
  sim::Scenario Settings;
  Settings.Tables.Decode = std::vector<sim::DecodeTableRow>{
      {0x2F8, 1, 0x006}, {0x378, 0, 0x007},   {0x3F0, 0, 0x001}, {0x201, 0, 0x008},
      {0x6C, 4, 0x1FF},  {0x3E8, 0, 0x006},   {0x60, 0, 0x002},  {0x62, 2, 0x0FF},
      {0x4E, 2, 0x0FF},  {0xA00, 0x90, 0x2FF}};
  return Settings;
}

// Every device type on the primary target, with every way each is accepted or refused: both
// floppy bases, keyboard types 2-5, the four standard COM ports (each opening the 0x200 window),
// listed and unlisted serial bases on each selector, a bad selector, every parallel base, both
// game ports, the Super I/O pairs, both edges of the embedded controller's block and the ports
// just outside it (a generic window each), a window of size 0, unknown types, turning each off,
// and attribute bits 31:12 that are not read.
std::vector<DecodeRequestRow> EveryDeviceType() {
  return {D(0x3F0, 0, Floppy),   D(0x370, 0, Floppy),
          D(0x3F2, 0, Floppy),   D(0, 0, Floppy),
          D(0x60, 0, Keyboard),  D(0x60, 0, 3),
          D(0x64, 0, 4),         D(0x60, 0, 5),
          D(0, 0, Keyboard),     D(0x3F8, 0, Serial),
          D(0x3E8, 1, Serial),   D(0x2F8, 1, Serial),
          D(0x2E8, 0, Serial),   D(0x220, 0, Serial),
          D(0x238, 1, Serial),   D(0x338, 0, Serial),
          D(0x3E8, 1, Serial),   D(0x2F0, 0, Serial),
          D(0x2E0, 1, Serial),   D(0x3F8, 2, Serial),
          D(0, 0, Serial),       D(0, 1, Serial),
          D(0, 2, Serial),       D(0x378, 0, Parallel),
          D(0x278, 0, Parallel), D(0x3BC, 0, Parallel),
          D(0x3BD, 0, Parallel), D(0, 0, Parallel),
          D(0x200, 0, GamePort), D(0x208, 0, GamePort),
          D(0x201, 0, GamePort), D(0, 0, GamePort),
          D(0x2E, 2, Other),     D(0x4E, 2, Other),
          D(0x62, 2, Other),     D(0x66, 2, Other),
          D(0x61, 2, Other),     D(0x67, 2, Other),
          D(0x6C, 0, Other),     D(0, 0, Other),
          D(0x3F8, 0, 0),        D(0x3F8, 0, 9),
          D(0x3F8, 0, 0xFE),     D(0x60, 0, 0xFFFFF000 | Keyboard)};
}

// Every decode target: the chip selects (their enables kept as one union with the primary
// register, preset here so the union shows), targets beyond them (refused after the shared
// decode-ranges write), windows on each chip select until its one slot is taken, and off.
std::vector<DecodeRequestRow> EveryTarget() {
  return {D(0x3F8, 0, Cs1 | Serial),   D(0x2F8, 1, Cs2 | Serial),     D(0x60, 0, Cs3 | Keyboard),
          D(0x378, 0, Target4 | 7),    D(0x220, 0, Target9 | Serial), D(0x62, 0, Target15 | Other),
          D(0xA00, 0x10, Cs1 | Other), D(0xB00, 0x10, Cs1 | Other),   D(0xC00, 4, Cs2 | Other),
          D(0xD00, 4, Cs3 | Other),    D(0xE00, 4, Target4 | Other),  D(0, 0, Cs1 | Floppy),
          D(0, 0, Cs2 | GamePort),     D(0x2E, 0, Cs3 | Other),       D(0xC40, 4, Cs2 | Other),
          D(0xD40, 4, Cs3 | Other)};
}

// The four primary slots taken, a fifth window refused, then a slot reused at its own base; a
// standard COM port then succeeds on its fixed decoders with its 0x200 window refused.
std::vector<DecodeRequestRow> PrimarySlotsExhausted() {
  return {D(0x100, 4, Other), D(0x110, 4, Other), D(0x120, 4, Other), D(0x130, 4, Other),
          D(0x140, 4, Other), D(0x100, 8, Other), D(0x2F8, 1, Serial)};
}

class Table {
public:
  explicit Table(unsigned Which) : Which_(Which) {}

  void entry(Run What, std::string Name, sim::Scenario Settings, std::string Scenario = {}) {
    add({std::string(RunName(What)) + " " + std::move(Name),
         What,
         std::move(Scenario),
         std::move(Settings),
         {},
         {}});
  }
  void decode(std::string Name, sim::Scenario Settings, std::vector<DecodeRequestRow> Requests) {
    add({"decode " + std::move(Name),
         Run::Decode,
         {},
         std::move(Settings),
         std::move(Requests),
         {}});
  }
  void window(std::string Name, sim::Scenario Settings, std::vector<runs::WindowRequest> Requests) {
    add({"window " + std::move(Name),
         Run::Window,
         {},
         std::move(Settings),
         {},
         std::move(Requests)});
  }
  std::vector<Case> take() { return std::move(Cases_); }

private:
  void add(Case Each) {
    if ((Which_ & Bit(Each.What)) != 0) {
      Cases_.push_back(std::move(Each));
    }
  }

  unsigned Which_;
  std::vector<Case> Cases_;
};

// The entry on every named scenario whose settings it reads: a run that ignores one of them would
// run another board under the scenario's name.
void ScenarioCases(Table &Add, Run What) {
  for (const sim::NamedScenario &Named : sim::NamedScenarios()) {
    if (sim::ScenarioFits(Named.Settings, What)) {
      Add.entry(What, Named.Name, Named.Settings, Named.Name);
    }
  }
}

void EntryCases(Table &Add) {
  ScenarioCases(Add, Run::Pei);
  Add.entry(Run::Pei, "bits and a window another agent left", Foreign());
  Add.entry(Run::Pei, "a script of read-modify-write rows", ReadModifyWriteScript());
  Add.entry(Run::Pei, "a decode table of other devices", OtherDecodeTable());
  for (const std::uint64_t Steps : {1, 100, 333, 1000}) {
    Add.entry(Run::Pei, "hung by a step budget of " + std::to_string(Steps), Budget(Steps));
  }
}

void DecodeCases(Table &Add) {
  Add.decode("every device type", {}, EveryDeviceType());
  Add.decode("every device type, all ones", AllOnes(), EveryDeviceType());
  sim::Scenario Union;
  Union.LpcConfig[IoEnables] = {0x0003, 2};
  Union.LpcConfig[EspiCs1IoEnables] = {0x1000, 2};
  Add.decode("every target", Union, EveryTarget());
  Add.decode("primary slots exhausted", {}, PrimarySlotsExhausted());
  Add.decode("hung in the window it opens", AllOnes(5), {D(0x6C, 2, Other)});
  Add.decode("hung midway", Budget(400), EveryDeviceType());
}

void WindowCases(Table &Add) {
  // Size 0 refused; below 4 counts as 4; an unaligned port gets its own slot, based at the
  // aligned address; a slot reused at its own base; the full 256-byte word; 255; no slot left.
  Add.window("sizes and slots", {},
             {{0x6C, 0x0000},
              {0x6C, 0x0001},
              {0x6D, 0x0004},
              {0x6C, 0x0002},
              {0x100, 0x0100},
              {0x300, 0x00FF},
              {0xFFFF, 0x0080}});
  Add.window("sizes round up to a power of two", {},
             {{0x13, 0x0005}, {0x20, 0x0009}, {0x47, 0x0011}, {0x80, 0x0081}});
  // Each chip select's one slot taken, reused at its base and refused at another; targets
  // beyond the chip selects.
  Add.window("every target", {},
             {{0xA00, 0x0190},
              {0xA00, 0x0110},
              {0xB00, 0x0104},
              {0xC00, 0x0204},
              {0xD00, 0x0304},
              {0xD00, 0x0380},
              {0xE00, 0x0404},
              {0xF00, 0x0F04},
              {0x400, 0x0200},
              {0xC40, 0x0204},
              {0xD40, 0x0304}});
  Add.window("a slot another agent took", Foreign(),
             {{0x6C, 0x0004}, {0xA00, 0x0100}, {0xA00, 0x0004}});
  Add.window("all ones", AllOnes(), {{0x6C, 0x0004}, {0xA00, 0x0190}});
  Add.window("hung", AllOnes(3), {{0x6C, 0x0004}});
}

void DxeCases(Table &Add) {
  ScenarioCases(Add, Run::Dxe);
  // The firmware around the driver, one setting at a time, where no scenario holds it: the timer
  // HOB, a header-only HOB that is merely passed over or ends the walk with no timer HOB behind
  // it, and each way SMM Base2 can answer when present; then hung midway by the step budget. (No
  // HOB list, a zero-length HOB before the timer HOB and SMM absent are the scenarios
  // no-hob-list, corrupt-hob-list and healthy.)
  const auto Firmware = [&](std::string Name, auto Change) {
    sim::Scenario Settings;
    Change(Settings.Firmware);
    Add.entry(Run::Dxe, std::move(Name), Settings);
  };
  Firmware("timer HOB", [](sim::DxeEnvironmentSettings &F) { F.TimerHob = true; });
  Firmware("4-byte HOB", [](sim::DxeEnvironmentSettings &F) { F.ExtraHob = {true, 0x0004, 4}; });
  Firmware("24-byte HOB before the timer HOB", [](sim::DxeEnvironmentSettings &F) {
    F.TimerHob = true;
    F.ExtraHob = {true, 0x0003, 24};
  });
  for (const auto &[Name, Mode] :
       {std::pair{"outside", sim::SmmMode::Outside}, std::pair{"inside", sim::SmmMode::Inside},
        std::pair{"null interface", sim::SmmMode::NullInterface}}) {
    Firmware(std::string("SMM ") + Name,
             [Mode = Mode](sim::DxeEnvironmentSettings &F) { F.Smm = Mode; });
  }
  for (const std::uint64_t Steps : {1, 50, 500, 5000}) {
    sim::Scenario Settings = Budget(Steps);
    Settings.Firmware.TimerHob = true;
    Add.entry(Run::Dxe, "hung by a step budget of " + std::to_string(Steps), Settings);
  }
}

} // namespace

unsigned Bit(Run What) {
  return sim::RunBit(What);
}

const char *RunName(Run What) {
  return sim::RunKindOf(What).Name;
}

std::vector<BootCase> BootCases() {
  std::vector<BootCase> Boots;
  for (const sim::NamedScenario &Each : sim::NamedScenarios()) {
    if (sim::ScenarioFits(Each.Settings, Run::Pei)) {
      Boots.push_back({std::string("boot ") + Each.Name, Each.Name, Each.Settings});
    }
  }
  return Boots;
}

std::vector<Case> Cases(unsigned Which) {
  Table Add(Which);
  EntryCases(Add);
  DecodeCases(Add);
  WindowCases(Add);
  DxeCases(Add);
  return Add.take();
}

} // namespace comparison
