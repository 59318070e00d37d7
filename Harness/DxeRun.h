// One run of BoardInitDxe on the simulated board, inside a simulated firmware environment.
#pragma once

#include "Board.h"
#include "DxeEnvironment.h"
#include "Uefi/Uefi.h"

#include <cstddef>
#include <vector>

namespace sim {

struct DxeRunResult {
  EFI_STATUS EntryStatus = 0; // meaningful only when the run did not hang
  bool Hung = false;
  bool InSmm = false; // the driver's in-SMM flag after the run
  std::size_t LocateProtocolCalls = 0;
  std::size_t InSmmCalls = 0;
  std::vector<TraceRecord> LastAccesses; // the final records of a hung run
};

// Loads the driver afresh (zeroed module data), calls its entry with a system table built from
// Settings and returns what came of it; the trace and the serial output stay on Target.
DxeRunResult RunDxe(Board &Target, const DxeEnvironmentSettings &Settings = {});

} // namespace sim
