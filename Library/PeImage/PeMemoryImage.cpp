// The memory copy of an image: placement of headers and sections, and its base relocation.
#include "LittleEndian.h"
#include "PeImage.h"
#include "RelocationWalk.h"

using peimage::Read32;
using peimage::Read64;
using peimage::Write32;
using peimage::Write64;

PeStatus PeCopyToMemory(const PeImage &Image, std::uint8_t *Memory, std::size_t MemorySize) {
  if (MemorySize < Image.SizeOfImage) {
    return PeStatus::MemoryTooSmall;
  }
  __builtin_memset(Memory, 0, Image.SizeOfImage);
  __builtin_memcpy(Memory, Image.File.Data, Image.SizeOfHeaders);
  for (std::uint16_t Index = 0; Index < Image.SectionCount; ++Index) {
    const PeSection Section = PeSectionAt(Image, Index);
    __builtin_memcpy(Memory + Section.VirtualAddress, Image.File.Data + Section.PointerToRawData,
                     Section.CopySize);
  }
  return PeStatus::Ok;
}

PeStatus PeRelocate(const PeImage &Image, std::uint8_t *Memory, std::size_t MemorySize,
                    std::uint64_t NewBase) {
  if (MemorySize < Image.SizeOfImage) {
    return PeStatus::MemoryTooSmall;
  }
  const std::uint64_t Delta = NewBase - Image.ImageBase;
  if (Delta != 0 && PeRelocationsStripped(Image)) {
    return PeStatus::RelocationsStripped;
  }
  const PeStatus Status = peimage::WalkRelocations(
      Image, [Memory](std::uint64_t Rva) { return Memory[Rva]; },
      [Memory, Delta](std::uint64_t Target, bool Wide) {
        std::uint8_t *Address = Memory + Target;
        if (Wide) {
          Write64(Address, Read64(Address) + Delta);
        } else {
          Write32(Address, Read32(Address) + static_cast<std::uint32_t>(Delta));
        }
      });
  if (Status != PeStatus::Ok) {
    return Status;
  }
  std::uint8_t *Header = Memory + Image.OptionalHeaderOffset;
  if (Image.Pe32Plus) {
    Write64(Header + OptionalHeader::ImageBasePe32Plus, NewBase);
  } else {
    Write32(Header + OptionalHeader::ImageBasePe32, static_cast<std::uint32_t>(NewBase));
  }
  return PeStatus::Ok;
}
