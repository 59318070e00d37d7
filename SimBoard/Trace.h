// The record of every access a run makes, one line per record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class AccessKind { PortIn, PortOut, MemRead, MemWrite, Flags, Cli, Sti, Pause, Rdtsc, Note };

struct TraceRecord {
  AccessKind Kind = AccessKind::Note;
  unsigned Width = 0;        // bytes, for port and memory accesses
  std::uint64_t Address = 0; // port or physical address
  std::uint64_t Value = 0;
  std::string Text; // annotation text (Note) or register name comment
};

// `IN8 0x03FD 0x60`, `WR32 0xFE032000 0x00C0008F  ; SPI control 0`, `# LocateProtocol ...`.
std::string FormatRecord(const TraceRecord &Record, bool WithComment = true);
std::string FormatTrace(const std::vector<TraceRecord> &Trace, bool WithComments = true);

// Records of hardware accesses (annotations excluded).
std::size_t CountAccesses(const std::vector<TraceRecord> &Trace);

} // namespace sim
