// The record of every access a run makes, one line per record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class AccessKind { PortIn, PortOut, MemRead, MemWrite, Flags, Cli, Sti, Pause, Rdtsc, Note };
inline constexpr std::size_t AccessKindCount = 10;

// Port and memory accesses go over a bus to a device; the others are events of the processor.
constexpr bool IsBusAccess(AccessKind Kind) {
  return Kind == AccessKind::PortIn || Kind == AccessKind::PortOut || Kind == AccessKind::MemRead ||
         Kind == AccessKind::MemWrite;
}

struct TraceRecord {
  AccessKind Kind = AccessKind::Note;
  unsigned Width = 0;        // bytes, for port and memory accesses
  std::uint64_t Address = 0; // port or physical address
  std::uint64_t Value = 0;
  std::string Text; // annotation text (Note) or register name comment
};

// The first line of a trace file: the format's name and version. A reader takes a file for a
// trace only when it starts with this line; the records follow, one a line. (An annotation starts
// "# ", so the header is never read as one.)
inline constexpr const char *TraceFileHeader = "#boardsim-trace version 1";
// The line of a trace file (counted from 1) that holds record Record (counted from 0).
constexpr std::size_t TraceFileLine(std::size_t Record) {
  return Record + 2;
}

// `IN8 0x03FD 0x60`, `WR32 0xFE032000 0x00C0008F  ; SPI control 0`, `# LocateProtocol ...`.
std::string FormatRecord(const TraceRecord &Record, bool WithComment = true);
// Whether two records are the same record: kind, width, address, value and text.
bool SameRecord(const TraceRecord &A, const TraceRecord &B);
std::string FormatTrace(const std::vector<TraceRecord> &Trace, bool WithComments = true);

// Records of hardware accesses (annotations excluded).
std::size_t CountAccesses(const std::vector<TraceRecord> &Trace);

// "0x03F8" for (0x3F8, 4): the value in upper-case hexadecimal, at least Digits digits.
std::string HexText(std::uint64_t Value, int Digits);

// The mnemonic of a record's kind: "IN", "WR", "FLAGS", "#", ...
const char *KindMnemonic(AccessKind Kind);

} // namespace sim
