// Validation, placement and relocation of PE32 and PE32+ module files. All offsets that come
// from the file are checked against the file or the image before they are used; sums are formed
// in 64 bits so that a hostile size cannot wrap around a bound.
#include "PeLoader.h"

#include "Pe/PeFormat.h"

#include <cstddef>
#include <cstdint>

extern "C" void *memset(void *Destination, int Value, std::size_t Count);
extern "C" void *memcpy(void *Destination, const void *Source, std::size_t Count);

namespace {

std::uint16_t Read16(const std::uint8_t *Bytes) {
  return static_cast<std::uint16_t>(Bytes[0] | Bytes[1] << 8);
}

std::uint32_t Read32(const std::uint8_t *Bytes) {
  return static_cast<std::uint32_t>(Read16(Bytes)) | static_cast<std::uint32_t>(Read16(Bytes + 2))
                                                         << 16;
}

std::uint64_t Read64(const std::uint8_t *Bytes) {
  return static_cast<std::uint64_t>(Read32(Bytes)) | static_cast<std::uint64_t>(Read32(Bytes + 4))
                                                         << 32;
}

void Write32(std::uint8_t *Bytes, std::uint32_t Value) {
  for (unsigned Index = 0; Index < 4; ++Index) {
    Bytes[Index] = static_cast<std::uint8_t>(Value >> (Index * 8));
  }
}

void Write64(std::uint8_t *Bytes, std::uint64_t Value) {
  Write32(Bytes, static_cast<std::uint32_t>(Value));
  Write32(Bytes + 4, static_cast<std::uint32_t>(Value >> 32));
}

// True when Length bytes from Offset fit below Limit.
bool Fits(std::uint64_t Offset, std::uint64_t Length, std::uint64_t Limit) {
  return Offset <= Limit && Length <= Limit - Offset;
}

struct PeSection {
  std::uint32_t VirtualAddress;
  std::uint32_t VirtualSize;
  std::uint32_t PointerToRawData;
  std::uint32_t SizeOfRawData;
  std::uint32_t Characteristics;
  std::uint32_t CopySize; // file bytes that belong to the section in memory
  std::uint32_t Span;     // bytes the section occupies in memory
};

PeSection SectionAt(const PeFile &File, const PeLayout &Layout, std::uint16_t Index) {
  const std::uint8_t *Header =
      File.Bytes + Layout.SectionTableOffset + std::size_t{Index} * SectionHeader::Size;
  PeSection Section = {};
  Section.VirtualAddress = Read32(Header + SectionHeader::VirtualAddress);
  Section.VirtualSize = Read32(Header + SectionHeader::VirtualSize);
  Section.PointerToRawData = Read32(Header + SectionHeader::PointerToRawData);
  Section.SizeOfRawData = Read32(Header + SectionHeader::SizeOfRawData);
  Section.Characteristics = Read32(Header + SectionHeader::Characteristics);
  // Raw data is padded to the file alignment; only the first VirtualSize bytes are the section.
  Section.CopySize = Section.SizeOfRawData;
  if (Section.VirtualSize != 0 && Section.VirtualSize < Section.CopySize) {
    Section.CopySize = Section.VirtualSize;
  }
  Section.Span = Section.VirtualSize > Section.CopySize ? Section.VirtualSize : Section.CopySize;
  return Section;
}

bool IsCode(const PeSection &Section) {
  return (Section.Characteristics & (SectionHeader::ContainsCode | SectionHeader::MemoryExecute)) !=
         0;
}

const char *ReadOptionalHeader(const PeFile &File, std::uint16_t Machine, std::uint32_t Offset,
                               std::uint16_t Size, PeLayout &Layout) {
  if (!Fits(Offset, Size, File.Size) || Size < sizeof(std::uint16_t)) {
    return "optional header lies outside the file";
  }
  const std::uint8_t *Header = File.Bytes + Offset;
  const std::uint16_t Magic = Read16(Header + OptionalHeader::Magic);
  Layout.Pe32Plus = Machine == PeMachine::X64;
  if (Magic != (Layout.Pe32Plus ? OptionalHeader::MagicPe32Plus : OptionalHeader::MagicPe32)) {
    return "optional header is not of the format of the machine";
  }
  const std::uint32_t DirectoryStart =
      Layout.Pe32Plus ? OptionalHeader::DataDirectoryPe32Plus : OptionalHeader::DataDirectoryPe32;
  if (Size < DirectoryStart) {
    return "optional header is too short";
  }
  Layout.OptionalHeaderOffset = Offset;
  Layout.EntryPointRva = Read32(Header + OptionalHeader::AddressOfEntryPoint);
  Layout.ImageBase = Layout.Pe32Plus ? Read64(Header + OptionalHeader::ImageBasePe32Plus)
                                     : Read32(Header + OptionalHeader::ImageBasePe32);
  Layout.SectionAlignment = Read32(Header + OptionalHeader::SectionAlignment);
  Layout.FileAlignment = Read32(Header + OptionalHeader::FileAlignment);
  Layout.SizeOfImage = Read32(Header + OptionalHeader::SizeOfImage);
  Layout.SizeOfHeaders = Read32(Header + OptionalHeader::SizeOfHeaders);
  const std::uint32_t DirectoryCount =
      Read32(Header + (Layout.Pe32Plus ? OptionalHeader::NumberOfRvaAndSizesPe32Plus
                                       : OptionalHeader::NumberOfRvaAndSizesPe32));
  const std::uint64_t RelocationEntry =
      DirectoryStart + std::uint64_t{OptionalHeader::BaseRelocationDirectory} *
                           OptionalHeader::DataDirectoryEntrySize;
  Layout.RelocationRva = 0;
  Layout.RelocationSize = 0;
  if (DirectoryCount > OptionalHeader::BaseRelocationDirectory &&
      Fits(RelocationEntry, OptionalHeader::DataDirectoryEntrySize, Size)) {
    Layout.RelocationRva = Read32(Header + RelocationEntry);
    Layout.RelocationSize = Read32(Header + RelocationEntry + sizeof(std::uint32_t));
  }
  return nullptr;
}

const char *CheckSections(const PeFile &File, const PeLayout &Layout) {
  bool EntryInCode = false;
  for (std::uint16_t Index = 0; Index < Layout.SectionCount; ++Index) {
    const PeSection Section = SectionAt(File, Layout, Index);
    if (!Fits(Section.PointerToRawData, Section.SizeOfRawData, File.Size)) {
      return "section data lies outside the file";
    }
    if (Section.VirtualAddress < Layout.SizeOfHeaders ||
        !Fits(Section.VirtualAddress, Section.Span, Layout.SizeOfImage)) {
      return "section lies outside the image";
    }
    if (IsCode(Section) && Layout.EntryPointRva >= Section.VirtualAddress &&
        Layout.EntryPointRva - Section.VirtualAddress < Section.Span) {
      EntryInCode = true;
    }
  }
  return EntryInCode ? nullptr : "entry point is not in a code section";
}

} // namespace

const char *PeReadLayout(const PeFile &File, std::uint16_t Machine, PeLayout &Layout) {
  if (File.Size < DosHeader::Size) {
    return "file is too small for a DOS header";
  }
  if (Read16(File.Bytes + DosHeader::Magic) != DosHeader::MagicValue) {
    return "no MZ signature";
  }
  const std::uint32_t PeOffset = Read32(File.Bytes + DosHeader::NewHeaderOffset);
  if (!Fits(PeOffset, PeSignature::Size + CoffHeader::Size, File.Size)) {
    return "PE header lies outside the file";
  }
  if (Read32(File.Bytes + PeOffset) != PeSignature::Value) {
    return "no PE signature";
  }
  const std::uint8_t *Coff = File.Bytes + PeOffset + PeSignature::Size;
  if (Read16(Coff + CoffHeader::Machine) != Machine) {
    return "machine type is not the one this phase runs";
  }
  Layout.RelocationsStripped =
      (Read16(Coff + CoffHeader::Characteristics) & CoffHeader::RelocationsStripped) != 0;
  Layout.SectionCount = Read16(Coff + CoffHeader::NumberOfSections);
  const std::uint16_t OptionalSize = Read16(Coff + CoffHeader::SizeOfOptionalHeader);
  const std::uint32_t OptionalOffset = PeOffset + PeSignature::Size + CoffHeader::Size;
  if (const char *Error = ReadOptionalHeader(File, Machine, OptionalOffset, OptionalSize, Layout)) {
    return Error;
  }
  Layout.SectionTableOffset = OptionalOffset + OptionalSize;
  const std::uint64_t SectionTableSize = std::uint64_t{Layout.SectionCount} * SectionHeader::Size;
  if (!Fits(Layout.SectionTableOffset, SectionTableSize, File.Size)) {
    return "section table lies outside the file";
  }
  if (Layout.SizeOfImage == 0 || Layout.SizeOfImage > PeImageSizeLimit) {
    return "image size is zero or larger than the memory set aside for it";
  }
  if (Layout.SizeOfHeaders > Layout.SizeOfImage || Layout.SizeOfHeaders > File.Size ||
      Layout.SizeOfHeaders < Layout.SectionTableOffset + SectionTableSize) {
    return "headers do not fit the image";
  }
  if (!Fits(Layout.RelocationRva, Layout.RelocationSize, Layout.SizeOfImage)) {
    return "relocation directory lies outside the image";
  }
  return CheckSections(File, Layout);
}

const char *PeCheckExecuteInPlace(const PeFile &File, const PeLayout &Layout) {
  if (Layout.SectionAlignment != Layout.FileAlignment) {
    return "section alignment differs from file alignment: not an execute-in-place image";
  }
  for (std::uint16_t Index = 0; Index < Layout.SectionCount; ++Index) {
    const PeSection Section = SectionAt(File, Layout, Index);
    if (Section.PointerToRawData != Section.VirtualAddress || Section.Span != Section.CopySize) {
      return "a section's file offset or size differs from its memory layout";
    }
  }
  return nullptr;
}

void PePlace(const PeFile &File, const PeLayout &Layout, std::uint8_t *Image) {
  memset(Image, 0, Layout.SizeOfImage);
  memcpy(Image, File.Bytes, Layout.SizeOfHeaders);
  for (std::uint16_t Index = 0; Index < Layout.SectionCount; ++Index) {
    const PeSection Section = SectionAt(File, Layout, Index);
    memcpy(Image + Section.VirtualAddress, File.Bytes + Section.PointerToRawData, Section.CopySize);
  }
}

const char *PeRelocate(std::uint8_t *Image, const PeLayout &Layout, std::uint64_t NewBase) {
  const std::uint64_t Delta = NewBase - Layout.ImageBase;
  if (Delta != 0 && Layout.RelocationsStripped) {
    return "relocations were stripped, the image cannot move";
  }
  const std::uint64_t End = std::uint64_t{Layout.RelocationRva} + Layout.RelocationSize;
  std::uint64_t Block = Layout.RelocationRva;
  while (Block < End) {
    if (!Fits(Block, BaseRelocation::BlockHeaderSize, End)) {
      return "relocation block header lies outside the relocation directory";
    }
    const std::uint32_t PageRva = Read32(Image + Block + BaseRelocation::PageRva);
    const std::uint32_t BlockSize = Read32(Image + Block + BaseRelocation::BlockSize);
    if (BlockSize < BaseRelocation::BlockHeaderSize || !Fits(Block, BlockSize, End) ||
        BlockSize % BaseRelocation::EntrySize != 0) {
      return "relocation block size is out of bounds";
    }
    for (std::uint64_t Entry = Block + BaseRelocation::BlockHeaderSize; Entry < Block + BlockSize;
         Entry += BaseRelocation::EntrySize) {
      const std::uint16_t Value = Read16(Image + Entry);
      const std::uint16_t Type = Value >> BaseRelocation::TypeShift;
      const std::uint64_t Target = std::uint64_t{PageRva} + (Value & BaseRelocation::OffsetMask);
      if (Type == BaseRelocation::TypeAbsolute) {
        continue;
      }
      const bool Wide = Type == BaseRelocation::TypeDir64;
      if (Type != BaseRelocation::TypeHighLow && !(Wide && Layout.Pe32Plus)) {
        return "unsupported relocation type";
      }
      if (!Fits(Target, Wide ? sizeof(std::uint64_t) : sizeof(std::uint32_t), Layout.SizeOfImage)) {
        return "relocation target lies outside the image";
      }
      if (Wide) {
        Write64(Image + Target, Read64(Image + Target) + Delta);
      } else {
        Write32(Image + Target, Read32(Image + Target) + static_cast<std::uint32_t>(Delta));
      }
    }
    Block += BlockSize;
  }
  std::uint8_t *OptionalHeaderBytes = Image + Layout.OptionalHeaderOffset;
  if (Layout.Pe32Plus) {
    Write64(OptionalHeaderBytes + OptionalHeader::ImageBasePe32Plus, NewBase);
  } else {
    Write32(OptionalHeaderBytes + OptionalHeader::ImageBasePe32,
            static_cast<std::uint32_t>(NewBase));
  }
  return nullptr;
}
