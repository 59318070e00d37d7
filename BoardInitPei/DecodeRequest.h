// A decode request: one legacy device (or generic window) to open or close on the bridge, as it
// is stored in the board's decode table.
#pragma once

#include "Register.h"

#include <cstddef>
#include <cstdint>

namespace DecodeAttributes {
// Bits 31:12 are not read.
inline constexpr RegisterField DecodeTarget{11, 8};
inline constexpr RegisterField DeviceType{7, 0};

constexpr std::uint32_t Make(std::uint32_t DeviceType, std::uint32_t Target) {
  return FieldValue(DecodeAttributes::DecodeTarget, Target) |
         FieldValue(DecodeAttributes::DeviceType, DeviceType);
}
} // namespace DecodeAttributes

namespace DecodeDevice {
inline constexpr std::uint8_t Floppy = 1;
inline constexpr std::uint8_t Keyboard = 2;
inline constexpr std::uint8_t KeyboardFirst = 2; // types 2-5 all mean the keyboard controller
inline constexpr std::uint8_t KeyboardLast = 5;
inline constexpr std::uint8_t Serial = 6;
inline constexpr std::uint8_t Parallel = 7;
inline constexpr std::uint8_t GamePort = 8;
inline constexpr std::uint8_t Other = 0xFF; // decoded by its port alone
} // namespace DecodeDevice

// For serial requests the size byte selects which of the two COM decoders is meant.
namespace SerialSelector {
inline constexpr std::uint8_t ComA = 0;
inline constexpr std::uint8_t ComB = 1;
} // namespace SerialSelector

// Port 0 turns a device's decoding off instead of naming a base.
inline constexpr std::uint16_t DecodeOffPort = 0;

// One row of the decode table, packed little-endian and read in place from flash.
struct DecodeRequestRow {
  std::uint16_t Port;
  std::uint8_t Size; // serial selector for serial requests
  std::uint8_t Reserved;
  std::uint32_t Attributes;
};
static_assert(sizeof(DecodeRequestRow) == 8);
static_assert(offsetof(DecodeRequestRow, Port) == 0);
static_assert(offsetof(DecodeRequestRow, Size) == 2);
static_assert(offsetof(DecodeRequestRow, Reserved) == 3);
static_assert(offsetof(DecodeRequestRow, Attributes) == 4);
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the board tables are little-endian");
