// A little-endian register file addressed by byte offset: the bridge's configuration space and
// the private-configuration window are both plain storage of this kind.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace sim {

class RegisterSpace {
public:
  explicit RegisterSpace(std::size_t Size) : Bytes_(Size, 0) {}

  std::uint32_t read(std::uint64_t Offset, unsigned Width) const {
    std::uint32_t Value = 0;
    for (unsigned Byte = 0; Byte < Width; ++Byte) {
      Value |= std::uint32_t{Bytes_.at(Offset + Byte)} << (8 * Byte);
    }
    return Value;
  }

  void write(std::uint64_t Offset, unsigned Width, std::uint32_t Value) {
    for (unsigned Byte = 0; Byte < Width; ++Byte) {
      Bytes_.at(Offset + Byte) = static_cast<std::uint8_t>(Value >> (8 * Byte));
    }
  }

  std::uint16_t read16(std::uint64_t Offset) const {
    return static_cast<std::uint16_t>(read(Offset, 2));
  }
  std::uint32_t read32(std::uint64_t Offset) const { return read(Offset, 4); }

  // Every register back to zero.
  void clear() { std::fill(Bytes_.begin(), Bytes_.end(), std::uint8_t{0}); }

private:
  std::vector<std::uint8_t> Bytes_;
};

} // namespace sim
