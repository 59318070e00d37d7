#include "Trace.h"

#include <algorithm>
#include <cstdio>

namespace sim {
std::string HexText(std::uint64_t Value, int Digits) {
  char Buffer[24];
  std::snprintf(Buffer, sizeof Buffer, "0x%0*llX", Digits, static_cast<unsigned long long>(Value));
  return Buffer;
}

const char *KindMnemonic(AccessKind Kind) {
  static constexpr const char *Mnemonics[] = {"IN",  "OUT", "RD",    "WR",    "FLAGS",
                                              "CLI", "STI", "PAUSE", "RDTSC", "#"};
  static_assert(std::size(Mnemonics) == AccessKindCount);
  return Mnemonics[static_cast<std::size_t>(Kind)];
}

std::string FormatRecord(const TraceRecord &Record, bool WithComment) {
  std::string Line = KindMnemonic(Record.Kind);
  switch (Record.Kind) {
  case AccessKind::PortIn:
  case AccessKind::PortOut:
  case AccessKind::MemRead:
  case AccessKind::MemWrite: {
    const bool Port = Record.Kind == AccessKind::PortIn || Record.Kind == AccessKind::PortOut;
    Line += std::to_string(Record.Width * 8) + " " + HexText(Record.Address, Port ? 4 : 8) + " " +
            HexText(Record.Value, static_cast<int>(Record.Width * 2));
    break;
  }
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

std::string FormatSite(const AccessSite &Site) {
  std::string Text = HexText(Site.Address, 8) + " " + Site.At;
  if (!Site.File.empty()) {
    Text += " (" + Site.File + ":" + std::to_string(Site.Line) + ")";
  }
  if (!Site.Caller.empty()) {
    Text += " from " + Site.Caller;
  }
  return Text;
}

std::string_view WithoutSite(std::string_view Line) {
  if (Line.starts_with("#")) {
    return Line;
  }
  return Line.substr(0, Line.find(WhereMark));
}

std::string FormatTrace(const std::vector<TraceRecord> &Trace, bool WithComments) {
  std::string Text;
  for (const TraceRecord &Record : Trace) {
    Text += FormatRecord(Record, WithComments) + '\n';
  }
  return Text;
}

std::size_t CountAccesses(const std::vector<TraceRecord> &Trace) {
  return static_cast<std::size_t>(std::count_if(Trace.begin(), Trace.end(), [](const auto &Record) {
    return Record.Kind != AccessKind::Note;
  }));
}

bool SameRecord(const TraceRecord &A, const TraceRecord &B) {
  return A.Kind == B.Kind && A.Width == B.Width && A.Address == B.Address && A.Value == B.Value &&
         A.Text == B.Text;
}

} // namespace sim
