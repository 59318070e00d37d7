#include "CoffObject.h"

#include "PeFile.h"

#include <fstream>
#include <iterator>

namespace pe {
namespace {
constexpr std::size_t HeaderSize = 20;
constexpr std::size_t SectionHeaderSize = 40;
constexpr std::size_t SectionNameLength = 8;
} // namespace

std::vector<std::string> ObjectSectionNames(const std::string &Path) {
  std::ifstream File(Path, std::ios::binary);
  if (!File) {
    throw FormatError("cannot open " + Path);
  }
  const std::vector<unsigned char> Bytes((std::istreambuf_iterator<char>(File)),
                                         std::istreambuf_iterator<char>());
  auto U16 = [&](std::size_t At) {
    if (At + 2 > Bytes.size()) {
      throw FormatError(Path + ": truncated COFF object");
    }
    return static_cast<std::size_t>(Bytes[At] | Bytes[At + 1] << 8);
  };
  const std::size_t Machine = U16(0);
  if (Machine != Machine::I386 && Machine != Machine::X64) {
    throw FormatError(Path + ": not an i386 or x86-64 COFF object");
  }
  const std::size_t Count = U16(2);
  const std::size_t Table = HeaderSize + U16(16);
  std::vector<std::string> Names;
  for (std::size_t Index = 0; Index < Count; ++Index) {
    const std::size_t At = Table + Index * SectionHeaderSize;
    if (At + SectionHeaderSize > Bytes.size()) {
      throw FormatError(Path + ": truncated COFF section table");
    }
    std::string Name;
    for (std::size_t Char = 0; Char < SectionNameLength && Bytes[At + Char] != 0; ++Char) {
      Name += static_cast<char>(Bytes[At + Char]);
    }
    Names.push_back(Name);
  }
  return Names;
}

} // namespace pe
