// The host tools' view of a PE/COFF image (PE32 and PE32+), checked by the PE image library
// exactly as the boot program checks it, with the fields the tools print in host types.
#pragma once

#include "PeImage.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pe {

class FormatError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct Section {
  std::string Name;
  std::uint32_t VirtualSize = 0;
  std::uint32_t VirtualAddress = 0;
  std::uint32_t RawSize = 0;
  std::uint32_t RawOffset = 0;
  std::uint32_t Characteristics = 0;
};

struct DataDirectory {
  std::uint32_t VirtualAddress = 0;
  std::uint32_t Size = 0;
};

struct Image {
  std::vector<std::uint8_t> Bytes;
  std::uint16_t Machine = 0;
  std::uint16_t Characteristics = 0;
  bool Pe32Plus = false;
  std::uint32_t EntryPoint = 0; // RVA
  std::uint64_t ImageBase = 0;
  std::uint32_t SectionAlignment = 0;
  std::uint32_t FileAlignment = 0;
  std::uint32_t SizeOfImage = 0;
  std::uint32_t SizeOfHeaders = 0;
  std::uint16_t Subsystem = 0;
  std::vector<DataDirectory> Directories;
  std::vector<Section> Sections;

  bool isPe32Plus() const { return Pe32Plus; }
  const Section *findSection(const std::string &Name) const;
  // The library's view of Bytes, for its checks.
  PeImage view() const;

private:
  friend Image Parse(std::vector<std::uint8_t> Bytes);
  PeImage View_ = {}; // its File is set by view(): Bytes moves with the Image
};

// Parses a whole image with the library's header, layout and relocation-table checks; throws
// FormatError naming what is wrong.
Image Parse(std::vector<std::uint8_t> Bytes);
// The file read (up to MaxImageFileBytes) and parsed; FormatError naming the file when it cannot
// be read ("cannot read 'PATH': REASON") or is no image ("'PATH': REASON").
Image ReadFile(const std::string &Path);

// The largest image file the host tools read: far above any module a flash part holds.
inline constexpr std::uint64_t MaxImageFileBytes = std::uint64_t{64} << 20;

const char *MachineName(std::uint16_t Machine);

// Why the image cannot run in place from flash (naming the section at fault), or an empty string
// when it can.
std::string ExecuteInPlaceFault(const Image &Image);

} // namespace pe
