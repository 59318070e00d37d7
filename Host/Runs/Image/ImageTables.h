// The early-init image's board tables, found through its linker map: where each lies, the rows
// it holds, and the image's bytes with other rows written over a table. The map gives a symbol's
// address and no size, so a table is taken to run up to the next symbol (or the image's end).
#pragma once

#include "Images.h"
#include "TableRows.h"

#include <cstdint>
#include <string>
#include <vector>

namespace imagerun {

struct ImageTable {
  std::uint64_t Address = 0; // where the image executes
  std::uint64_t Bytes = 0;   // up to the next symbol
  std::string Where;         // "BoardTables::DecodeTable of 'BoardInitPei.efi' (by its map, ...)"
};

// The table's symbol in the map and its extent; ImageRejected when the map names none, or more
// than one, inside the image.
ImageTable FindTable(const PeiImage &Image, sim::BoardTable Which);

// The rows both tables hold in the image as loaded; ImageRejected when a table is not whole rows.
sim::TableRows TablesIn(const PeiImage &Image);

// The image as loaded with Rows written over its tables (a table Rows leaves out stays as the
// image has it); ImageRejected naming the table when the rows given do not fill it exactly.
std::vector<std::uint8_t> BytesWithTables(const PeiImage &Image, const sim::TableRows &Rows);

} // namespace imagerun
