// The early-init module as it ships: the PE32 file run in place from flash, with the map of its
// link for the addresses of its functions. Loading checks everything a run relies on, so a file
// that loads can be run; any other file is refused with one line that names the problem.
#pragma once

#include "ImageFile.h"
#include "LinkerMap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace imagerun {

struct PeiImage {
  std::string Path;
  std::vector<std::uint8_t> Bytes; // the file: in place, so also the image in memory
  std::uint32_t Base = 0;          // preferred base, where it executes
  std::uint32_t Size = 0;          // SizeOfImage
  std::uint32_t Entry = 0;         // absolute address of the entry point
  std::uint32_t SetIoDecode = 0;   // absolute addresses, from the map
  std::uint32_t SetGenericIoRange = 0;
  LinkerMap Map;

  bool contains(std::uint64_t Address) const { return Address >= Base && Address - Base < Size; }
  // "0xFFF00390 (SetIoDecode+0xC)".
  std::string describe(std::uint64_t Address) const;
};

// Reads the image and its map. Refuses (ImageRejected) a file that is not a PE32 image for IA-32,
// cannot execute in place, is linked for a base where the emulated board has RAM or devices, or
// whose map is missing, of another link, or lacks SetIoDecode or SetGenericIoRange.
PeiImage LoadPeiImage(const std::string &Path);

} // namespace imagerun
