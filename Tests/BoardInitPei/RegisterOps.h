// The trace of a decode run as bridge-register operations: each configuration access through the
// port frame becomes one `CFG` line, each access through the enhanced window one `ECAM` line,
// each private-configuration access one `PCR` line. Frame bookkeeping (flags, interrupt flag,
// address latch) is left out; any other access keeps its plain trace line.
#pragma once

#include "Board.h"
#include "TraceText.h"

#include <cstdio>
#include <string>
#include <vector>

namespace pei::test {

inline constexpr std::uint64_t BridgeEcam = 0xE00F8000;
inline constexpr std::uint64_t PcrBase = 0xFD880000;

inline std::string Op(const char *Space, bool Write, unsigned Width, std::uint64_t Offset,
                      std::uint64_t Value) {
  char Line[64];
  std::snprintf(Line, sizeof Line, "%s %s%u 0x%03llX 0x%0*llX", Space, Write ? "WR" : "RD",
                Width * 8, static_cast<unsigned long long>(Offset), static_cast<int>(Width * 2),
                static_cast<unsigned long long>(Value));
  return Line;
}

inline std::vector<std::string> RegisterOps(const sim::Board &Board) {
  using sim::AccessKind;
  std::vector<std::string> Ops;
  std::uint32_t Latch = 0;
  for (const sim::TraceRecord &Record : Board.trace()) {
    const bool Port = Record.Kind == AccessKind::PortIn || Record.Kind == AccessKind::PortOut;
    const bool Memory = Record.Kind == AccessKind::MemRead || Record.Kind == AccessKind::MemWrite;
    const bool Write = Record.Kind == AccessKind::PortOut || Record.Kind == AccessKind::MemWrite;
    if (Port && Record.Address == 0xCF8) {
      if (Write) {
        Latch = static_cast<std::uint32_t>(Record.Value);
      }
    } else if (Port && Record.Address >= 0xCFC && Record.Address < 0xD00) {
      Ops.push_back(
          Op("CFG", Write, Record.Width, (Latch & 0xFC) + (Record.Address - 0xCFC), Record.Value));
    } else if (Memory && Record.Address >= BridgeEcam && Record.Address < BridgeEcam + 0x1000) {
      Ops.push_back(Op("ECAM", Write, Record.Width, Record.Address - BridgeEcam, Record.Value));
    } else if (Memory && Record.Address >= PcrBase && Record.Address < PcrBase + 0x10000) {
      Ops.push_back(Op("PCR", Write, Record.Width, Record.Address - PcrBase, Record.Value));
    } else if (Port || Memory) {
      Ops.push_back(sim::FormatRecord(Record, false));
    }
  }
  return Ops;
}

// Writes of any kind, the address latch excepted.
inline std::size_t CountWrites(const sim::Board &Board) {
  std::size_t Count = 0;
  for (const sim::TraceRecord &Record : Board.trace()) {
    const bool PortWrite = Record.Kind == sim::AccessKind::PortOut && Record.Address != 0xCF8;
    Count += (PortWrite || Record.Kind == sim::AccessKind::MemWrite) ? 1 : 0;
  }
  return Count;
}

} // namespace pei::test
