// A reader for the PE/COFF images the firmware build produces (PE32 and PE32+), used by the host
// tools that check and package them. It validates every offset it follows.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pe {

namespace Machine {
inline constexpr std::uint16_t I386 = 0x014C;
inline constexpr std::uint16_t X64 = 0x8664;
} // namespace Machine

namespace OptionalMagic {
inline constexpr std::uint16_t Pe32 = 0x010B;
inline constexpr std::uint16_t Pe32Plus = 0x020B;
} // namespace OptionalMagic

namespace FileCharacteristics {
inline constexpr std::uint16_t RelocsStripped = 0x0001;
} // namespace FileCharacteristics

namespace SectionFlags {
inline constexpr std::uint32_t Code = 0x00000020;
inline constexpr std::uint32_t InitializedData = 0x00000040;
inline constexpr std::uint32_t UninitializedData = 0x00000080;
inline constexpr std::uint32_t MemExecute = 0x20000000;
inline constexpr std::uint32_t MemRead = 0x40000000;
inline constexpr std::uint32_t MemWrite = 0x80000000;
} // namespace SectionFlags

namespace Directory {
inline constexpr unsigned Export = 0;
inline constexpr unsigned Import = 1;
inline constexpr unsigned BaseRelocation = 5;
inline constexpr unsigned Debug = 6;
inline constexpr unsigned Count = 16;
} // namespace Directory

inline constexpr std::uint16_t SubsystemEfiBootServiceDriver = 11;

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
  std::uint16_t Magic = 0;
  std::uint32_t EntryPoint = 0; // RVA
  std::uint64_t ImageBase = 0;
  std::uint32_t SectionAlignment = 0;
  std::uint32_t FileAlignment = 0;
  std::uint32_t SizeOfImage = 0;
  std::uint32_t SizeOfHeaders = 0;
  std::uint32_t TimeDateStamp = 0;
  std::uint16_t Subsystem = 0;
  std::uint32_t CheckSum = 0;
  std::vector<DataDirectory> Directories;
  std::vector<Section> Sections;

  bool isPe32Plus() const { return Magic == OptionalMagic::Pe32Plus; }
  const Section *findSection(const std::string &Name) const;
};

// Parses a whole image; throws FormatError naming what is wrong.
Image Parse(std::vector<std::uint8_t> Bytes);
Image ReadFile(const std::string &Path);

const char *MachineName(std::uint16_t Machine);

} // namespace pe
