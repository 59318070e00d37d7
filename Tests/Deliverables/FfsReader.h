// A reader of firmware-file-system files written for the tests from the published layout, apart
// from the packing tool, so the two cannot share a mistake.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ffstest {

struct Section {
  std::size_t Offset = 0; // of the section header, from the start of the file
  std::uint32_t Size = 0; // header included
  std::uint8_t Type = 0;
  std::vector<std::uint8_t> Body;
};

struct File {
  std::string Name; // registry form of the name GUID, upper case
  std::uint8_t HeaderChecksum = 0;
  std::uint8_t FileChecksum = 0;
  std::uint8_t Type = 0;
  std::uint8_t Attributes = 0;
  std::uint32_t Size = 0;
  std::uint8_t State = 0;
  bool HeaderSumsToZero = false; // with state and file checksum taken as zero
  bool DataSumsToZero = false;   // data bytes plus the file checksum
  std::vector<Section> Sections;
};

// Throws std::runtime_error when the bytes are not a well-formed file.
File ReadFile(const std::vector<std::uint8_t> &Bytes);
std::vector<std::uint8_t> Slurp(const std::string &Path);
std::string Ucs2ToAscii(const std::vector<std::uint8_t> &Body); // stops at the NUL

} // namespace ffstest
