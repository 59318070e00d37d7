// PE/COFF layout: the offsets and values that the PE image library and the host tools use. Field
// offsets are relative to the structure named by the namespace; every field is little-endian and
// may sit at any alignment in a module file, so readers take them byte by byte.
#pragma once

#include <cstdint>

namespace DosHeader {
inline constexpr std::uint32_t Size = 0x40;
inline constexpr std::uint32_t Magic = 0;
inline constexpr std::uint32_t NewHeaderOffset = 0x3C;
inline constexpr std::uint16_t MagicValue = 0x5A4D; // "MZ"
} // namespace DosHeader

namespace PeSignature {
inline constexpr std::uint32_t Size = 4;
inline constexpr std::uint32_t Value = 0x00004550; // "PE\0\0"
} // namespace PeSignature

namespace CoffHeader {
inline constexpr std::uint32_t Size = 20;
inline constexpr std::uint32_t Machine = 0;
inline constexpr std::uint32_t NumberOfSections = 2;
inline constexpr std::uint32_t TimeDateStamp = 4;
inline constexpr std::uint32_t SizeOfOptionalHeader = 16;
inline constexpr std::uint32_t Characteristics = 18;
// Set by linkers that dropped the relocations: such an image runs only at its preferred base.
inline constexpr std::uint16_t RelocationsStripped = 0x0001;
} // namespace CoffHeader

// A COFF object file, the compiler's output before the link, starts with the COFF header itself;
// its section table (same section headers as an image's) follows the optional header, which
// objects normally leave out (SizeOfOptionalHeader 0).
namespace CoffObject {
inline constexpr std::uint32_t HeaderOffset = 0;
} // namespace CoffObject

namespace PeMachine {
inline constexpr std::uint16_t I386 = 0x014C;
inline constexpr std::uint16_t X64 = 0x8664;
} // namespace PeMachine

namespace OptionalHeader {
inline constexpr std::uint32_t Magic = 0;
inline constexpr std::uint16_t MagicPe32 = 0x010B;
inline constexpr std::uint16_t MagicPe32Plus = 0x020B;
inline constexpr std::uint32_t AddressOfEntryPoint = 16;
inline constexpr std::uint32_t ImageBasePe32Plus = 24; // 64 bits wide
inline constexpr std::uint32_t ImageBasePe32 = 28;     // 32 bits wide
inline constexpr std::uint32_t SectionAlignment = 32;
inline constexpr std::uint32_t FileAlignment = 36;
inline constexpr std::uint32_t SizeOfImage = 56;
inline constexpr std::uint32_t SizeOfHeaders = 60;
inline constexpr std::uint32_t CheckSum = 64;
inline constexpr std::uint32_t Subsystem = 68;
inline constexpr std::uint16_t SubsystemEfiBootServiceDriver = 11;
inline constexpr std::uint32_t MaxDataDirectories = 16;
inline constexpr std::uint32_t ImportDirectory = 1;
inline constexpr std::uint32_t NumberOfRvaAndSizesPe32 = 92;
inline constexpr std::uint32_t NumberOfRvaAndSizesPe32Plus = 108;
inline constexpr std::uint32_t DataDirectoryPe32 = 96;
inline constexpr std::uint32_t DataDirectoryPe32Plus = 112;
inline constexpr std::uint32_t DataDirectoryEntrySize = 8; // RVA, then size
inline constexpr std::uint32_t BaseRelocationDirectory = 5;
} // namespace OptionalHeader

namespace SectionHeader {
inline constexpr std::uint32_t Size = 40;
inline constexpr std::uint32_t Name = 0;
inline constexpr std::uint32_t NameLength = 8; // NUL-padded, not NUL-terminated when full
inline constexpr std::uint32_t VirtualSize = 8;
inline constexpr std::uint32_t VirtualAddress = 12;
inline constexpr std::uint32_t SizeOfRawData = 16;
inline constexpr std::uint32_t PointerToRawData = 20;
inline constexpr std::uint32_t Characteristics = 36;
inline constexpr std::uint32_t ContainsCode = 0x00000020;
inline constexpr std::uint32_t ContainsInitializedData = 0x00000040;
inline constexpr std::uint32_t ContainsUninitializedData = 0x00000080;
inline constexpr std::uint32_t MemoryExecute = 0x20000000;
inline constexpr std::uint32_t MemoryRead = 0x40000000;
inline constexpr std::uint32_t MemoryWrite = 0x80000000;
} // namespace SectionHeader

namespace BaseRelocation {
inline constexpr std::uint32_t BlockHeaderSize = 8;
inline constexpr std::uint32_t PageRva = 0;
inline constexpr std::uint32_t BlockSize = 4;
inline constexpr std::uint32_t EntrySize = 2;
inline constexpr unsigned TypeShift = 12;
inline constexpr std::uint16_t OffsetMask = 0x0FFF;
inline constexpr std::uint16_t TypeAbsolute = 0; // padding that keeps blocks 32-bit aligned
inline constexpr std::uint16_t TypeHighLow = 3;  // 32-bit address
inline constexpr std::uint16_t TypeDir64 = 10;   // 64-bit address
} // namespace BaseRelocation
