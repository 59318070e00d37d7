// Byte-wise little-endian access and the bound test of the PE image code. Fields in a module file
// may sit at any alignment, so they are taken one byte at a time; sums are formed in 64 bits so
// that a hostile size cannot wrap around a bound.
#pragma once

#include <cstdint>

namespace peimage {

inline std::uint16_t Read16(const std::uint8_t *Bytes) {
  return static_cast<std::uint16_t>(Bytes[0] | Bytes[1] << 8);
}

inline std::uint32_t Read32(const std::uint8_t *Bytes) {
  return static_cast<std::uint32_t>(Read16(Bytes)) | static_cast<std::uint32_t>(Read16(Bytes + 2))
                                                         << 16;
}

inline std::uint64_t Read64(const std::uint8_t *Bytes) {
  return static_cast<std::uint64_t>(Read32(Bytes)) | static_cast<std::uint64_t>(Read32(Bytes + 4))
                                                         << 32;
}

inline void Write32(std::uint8_t *Bytes, std::uint32_t Value) {
  for (unsigned Index = 0; Index < sizeof(Value); ++Index) {
    Bytes[Index] = static_cast<std::uint8_t>(Value >> (Index * 8));
  }
}

inline void Write64(std::uint8_t *Bytes, std::uint64_t Value) {
  Write32(Bytes, static_cast<std::uint32_t>(Value));
  Write32(Bytes + sizeof(std::uint32_t), static_cast<std::uint32_t>(Value >> 32));
}

// True when Length bytes from Offset fit below Limit.
inline bool Fits(std::uint64_t Offset, std::uint64_t Length, std::uint64_t Limit) {
  return Offset <= Limit && Length <= Limit - Offset;
}

} // namespace peimage
