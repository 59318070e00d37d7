// The format engine's calls and GetStatusCodeName made by one implementation, as an outcome a
// comparison sets beside the other's: the returned count or name, the text written, whether the
// NUL ends it, and any byte written past it (the capacity's room and guard bytes included).
#pragma once

#include "Comparison.h"
#include "FormatCases.h"
#include "ModuleRuns.h"

#include <cstdint>
#include <span>
#include <string>

namespace comparison {

// The outcome of a format call that has run: the count, the text up to it, the byte there, the
// bytes written past it, the buffer's size and how the run ended.
Outcome FormatOutcome(const runs::FormatResult &Got);

// Each on a board of its own, the default board: the engine reads none of its devices.
Outcome RunFormatCase(const runs::ModuleRuns &Runs, const FormatCase &Each);
Outcome RunStatusNameCase(const runs::ModuleRuns &Runs, std::uint64_t Status);

// Printable bytes as they are, the others (and the backslash) as \xHH.
std::string EscapedBytes(std::span<const std::uint8_t> Bytes);

// How a call of one function ended, as every such outcome gives it: hung, and the rule the image
// broke.
void RunEnded(const runs::RunResult &Run, std::vector<runs::NamedFact> &Results);

// "status name 0x800000000000000E"
std::string StatusNameCaseName(std::uint64_t Status);

} // namespace comparison
