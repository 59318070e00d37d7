// Header and layout checks of PE32 and PE32+ files, and the section walk. Every offset taken from
// the file is checked against the file, the optional header or the image before it is followed.
#include "PeImage.h"

#include "LittleEndian.h"

using peimage::Fits;
using peimage::Read16;
using peimage::Read32;
using peimage::Read64;

namespace {

bool IsCode(const PeSection &Section) {
  return (Section.Characteristics & (SectionHeader::ContainsCode | SectionHeader::MemoryExecute)) !=
         0;
}

// The optional header at Offset, Size bytes long (its size as the COFF header states it): the
// fields the loaders use and the data directories, which must lie inside those Size bytes.
PeStatus ReadOptionalHeader(std::uint64_t Offset, std::uint16_t Size, PeImage &Image) {
  if (!Fits(Offset, Size, Image.File.Size)) {
    return PeStatus::OptionalHeaderOutsideFile;
  }
  if (Size < sizeof(std::uint16_t)) {
    return PeStatus::OptionalHeaderTooShort;
  }
  const std::uint8_t *Header = Image.File.Data + Offset;
  const std::uint16_t Magic = Read16(Header + OptionalHeader::Magic);
  if (Magic != OptionalHeader::MagicPe32 && Magic != OptionalHeader::MagicPe32Plus) {
    return PeStatus::UnknownOptionalHeaderMagic;
  }
  Image.Pe32Plus = Magic == OptionalHeader::MagicPe32Plus;
  const std::uint32_t DirectoryStart =
      Image.Pe32Plus ? OptionalHeader::DataDirectoryPe32Plus : OptionalHeader::DataDirectoryPe32;
  if (Size < DirectoryStart) {
    return PeStatus::OptionalHeaderTooShort;
  }
  Image.EntryPointRva = Read32(Header + OptionalHeader::AddressOfEntryPoint);
  Image.ImageBase = Image.Pe32Plus ? Read64(Header + OptionalHeader::ImageBasePe32Plus)
                                   : Read32(Header + OptionalHeader::ImageBasePe32);
  Image.SectionAlignment = Read32(Header + OptionalHeader::SectionAlignment);
  Image.FileAlignment = Read32(Header + OptionalHeader::FileAlignment);
  Image.SizeOfImage = Read32(Header + OptionalHeader::SizeOfImage);
  Image.SizeOfHeaders = Read32(Header + OptionalHeader::SizeOfHeaders);
  Image.CheckSum = Read32(Header + OptionalHeader::CheckSum);
  Image.Subsystem = Read16(Header + OptionalHeader::Subsystem);
  Image.DirectoryCount =
      Read32(Header + (Image.Pe32Plus ? OptionalHeader::NumberOfRvaAndSizesPe32Plus
                                      : OptionalHeader::NumberOfRvaAndSizesPe32));
  if (Image.DirectoryCount > OptionalHeader::MaxDataDirectories) {
    return PeStatus::TooManyDataDirectories;
  }
  // Entries past the optional header would be read from the section table.
  if (Size - DirectoryStart <
      std::uint64_t{Image.DirectoryCount} * OptionalHeader::DataDirectoryEntrySize) {
    return PeStatus::DataDirectoriesOutsideOptionalHeader;
  }
  for (std::uint32_t Index = 0; Index < Image.DirectoryCount; ++Index) {
    const std::uint8_t *Entry =
        Header + DirectoryStart + Index * OptionalHeader::DataDirectoryEntrySize;
    Image.Directories[Index] = {Read32(Entry), Read32(Entry + sizeof(std::uint32_t))};
  }
  return PeStatus::Ok;
}

PeStatus CheckSections(const PeImage &Image) {
  bool EntryInCode = false;
  for (std::uint16_t Index = 0; Index < Image.SectionCount; ++Index) {
    const PeSection Section = PeSectionAt(Image, Index);
    if (!Fits(Section.PointerToRawData, Section.SizeOfRawData, Image.File.Size)) {
      return PeStatus::SectionDataOutsideFile;
    }
    if (Section.VirtualAddress < Image.SizeOfHeaders ||
        !Fits(Section.VirtualAddress, Section.Span, Image.SizeOfImage)) {
      return PeStatus::SectionOutsideImage;
    }
    if (IsCode(Section) && Image.EntryPointRva >= Section.VirtualAddress &&
        Image.EntryPointRva - Section.VirtualAddress < Section.Span) {
      EntryInCode = true;
    }
  }
  return EntryInCode ? PeStatus::Ok : PeStatus::EntryPointNotInCode;
}

} // namespace

PeStatus PeParse(PeBytes File, PeImage &Image) {
  Image = {};
  Image.File = File;
  if (File.Size < DosHeader::Size) {
    return PeStatus::FileTooSmall;
  }
  if (Read16(File.Data + DosHeader::Magic) != DosHeader::MagicValue) {
    return PeStatus::NoMzSignature;
  }
  const std::uint32_t PeOffset = Read32(File.Data + DosHeader::NewHeaderOffset);
  if (!Fits(PeOffset, PeSignature::Size + CoffHeader::Size, File.Size)) {
    return PeStatus::PeHeaderOutsideFile;
  }
  if (Read32(File.Data + PeOffset) != PeSignature::Value) {
    return PeStatus::NoPeSignature;
  }
  const std::uint8_t *Coff = File.Data + PeOffset + PeSignature::Size;
  Image.Machine = Read16(Coff + CoffHeader::Machine);
  Image.Characteristics = Read16(Coff + CoffHeader::Characteristics);
  Image.TimeDateStamp = Read32(Coff + CoffHeader::TimeDateStamp);
  Image.SectionCount = Read16(Coff + CoffHeader::NumberOfSections);
  const std::uint16_t OptionalSize = Read16(Coff + CoffHeader::SizeOfOptionalHeader);
  const std::uint64_t OptionalOffset =
      std::uint64_t{PeOffset} + PeSignature::Size + CoffHeader::Size;
  if (const PeStatus Status = ReadOptionalHeader(OptionalOffset, OptionalSize, Image);
      Status != PeStatus::Ok) {
    return Status;
  }
  const std::uint64_t TableOffset = OptionalOffset + OptionalSize;
  const std::uint64_t TableSize = std::uint64_t{Image.SectionCount} * SectionHeader::Size;
  if (!Fits(TableOffset, TableSize, File.Size)) {
    return PeStatus::SectionTableOutsideFile;
  }
  if (Image.SizeOfHeaders > Image.SizeOfImage || Image.SizeOfHeaders > File.Size ||
      Image.SizeOfHeaders < TableOffset + TableSize) {
    return PeStatus::HeadersDoNotFit;
  }
  // Both below SizeOfHeaders now, so they fit the 32-bit fields.
  Image.OptionalHeaderOffset = static_cast<std::uint32_t>(OptionalOffset);
  Image.SectionTableOffset = static_cast<std::uint32_t>(TableOffset);
  const PeDataDirectory &Relocations = Image.Directories[OptionalHeader::BaseRelocationDirectory];
  if (!Fits(Relocations.Rva, Relocations.Size, Image.SizeOfImage)) {
    return PeStatus::RelocationDirectoryOutsideImage;
  }
  return CheckSections(Image);
}

PeSection PeSectionAt(const PeImage &Image, std::uint16_t Index) {
  const std::uint8_t *Header =
      Image.File.Data + Image.SectionTableOffset + std::size_t{Index} * SectionHeader::Size;
  PeSection Section = {};
  Section.Name = Header + SectionHeader::Name;
  Section.VirtualAddress = Read32(Header + SectionHeader::VirtualAddress);
  Section.VirtualSize = Read32(Header + SectionHeader::VirtualSize);
  Section.PointerToRawData = Read32(Header + SectionHeader::PointerToRawData);
  Section.SizeOfRawData = Read32(Header + SectionHeader::SizeOfRawData);
  Section.Characteristics = Read32(Header + SectionHeader::Characteristics);
  // Raw data is padded to the file alignment; only the first VirtualSize bytes are the section.
  // A VirtualSize of zero means the raw size is the section's size.
  Section.CopySize = Section.SizeOfRawData;
  if (Section.VirtualSize != 0 && Section.VirtualSize < Section.CopySize) {
    Section.CopySize = Section.VirtualSize;
  }
  Section.Span = Section.VirtualSize > Section.CopySize ? Section.VirtualSize : Section.CopySize;
  return Section;
}

PeStatus PeCheckMachine(const PeImage &Image, std::uint16_t Machine) {
  if (Image.Machine != Machine) {
    return PeStatus::WrongMachine;
  }
  if ((Machine == PeMachine::I386 && Image.Pe32Plus) ||
      (Machine == PeMachine::X64 && !Image.Pe32Plus)) {
    return PeStatus::MagicNotOfMachine;
  }
  return PeStatus::Ok;
}
