// What a tool writes is data: a run that fails leaves every existing file as it was, and an error
// writing or closing an output is never silent. What holds:
// - An output that is one of the run's inputs (the same file by any name or link) is bad input,
//   found before anything is touched.
// - A target the user may not write is refused before the run, as the shell would refuse it
//   ("cannot write 'X': Permission denied"); a privileged user may replace a read-only file, as
//   the shell lets it.
// - Each file output is written to a temporary file beside its target (TARGET.partial.XXXXXX)
//   and renamed over it only once every output has been written and closed without error.
//   Standard output, and a device or FIFO, are written directly: after every file output has
//   been written and before any rename, so a failed file output leaves standard output without
//   a word of the run. (An output past 64 KiB is written as the run goes: a trace to standard
//   output cannot be taken back.)
// - A replaced file keeps its permission bits; a new one gets 0666 less the umask. The owner of
//   a replaced file becomes the user who ran the tool.
// - The renames are all or nothing: each existing target but the last is first hard-linked to
//   TARGET.backup.XXXXXX; should rename k fail, the targets renamed before it are put back from
//   their links (or removed when they did not exist) and the failure is reported. A file system
//   without hard links fails a run of two file outputs or more before anything is replaced.
//   Should putting a target back fail as well, its old bytes stay in its backup link, beside it.
// - SIGINT, SIGTERM and SIGHUP between open() and the end of commit() remove every temporary,
//   then end the process by the same signal (a signal the tool was started ignoring stays
//   ignored). During the renames these signals are held until the renames are done or undone.
//   SIGKILL and a crash leave the temporaries.
#pragma once

#include <fmt/format.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tooloutput {

// Command-line input about outputs that cannot be honoured (the message names the options and
// paths). Callers print it and exit with ExitBadInput (ExitStatus.h).
class BadOutput : public std::runtime_error {
public:
  using runtime_error::runtime_error;
};

// An output that could not be created, written, closed or put in place. One line:
// "cannot write 'PATH': <system's reason>", or "cannot write standard output: <reason>" for "-".
// Callers exit with ExitOutputFailed (ExitStatus.h).
class WriteFailed : public std::runtime_error {
public:
  WriteFailed(const std::string &Path, int Error);
  // With what failed on the way: "cannot write 'PATH': DETAIL: <system's reason>".
  WriteFailed(const std::string &Path, const std::string &Detail, int Error);
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

  // A file the run reads; What names it in messages ("the image"). An output on the same file is
  // bad input: add() (or addInput(), whichever comes second) throws BadOutput, "--json 'X' is the
  // image this run reads". A path that does not exist is no conflict.
  void addInput(std::string What, std::string Path);
  // Path "-" is standard output. Throws BadOutput when Path names an input, or the destination
  // of an output added before: both standard output, or the same file by another name (a relative
  // path, a hard or symbolic link, the file standard output is redirected to). A character device
  // such as /dev/null or a terminal may take several outputs. Label names the option in messages.
  Output &add(std::string Label, std::string Path);
  // Standard output for a tool's summary or report: the "-" output added before, or a new one.
  Output &standardOutput();
  // Creates every output before anything existing is touched: a temporary file beside each
  // regular or not yet existing target, or for an existing device, FIFO or terminal the path
  // itself. A target the user may not write is refused. Throws WriteFailed for the first that
  // fails, and removes the temporaries made before it.
  void open();
  // Flushes and closes every file output, then the direct ones, standard output last, checking
  // every error; only then renames each temporary over its target, all or nothing. On any
  // failure removes every temporary, leaves the targets as they were and throws WriteFailed for
  // the first failure.
  void commit();

  // For tests: the rename of the temporary of output Index fails with Error (a file system that
  // refuses a rename after allowing the ones before it).
  void failRenameForTest(std::size_t Index, int Error) { FailRename = {Index, Error}; }

private:
  void discard();
  void replaceTargets();

  struct Input {
    std::string What, Path;
  };
  std::vector<Input> Inputs;
  std::vector<std::unique_ptr<Output>> Outputs;
  bool Opened = false;
  struct {
    std::size_t Index = SIZE_MAX;
    int Error = 0;
  } FailRename;
};

// Text on standard error, as fprintf writes it: a failure to report cannot be reported either.
template <typename... Args> void PrintError(fmt::format_string<Args...> Format, Args &&...Values) {
  const std::string Text = fmt::format(Format, std::forward<Args>(Values)...);
  std::fwrite(Text.data(), 1, Text.size(), stderr);
}

// Call first in main(): a closed descriptor 0, 1 or 2 is occupied by /dev/null opened read-only,
// so that a write there fails (EBADF) instead of landing in a file that took its number.
void GuardStandardDescriptors();

// Text written to standard error when SIGINT, SIGTERM or SIGHUP ends the process (after the
// temporaries are removed): a progress line's erasure, so that no half line stays on the
// terminal. nullptr: none. The text must stay valid while it is set.
void SetSignalFarewell(const char *Text);

} // namespace tooloutput
