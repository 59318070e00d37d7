// The reports of a coverage record, each the whole text of one output file.
#pragma once

#include "CoverageFigures.h"

#include <string>

namespace imagecoverage {

// Per image, then per function: instructions executed of the total, as a table.
std::string ReportText(const CoverageRecord &Record);
// The same figures and the never-executed instructions as JSON.
std::string ReportJson(const CoverageRecord &Record);
// An LCOV tracefile by source line, a test (TN) per image: a line's count is the most times any of
// its instructions ran. Paths are the DWARF's, relative to the source tree.
std::string ReportLcov(const CoverageRecord &Record);
// Every instruction no run executed: address, function and offset, file:line, its text.
std::string ReportMissed(const CoverageRecord &Record);

} // namespace imagecoverage
