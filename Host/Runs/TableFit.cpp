#include "TableFit.h"

namespace runs {
namespace {

std::string Rows(std::uint64_t Count) {
  return std::to_string(Count) + (Count == 1 ? " row" : " rows");
}

} // namespace

std::size_t RowsIn(sim::BoardTable Which, std::uint64_t TableBytes, const std::string &Where) {
  const std::size_t Width = sim::RowBytes(Which);
  if (TableBytes == 0 || TableBytes % Width != 0) {
    throw TableMismatch(Where + " is " + std::to_string(TableBytes) + " bytes, not whole rows of " +
                        std::to_string(Width) + " bytes as " + sim::TableName(Which) +
                        "'s rows are");
  }
  return static_cast<std::size_t>(TableBytes / Width);
}

void CheckRowsFit(sim::BoardTable Which, std::size_t GivenRows, std::uint64_t TableBytes,
                  const std::string &Where) {
  const std::size_t Held = RowsIn(Which, TableBytes, Where);
  if (GivenRows != Held) {
    throw TableMismatch(Rows(GivenRows) + " given for " + sim::TableName(Which) + ", and " + Where +
                        " holds " + Rows(Held) + " of " + std::to_string(sim::RowBytes(Which)) +
                        " bytes");
  }
}

} // namespace runs
