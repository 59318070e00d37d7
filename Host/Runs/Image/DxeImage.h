// The driver as it ships: the PE32+ file loaded into RAM away from its preferred base (sections
// copied, base relocations applied, uninitialised data zeroed) as a DXE core's loader does, with
// the map of its link for naming functions and finding its module data. Loading checks
// everything a run relies on; any other file is refused with one line that names the problem.
#pragma once

#include "ImageFile.h"
#include "LinkerMap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace imagerun {

struct DxeImage {
  std::string Path;
  std::vector<std::uint8_t> Memory; // the loaded image, as it lies at Base
  std::uint64_t Base = 0;           // where it is loaded
  std::uint64_t PreferredBase = 0;  // where it is linked for
  std::uint32_t Size = 0;           // SizeOfImage
  std::uint64_t Entry = 0;          // absolute addresses at Base
  std::uint64_t ModuleData = 0;     // gDxeModuleData
  LinkerMap Map;

  bool contains(std::uint64_t Address) const { return Address >= Base && Address - Base < Size; }
  // "SerialPrint+0xC": the map's name for an address at Base.
  std::string functionAt(std::uint64_t Address) const;
  // "0x400390 (SerialPrint+0xC)"; the address alone outside the image.
  std::string describe(std::uint64_t Address) const;
};

// Reads the image and its map and loads it at machine::dxe::LoadBase. Refuses (ImageRejected) a
// file that is not a PE32+ image for x86-64, does not fit the machine's image RAM, cannot be
// relocated, or whose map is missing, of another link, or lacks gDxeModuleData.
DxeImage LoadDxeImage(const std::string &Path);

} // namespace imagerun
