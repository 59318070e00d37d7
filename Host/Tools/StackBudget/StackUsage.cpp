#include "StackUsage.h"

#include "FrameWalk.h"

#include <sstream>

namespace stack {

std::map<std::string, UsageRecord> ParseStackUsage(const std::string &Path,
                                                   const std::string &Text) {
  std::map<std::string, UsageRecord> Records;
  std::istringstream Lines(Text);
  std::string Line;
  while (std::getline(Lines, Line)) {
    if (Line.empty()) {
      continue;
    }
    const auto FirstTab = Line.find('\t');
    const auto SecondTab = Line.find('\t', FirstTab == std::string::npos ? 0 : FirstTab + 1);
    const auto NameStart = Line.rfind(':', FirstTab);
    if (FirstTab == std::string::npos || SecondTab == std::string::npos ||
        NameStart == std::string::npos) {
      throw AnalysisError(Path + ": not a stack-usage record: " + Line);
    }
    UsageRecord Record;
    const std::string Bytes = Line.substr(FirstTab + 1, SecondTab - FirstTab - 1);
    if (Bytes.empty() || Bytes.find_first_not_of("0123456789") != std::string::npos) {
      throw AnalysisError(Path + ": not a stack-usage record: " + Line);
    }
    Record.Bytes = std::stoull(Bytes);
    Record.Qualifier = Line.substr(SecondTab + 1);
    std::string Name = Line.substr(NameStart + 1, FirstTab - NameStart - 1);
    // A leading \x01 marks a name given in assembly form, which the object uses verbatim.
    if (!Name.empty() && Name[0] == '\x01') {
      Name.erase(0, 1);
    }
    auto [At, Fresh] = Records.emplace(Name, Record);
    if (!Fresh && Record.Bytes > At->second.Bytes) {
      At->second = Record;
    }
  }
  return Records;
}

} // namespace stack
