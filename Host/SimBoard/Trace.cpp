#include "Trace.h"

#include <cstdio>

namespace sim {
std::string HexText(std::uint64_t Value, int Digits) {
  char Buffer[24];
  std::snprintf(Buffer, sizeof Buffer, "0x%0*llX", Digits, static_cast<unsigned long long>(Value));
  return Buffer;
}

const char *KindMnemonic(AccessKind Kind) {
  switch (Kind) {
  case AccessKind::PortIn:
    return "IN";
  case AccessKind::PortOut:
    return "OUT";
  case AccessKind::MemRead:
    return "RD";
  case AccessKind::MemWrite:
    return "WR";
  case AccessKind::Flags:
    return "FLAGS";
  case AccessKind::Cli:
    return "CLI";
  case AccessKind::Sti:
    return "STI";
  case AccessKind::Pause:
    return "PAUSE";
  case AccessKind::Rdtsc:
    return "RDTSC";
  case AccessKind::Note:
    return "#";
  }
  return "?";
}

std::string FormatRecord(const TraceRecord &Record, bool WithComment) {
  std::string Line = KindMnemonic(Record.Kind);
  switch (Record.Kind) {
  case AccessKind::PortIn:
  case AccessKind::PortOut:
    Line += std::to_string(Record.Width * 8) + " " + HexText(Record.Address, 4) + " " +
            HexText(Record.Value, static_cast<int>(Record.Width * 2));
    break;
  case AccessKind::MemRead:
  case AccessKind::MemWrite:
    Line += std::to_string(Record.Width * 8) + " " + HexText(Record.Address, 8) + " " +
            HexText(Record.Value, static_cast<int>(Record.Width * 2));
    break;
  case AccessKind::Flags:
    Line += " " + HexText(Record.Value, 8);
    break;
  case AccessKind::Rdtsc:
    Line += " " + HexText(Record.Value, 16);
    break;
  case AccessKind::Note:
    return "# " + Record.Text;
  case AccessKind::Cli:
  case AccessKind::Sti:
  case AccessKind::Pause:
    break;
  }
  if (WithComment && !Record.Text.empty()) {
    Line += "  ; " + Record.Text;
  }
  return Line;
}

std::string FormatTrace(const std::vector<TraceRecord> &Trace, bool WithComments) {
  std::string Text;
  for (const TraceRecord &Record : Trace) {
    Text += FormatRecord(Record, WithComments);
    Text += '\n';
  }
  return Text;
}

std::size_t CountAccesses(const std::vector<TraceRecord> &Trace) {
  std::size_t Count = 0;
  for (const TraceRecord &Record : Trace) {
    Count += Record.Kind != AccessKind::Note ? 1 : 0;
  }
  return Count;
}

} // namespace sim
