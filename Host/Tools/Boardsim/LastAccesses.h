// A hung run's last accesses as its error message lists them: a wait spins on one register, so
// a run of identical records is one line with its count ("IN8 0x03FD 0x00  (x16)").
#pragma once

#include "Trace.h"

#include <string>
#include <vector>

namespace boardsim {

std::vector<std::string> CollapsedRecords(const std::vector<sim::TraceRecord> &Records);

} // namespace boardsim
