// The format engine's table: formats, their arguments and the text each gives, as the host build's
// tests check them, and the calls a comparison makes of them (each row without a limit and cut
// inside its text, the rejected calls); the status values GetStatusCodeName is compared over.
#pragma once

#include "FormatCall.h"

#include <cstdint>
#include <string>
#include <vector>

namespace comparison {

struct FormatCase {
  std::string Name; // "format 12 \"%ld\""
  runs::FormatCall Call;
  std::string Want; // the text the row gives, without a limit
};

// The table's rows, each without a limit.
const std::vector<FormatCase> &FormatRows();

// What a comparison runs: each row without a limit, then with a capacity that cuts its text in
// the middle (the rows with a text of two bytes or more), then with room for exactly its text and
// its NUL and with one byte less, then a null buffer and a null format.
std::vector<FormatCase> FormatComparisonCases();

// Values GetStatusCodeName is compared over: success, the first codes of each class (errors,
// warnings, the image-unload codes, OEM errors, PI warnings, and the OEM bit alone), and all ones.
std::vector<std::uint64_t> StatusNameCases();

} // namespace comparison
