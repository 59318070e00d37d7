#include "ToolOutput.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
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

} // namespace

WriteFailed::WriteFailed(const std::string &Path, int Error)
    : std::runtime_error("cannot write " + Describe(Path) + ": " + std::strerror(Error)) {}

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

Output &OutputSet::add(std::string Label, std::string Path) {
  const Destination Wanted = Locate(Path);
  for (const auto &Each : Outputs) {
    if (!SameDestination(Wanted, Locate(Each->Path))) {
      continue;
    }
    if (Path == Each->Path) {
      throw BadOutput(Each->Label + " and " + Label + " both write to " + Describe(Path));
    }
    throw BadOutput(Each->Label + " " + Describe(Each->Path) + " and " + Label + " " +
                    Describe(Path) + " are the same file");
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
  for (const auto &Each : Outputs) {
    if (Each->toStandardOutput()) {
      continue;
    }
    struct stat Info;
    if (::stat(Each->Path.c_str(), &Info) == 0 && !S_ISREG(Info.st_mode)) {
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
      if (Each->Fd >= 0) {
        Each->Temporary = std::move(Name);
        if (::fchmod(Each->Fd, 0666 & ~Mask) != 0) {
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
  const Output *Failed = nullptr;
  for (const auto &Each : Outputs) {
    Each->flush();
    Each->close();
    if (Each->Error != 0 && !Failed) {
      Failed = Each.get();
    }
  }
  if (Failed) {
    discard();
    throw WriteFailed(Failed->Path, Failed->Error);
  }
  for (const auto &Each : Outputs) {
    if (!Each->Temporary.empty()) {
      if (::rename(Each->Temporary.c_str(), Each->Target.c_str()) != 0) {
        const int Error = errno;
        discard();
        throw WriteFailed(Each->Path, Error);
      }
      Each->Temporary.clear();
    }
  }
}

void OutputSet::discard() {
  for (const auto &Each : Outputs) {
    Each->close();
    if (!Each->Temporary.empty()) {
      ::unlink(Each->Temporary.c_str());
      Each->Temporary.clear();
    }
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

} // namespace tooloutput
