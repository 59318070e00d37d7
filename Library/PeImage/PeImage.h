// PE/COFF images (PE32 and PE32+) as the board's loaders and tools need them: the header and
// layout checks, the section walk, the execute-in-place rule and base relocation, written once
// for the boot program (freestanding) and the host tools. Pure code over a byte view: no I/O, no
// allocation; every fault comes back as a PeStatus that PeStatusMessage names.
#pragma once

#include "Pe/PeFormat.h"

#include <cstddef>
#include <cstdint>

// A module file, or any bytes claimed to be one.
struct PeBytes {
  const std::uint8_t *Data;
  std::size_t Size;
};

enum class PeStatus : std::uint8_t {
  Ok,
  // Headers
  FileTooSmall,
  NoMzSignature,
  PeHeaderOutsideFile,
  NoPeSignature,
  OptionalHeaderOutsideFile,
  UnknownOptionalHeaderMagic,
  OptionalHeaderTooShort,
  TooManyDataDirectories,
  DataDirectoriesOutsideOptionalHeader,
  SectionTableOutsideFile,
  HeadersDoNotFit,
  RelocationDirectoryOutsideImage,
  // Sections
  SectionDataOutsideFile,
  SectionOutsideImage,
  EntryPointNotInCode,
  // What a caller requires of a valid image
  WrongMachine,
  MagicNotOfMachine,
  AlignmentsDiffer,
  SectionNotInPlace,
  // Placement and base relocation
  MemoryTooSmall,
  RelocationsStripped,
  RelocationBlockOutsideTable,
  RelocationBlockSizeInvalid,
  UnsupportedRelocation,
  RelocationTargetOutsideImage,
  RelocationTargetInTable,
};

// One line saying what is wrong, for a report that names the file before it.
const char *PeStatusMessage(PeStatus Status);

struct PeDataDirectory {
  std::uint32_t Rva;
  std::uint32_t Size;
};

// What PeParse learnt from a file whose headers and layout passed its checks. The other functions
// read the section table and data through File, so the bytes must outlive the structure.
struct PeImage {
  PeBytes File;
  std::uint16_t Machine;
  std::uint16_t Characteristics; // of the COFF header
  std::uint32_t TimeDateStamp;
  bool Pe32Plus;
  std::uint64_t ImageBase;
  std::uint32_t OptionalHeaderOffset;
  std::uint32_t EntryPointRva;
  std::uint32_t SectionAlignment;
  std::uint32_t FileAlignment;
  std::uint32_t SizeOfImage;
  std::uint32_t SizeOfHeaders;
  std::uint32_t CheckSum;
  std::uint16_t Subsystem;
  std::uint16_t SectionCount;
  std::uint32_t SectionTableOffset;
  std::uint32_t DirectoryCount;
  PeDataDirectory Directories[OptionalHeader::MaxDataDirectories]; // zero from DirectoryCount on
};

inline bool PeRelocationsStripped(const PeImage &Image) {
  return (Image.Characteristics & CoffHeader::RelocationsStripped) != 0;
}

struct PeSection {
  const std::uint8_t *Name; // SectionHeader::NameLength bytes in the file, NUL-padded
  std::uint32_t VirtualAddress;
  std::uint32_t VirtualSize;
  std::uint32_t PointerToRawData;
  std::uint32_t SizeOfRawData;
  std::uint32_t Characteristics;
  std::uint32_t CopySize; // file bytes that belong to the section in memory
  std::uint32_t Span;     // bytes the section occupies in memory
};

// Checks the headers and the layout, and fills Image. The checks: DOS header and MZ signature, PE
// signature and COFF header in the file, an optional header of either format in the file and long
// enough for its fixed fields, at most 16 data directories and all of them inside the optional
// header, the section table in the file and in the headers, the headers inside the image, the
// relocation directory inside the image, each section's file data in the file and its memory span
// inside the image above the headers, and the entry point inside a code section. Does not look
// into the relocation table: see PeCheckRelocations.
PeStatus PeParse(PeBytes File, PeImage &Image);

// Section Index (below Image.SectionCount) of an image that PeParse accepted.
PeSection PeSectionAt(const PeImage &Image, std::uint16_t Index);

// The image is for Machine, with the optional-header format that machine runs (PE32 on i386,
// PE32+ on x86-64).
PeStatus PeCheckMachine(const PeImage &Image, std::uint16_t Machine);

// An execute-in-place image is its own memory image, so flash can hold the file bytes unchanged:
// section alignment equals file alignment, and every section sits at the same offset in the file
// as in memory with all of its bytes in the file (no zero fill). On SectionNotInPlace, *Section
// (when given) receives the index of the first section that breaks the rule.
PeStatus PeCheckExecuteInPlace(const PeImage &Image, std::uint16_t *Section);

// Copies headers and sections to Memory (at least SizeOfImage bytes), the gaps zeroed.
PeStatus PeCopyToMemory(const PeImage &Image, std::uint8_t *Memory, std::size_t MemorySize);

// Applies the base relocations of the copy in Memory (made by PeCopyToMemory) for a move to
// NewBase and records NewBase in the copy's headers. HIGHLOW and, in PE32+, DIR64 fixups are
// applied, ABSOLUTE entries skipped; any other type, a block that runs outside the table, a
// fixup outside the image or inside the table itself refuses the image. A move of an image whose
// relocations were stripped is refused; the table is walked even when the base does not change.
PeStatus PeRelocate(const PeImage &Image, std::uint8_t *Memory, std::size_t MemorySize,
                    std::uint64_t NewBase);

// Walks the relocation table as PeRelocate would, reading it through the file, and changes
// nothing: a tool that only inspects the file refuses exactly the tables the loaders refuse.
PeStatus PeCheckRelocations(const PeImage &Image);
