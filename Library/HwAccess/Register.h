// How the firmware describes a device register: where it is, how wide one access to it is, and
// its fields as a datasheet prints them, high bit first ({15, 1} is bits 15:1). Masks and shifts
// are derived from the field, never typed by hand.
#pragma once

#include <cstddef>
#include <cstdint>

// A register at Offset within its device's space (configuration space, a memory window or a port
// block), read and written one Value at a time: the type is the access width.
template <typename Value> struct Register { std::uint32_t Offset; };
using Register8 = Register<std::uint8_t>;
using Register16 = Register<std::uint16_t>;
using Register32 = Register<std::uint32_t>;

// Bits High:Low of a register.
struct RegisterField {
  unsigned High;
  unsigned Low;
};

// One bit, as a field of its own.
constexpr RegisterField RegisterBit(unsigned Bit) {
  return {Bit, Bit};
}

constexpr unsigned FieldShift(RegisterField Field) {
  return Field.Low;
}

constexpr std::uint32_t FieldMask(RegisterField Field) {
  return (~std::uint32_t{0} >> (31 - Field.High)) & (~std::uint32_t{0} << Field.Low);
}

// The mask of one bit.
constexpr std::uint32_t BitMask(unsigned Bit) {
  return FieldMask(RegisterBit(Bit));
}

// Value placed in the field; bits that do not fit are dropped.
constexpr std::uint32_t FieldValue(RegisterField Field, std::uint32_t Value) {
  return (Value << Field.Low) & FieldMask(Field);
}

constexpr std::uint32_t FieldGet(RegisterField Field, std::uint32_t Register) {
  return (Register & FieldMask(Field)) >> Field.Low;
}

// The and-mask of a read-modify-write that leaves every bit outside Bits alone.
constexpr std::uint16_t KeepAllBut16(std::uint32_t Bits) {
  return static_cast<std::uint16_t>(~Bits);
}

inline constexpr std::uint16_t KeepAll16 = 0xFFFF;

// The value a read-modify-write writes: every bit outside AndMask keeps its current value.
template <typename Value>
[[gnu::always_inline]] inline constexpr Value MergeBits(Value Current, Value AndMask,
                                                        Value OrBits) {
  return static_cast<Value>((Current & AndMask) | OrBits);
}

// The one read-modify-write: Read and Write are the primitives of the register's bus at its
// width, so each register is combined with its own content in one read and one write.
template <auto Read, auto Write, typename Address, typename Value>
[[gnu::always_inline]] inline void ModifyRegister(Address At, Value AndMask, Value OrBits) {
  Write(At, MergeBits<Value>(static_cast<Value>(Read(At)), AndMask, OrBits));
}

// Position of Port among the Count ports, first entry first; Count when it is not among them. A
// device's base port is chosen by its position in the list the hardware decodes. Local to each
// file that uses it, so the compiler may fold it into its caller as it would a file's own helper.
static constexpr std::uint32_t PortPosition(const std::uint16_t *Ports, std::uint32_t Count,
                                            std::uint16_t Port) {
  std::uint32_t Position = 0;
  while (Position < Count && Ports[Position] != Port) {
    ++Position;
  }
  return Position;
}

template <std::size_t N>
constexpr std::uint32_t PortPosition(const std::uint16_t (&Ports)[N], std::uint16_t Port) {
  return PortPosition(Ports, static_cast<std::uint32_t>(N), Port);
}
