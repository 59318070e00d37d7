// The symbols of an image's link, read from the map that lld-link writes beside it: where each
// function starts, so that an address inside the image can be named and a symbol found by name.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace formats {

// A map that cannot be read or does not say what is needed; the message names the problem.
class MapError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct MapSymbol {
  std::uint64_t Address = 0; // absolute: RVA plus the preferred load address
  unsigned Section = 0;      // the output section, counted from 1 as the image's table counts
  std::uint64_t Offset = 0;  // from the section's start
  std::string Name;          // readable: "SetIoDecode", "memset", "BoardTables::DecodeTable"
  std::string Linked;        // as the linker wrote it: "?SetIoDecode@@YAIGEI@Z"
  bool Code = false;         // in a code section
};

// A piece of an output section, as the map's section table lists it: ".text" from offset 0 of
// section 1.
struct MapChunk {
  unsigned Section = 0;
  std::uint64_t Start = 0; // offset in the section
  std::uint64_t Length = 0;
  std::string Name; // ".text", ".rdata"
};

// Maps of these images are a few kilobytes; anything near this is not a map.
inline constexpr std::uint64_t MaxMapFileBytes = std::uint64_t{16} << 20;

class LinkerMap {
public:
  // Parses the text of an lld-link /map file; throws MapError when it has no load address or no
  // symbols. IA-32 links write C names with a leading underscore, x86-64 links without.
  static LinkerMap Parse(const std::string &Text, bool UnderscoredCNames);
  static LinkerMap ReadFile(const std::string &Path, bool UnderscoredCNames);

  std::uint64_t preferredBase() const { return PreferredBase_; }
  // The function, or the data, of that readable name; nullopt when the map has none or more
  // than one.
  std::optional<std::uint64_t> functionAddress(const std::string &Name) const;
  std::optional<std::uint64_t> dataAddress(const std::string &Name) const;
  // "SetIoDecode+0x1C" for an address in code, the symbol below it otherwise; "?" when no symbol
  // lies at or below it.
  std::string describe(std::uint64_t Address) const;
  const std::vector<MapSymbol> &symbols() const { return Symbols_; }
  const std::vector<MapChunk> &chunks() const { return Chunks_; }

private:
  std::optional<std::uint64_t> uniqueAddress(const std::string &Name, bool Code) const;

  std::uint64_t PreferredBase_ = 0;
  std::vector<MapSymbol> Symbols_; // by address
  std::vector<MapChunk> Chunks_;   // as the section table lists them
};

} // namespace formats
