#include "LinkerMap.h"

#include "ImageFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace imagerun {
namespace {

constexpr const char *LoadAddressLine = "Preferred load address is ";
constexpr const char *CodeClass = "CODE";
// Microsoft C++ names: '?' starts them, '@' ends each scope, "@@" ends the scopes.
constexpr char CppNameStart = '?';
constexpr char ScopeEnd = '@';
// The anonymous namespace is written as a scope "?A0x<hash>".
constexpr const char *AnonymousScope = "?A0x";

std::optional<std::uint64_t> Hex(const std::string &Text) {
  if (Text.empty() || Text.size() > 16) {
    return std::nullopt;
  }
  std::uint64_t Value = 0;
  for (const char Digit : Text) {
    const char *Digits = "0123456789abcdef";
    const char *Found = std::strchr(Digits, std::tolower(static_cast<unsigned char>(Digit)));
    if (Digit == '\0' || Found == nullptr) {
      return std::nullopt;
    }
    Value = Value << 4 | static_cast<std::uint64_t>(Found - Digits);
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

} // namespace

std::string ReadableSymbolName(const std::string &Linked, bool UnderscoredCNames) {
  if (Linked.empty()) {
    return Linked;
  }
  if (Linked[0] != CppNameStart) {
    std::string Name = Linked;
    if (UnderscoredCNames && Name.size() > 1 && Name[0] == '_') {
      Name.erase(0, 1);
    }
    // stdcall and fastcall names end in @<bytes of arguments>.
    const std::string::size_type At = Name.find(ScopeEnd, 1);
    return At == std::string::npos ? Name : Name.substr(0, At);
  }
  const std::string::size_type ScopesEnd = Linked.find("@@");
  if (ScopesEnd == std::string::npos || Linked.size() < 2 || Linked[1] == CppNameStart) {
    return Linked; // operators, special members and templates: left as linked
  }
  std::vector<std::string> Scopes;
  std::string::size_type Start = 1;
  while (Start <= ScopesEnd) {
    const std::string::size_type End = Linked.find(ScopeEnd, Start);
    const std::string Scope = Linked.substr(Start, End - Start);
    if (Scope.rfind(AnonymousScope, 0) != 0) {
      Scopes.push_back(Scope);
    }
    Start = End + 1;
  }
  std::string Name;
  for (auto Scope = Scopes.rbegin(); Scope != Scopes.rend(); ++Scope) {
    Name += (Name.empty() ? "" : "::") + *Scope;
  }
  return Name;
}

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
    if (Field.size() == 4 && Field[1].back() == 'H' && Field[3] == CodeClass) {
      CodeSections.push_back(Section);
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
  std::ifstream File(Path);
  if (!File) {
    throw MapError("cannot read '" + Path + "': " + std::strerror(errno));
  }
  std::stringstream Text;
  Text << File.rdbuf();
  try {
    return Parse(Text.str(), UnderscoredCNames);
  } catch (const MapError &Error) {
    throw MapError("'" + Path + "': " + Error.what());
  }
}

std::optional<std::uint64_t> LinkerMap::functionAddress(const std::string &Name) const {
  std::optional<std::uint64_t> Found;
  for (const MapSymbol &Symbol : Symbols_) {
    if (Symbol.Code && Symbol.Name == Name) {
      if (Found) {
        return std::nullopt;
      }
      Found = Symbol.Address;
    }
  }
  return Found;
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
  return Offset == 0 ? Symbol.Name : Symbol.Name + "+" + HexText(Offset);
}

} // namespace imagerun
