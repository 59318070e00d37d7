// Runs the formatter into a buffer with guard bytes behind the capacity and checks that nothing
// is written past the terminating NUL.
#pragma once

#include "BoardInitDxe/FormatBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace FormatHarness {

constexpr char GuardByte = static_cast<char>(0xA5);
constexpr std::size_t GuardBytes = 32;
// Room given to calls without a capacity limit.
constexpr std::size_t UnboundedRoom = 512;

struct Result {
  std::string Text; // the bytes before the count's position
  std::uint64_t Count;
};

template <typename... Args>
Result Bounded(std::uint64_t Capacity, const char *Format, Args... Arguments) {
  const std::size_t Size = (Capacity == 0 ? UnboundedRoom : Capacity) + GuardBytes;
  std::vector<char> Buffer(Size, GuardByte);
  const std::uint64_t Count = FormatBuffer(Buffer.data(), Capacity, Format, Arguments...);
  if (Count >= Size) {
    ADD_FAILURE() << "count " << Count << " beyond the buffer for \"" << Format << "\"";
    return {{}, Count};
  }
  EXPECT_EQ(Buffer[Count], '\0') << "no NUL at the count for \"" << Format << "\"";
  for (std::size_t Index = Count + 1; Index < Size; ++Index) {
    if (Buffer[Index] != GuardByte) {
      ADD_FAILURE() << "byte " << Index << " written past the NUL for \"" << Format << "\"";
      break;
    }
  }
  return {std::string(Buffer.data(), Count), Count};
}

// Unbounded expansion, as the serial print uses it.
template <typename... Args> std::string Expand(const char *Format, Args... Arguments) {
  return Bounded(0, Format, Arguments...).Text;
}

} // namespace FormatHarness
