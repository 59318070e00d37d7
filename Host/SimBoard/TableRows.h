// Rows that stand in for the early-init module's own board tables in a run: the decode requests
// and the Super I/O script, as the host describes a row of each. A run given rows puts them where
// the module reads its table (the image's loaded copy, or the host build's writable copy of the
// table) and leaves the module's code as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

// One decode request as the table stores it, 8 bytes little-endian: port (bytes 0-1), size or
// COM selector (byte 2), a reserved byte that is always 0 (byte 3), attributes (bytes 4-7).
struct DecodeTableRow {
  std::uint16_t Port = 0;
  std::uint8_t Size = 0;
  std::uint32_t Attributes = 0;
  bool operator==(const DecodeTableRow &) const = default;
};
inline constexpr std::size_t DecodeRowBytes = 8;

// One script row, 4 bytes little-endian: port (bytes 0-1), and-mask (byte 2), or-value (byte 3).
// An and-mask of 0 writes the or-value as it is; any other merges it into the port's value.
struct ScriptTableRow {
  std::uint16_t Port = 0;
  std::uint8_t AndMask = 0;
  std::uint8_t OrValue = 0;
  bool operator==(const ScriptTableRow &) const = default;
};
inline constexpr std::size_t ScriptRowBytes = 4;

// The tables a run replaces: a table left empty (nullopt) is the module's own.
struct TableRows {
  std::optional<std::vector<DecodeTableRow>> Decode;
  std::optional<std::vector<ScriptTableRow>> Script;

  bool replaces() const { return Decode.has_value() || Script.has_value(); }
  bool operator==(const TableRows &) const = default;
};

// The two tables, for messages: "the decode table", "the Super I/O script".
enum class BoardTable { Decode, Script };
inline const char *TableName(BoardTable Which) {
  return Which == BoardTable::Decode ? "the decode table" : "the Super I/O script";
}
inline std::size_t RowBytes(BoardTable Which) {
  return Which == BoardTable::Decode ? DecodeRowBytes : ScriptRowBytes;
}

} // namespace sim
