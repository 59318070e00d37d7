#include "Progress.h"

#include "ToolOutput.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace boardsim {
namespace {

// A run shorter than this shows nothing; the line is redrawn at most this often.
constexpr std::chrono::milliseconds QuietFor{1000};
constexpr std::chrono::milliseconds RedrawEvery{250};

// Back to the line's start and erase it: a Ctrl-C during the run leaves no count on the screen.
constexpr const char *EraseLine = "\r\033[K";

} // namespace

Progress::Progress(std::uint64_t Budget, bool Shown)
    : Budget_(Budget), Shown_(Shown), Start_(Clock::now()) {}

bool Progress::StandardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

void Progress::check() {
  const Clock::time_point Now = Clock::now();
  if (Now - Start_ < QuietFor || (Drawn_ && Now - LastDrawn_ < RedrawEvery)) {
    return;
  }
  const std::string Line =
      "boardsim: " + std::to_string(Accesses_) + " of " + std::to_string(Budget_) + " steps";
  if (!Drawn_) {
    tooloutput::SetSignalFarewell(EraseLine);
  }
  std::fprintf(stderr, "\r%s", Line.c_str());
  std::fflush(stderr);
  LineLength_ = Line.size();
  LastDrawn_ = Now;
  Drawn_ = true;
}

void Progress::finish() {
  if (Drawn_) {
    std::fprintf(stderr, "\r%s\r", std::string(LineLength_, ' ').c_str());
    std::fflush(stderr);
    Drawn_ = false;
    tooloutput::SetSignalFarewell(nullptr);
  }
}

} // namespace boardsim
