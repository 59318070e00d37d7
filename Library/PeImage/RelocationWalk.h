// The walk over the base-relocation table, shared by the relocation of a memory copy and the
// check of a file, so that both refuse the same tables.
#pragma once

#include "LittleEndian.h"
#include "PeImage.h"

namespace peimage {

// Walks the table of an image that PeParse accepted. ByteAt(Rva) gives the memory image's byte
// at Rva (inside SizeOfImage); Fixup(TargetRva, Wide) is called for each 32-bit (HIGHLOW) or, when
// Wide, 64-bit (DIR64) address to adjust, after the target has been checked.
template <typename ByteReader, typename FixupAction>
PeStatus WalkRelocations(const PeImage &Image, ByteReader ByteAt, FixupAction Fixup) {
  const auto ReadAt = [&ByteAt](std::uint64_t Rva, unsigned Width) {
    std::uint32_t Value = 0;
    for (unsigned Byte = 0; Byte < Width; ++Byte) {
      Value |= static_cast<std::uint32_t>(ByteAt(Rva + Byte)) << (8 * Byte);
    }
    return Value;
  };
  const PeDataDirectory &Table = Image.Directories[OptionalHeader::BaseRelocationDirectory];
  const std::uint64_t TableEnd = std::uint64_t{Table.Rva} + Table.Size;
  std::uint64_t Block = Table.Rva;
  while (Block < TableEnd) {
    if (!Fits(Block, BaseRelocation::BlockHeaderSize, TableEnd)) {
      return PeStatus::RelocationBlockOutsideTable;
    }
    const std::uint32_t PageRva = ReadAt(Block + BaseRelocation::PageRva, sizeof(std::uint32_t));
    const std::uint32_t BlockSize =
        ReadAt(Block + BaseRelocation::BlockSize, sizeof(std::uint32_t));
    if (BlockSize < BaseRelocation::BlockHeaderSize || BlockSize % BaseRelocation::EntrySize != 0 ||
        !Fits(Block, BlockSize, TableEnd)) {
      return PeStatus::RelocationBlockSizeInvalid;
    }
    for (std::uint64_t Entry = Block + BaseRelocation::BlockHeaderSize; Entry < Block + BlockSize;
         Entry += BaseRelocation::EntrySize) {
      const auto Value = static_cast<std::uint16_t>(ReadAt(Entry, BaseRelocation::EntrySize));
      const std::uint16_t Type = Value >> BaseRelocation::TypeShift;
      if (Type == BaseRelocation::TypeAbsolute) {
        continue;
      }
      // A 32-bit image holds no 64-bit addresses.
      const bool Wide = Type == BaseRelocation::TypeDir64;
      if (Type != BaseRelocation::TypeHighLow && !(Wide && Image.Pe32Plus)) {
        return PeStatus::UnsupportedRelocation;
      }
      const std::uint64_t Target = std::uint64_t{PageRva} + (Value & BaseRelocation::OffsetMask);
      const std::uint64_t Width = Wide ? sizeof(std::uint64_t) : sizeof(std::uint32_t);
      if (!Fits(Target, Width, Image.SizeOfImage)) {
        return PeStatus::RelocationTargetOutsideImage;
      }
      // A fixup that rewrote the table would change the entries still to be walked.
      if (Target < TableEnd && Table.Rva < Target + Width) {
        return PeStatus::RelocationTargetInTable;
      }
      Fixup(Target, Wide);
    }
    Block += BlockSize;
  }
  return PeStatus::Ok;
}

} // namespace peimage
