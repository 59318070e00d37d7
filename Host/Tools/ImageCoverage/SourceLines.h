// Line coverage as both the images' record and an LCOV tracefile give it, and the difference of
// the two: the lines the host build runs that the images never run, and the reverse.
#pragma once

#include "CoverageFigures.h"

#include <cstdint>
#include <map>
#include <string>

namespace imagecoverage {

// File (as its tracefile names it), then line, then its count.
using SourceLines = std::map<std::string, std::map<unsigned, std::uint64_t>>;

// An image's lines: a line's count is the most times one of its instructions ran. Code the
// compiler made with no line of its own (line 0) is no source line.
SourceLines LinesOf(const ImageCoverage &Image);
// The lines of every image, a line's counts added.
SourceLines LinesOf(const CoverageRecord &Record);

// The SF and DA records of an LCOV tracefile (the rest is left alone), counts of a file named in
// several records added. Throws std::invalid_argument naming the line that is no record.
SourceLines ParseLcov(const std::string &Text);

// Both ways, by source line: a line counts only where both sides have code for it. The host
// build's paths (llvm-cov gives them whole) are matched to the images' (relative to the source
// tree) by their ending.
std::string ReportDifference(const SourceLines &Images, const SourceLines &Host);

} // namespace imagecoverage
