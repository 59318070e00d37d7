#include "TextWrap.h"

#include <sstream>

namespace boardsim {
namespace {

constexpr std::size_t ContinuationIndent = 2;

void WrapLine(std::ostringstream &Out, std::string Line, std::size_t Width) {
  const std::size_t Indent = Line.find_first_not_of(' ');
  const std::string Continuation((Indent == std::string::npos ? 0 : Indent) + ContinuationIndent,
                                 ' ');
  while (Line.size() > Width) {
    // The last blank that leaves the line within Width, past the indent.
    std::size_t Break = Line.rfind(' ', Width);
    if (Break == std::string::npos || Break <= Continuation.size()) {
      Break = Line.find(' ', Continuation.size() + 1);
      if (Break == std::string::npos) {
        break;
      }
    }
    Out << Line.substr(0, Break) << "\n";
    const std::size_t Rest = Line.find_first_not_of(' ', Break);
    Line = Rest == std::string::npos ? std::string() : Continuation + Line.substr(Rest);
  }
  if (!Line.empty()) {
    Out << Line << "\n";
  }
}

} // namespace

std::string WrapLines(const std::string &Text, std::size_t Width) {
  std::ostringstream Out;
  std::istringstream Lines(Text);
  for (std::string Line; std::getline(Lines, Line);) {
    if (Line.empty()) {
      Out << "\n";
    } else {
      WrapLine(Out, std::move(Line), Width);
    }
  }
  return Out.str();
}

} // namespace boardsim
