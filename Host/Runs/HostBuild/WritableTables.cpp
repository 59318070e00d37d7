#include "WritableTables.h"

#include "WritableBoardTables.h"

#include <algorithm>
#include <stdexcept>
#include <string>

// The copy of the entry is compiled with its name changed (CMakeLists.txt), so that it links
// beside the module's own entry; the header gives both the same signature.
#define BoardInitPeiEntry BoardInitPeiEntryOnWritableTables
#include "BoardInitPeiEntry.h"
#undef BoardInitPeiEntry

namespace BoardTables {
inline namespace Writable {

DecodeRequestRow DecodeTable[DecodeTableRows];
IoScriptRow SuperIoScript[SuperIoScriptRows];

} // namespace Writable
} // namespace BoardTables

namespace hostbuild {
namespace {

template <typename Row, std::size_t Rows>
void Place(Row (&Table)[Rows], std::span<const Row> Given, const char *Name) {
  if (Given.size() != Rows) {
    throw std::invalid_argument(std::string(Name) + " takes " + std::to_string(Rows) +
                                " rows, not " + std::to_string(Given.size()));
  }
  std::copy(Given.begin(), Given.end(), Table);
}

} // namespace

EFI_STATUS EntryOnRows(std::span<const DecodeRequestRow> Decode,
                       std::span<const IoScriptRow> Script) {
  Place(BoardTables::DecodeTable, Decode, "the decode table");
  Place(BoardTables::SuperIoScript, Script, "the Super I/O script");
  return BoardInitPeiEntryOnWritableTables(nullptr, nullptr);
}

} // namespace hostbuild
