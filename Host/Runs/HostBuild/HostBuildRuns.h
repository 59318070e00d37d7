// The host build's runs: the modules' sources compiled for this machine, run on the simulated
// board through the host backend of the primitives.
#pragma once

#include "Board.h"
#include "DecodeRequest.h"
#include "IoScript.h"
#include "ModuleRuns.h"

#include <span>

namespace runs {

const ModuleRuns &HostBuild();

// Refuses (TableMismatch) rows that do not fill the host build's tables: its pei runs take rows
// for a table only as many as the table has.
void CheckHostBuildTables(const sim::TableRows &Given);
// The host build's own tables, row by row.
sim::TableRows HostBuildTables();

} // namespace runs

namespace sim {

// The Super I/O script rows, in order.
RunOutcome RunScript(Board &Target, std::span<const IoScriptRow> Rows);

// The board's own tables, as the module holds them.
std::span<const DecodeRequestRow> BoardDecodeTable();
std::span<const IoScriptRow> BoardSuperIoScript();

} // namespace sim
