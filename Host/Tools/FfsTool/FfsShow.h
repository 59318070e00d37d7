// What a firmware-file-system file holds, read back as the PEI and DXE cores would find it in a
// volume: its header (name, type, attributes, size, state, both checksums) and each section, with
// the board's module it is when its name is one of the modules' files.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace ffsfile {

// The file described, one line for the file and one a section; FfsError naming the first thing
// the cores would refuse (a size past the file, a bad checksum, a section past the file's end).
std::string DescribeFile(std::span<const std::uint8_t> File);

} // namespace ffsfile
