// The tables a pei run replaced, as the JSON's `replaced_tables` object and as the summary's line.
#pragma once

#include "TableRows.h"

#include <nlohmann/json.hpp>

#include <string>

namespace boardsim {

// {"decode": rows or null, "script": rows or null}: null for a table the module's own rows ran.
nlohmann::ordered_json ReplacedTablesJson(const sim::TableRows &Given);

// "Replaced tables ran: the decode table (10 rows given); the Super I/O script is the module's
// own\n"; empty when both were the module's own.
std::string ReplacedTablesSummary(const sim::TableRows &Given);

} // namespace boardsim
