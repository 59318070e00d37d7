// Whether rows given for one of the early-init module's tables fill the table the module reads:
// the same number of rows, of the same width. Both implementations of the runs check with this,
// so the host build and an image refuse the same rows in the same words.
#pragma once

#include "TableRows.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace runs {

// The rows do not fit the module's table; one line that names both.
class TableMismatch : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Throws TableMismatch unless GivenRows rows of the table's width make exactly TableBytes.
// Where names the table the module holds: "the host build's decode table",
// "BoardTables::DecodeTable by 'BoardInitPei.map' (up to the next symbol)".
void CheckRowsFit(sim::BoardTable Which, std::size_t GivenRows, std::uint64_t TableBytes,
                  const std::string &Where);

// The rows a table of TableBytes bytes holds; TableMismatch when they are not whole rows.
std::size_t RowsIn(sim::BoardTable Which, std::uint64_t TableBytes, const std::string &Where);

} // namespace runs
