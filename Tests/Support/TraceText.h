// Test helpers: the trace as text lines, optionally narrowed to one window of addresses.
#pragma once

#include "Board.h"

#include <string>
#include <vector>

namespace sim::test {

inline std::vector<std::string> Lines(const std::vector<TraceRecord> &Trace) {
  std::vector<std::string> Result;
  for (const TraceRecord &Record : Trace) {
    if (Record.Kind != AccessKind::Note) {
      Result.push_back(FormatRecord(Record, false));
    }
  }
  return Result;
}

inline std::vector<std::string> Lines(const Board &Target) {
  return Lines(Target.trace());
}

// The accesses with their comments: register names and where an access went.
inline std::vector<std::string> LinesWithComments(const Board &Target) {
  std::vector<std::string> Result;
  for (const TraceRecord &Record : Target.trace()) {
    if (Record.Kind != AccessKind::Note) {
      Result.push_back(FormatRecord(Record, true));
    }
  }
  return Result;
}

// Memory accesses that fall into [Base, Base + Size).
inline std::vector<std::string> MemoryLines(const Board &Target, std::uint64_t Base,
                                            std::uint64_t Size) {
  std::vector<TraceRecord> Window;
  for (const TraceRecord &Record : Target.trace()) {
    const bool Memory = Record.Kind == AccessKind::MemRead || Record.Kind == AccessKind::MemWrite;
    if (Memory && Record.Address >= Base && Record.Address < Base + Size) {
      Window.push_back(Record);
    }
  }
  return Lines(Window);
}

inline std::size_t CountMatching(const Board &Target, AccessKind Kind, std::uint64_t Address) {
  std::size_t Count = 0;
  for (const TraceRecord &Record : Target.trace()) {
    Count += (Record.Kind == Kind && Record.Address == Address) ? 1 : 0;
  }
  return Count;
}

} // namespace sim::test
