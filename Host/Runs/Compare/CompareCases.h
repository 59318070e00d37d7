// The runs a comparison makes on both sides: each module's entry on every named scenario and on
// boards the scenarios leave out, and request lists for SetIoDecode and SetGenericIoRange that
// between them reach every branch of both (every device type and decode target, full slot banks,
// refused types and sizes, windows on each chip select, hung runs).
#pragma once

#include "DecodeRequest.h"
#include "ModuleRuns.h"
#include "RunKinds.h"
#include "Scenario.h"

#include <string>
#include <vector>

namespace comparison {

// The run kinds, as boardsim's subcommands make them.
using Run = sim::RunKind;

// Sets of runs, as bits.
enum RunSet : unsigned {
  PeiRuns = sim::RunBit(Run::Pei),
  DxeRuns = sim::RunBit(Run::Dxe),
  DecodeRuns = sim::RunBit(Run::Decode),
  WindowRuns = sim::RunBit(Run::Window),
  // What the early-init module's image can run: its entry and its two decode operations.
  EarlyInitRuns = sim::EarlyInitRuns,
  AllRuns = sim::AllRuns,
};

unsigned Bit(Run What);
// "pei", "dxe", "decode", "window": the boardsim subcommand that makes the same run.
const char *RunName(Run What);

struct Case {
  std::string Name; // "pei spi-busy", "decode every target"
  Run What = Run::Pei;
  std::string ScenarioName; // the named scenario it runs on; empty for the other boards
  sim::Scenario Settings;
  std::vector<DecodeRequestRow> Decode;
  std::vector<runs::WindowRequest> Window;
};

// Every case of the runs in Which (RunSet bits), in a fixed order; names are unique, and no two
// cases of one run make it on the same board with the same requests. Each entry runs on every
// named scenario that it reads every setting of.
std::vector<Case> Cases(unsigned Which);

// A whole boot on one board: the early-init module's entry, then the driver's, each device's state
// carried across.
struct BootCase {
  std::string Name; // "boot spi-dead"
  std::string ScenarioName;
  sim::Scenario Settings;
};

// A boot on every named scenario that the early-init module reads every setting of: the boards on
// which the driver starts from another early phase. The driver's own boards are its dxe cases.
std::vector<BootCase> BootCases();

} // namespace comparison
