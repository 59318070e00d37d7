#include "LastAccesses.h"

namespace boardsim {
namespace {

// Where a trace record's annotation begins: "IN8 0x03FD 0x00  ; UART line status".
constexpr const char *AnnotationStart = "  ; ";

} // namespace

std::vector<std::string> CollapsedRecords(const std::vector<sim::TraceRecord> &Records) {
  std::vector<std::string> Lines;
  std::string Previous;
  std::size_t Repeats = 0;
  // The count goes after the record's fields, before its annotation.
  const auto Flush = [&] {
    if (Repeats == 0) {
      return;
    }
    if (Repeats == 1) {
      Lines.push_back(Previous);
      return;
    }
    const std::string Count = "  (x" + std::to_string(Repeats) + ")";
    const std::string::size_type Annotation = Previous.find(AnnotationStart);
    Lines.push_back(Annotation == std::string::npos
                        ? Previous + Count
                        : Previous.substr(0, Annotation) + Count + Previous.substr(Annotation));
  };
  for (const sim::TraceRecord &Record : Records) {
    std::string Line = sim::FormatRecord(Record);
    if (Line != Previous) {
      Flush();
      Previous = std::move(Line);
      Repeats = 0;
    }
    ++Repeats;
  }
  Flush();
  return Lines;
}

} // namespace boardsim
