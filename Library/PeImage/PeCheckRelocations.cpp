// The relocation table checked in the file, for tools that inspect an image without loading it.
#include "PeImage.h"
#include "RelocationWalk.h"

namespace {

// The byte PeCopyToMemory would place at Rva: from the headers, from the last section whose file
// bytes cover it (later sections are copied over earlier ones), or zero.
std::uint8_t MemoryByteFromFile(const PeImage &Image, std::uint64_t Rva) {
  if (Rva < Image.SizeOfHeaders) {
    return Image.File.Data[Rva];
  }
  std::uint8_t Value = 0;
  for (std::uint16_t Index = 0; Index < Image.SectionCount; ++Index) {
    const PeSection Section = PeSectionAt(Image, Index);
    if (Rva >= Section.VirtualAddress && Rva - Section.VirtualAddress < Section.CopySize) {
      Value = Image.File.Data[Section.PointerToRawData + (Rva - Section.VirtualAddress)];
    }
  }
  return Value;
}

} // namespace

PeStatus PeCheckRelocations(const PeImage &Image) {
  return peimage::WalkRelocations(
      Image, [&Image](std::uint64_t Rva) { return MemoryByteFromFile(Image, Rva); },
      [](std::uint64_t, bool) {});
}
