// Board time as the JSON's `board_time` object.
#pragma once

#include "BoardTime.h"

#include <nlohmann/json.hpp>

namespace boardsim {

nlohmann::ordered_json BoardTimeJson(const runs::BoardTime &Time);

} // namespace boardsim
