#include "PeFile.h"

#include <fstream>
#include <iterator>

namespace pe {
namespace {

class Reader {
public:
  explicit Reader(const std::vector<std::uint8_t> &Bytes) : Bytes_(Bytes) {}

  std::uint64_t read(std::size_t Offset, unsigned Width, const char *What) const {
    if (Offset > Bytes_.size() || Width > Bytes_.size() - Offset) {
      throw FormatError(std::string("truncated image: ") + What + " lies beyond the end of file");
    }
    std::uint64_t Value = 0;
    for (unsigned Byte = 0; Byte < Width; ++Byte) {
      Value |= std::uint64_t{Bytes_[Offset + Byte]} << (8 * Byte);
    }
    return Value;
  }
  std::uint16_t u16(std::size_t Offset, const char *What) const {
    return static_cast<std::uint16_t>(read(Offset, 2, What));
  }
  std::uint32_t u32(std::size_t Offset, const char *What) const {
    return static_cast<std::uint32_t>(read(Offset, 4, What));
  }

private:
  const std::vector<std::uint8_t> &Bytes_;
};

} // namespace

const Section *Image::findSection(const std::string &Name) const {
  for (const Section &Each : Sections) {
    if (Each.Name == Name) {
      return &Each;
    }
  }
  return nullptr;
}

const char *MachineName(std::uint16_t Machine) {
  switch (Machine) {
  case Machine::I386:
    return "i386";
  case Machine::X64:
    return "x86-64";
  default:
    return "unknown";
  }
}

Image Parse(std::vector<std::uint8_t> Bytes) {
  Image Result;
  const Reader In(Bytes);
  if (In.u16(DosHeader::Magic, "DOS header") != DosHeader::MagicValue) {
    throw FormatError("not a PE image: no MZ signature");
  }
  const std::uint32_t PeOffset = In.u32(DosHeader::NewHeaderOffset, "PE header offset");
  if (In.u32(PeOffset, "PE signature") != PeSignature::Value) {
    throw FormatError("not a PE image: no PE signature at the header offset");
  }
  const std::size_t Coff = std::size_t{PeOffset} + PeSignature::Size;
  Result.Machine = In.u16(Coff + CoffHeader::Machine, "machine");
  const std::uint16_t SectionCount = In.u16(Coff + CoffHeader::NumberOfSections, "section count");
  Result.TimeDateStamp = In.u32(Coff + CoffHeader::TimeDateStamp, "time stamp");
  const std::uint16_t OptionalSize =
      In.u16(Coff + CoffHeader::SizeOfOptionalHeader, "optional header size");
  Result.Characteristics = In.u16(Coff + CoffHeader::Characteristics, "characteristics");

  const std::size_t Opt = Coff + CoffHeader::Size;
  Result.Magic = In.u16(Opt + OptionalHeader::Magic, "optional header magic");
  if (Result.Magic != OptionalMagic::Pe32 && Result.Magic != OptionalMagic::Pe32Plus) {
    throw FormatError("not a PE image: unknown optional header magic");
  }
  const bool Plus = Result.isPe32Plus();
  Result.EntryPoint = In.u32(Opt + OptionalHeader::AddressOfEntryPoint, "entry point");
  Result.ImageBase = Plus ? In.read(Opt + OptionalHeader::ImageBasePe32Plus, 8, "image base")
                          : In.u32(Opt + OptionalHeader::ImageBasePe32, "image base");
  Result.SectionAlignment = In.u32(Opt + OptionalHeader::SectionAlignment, "section alignment");
  Result.FileAlignment = In.u32(Opt + OptionalHeader::FileAlignment, "file alignment");
  Result.SizeOfImage = In.u32(Opt + OptionalHeader::SizeOfImage, "size of image");
  Result.SizeOfHeaders = In.u32(Opt + OptionalHeader::SizeOfHeaders, "size of headers");
  Result.CheckSum = In.u32(Opt + OptionalHeader::CheckSum, "checksum");
  Result.Subsystem = In.u16(Opt + OptionalHeader::Subsystem, "subsystem");
  const std::size_t DirectoryCountOffset = Opt + (Plus ? OptionalHeader::NumberOfRvaAndSizesPe32Plus
                                                       : OptionalHeader::NumberOfRvaAndSizesPe32);
  const std::uint32_t DirectoryCount = In.u32(DirectoryCountOffset, "directory count");
  if (DirectoryCount > Directory::Count) {
    throw FormatError("corrupt PE image: more than 16 data directories");
  }
  for (std::uint32_t Index = 0; Index < DirectoryCount; ++Index) {
    const std::size_t At = DirectoryCountOffset + sizeof(std::uint32_t) +
                           OptionalHeader::DataDirectoryEntrySize * Index;
    Result.Directories.push_back(
        {In.u32(At, "data directory"), In.u32(At + sizeof(std::uint32_t), "data directory")});
  }
  Result.Directories.resize(Directory::Count);

  const std::size_t SectionTable = Opt + OptionalSize;
  for (std::uint16_t Index = 0; Index < SectionCount; ++Index) {
    const std::size_t At = SectionTable + SectionHeader::Size * Index;
    In.read(At, SectionHeader::Size, "section header");
    Section Each;
    for (std::size_t Char = 0;
         Char < SectionHeader::NameLength && Bytes[At + SectionHeader::Name + Char] != 0; ++Char) {
      Each.Name += static_cast<char>(Bytes[At + SectionHeader::Name + Char]);
    }
    Each.VirtualSize = In.u32(At + SectionHeader::VirtualSize, "section header");
    Each.VirtualAddress = In.u32(At + SectionHeader::VirtualAddress, "section header");
    Each.RawSize = In.u32(At + SectionHeader::SizeOfRawData, "section header");
    Each.RawOffset = In.u32(At + SectionHeader::PointerToRawData, "section header");
    Each.Characteristics = In.u32(At + SectionHeader::Characteristics, "section header");
    if (Each.RawSize != 0) {
      In.read(Each.RawOffset, 0, "section data");
      if (std::uint64_t{Each.RawOffset} + Each.RawSize > Bytes.size()) {
        throw FormatError("truncated image: section " + Each.Name + " lies beyond the end of file");
      }
    }
    Result.Sections.push_back(Each);
  }
  Result.Bytes = std::move(Bytes);
  return Result;
}

Image ReadFile(const std::string &Path) {
  std::ifstream File(Path, std::ios::binary);
  if (!File) {
    throw FormatError("cannot open " + Path);
  }
  std::vector<std::uint8_t> Bytes((std::istreambuf_iterator<char>(File)),
                                  std::istreambuf_iterator<char>());
  return Parse(std::move(Bytes));
}

} // namespace pe
