// Register fields described by position and width, so masks are derived, never typed by hand.
#pragma once

#include <cstdint>

struct RegisterField {
  unsigned Shift;
  unsigned Width;
};

constexpr std::uint32_t FieldMask(RegisterField Field) {
  return ((std::uint32_t{1} << Field.Width) - 1) << Field.Shift;
}

constexpr std::uint32_t FieldValue(RegisterField Field, std::uint32_t Value) {
  return (Value << Field.Shift) & FieldMask(Field);
}

constexpr std::uint32_t FieldGet(RegisterField Field, std::uint32_t Register) {
  return (Register & FieldMask(Field)) >> Field.Shift;
}

// The and-mask of a 16-bit read-modify-write that leaves every bit outside Bits alone.
constexpr std::uint16_t KeepAllBut16(std::uint32_t Bits) {
  return static_cast<std::uint16_t>(~Bits);
}

inline constexpr std::uint16_t KeepAll16 = 0xFFFF;
