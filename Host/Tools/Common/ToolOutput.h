// What a tool writes is data: a run that fails leaves every existing file as it was, and an error
// writing or closing an output is never silent. Each file output is written to a temporary file
// beside its target and renamed over it only once every output, standard output included, has
// been written and closed without error. The targets are then renamed one by one, not as one
// step: should a rename itself fail, the targets renamed before it already hold the new output,
// the rest keep the old, and the failure is reported.
#pragma once

#include <fmt/format.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tooloutput {

// Command-line input about outputs that cannot be honoured (the message names the options and
// paths). Callers print it and exit 2.
class BadOutput : public std::runtime_error {
public:
  using runtime_error::runtime_error;
};

// An output that could not be created, written, closed or put in place. One line:
// "cannot write 'PATH': <system's reason>", or "cannot write standard output: <reason>" for "-".
// Callers exit 1.
class WriteFailed : public std::runtime_error {
public:
  WriteFailed(const std::string &Path, int Error);
};

// One destination. Writes are buffered and never throw; the first error is kept and reported by
// OutputSet::commit().
class Output {
public:
  Output(const Output &) = delete;
  Output &operator=(const Output &) = delete;

  void write(std::string_view Bytes);
  template <typename... Args> void format(fmt::format_string<Args...> Format, Args &&...Values) {
    write(fmt::format(Format, std::forward<Args>(Values)...));
  }
  bool toStandardOutput() const { return Path == "-"; }

private:
  friend class OutputSet;
  Output(std::string Label, std::string Path);
  void flush();
  void close();

  std::string Label, Path;
  std::string Target;    // where the temporary is renamed to (a symlink's file, not the link)
  std::string Temporary; // empty when written directly (standard output, a device, a FIFO)
  int Fd = -1;
  int Error = 0; // errno of the first failure
  std::string Buffer;
};

class OutputSet {
public:
  OutputSet() = default;
  OutputSet(const OutputSet &) = delete;
  OutputSet &operator=(const OutputSet &) = delete;
  // Without commit(): removes the temporaries, so a failed run leaves nothing behind.
  ~OutputSet();

  // Path "-" is standard output. Throws BadOutput when Path names the destination of an output
  // added before: both standard output, or the same file by another name (a relative path, a
  // hard or symbolic link, the file standard output is redirected to). A character device such
  // as /dev/null or a terminal may take several outputs. Label names the option in messages.
  Output &add(std::string Label, std::string Path);
  // Standard output for a tool's summary or report: the "-" output added before, or a new one.
  Output &standardOutput();
  // Creates every output before anything existing is touched: a temporary file beside each
  // regular or not yet existing target (permissions as for a new file), or for an existing
  // device, FIFO or terminal the path itself. Throws WriteFailed for the first that fails.
  void open();
  // Flushes and closes every output and checks every error, standard output's too; only then
  // renames each temporary over its target. On any failure removes every temporary, leaves the
  // targets untouched and throws WriteFailed for the first failure.
  void commit();

private:
  void discard();

  std::vector<std::unique_ptr<Output>> Outputs;
  bool Opened = false;
};

// Text on standard error, as fprintf writes it: a failure to report cannot be reported either.
template <typename... Args> void PrintError(fmt::format_string<Args...> Format, Args &&...Values) {
  const std::string Text = fmt::format(Format, std::forward<Args>(Values)...);
  std::fwrite(Text.data(), 1, Text.size(), stderr);
}

// Call first in main(): a closed descriptor 0, 1 or 2 is occupied by /dev/null opened read-only,
// so that a write there fails (EBADF) instead of landing in a file that took its number.
void GuardStandardDescriptors();

} // namespace tooloutput
