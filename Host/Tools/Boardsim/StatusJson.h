// A status as the JSON gives it beside its integer: its name, and its hexadecimal text of the
// status's width ("0x800000000000000E" for the driver's 64-bit statuses), since scripts whose
// numbers are doubles (jq 1.6, JavaScript) round integers above 2^53.
#pragma once

#include "CallRecord.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>

namespace boardsim {

// Null when there is no status (the call did not return) or, for the name, none is known.
nlohmann::ordered_json StatusName(std::optional<std::uint64_t> Status, const sim::Operation &Made);
nlohmann::ordered_json StatusHex(std::optional<std::uint64_t> Status, const sim::Operation &Made);

} // namespace boardsim
