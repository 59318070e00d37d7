// Port-write scripts: byte writes to I/O ports, each optionally merged with the port's value.
#pragma once

#include "HwAccess.h"

#include <cstddef>
#include <cstdint>

// One row, packed little-endian and read in place from flash.
struct IoScriptRow {
  std::uint16_t Port;
  std::uint8_t AndMask; // 0: a plain write of OrValue; otherwise merged with the port's value
  std::uint8_t OrValue;
};
static_assert(sizeof(IoScriptRow) == 4);
static_assert(offsetof(IoScriptRow, Port) == 0);
static_assert(offsetof(IoScriptRow, AndMask) == 2);
static_assert(offsetof(IoScriptRow, OrValue) == 3);
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the board tables are little-endian");

inline constexpr std::uint8_t IoScriptPlainWrite = 0;

// Runs the rows in order: one 8-bit OUT per row, preceded by one 8-bit IN of the same port when
// the row's and-mask is non-zero.
BOARD_REGCALL void RunIoScript(const IoScriptRow *Table, std::size_t Count);
