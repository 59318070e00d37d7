// The board's tables as the host build's second compile of the early-init entry sees them:
// writable arrays of the firmware tables' shape, which WritableTables.cpp fills before each run.
// CMake copies this file, as BoardTables.h, beside a copy of the entry's source in the build tree:
// the entry's quoted include finds it there before the firmware's own BoardTables.h. An inline
// namespace keeps these arrays apart, by their linked names, from the firmware's tables, which
// the rest of the host build still reads.
#pragma once

#include "DecodeRequest.h"
#include "IoScript.h"
#include "WritableTables.h"

#include <cstddef>

namespace BoardTables {
inline namespace Writable {

inline constexpr std::size_t DecodeTableRows = hostbuild::DecodeTableRows;
inline constexpr std::size_t SuperIoScriptRows = hostbuild::SuperIoScriptRows;

// Not constant, and defined in another file: the compiler cannot fold a row into the entry's
// code, so every row the entry uses is read from here when it runs.
extern DecodeRequestRow DecodeTable[DecodeTableRows];
extern IoScriptRow SuperIoScript[SuperIoScriptRows];

} // namespace Writable
} // namespace BoardTables
