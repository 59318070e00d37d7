// A small PE/COFF loader: validates a module file, places it at an address of the caller's
// choosing and applies its base relocations. Every check names what was wrong, because a module
// that fails here must be reported, never run.
#pragma once

#include <cstddef>
#include <cstdint>

struct PeFile {
  const std::uint8_t *Bytes;
  std::size_t Size;
};

// What the loader learnt from a file whose headers passed the checks of PeReadLayout.
struct PeLayout {
  bool Pe32Plus;
  bool RelocationsStripped;
  std::uint64_t ImageBase;
  std::uint32_t OptionalHeaderOffset;
  std::uint32_t EntryPointRva;
  std::uint32_t SectionAlignment;
  std::uint32_t FileAlignment;
  std::uint32_t SizeOfImage;
  std::uint32_t SizeOfHeaders;
  std::uint32_t SectionTableOffset;
  std::uint16_t SectionCount;
  std::uint32_t RelocationRva;
  std::uint32_t RelocationSize;
};

// Largest image the boot program sets memory aside for.
inline constexpr std::uint32_t PeImageSizeLimit = 0x00400000;

// Each returns nullptr on success, otherwise a message saying what is wrong with the file.
const char *PeReadLayout(const PeFile &File, std::uint16_t Machine, PeLayout &Layout);
// An execute-in-place module is its own memory image: every section sits at the same offset in
// the file as in memory and needs no zero fill, so flash can hold the file bytes unchanged.
const char *PeCheckExecuteInPlace(const PeFile &File, const PeLayout &Layout);
// Copies headers and sections to Image (SizeOfImage bytes, gaps zeroed).
void PePlace(const PeFile &File, const PeLayout &Layout, std::uint8_t *Image);
// Applies the base relocations for a move to NewBase and records NewBase in the headers.
const char *PeRelocate(std::uint8_t *Image, const PeLayout &Layout, std::uint64_t NewBase);
