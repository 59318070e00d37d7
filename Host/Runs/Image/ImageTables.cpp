#include "ImageTables.h"

#include "TableFit.h"
#include "UniqueMatch.h"

#include <algorithm>

namespace imagerun {
namespace {

// The tables' names as the map's demangled symbols give them.
const char *SymbolName(sim::BoardTable Which) {
  return Which == sim::BoardTable::Decode ? "BoardTables::DecodeTable"
                                          : "BoardTables::SuperIoScript";
}

// Little-endian fields, as the image stores them.
void Put16(std::uint8_t *At, std::uint16_t Value) {
  At[0] = static_cast<std::uint8_t>(Value);
  At[1] = static_cast<std::uint8_t>(Value >> 8);
}
void Put32(std::uint8_t *At, std::uint32_t Value) {
  Put16(At, static_cast<std::uint16_t>(Value));
  Put16(At + 2, static_cast<std::uint16_t>(Value >> 16));
}
std::uint16_t Get16(const std::uint8_t *At) {
  return static_cast<std::uint16_t>(At[0] | At[1] << 8);
}
std::uint32_t Get32(const std::uint8_t *At) {
  return Get16(At) | std::uint32_t{Get16(At + 2)} << 16;
}

// Byte offsets within a row (TableRows.h gives the layout).
namespace DecodeRow {
constexpr std::size_t Port = 0, Size = 2, Reserved = 3, Attributes = 4;
}
namespace ScriptRow {
constexpr std::size_t Port = 0, AndMask = 2, OrValue = 3;
}

// The table's bytes in the loaded image; ImageRejected when the rows given do not fill it.
std::uint8_t *TableIn(std::vector<std::uint8_t> &Bytes, const PeiImage &Image,
                      sim::BoardTable Which, std::size_t GivenRows) {
  const ImageTable Table = FindTable(Image, Which);
  try {
    runs::CheckRowsFit(Which, GivenRows, Table.Bytes, Table.Where);
  } catch (const runs::TableMismatch &Error) {
    throw ImageRejected(Error.what());
  }
  return Bytes.data() + (Table.Address - Image.Base);
}

} // namespace

ImageTable FindTable(const PeiImage &Image, sim::BoardTable Which) {
  const std::string Name = SymbolName(Which);
  const std::vector<MapSymbol> &Symbols = Image.Map.symbols();
  const formats::UniqueMatch<MapSymbol> Match =
      formats::FindUnique(Symbols, [&](const MapSymbol &Symbol) { return Symbol.Name == Name; });
  if (Match.Found == nullptr || !Image.contains(Match.Found->Address)) {
    throw ImageRejected("the map of '" + Image.Path + "' places " + Name +
                        (Match.Count == 0  ? " nowhere"
                         : Match.Count > 1 ? " more than once"
                                           : " outside the image") +
                        ": it holds no table to replace");
  }
  ImageTable Table;
  Table.Address = Match.Found->Address;
  // The symbols are in address order: the first one past the table's address ends it.
  const auto Next = std::upper_bound(
      Symbols.begin(), Symbols.end(), Table.Address,
      [](std::uint64_t Address, const MapSymbol &Symbol) { return Address < Symbol.Address; });
  const std::uint64_t End = std::min<std::uint64_t>(
      Next != Symbols.end() ? Next->Address : Image.Base + Image.Size, Image.Base + Image.Size);
  Table.Bytes = End - Table.Address;
  Table.Where = Name + " of '" + Image.Path + "' (" + std::to_string(Table.Bytes) +
                " bytes by its map, up to " +
                (Next != Symbols.end() ? Next->Name : std::string("the image's end")) + ")";
  return Table;
}

sim::TableRows TablesIn(const PeiImage &Image) {
  sim::TableRows Rows;
  auto Read = [&](sim::BoardTable Which, auto &&Add) {
    const ImageTable Table = FindTable(Image, Which);
    std::size_t Count = 0;
    try {
      Count = runs::RowsIn(Which, Table.Bytes, Table.Where);
    } catch (const runs::TableMismatch &Error) {
      throw ImageRejected(Error.what());
    }
    const std::uint8_t *First = Image.Bytes.data() + (Table.Address - Image.Base);
    for (std::size_t Row = 0; Row < Count; ++Row) {
      Add(First + Row * sim::RowBytes(Which));
    }
  };
  Rows.Decode.emplace();
  Read(sim::BoardTable::Decode, [&](const std::uint8_t *Row) {
    Rows.Decode->push_back(
        {Get16(Row + DecodeRow::Port), Row[DecodeRow::Size], Get32(Row + DecodeRow::Attributes)});
  });
  Rows.Script.emplace();
  Read(sim::BoardTable::Script, [&](const std::uint8_t *Row) {
    Rows.Script->push_back(
        {Get16(Row + ScriptRow::Port), Row[ScriptRow::AndMask], Row[ScriptRow::OrValue]});
  });
  return Rows;
}

std::vector<std::uint8_t> BytesWithTables(const PeiImage &Image, const sim::TableRows &Rows) {
  std::vector<std::uint8_t> Bytes = Image.Bytes;
  if (Rows.Decode) {
    std::uint8_t *Row = TableIn(Bytes, Image, sim::BoardTable::Decode, Rows.Decode->size());
    for (const sim::DecodeTableRow &Each : *Rows.Decode) {
      Put16(Row + DecodeRow::Port, Each.Port);
      Row[DecodeRow::Size] = Each.Size;
      Row[DecodeRow::Reserved] = 0;
      Put32(Row + DecodeRow::Attributes, Each.Attributes);
      Row += sim::DecodeRowBytes;
    }
  }
  if (Rows.Script) {
    std::uint8_t *Row = TableIn(Bytes, Image, sim::BoardTable::Script, Rows.Script->size());
    for (const sim::ScriptTableRow &Each : *Rows.Script) {
      Put16(Row + ScriptRow::Port, Each.Port);
      Row[ScriptRow::AndMask] = Each.AndMask;
      Row[ScriptRow::OrValue] = Each.OrValue;
      Row += sim::ScriptRowBytes;
    }
  }
  return Bytes;
}

} // namespace imagerun
