// The decode map as the summary's section and the JSON's decode_map.
#pragma once

#include "DecodeMap.h"
#include "RunKinds.h"

#include <nlohmann/json.hpp>

#include <string>

namespace boardsim {

// What the summary calls a request of the run: a "row" of pei's decode table, else a "request".
const char *RowWord(sim::RunKind Which);

// The map, each range with the requests that asked for it and the window it lies inside; the
// warnings that concern no single request. Verbose adds what each request asked and got, the
// standard COM ports, the registers the run changed and the notes.
std::string DecodeMapSummary(const runs::DecodeMap &Map, sim::RunKind Which, bool Verbose);
nlohmann::ordered_json DecodeMapJson(const runs::DecodeMap &Map);

} // namespace boardsim
