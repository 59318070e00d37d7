// A call of the driver's format engine as both implementations make it: the format text, the
// capacity and up to FormatSlots 8-byte argument slots, each a value or a reference to bytes the
// run places in memory of its own (8-bit or 16-bit text with its terminator, a GUID's 16 bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace runs {

// The slots a call passes: what one variadic call of the host build can carry.
inline constexpr std::size_t FormatSlots = 16;
// The buffer's room when the capacity is 0 (no limit) or larger; an unbounded text must fit it.
inline constexpr std::size_t FormatRoom = 4096;
// Bytes behind the room, painted like it, that the engine must never write.
inline constexpr std::size_t FormatGuardBytes = 32;
inline constexpr std::uint8_t FormatPaint = 0xA5;

struct FormatArgument {
  std::uint64_t Value = 0;                        // the slot, when Bytes is unset
  std::optional<std::vector<std::uint8_t>> Bytes; // the slot points at these
  std::size_t Misalign = 0; // bytes the reference lies past an 8-byte boundary
};

struct FormatCall {
  std::string Format; // placed with a terminating NUL
  std::uint64_t Capacity = 0;
  std::vector<FormatArgument> Arguments;
  bool NullBuffer = false;
  bool NullFormat = false;
};

// The room the buffer of a call of this capacity has.
constexpr std::size_t FormatRoomFor(std::uint64_t Capacity) {
  return Capacity == 0 || Capacity > FormatRoom ? FormatRoom : static_cast<std::size_t>(Capacity);
}

} // namespace runs
