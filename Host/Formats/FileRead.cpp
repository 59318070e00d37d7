#include "FileRead.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace formats {
namespace {

class Descriptor {
public:
  explicit Descriptor(int Fd) : Fd_(Fd) {}
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  ~Descriptor() {
    if (Fd_ >= 0) {
      ::close(Fd_);
    }
  }
  int get() const { return Fd_; }

private:
  int Fd_;
};

[[noreturn]] void FailWithErrno() {
  throw FileError(std::strerror(errno));
}

template <typename Buffer> Buffer ReadBounded(const std::string &Path, std::uint64_t MaxBytes) {
  const Descriptor File(::open(Path.c_str(), O_RDONLY | O_CLOEXEC));
  if (File.get() < 0) {
    FailWithErrno();
  }
  struct stat Status = {};
  if (::fstat(File.get(), &Status) != 0) {
    FailWithErrno();
  }
  if (S_ISDIR(Status.st_mode)) {
    throw FileError("is a directory");
  }
  if (!S_ISREG(Status.st_mode)) {
    throw FileError("not a regular file");
  }
  const std::string TooLarge = "larger than " + std::to_string(MaxBytes) + " bytes";
  if (static_cast<std::uint64_t>(Status.st_size) > MaxBytes) {
    throw FileError(TooLarge);
  }
  // The size is read again as the data comes: a file that grows meanwhile stays bounded.
  Buffer Data(static_cast<std::size_t>(Status.st_size), 0);
  std::size_t Have = 0;
  for (;;) {
    if (Have == Data.size()) {
      if (Data.size() >= MaxBytes) {
        char Probe = 0;
        const ssize_t Extra = ::read(File.get(), &Probe, 1);
        if (Extra < 0) {
          FailWithErrno();
        }
        if (Extra > 0) {
          throw FileError(TooLarge);
        }
        break;
      }
      Data.resize(static_cast<std::size_t>(
          std::min<std::uint64_t>(MaxBytes, Data.size() + Data.size() / 2 + 4096)));
    }
    const ssize_t Got = ::read(File.get(), Data.data() + Have, Data.size() - Have);
    if (Got < 0) {
      if (errno == EINTR) {
        continue;
      }
      FailWithErrno();
    }
    if (Got == 0) {
      break;
    }
    Have += static_cast<std::size_t>(Got);
  }
  Data.resize(Have);
  return Data;
}

} // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::string &Path, std::uint64_t MaxBytes) {
  return ReadBounded<std::vector<std::uint8_t>>(Path, MaxBytes);
}

std::string ReadFileText(const std::string &Path, std::uint64_t MaxBytes) {
  return ReadBounded<std::string>(Path, MaxBytes);
}

} // namespace formats
