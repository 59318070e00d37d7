// Byte layout of a firmware-file-system file as the PEI and DXE cores read it out of a firmware
// volume: a 24-byte file header, then sections, each starting on a 4-byte boundary of the file
// and opened by a 4-byte common section header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ffsfile {

// A GUID in its in-memory layout: Data1..Data3 little-endian, Data4 as bytes.
struct Guid {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::array<std::uint8_t, 8> Data4{};

  std::array<std::uint8_t, 16> bytes() const;
};

namespace FileHeader {
inline constexpr std::size_t Size = 24;
inline constexpr std::size_t NameOffset = 0;
inline constexpr std::size_t HeaderChecksumOffset = 16;
inline constexpr std::size_t FileChecksumOffset = 17;
inline constexpr std::size_t TypeOffset = 18;
inline constexpr std::size_t AttributesOffset = 19;
inline constexpr std::size_t SizeOffset = 20; // 24-bit little-endian, header included
inline constexpr std::size_t StateOffset = 23;
inline constexpr std::uint32_t MaxSize = 0xFFFFFF; // larger files need the extended header
} // namespace FileHeader

namespace FileType {
inline constexpr std::uint8_t Driver = 0x07;
inline constexpr std::uint8_t Peim = 0x06;
} // namespace FileType

namespace FileAttributes {
// Bits 5:3 select the boundary, relative to the volume base, on which the file's data (the
// first byte after the header) must be placed.
inline constexpr unsigned DataAlignmentShift = 3;
inline constexpr std::uint8_t Checksum = 0x40; // the file checksum covers the data
// Boundary for each value of the data-alignment field.
inline constexpr std::array<std::uint32_t, 8> DataAlignmentBytes = {
    1, 16, 128, 512, 1024, 4 * 1024, 32 * 1024, 64 * 1024};
} // namespace FileAttributes

// A volume starts every file on an 8-byte boundary, so the data after the 24-byte header keeps
// 8 bytes without any alignment attribute.
inline constexpr std::uint32_t VolumeFileAlignment = 8;

// State bits as they are set one by one while a file is written. Flash erases to ones on this
// board (erase polarity 1), so a bit is set by programming it to zero: the byte stored in the
// image is the complement of the bits set.
namespace FileState {
inline constexpr std::uint8_t HeaderConstruction = 0x01;
inline constexpr std::uint8_t HeaderValid = 0x02;
inline constexpr std::uint8_t DataValid = 0x04;
// A complete, valid file: header built, header valid, data valid.
inline constexpr std::uint8_t CompleteErasePolarity1 =
    static_cast<std::uint8_t>(~(HeaderConstruction | HeaderValid | DataValid));
} // namespace FileState

namespace SectionHeader {
inline constexpr std::size_t Size = 4; // 24-bit size (header included), then the type
inline constexpr std::size_t Alignment = 4;
inline constexpr std::uint32_t MaxSize = 0xFFFFFF;
} // namespace SectionHeader

namespace SectionType {
inline constexpr std::uint8_t Pe32 = 0x10;
inline constexpr std::uint8_t DxeDepex = 0x13;
inline constexpr std::uint8_t UserInterface = 0x15;
inline constexpr std::uint8_t Raw = 0x19;
inline constexpr std::uint8_t PeiDepex = 0x1B;
} // namespace SectionType

namespace DepexOpcode {
inline constexpr std::uint8_t True = 0x06;
inline constexpr std::uint8_t End = 0x08;
} // namespace DepexOpcode

} // namespace ffsfile
