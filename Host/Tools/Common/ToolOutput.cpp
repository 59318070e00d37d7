#include "ToolOutput.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace tooloutput {

namespace {

constexpr std::size_t FlushThreshold = 64 * 1024;

// What a path leads to, for telling whether two outputs would land in the same file.
struct Destination {
  bool StandardOutput = false;
  bool Exists = false;
  bool Device = false; // a character device takes any number of writers
  dev_t Dev = 0;
  ino_t Ino = 0;
  std::filesystem::path Name; // weakly canonical, for a path that does not exist yet
};

Destination Locate(const std::string &Path) {
  Destination Out;
  struct stat Info;
  Out.StandardOutput = Path == "-";
  Out.Exists =
      Out.StandardOutput ? ::fstat(STDOUT_FILENO, &Info) == 0 : ::stat(Path.c_str(), &Info) == 0;
  if (Out.Exists) {
    Out.Device = S_ISCHR(Info.st_mode);
    Out.Dev = Info.st_dev;
    Out.Ino = Info.st_ino;
  } else if (!Out.StandardOutput) {
    std::error_code Ignored;
    Out.Name = std::filesystem::weakly_canonical(std::filesystem::absolute(Path), Ignored);
  }
  return Out;
}

bool SameDestination(const Destination &A, const Destination &B) {
  if (A.StandardOutput && B.StandardOutput) {
    return true;
  }
  if (A.Exists && B.Exists) {
    return A.Dev == B.Dev && A.Ino == B.Ino && !A.Device;
  }
  return !A.Exists && !B.Exists && !A.StandardOutput && !B.StandardOutput && A.Name == B.Name;
}

std::string Describe(const std::string &Path) {
  return Path == "-" ? "standard output" : "'" + Path + "'";
}

// An output in messages: "--json 'a.json'", "--json (standard output)", "standard output".
std::string Named(const std::string &Label, const std::string &Path) {
  if (Path != "-") {
    return Label + " " + Describe(Path);
  }
  return Label == "standard output" ? Label : Label + " (standard output)";
}

// An output on an input: both exist and are one file. A character device (/dev/stdin read,
// /dev/null written) is no conflict.
bool SameFile(const Destination &Output, const Destination &Input) {
  return Output.Exists && Input.Exists && !Output.Device && Output.Dev == Input.Dev &&
         Output.Ino == Input.Ino;
}

// The temporaries a signal must remove: C strings that stay valid while they are listed. Only
// changed with the handled signals held, so the handler never sees a half-made list.
constexpr int HandledSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t MaxPending = 64;
const char *Pending[MaxPending];
volatile sig_atomic_t PendingCount = 0;
struct sigaction Previous[std::size(HandledSignals)];
bool Installed = false;
// What the handler writes to standard error before the process dies (a progress line's erasure).
const char *volatile Farewell = nullptr;
volatile std::size_t FarewellLength = 0;

extern "C" void RemoveTemporariesAndDie(int Signal) {
  for (sig_atomic_t Each = 0; Each < PendingCount; ++Each) {
    ::unlink(Pending[Each]);
  }
  if (Farewell != nullptr) {
    [[maybe_unused]] const ssize_t Written = ::write(STDERR_FILENO, Farewell, FarewellLength);
  }
  // The action was reset to the default when the handler was entered (SA_RESETHAND): the signal,
  // held while the handler runs, ends the process as it returns.
  ::raise(Signal);
}

sigset_t HandledSet() {
  sigset_t Set;
  ::sigemptyset(&Set);
  for (const int Signal : HandledSignals) {
    ::sigaddset(&Set, Signal);
  }
  return Set;
}

// Holds the handled signals for its lifetime; one that arrives meanwhile is delivered after.
class SignalsHeld {
public:
  SignalsHeld() {
    const sigset_t Set = HandledSet();
    ::sigprocmask(SIG_BLOCK, &Set, &Saved);
  }
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &Saved, nullptr); }
  SignalsHeld(const SignalsHeld &) = delete;
  SignalsHeld &operator=(const SignalsHeld &) = delete;

private:
  sigset_t Saved;
};

// Called with the signals held.
void InstallHandlers() {
  if (!Installed) {
    for (std::size_t Each = 0; Each < std::size(HandledSignals); ++Each) {
      struct sigaction Action {};
      ::sigaction(HandledSignals[Each], nullptr, &Previous[Each]);
      if (Previous[Each].sa_handler == SIG_IGN) {
        continue; // started ignoring it (nohup, a background job): it stays ignored
      }
      Action.sa_handler = RemoveTemporariesAndDie;
      Action.sa_flags = SA_RESETHAND;
      Action.sa_mask = HandledSet(); // one removal at a time
      ::sigaction(HandledSignals[Each], &Action, nullptr);
    }
    Installed = true;
  }
}

// Called with the signals held.
void ListTemporary(const char *Path) {
  InstallHandlers();
  if (static_cast<std::size_t>(PendingCount) < MaxPending) {
    Pending[PendingCount] = Path;
    PendingCount = PendingCount + 1;
  }
}

// Called with the signals held: the list is emptied and the earlier actions come back.
void ForgetTemporaries() {
  PendingCount = 0;
  if (Installed && Farewell == nullptr) {
    for (std::size_t Each = 0; Each < std::size(HandledSignals); ++Each) {
      ::sigaction(HandledSignals[Each], &Previous[Each], nullptr);
    }
    Installed = false;
  }
}

// The backup link of Target, named after its temporary TARGET.partial.XXXXXX.
std::string BackupName(const std::string &Target, const std::string &Temporary) {
  constexpr std::string_view Partial = ".partial.";
  return Target + ".backup." + Temporary.substr(Target.size() + Partial.size());
}

} // namespace

WriteFailed::WriteFailed(const std::string &Path, int Error)
    : std::runtime_error("cannot write " + Describe(Path) + ": " + std::strerror(Error)) {}

WriteFailed::WriteFailed(const std::string &Path, const std::string &Detail, int Error)
    : std::runtime_error("cannot write " + Describe(Path) + ": " + Detail + ": " +
                         std::strerror(Error)) {}

Output::Output(std::string Label, std::string Path)
    : Label(std::move(Label)), Path(std::move(Path)) {
  if (toStandardOutput()) {
    Fd = STDOUT_FILENO;
  }
}

void Output::write(std::string_view Bytes) {
  if (Error != 0) {
    return;
  }
  Buffer.append(Bytes);
  if (Fd >= 0 && Buffer.size() >= FlushThreshold) {
    flush();
  }
}

void Output::flush() {
  std::size_t Done = 0;
  while (Error == 0 && Done < Buffer.size()) {
    const ssize_t Wrote = ::write(Fd, Buffer.data() + Done, Buffer.size() - Done);
    if (Wrote > 0) {
      Done += static_cast<std::size_t>(Wrote);
    } else if (Wrote < 0 && errno != EINTR) {
      Error = errno;
    } else if (Wrote == 0) {
      Error = EIO; // a write that makes no progress would loop for ever
    }
  }
  Buffer.clear();
}

// Standard output stays open: the tool may still report on standard error after it.
void Output::close() {
  if (Fd >= 0 && !toStandardOutput()) {
    // Linux releases the descriptor even when close() is interrupted; do not retry.
    if (::close(Fd) != 0 && errno != EINTR && Error == 0) {
      Error = errno;
    }
    Fd = -1;
  }
}

OutputSet::~OutputSet() {
  discard();
}

void OutputSet::addInput(std::string What, std::string Path) {
  const Destination Read = Locate(Path);
  for (const auto &Each : Outputs) {
    if (SameFile(Locate(Each->Path), Read)) {
      throw BadOutput(Named(Each->Label, Each->Path) + " is " + What + " this run reads");
    }
  }
  Inputs.push_back({std::move(What), std::move(Path)});
}

Output &OutputSet::add(std::string Label, std::string Path) {
  const Destination Wanted = Locate(Path);
  for (const Input &Each : Inputs) {
    if (SameFile(Wanted, Locate(Each.Path))) {
      throw BadOutput(Named(Label, Path) + " is " + Each.What + " this run reads");
    }
  }
  for (const auto &Each : Outputs) {
    if (!SameDestination(Wanted, Locate(Each->Path))) {
      continue;
    }
    if (Path == Each->Path) {
      throw BadOutput(Each->Label + " and " + Label + " both write to " + Describe(Path));
    }
    throw BadOutput(Named(Each->Label, Each->Path) + " and " + Named(Label, Path) +
                    " are the same file");
  }
  Outputs.push_back(std::unique_ptr<Output>(new Output(std::move(Label), std::move(Path))));
  return *Outputs.back();
}

Output &OutputSet::standardOutput() {
  for (const auto &Each : Outputs) {
    if (Each->toStandardOutput()) {
      return *Each;
    }
  }
  return add("standard output", "-");
}

void OutputSet::open() {
  if (Opened) {
    return;
  }
  Opened = true;
  const mode_t Mask = ::umask(0);
  ::umask(Mask);
  const SignalsHeld Held;
  for (const auto &Each : Outputs) {
    if (Each->toStandardOutput()) {
      continue;
    }
    struct stat Info;
    const bool Exists = ::stat(Each->Path.c_str(), &Info) == 0;
    if (Exists && ::access(Each->Path.c_str(), W_OK) != 0) {
      Each->Fd = -1; // refused as the shell refuses it; root may write a read-only file
    } else if (Exists && !S_ISREG(Info.st_mode)) {
      do {
        Each->Fd = ::open(Each->Path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
      } while (Each->Fd < 0 && errno == EINTR);
    } else {
      // Through a symbolic link the file it names is replaced, and the link kept.
      std::error_code NoLink;
      const std::filesystem::path Real = std::filesystem::canonical(Each->Path, NoLink);
      Each->Target = NoLink ? Each->Path : Real.string();
      std::string Name = Each->Target + ".partial.XXXXXX";
      Each->Fd = ::mkostemp(Name.data(), O_CLOEXEC);
      if (Each->Fd < 0 && Exists) {
        // The target exists and may be written, so the failure is its folder's (/proc takes no
        // new file): a bare "No such file or directory" would deny the file the user sees.
        const int Error = errno;
        discard();
        throw WriteFailed(Each->Path,
                          "no file can be made beside it in '" +
                              std::filesystem::path(Each->Target).parent_path().string() + "'",
                          Error);
      }
      if (Each->Fd >= 0) {
        Each->Temporary = std::move(Name);
        ListTemporary(Each->Temporary.c_str());
        // A replaced file keeps its permission bits; a new one is made as the shell makes it.
        const mode_t Mode = Exists ? Info.st_mode & 07777 : 0666 & ~Mask;
        if (::fchmod(Each->Fd, Mode) != 0) {
          Each->Error = errno;
        }
      }
    }
    const int Error = Each->Fd < 0 ? errno : Each->Error;
    if (Error != 0) {
      discard();
      throw WriteFailed(Each->Path, Error);
    }
  }
}

void OutputSet::commit() {
  open();
  // The files first, then what is written directly, standard output last: a failure of any file
  // leaves standard output without a word of the run.
  auto Finish = [this](bool Direct) {
    for (const auto &Each : Outputs) {
      if (Each->Temporary.empty() == Direct && !(Direct && Each->toStandardOutput())) {
        Each->flush();
        Each->close();
        if (Each->Error != 0) {
          return Each.get();
        }
      }
    }
    return static_cast<Output *>(nullptr);
  };
  const Output *Failed = Finish(false);
  Failed = Failed ? Failed : Finish(true);
  for (const auto &Each : Outputs) {
    if (!Failed && Each->toStandardOutput()) {
      Each->flush();
      Failed = Each->Error != 0 ? Each.get() : nullptr;
    }
  }
  if (Failed) {
    discard();
    throw WriteFailed(Failed->Path, Failed->Error);
  }
  replaceTargets();
}

// Every temporary over its target, all or nothing, with the handled signals held so that an
// interruption comes after the targets are all replaced or all put back.
void OutputSet::replaceTargets() {
  const SignalsHeld Held;
  std::vector<Output *> Files;
  for (const auto &Each : Outputs) {
    if (!Each->Temporary.empty()) {
      Files.push_back(Each.get());
    }
  }
  // Backups: "" for a target that did not exist (removed if the renames are undone). The last
  // target needs none: nothing can fail after its rename.
  std::vector<std::string> Backups(Files.size());
  auto Undo = [&](std::size_t Renamed) {
    for (std::size_t Each = 0; Each < Files.size(); ++Each) {
      const char *Target = Files[Each]->Target.c_str();
      if (Each < Renamed) {
        const bool Back = Backups[Each].empty() ? ::unlink(Target) == 0
                                                : ::rename(Backups[Each].c_str(), Target) == 0;
        if (!Back) {
          continue; // the old bytes stay in the backup link
        }
      } else if (!Backups[Each].empty()) {
        ::unlink(Backups[Each].c_str());
      }
    }
  };
  for (std::size_t Each = 0; Each + 1 < Files.size(); ++Each) {
    struct stat Info;
    if (::lstat(Files[Each]->Target.c_str(), &Info) != 0) {
      continue;
    }
    std::string Backup = BackupName(Files[Each]->Target, Files[Each]->Temporary);
    if (::link(Files[Each]->Target.c_str(), Backup.c_str()) != 0) {
      const int Error = errno;
      Undo(0);
      discard();
      throw WriteFailed(Files[Each]->Path, Error);
    }
    Backups[Each] = std::move(Backup);
  }
  for (std::size_t Each = 0; Each < Files.size(); ++Each) {
    const bool Refused = Each == FailRename.Index;
    if (Refused || ::rename(Files[Each]->Temporary.c_str(), Files[Each]->Target.c_str()) != 0) {
      const int Error = Refused ? FailRename.Error : errno;
      Undo(Each);
      for (std::size_t Done = 0; Done < Each; ++Done) {
        Files[Done]->Temporary.clear(); // renamed, then put back: nothing left to remove
      }
      discard();
      throw WriteFailed(Files[Each]->Path, Error);
    }
  }
  for (std::size_t Each = 0; Each < Files.size(); ++Each) {
    Files[Each]->Temporary.clear();
    if (!Backups[Each].empty()) {
      ::unlink(Backups[Each].c_str());
    }
  }
  ForgetTemporaries();
}

void OutputSet::discard() {
  const SignalsHeld Held;
  for (const auto &Each : Outputs) {
    Each->close();
    if (!Each->Temporary.empty()) {
      ::unlink(Each->Temporary.c_str());
    }
  }
  ForgetTemporaries();
  for (const auto &Each : Outputs) {
    Each->Temporary.clear();
  }
}

void GuardStandardDescriptors() {
  for (int Fd = STDIN_FILENO; Fd <= STDERR_FILENO; ++Fd) {
    if (::fcntl(Fd, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free number is taken, and the ones below are open by now.
      const int Null = ::open("/dev/null", O_RDONLY);
      if (Null >= 0 && Null != Fd) {
        ::dup2(Null, Fd);
        ::close(Null);
      }
    }
  }
}

void SetSignalFarewell(const char *Text) {
  const SignalsHeld Held;
  Farewell = Text;
  FarewellLength = Text != nullptr ? std::strlen(Text) : 0;
  if (Text != nullptr) {
    InstallHandlers();
  } else if (PendingCount == 0) {
    ForgetTemporaries();
  }
}

} // namespace tooloutput
