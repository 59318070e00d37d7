// Settings of one run on the simulated board: the board's devices and the firmware around the
// module. The defaults are the board as the firmware expects to find it; every trace taken with
// them is the same, record for record.
#pragma once

#include "DxeStandInSettings.h"
#include "TableRows.h"

#include <cstdint>
#include <map>

namespace sim {

enum class SpiPresence {
  Present, // device ID 0x4B2B in the configuration window
  Absent,  // device ID reads 0xFFFF
  Dead,    // present, but control 0 reads all ones
};

struct SpiSettings {
  SpiPresence Presence = SpiPresence::Present;
  std::uint32_t Status = 0x00000004; // constant read from status (transmit FIFO not full)
  std::uint32_t Reg0C = 0;           // constant read from offset 0x0C
  std::uint32_t Drain = 0;           // constant read from offset 0x48
  std::uint32_t Clock = 0;           // initial value of the clock register (0x200)
};

// A preset register value and its width in bytes (1, 2 or 4).
struct Preset {
  std::uint32_t Value = 0;
  unsigned Width = 4;
};

// The DXE firmware around the driver: what its system table, HOB list and protocols hold.
using SmmMode = standin::SmmMode;
using HeaderOnlyHob = standin::HeaderOnlyHob;
using DxeEnvironmentSettings = standin::Settings;

struct Scenario {
  SpiSettings Spi{};
  std::uint32_t PmTimerStart = 0;
  bool PmTimerStuck = false; // the counter never advances
  std::uint8_t UartLineStatus = 0x60;
  bool AllOnesEverywhere = false; // every device read answers all ones
  // The processor's interrupt flag clear when the module is entered, as the reset vector leaves
  // it; by default the phase enters with interrupts enabled.
  bool InterruptsOff = false;
  // Bridge configuration registers by offset (0x000-0xFFF), written before the run.
  std::map<std::uint32_t, Preset> LpcConfig{};
  // Private-configuration window registers by offset (0x0000-0xFFFF), written before the run.
  std::map<std::uint32_t, Preset> PcrWindow{};
  DxeEnvironmentSettings Firmware{}; // used by the DXE driver's runs
  TableRows Tables{};                // rows in place of the early-init module's own tables
  std::uint64_t MaxSteps = 1000000;
  // Off for long runs: records still reach the observers and the counts, but are not kept.
  bool RecordTrace = true;
  // Off where only the accesses themselves are compared (two runs of one module side by side):
  // access records carry no register name, which the board would otherwise look up and build as
  // text for every access.
  bool NameRegisters = true;
};

} // namespace sim
