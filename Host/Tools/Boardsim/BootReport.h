// The report of a whole boot: what each phase did, which devices behind the bridge each made
// reachable and where, the Super I/O chip's configuration, what the serial console received and
// what reached no device, board time per phase.
#pragma once

#include "Reachability.h"
#include "Report.h"

#include <optional>
#include <string>
#include <vector>

namespace boardsim {

struct BootPhase {
  RunRecord Report;
  bool Ran = false;                        // the phase before it ended: the phase ran
  std::vector<sim::DeviceReach> Reachable; // after the phase
  std::uint64_t Accesses = 0;              // bus accesses and processor events of the phase
  std::uint64_t SerialBytesLost = 0;       // UART bytes of this phase that reached no UART
};

struct BootReport {
  std::vector<sim::DeviceReach> AtStart; // the bridge before the first phase
  BootPhase Pei, Dxe;
  // The board as the boot left it: as the last phase that ran ended.
  const sim::BoardState &end() const { return Dxe.Ran ? Dxe.Report.End : Pei.Report.End; }
};

// The WARNING lines the boot's summary prints; --strict fails a boot that has any.
std::size_t BootWarningCount(const BootReport &Boot);
// Verbose lists each wait of each phase.
std::string BootSummary(const BootReport &Boot, bool Verbose = false);
std::string BootJson(const BootReport &Boot);

} // namespace boardsim
