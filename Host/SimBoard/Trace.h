// The record of every access a run makes, one line per record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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

// Where in a shipped image an access was made: what a run of an image can tell of each record.
struct AccessSite {
  std::uint64_t Address = 0; // the instruction that made it
  std::string At;            // "IoRead8+0x4": the function of the image's map, and the offset in it
  std::string File;          // its source line, from the debug information beside the image;
  unsigned Line = 0;         // empty and 0 without it
  // The function that called the access primitive: "WaitStatusClear"; empty when the machine does
  // not follow calls, or the instruction is not in a primitive.
  std::string Caller;
};

// A record's line in a trace file may end in a note of where it was made, after this mark:
// `IN8 0x03FD 0x60  ; UART line status  @ 0x0040031C IoRead8+0x4 (Library/...:12) from SendByte`.
// The note is not part of the record: readers that compare records drop it.
inline constexpr const char *WhereMark = "  @ ";
// "0x0040031C IoRead8+0x4 (Library/HwAccess/X86.cpp:12) from SendByte".
std::string FormatSite(const AccessSite &Site);
// A trace file's line without its note of where.
std::string_view WithoutSite(std::string_view Line);

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
