#include "CoffObject.h"

#include "PeFile.h"

#include <fstream>
#include <iterator>

namespace pe {

std::vector<std::string> ObjectSectionNames(const std::string &Path) {
  std::ifstream File(Path, std::ios::binary);
  if (!File) {
    throw FormatError("cannot open " + Path);
  }
  const std::vector<unsigned char> Bytes((std::istreambuf_iterator<char>(File)),
                                         std::istreambuf_iterator<char>());
  auto U16 = [&](std::size_t At) {
    if (At + sizeof(std::uint16_t) > Bytes.size()) {
      throw FormatError(Path + ": truncated COFF object");
    }
    return static_cast<std::size_t>(Bytes[At] | Bytes[At + 1] << 8);
  };
  const std::size_t Header = CoffObject::HeaderOffset;
  const std::size_t Machine = U16(Header + CoffHeader::Machine);
  if (Machine != Machine::I386 && Machine != Machine::X64) {
    throw FormatError(Path + ": not an i386 or x86-64 COFF object");
  }
  const std::size_t Count = U16(Header + CoffHeader::NumberOfSections);
  const std::size_t Table =
      Header + CoffHeader::Size + U16(Header + CoffHeader::SizeOfOptionalHeader);
  std::vector<std::string> Names;
  for (std::size_t Index = 0; Index < Count; ++Index) {
    const std::size_t At = Table + Index * SectionHeader::Size;
    if (At + SectionHeader::Size > Bytes.size()) {
      throw FormatError(Path + ": truncated COFF section table");
    }
    std::string Name;
    for (std::size_t Char = 0;
         Char < SectionHeader::NameLength && Bytes[At + SectionHeader::Name + Char] != 0; ++Char) {
      Name += static_cast<char>(Bytes[At + SectionHeader::Name + Char]);
    }
    Names.push_back(Name);
  }
  return Names;
}

} // namespace pe
