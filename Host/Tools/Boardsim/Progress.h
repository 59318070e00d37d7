// Signs of life for a long run: "boardsim: 2300000 of 10000000 steps" on standard error, when
// standard error is a terminal and the run has taken more than a second. Scripts and tests,
// whose standard error is a file or a pipe, see nothing.
#pragma once

#include <chrono>
#include <cstdint>

namespace boardsim {

class Progress {
public:
  // Budget: the step budget the count is shown against. Shown: whether a line may be drawn at
  // all (standard error is a terminal).
  Progress(std::uint64_t Budget, bool Shown);
  // A run that ends in an error clears the line too, before the error is printed.
  ~Progress() { finish(); }
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;
  // Call once an access; cheap: the clock is read only every ClockInterval accesses.
  void access() {
    if (++Accesses_ % ClockInterval == 0 && Shown_) {
      check();
    }
  }
  // Clears the line, if one was drawn, before anything else goes to standard error.
  void finish();

  // Whether standard error is a terminal.
  static bool StandardErrorIsTerminal();

private:
  static constexpr std::uint64_t ClockInterval = 4096;
  void check();

  using Clock = std::chrono::steady_clock;
  std::uint64_t Budget_;
  bool Shown_;
  std::uint64_t Accesses_ = 0;
  Clock::time_point Start_;
  Clock::time_point LastDrawn_{};
  bool Drawn_ = false;
  std::size_t LineLength_ = 0;
};

} // namespace boardsim
