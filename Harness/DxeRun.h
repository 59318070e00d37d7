// One run of BoardInitDxe on the simulated board, inside a simulated firmware environment.
#pragma once

#include "Board.h"
#include "DxeEnvironment.h"
#include "Uefi/Uefi.h"

#include <cstddef>
#include <string>
#include <vector>

namespace sim {

struct DxeRunResult {
  EFI_STATUS EntryStatus = 0; // meaningful only when the run did not hang
  bool Hung = false;
  bool HobListFound = false; // the driver's cached HOB list pointer after the run
  bool InSmm = false;        // the driver's in-SMM flag after the run
  std::size_t LocateProtocolCalls = 0;
  std::size_t InSmmCalls = 0;
  std::vector<TraceRecord> LastAccesses; // the final accesses of a hung run
  std::vector<std::string> Running;      // the calls a hung run was in
};

// Loads the driver afresh (zeroed module data), calls its entry with a system table built from
// the board's scenario and returns what came of it; the trace and the serial output stay on
// Target.
DxeRunResult RunDxe(Board &Target);

} // namespace sim
