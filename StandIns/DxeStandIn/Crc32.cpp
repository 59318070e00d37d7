#include "Crc32.h"

namespace Crc32Parameters {
inline constexpr std::uint32_t ReflectedPolynomial = 0xEDB88320;
inline constexpr std::uint32_t InitialValue = 0xFFFFFFFF;
inline constexpr std::uint32_t FinalXor = 0xFFFFFFFF;
inline constexpr unsigned BitsPerByte = 8;
} // namespace Crc32Parameters

// Bit at a time: the images are a few KiB, so a table would cost more than it saves.
std::uint32_t Crc32(const void *Data, std::size_t Size) {
  const auto *Bytes = static_cast<const std::uint8_t *>(Data);
  std::uint32_t Crc = Crc32Parameters::InitialValue;
  for (std::size_t Index = 0; Index < Size; ++Index) {
    Crc ^= Bytes[Index];
    for (unsigned Bit = 0; Bit < Crc32Parameters::BitsPerByte; ++Bit) {
      Crc = (Crc >> 1) ^ ((Crc & 1) != 0 ? Crc32Parameters::ReflectedPolynomial : 0);
    }
  }
  return Crc ^ Crc32Parameters::FinalXor;
}
