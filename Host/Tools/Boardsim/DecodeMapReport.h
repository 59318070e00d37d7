// The decode map as the summary's section and the JSON's decode_map.
#pragma once

#include "DecodeMap.h"

#include <nlohmann/json.hpp>

#include <string>

namespace boardsim {

std::string DecodeMapSummary(const runs::DecodeMap &Map);
nlohmann::ordered_json DecodeMapJson(const runs::DecodeMap &Map);

} // namespace boardsim
