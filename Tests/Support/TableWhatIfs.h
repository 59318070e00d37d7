// The early-init module's board tables written out row by row, and the what-ifs the tests run in
// their place, each with the board it should leave. Stated here once, value by value, for the host
// build's test and the image's: a row the module holds differently, or a field a run writes into
// the wrong bytes of a row, shows as a different board or a trace that parts.
#pragma once

#include "TableRows.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

namespace tabletest {

inline const std::vector<sim::DecodeTableRow> OwnDecodeRows = {
    {0x002E, 2, 0x000000FF},    {0x004E, 2, 0x000000FF}, {0x006C, 2, 0x000000FF},
    {0x0280, 2, 0x000000FF},    {0x0062, 2, 0x000000FF}, {0x002E, 2, 0x000000FF},
    {0x03F8, 0, 0x00000006},    {0x02F8, 1, 0x00000006}, {0x0060, 0, 0x00000002},
    {0x0A00, 0x90, 0x000000FF},
};

inline const std::vector<sim::ScriptTableRow> OwnScriptRows = {
    {0x2E, 0, 0x87}, {0x2E, 0, 0x01}, {0x2E, 0, 0x55}, {0x2E, 0, 0x55}, {0x2E, 0, 0x07},
    {0x2F, 0, 0x0D}, {0x2E, 0, 0x70}, {0x2F, 0, 0x1A}, {0x2E, 0, 0x61}, {0x2F, 0, 0x00},
    {0x2E, 0, 0x72}, {0x2F, 0, 0x00}, {0x2E, 0, 0x74}, {0x2F, 0, 0x00}, {0x2E, 0, 0x76},
    {0x2F, 0, 0xE5}, {0x2E, 0, 0x77}, {0x2F, 0, 0xFF}, {0x2E, 0, 0x30}, {0x2F, 0, 0x01},
    {0x2E, 0, 0x02}, {0x2F, 0, 0x02},
};

// Rows with the ones at the given positions replaced.
template <typename Row>
std::vector<Row> With(std::vector<Row> Rows,
                      std::initializer_list<std::pair<std::size_t, Row>> Changes) {
  for (const auto &[Index, Changed] : Changes) {
    Rows.at(Index) = Changed;
  }
  return Rows;
}

// What a run on the rows leaves: the bridge's decode registers and what the Super I/O chip took.
struct Leaves {
  std::uint16_t IoDecodeRanges;
  std::uint16_t IoEnables;
  std::array<std::uint32_t, 4> Windows; // LPC generic I/O ranges 1-4
  std::uint16_t EspiCs1IoEnables;
  std::size_t SuperIoReads; // of the configuration ports 0x2E/0x2F
  // Accesses of the configuration ports that the bridge sent to the chip, and that it decoded
  // nowhere.
  std::uint64_t ReachedChip;
  std::uint64_t NotDecoded;
  unsigned ChipEntries; // times the chip entered configuration mode
  // Logical device 0x0D's activate and device-specific 0x76 registers; nullopt: never written.
  std::optional<std::uint8_t> Activate;
  std::optional<std::uint8_t> DeviceSpecific76;
};

struct WhatIf {
  const char *Name;
  sim::TableRows Rows;
  Leaves Board;
};

inline const std::vector<WhatIf> &WhatIfs() {
  static const std::vector<WhatIf> Cases = {
      // The module's own rows, given as rows: the module's own board.
      {"its own rows",
       {OwnDecodeRows, OwnScriptRows},
       {.IoDecodeRanges = 0x0070,
        .IoEnables = 0x3C03,
        .Windows = {0x0000006D, 0x00000281, 0x00FC0201, 0x00FC0A01},
        .EspiCs1IoEnables = 0,
        .SuperIoReads = 0,
        .ReachedChip = 22,
        .NotDecoded = 0,
        .ChipEntries = 1,
        .Activate = 0x01,
        .DeviceSpecific76 = 0xE5}},
      // Both rows of the configuration ports at 0x4E: only the 0x4E/0x4F enable is set, so the
      // script's 22 writes to 0x2E/0x2F reach no chip, which never enters configuration mode.
      {"both 0x2E rows on 0x4E",
       {With(OwnDecodeRows, {{0, {0x004E, 2, 0x000000FF}}, {5, {0x004E, 2, 0x000000FF}}}),
        std::nullopt},
       {.IoDecodeRanges = 0x0070,
        .IoEnables = 0x2C03,
        .Windows = {0x0000006D, 0x00000281, 0x00FC0201, 0x00FC0A01},
        .EspiCs1IoEnables = 0,
        .SuperIoReads = 0,
        .ReachedChip = 0,
        .NotDecoded = 22,
        .ChipEntries = 0,
        .Activate = std::nullopt,
        .DeviceSpecific76 = std::nullopt}},
      // Port 0 turns the COM decoders off; no request opens the window at 0x200.
      {"COM A and COM B rows on port 0",
       {With(OwnDecodeRows, {{6, {0x0000, 0, 0x00000006}}, {7, {0x0000, 1, 0x00000006}}}),
        std::nullopt},
       {.IoDecodeRanges = 0x0000,
        .IoEnables = 0x3C00,
        .Windows = {0x0000006D, 0x00000281, 0x00FC0A01, 0x00000000},
        .EspiCs1IoEnables = 0,
        .SuperIoReads = 0,
        .ReachedChip = 22,
        .NotDecoded = 0,
        .ChipEntries = 1,
        .Activate = 0x01,
        .DeviceSpecific76 = 0xE5}},
      // The EC on chip select 1: its enable there, and chip select 1's enables for the
      // configuration ports, which the LPC enables already hold; the chip on LPC still gets
      // the script.
      {"the EC row on eSPI chip select 1",
       {With(OwnDecodeRows, {{4, {0x0062, 2, 0x000001FF}}}), std::nullopt},
       {.IoDecodeRanges = 0x0070,
        .IoEnables = 0x3C03,
        .Windows = {0x0000006D, 0x00000281, 0x00FC0201, 0x00FC0A01},
        .EspiCs1IoEnables = 0x3800,
        .SuperIoReads = 0,
        .ReachedChip = 22,
        .NotDecoded = 0,
        .ChipEntries = 1,
        .Activate = 0x01,
        .DeviceSpecific76 = 0xE5}},
      // Register 0x76 merged into what the chip holds there (0, never written): one read of the
      // data port, and 0x05 written.
      {"register 0x76 merged into the chip's value",
       {std::nullopt, With(OwnScriptRows, {{15, {0x2F, 0xF0, 0x05}}})},
       {.IoDecodeRanges = 0x0070,
        .IoEnables = 0x3C03,
        .Windows = {0x0000006D, 0x00000281, 0x00FC0201, 0x00FC0A01},
        .EspiCs1IoEnables = 0,
        .SuperIoReads = 1,
        .ReachedChip = 23,
        .NotDecoded = 0,
        .ChipEntries = 1,
        .Activate = 0x01,
        .DeviceSpecific76 = 0x05}},
  };
  return Cases;
}

} // namespace tabletest
