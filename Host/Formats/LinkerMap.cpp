#include "LinkerMap.h"

#include "FileRead.h"
#include "SymbolName.h"
#include "UniqueMatch.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace formats {
namespace {

constexpr const char *LoadAddressLine = "Preferred load address is ";
constexpr const char *CodeClass = "CODE";

// At most 16 hexadecimal digits, nothing else.
std::optional<std::uint64_t> Hex(const std::string &Text) {
  std::uint64_t Value = 0;
  const char *End = Text.data() + Text.size();
  const auto [Stop, Error] = std::from_chars(Text.data(), End, Value, 16);
  if (Text.empty() || Text.size() > 16 || Error != std::errc() || Stop != End) {
    return std::nullopt;
  }
  return Value;
}

// "0001:0000004c" -> section 1.
std::optional<unsigned> SectionOf(const std::string &Field) {
  const std::string::size_type Colon = Field.find(':');
  if (Colon == std::string::npos || Colon == 0 || !Hex(Field.substr(Colon + 1))) {
    return std::nullopt;
  }
  const std::optional<std::uint64_t> Section = Hex(Field.substr(0, Colon));
  return Section ? std::optional<unsigned>(static_cast<unsigned>(*Section)) : std::nullopt;
}

// "0001:0000004c" -> offset 0x4C.
std::uint64_t OffsetOf(const std::string &Field) {
  return Hex(Field.substr(Field.find(':') + 1)).value_or(0);
}

// "0x1C": upper-case hexadecimal, as few digits as the value needs.
std::string OffsetText(std::uint64_t Value) {
  char Buffer[24];
  std::snprintf(Buffer, sizeof Buffer, "0x%llX", static_cast<unsigned long long>(Value));
  return Buffer;
}

} // namespace

LinkerMap LinkerMap::Parse(const std::string &Text, bool UnderscoredCNames) {
  LinkerMap Map;
  bool HaveBase = false;
  std::vector<unsigned> CodeSections;
  std::istringstream Lines(Text);
  for (std::string Line; std::getline(Lines, Line);) {
    const std::string::size_type Base = Line.find(LoadAddressLine);
    if (Base != std::string::npos) {
      const std::optional<std::uint64_t> Value =
          Hex(Line.substr(Base + std::strlen(LoadAddressLine)));
      if (!Value) {
        throw MapError("unreadable load address line '" + Line + "'");
      }
      Map.PreferredBase_ = *Value;
      HaveBase = true;
      continue;
    }
    std::istringstream Fields(Line);
    std::vector<std::string> Field;
    for (std::string Each; Fields >> Each;) {
      Field.push_back(Each);
    }
    if (Field.empty() || !SectionOf(Field[0])) {
      continue;
    }
    const unsigned Section = *SectionOf(Field[0]);
    // Section table: "0001:00000000 00000bfeH .text CODE".
    if (Field.size() == 4 && Field[1].back() == 'H') {
      if (Field[3] == CodeClass) {
        CodeSections.push_back(Section);
      }
      const std::optional<std::uint64_t> Length = Hex(Field[1].substr(0, Field[1].size() - 1));
      if (Length) {
        Map.Chunks_.push_back({Section, OffsetOf(Field[0]), *Length, Field[2]});
      }
      continue;
    }
    // Symbol: "0001:0000004c ?SetGenericIoRange@@YAIGG@Z 00000000fff0026c GenericIoRange.cpp.o".
    if (Field.size() >= 3) {
      const std::optional<std::uint64_t> Address = Hex(Field[2]);
      if (!Address) {
        continue;
      }
      MapSymbol Symbol;
      Symbol.Address = *Address;
      Symbol.Section = Section;
      Symbol.Offset = OffsetOf(Field[0]);
      Symbol.Linked = Field[1];
      Symbol.Name = ReadableSymbolName(Field[1], UnderscoredCNames);
      Symbol.Code =
          std::find(CodeSections.begin(), CodeSections.end(), Section) != CodeSections.end();
      Map.Symbols_.push_back(std::move(Symbol));
    }
  }
  if (!HaveBase) {
    throw MapError("no 'Preferred load address' line: not an lld-link map");
  }
  if (Map.Symbols_.empty()) {
    throw MapError("no symbols");
  }
  std::stable_sort(
      Map.Symbols_.begin(), Map.Symbols_.end(),
      [](const MapSymbol &Left, const MapSymbol &Right) { return Left.Address < Right.Address; });
  return Map;
}

LinkerMap LinkerMap::ReadFile(const std::string &Path, bool UnderscoredCNames) {
  std::string Text;
  try {
    Text = ReadFileText(Path, MaxMapFileBytes);
  } catch (const FileError &Error) {
    throw MapError("cannot read '" + Path + "': " + Error.what());
  }
  try {
    return Parse(Text, UnderscoredCNames);
  } catch (const MapError &Error) {
    throw MapError("'" + Path + "': " + Error.what());
  }
}

std::optional<std::uint64_t> LinkerMap::uniqueAddress(const std::string &Name, bool Code) const {
  const UniqueMatch<MapSymbol> Match = FindUnique(Symbols_, [&](const MapSymbol &Symbol) {
    return Symbol.Code == Code && Symbol.Name == Name;
  });
  return Match.Found ? std::optional<std::uint64_t>(Match.Found->Address) : std::nullopt;
}

std::optional<std::uint64_t> LinkerMap::functionAddress(const std::string &Name) const {
  return uniqueAddress(Name, true);
}

std::optional<std::uint64_t> LinkerMap::dataAddress(const std::string &Name) const {
  return uniqueAddress(Name, false);
}

std::string LinkerMap::describe(std::uint64_t Address) const {
  const auto Above = std::upper_bound(
      Symbols_.begin(), Symbols_.end(), Address,
      [](std::uint64_t Value, const MapSymbol &Symbol) { return Value < Symbol.Address; });
  if (Above == Symbols_.begin()) {
    return "?";
  }
  const MapSymbol &Symbol = *std::prev(Above);
  const std::uint64_t Offset = Address - Symbol.Address;
  return Offset == 0 ? Symbol.Name : Symbol.Name + "+" + OffsetText(Offset);
}

} // namespace formats
