// The early-init entry compiled a second time for the host, against board tables that lie in
// writable memory: a run can put other rows in them and the entry reads those. The module's own
// build keeps its constant tables, and its sources are compiled unchanged (see CMakeLists.txt).
#pragma once

#include "DecodeRequest.h"
#include "IoScript.h"
#include "Uefi/Uefi.h"

#include <cstddef>
#include <span>

namespace hostbuild {

// The rows of the firmware's tables; HostBuildRuns.cpp checks them against the tables themselves.
inline constexpr std::size_t DecodeTableRows = 10;
inline constexpr std::size_t SuperIoScriptRows = 22;

// Writes Decode and Script into the writable tables and calls the entry compiled against them, as
// the PEI core calls it. Each span holds exactly its table's rows (std::invalid_argument
// otherwise).
EFI_STATUS EntryOnRows(std::span<const DecodeRequestRow> Decode,
                       std::span<const IoScriptRow> Script);

} // namespace hostbuild
