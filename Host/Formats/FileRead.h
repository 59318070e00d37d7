// Reading a whole file into memory for the host readers: bounded by a size the caller gives, and
// only regular files, so that a directory, a device or a pipe named by mistake is refused with a
// reason instead of read without end.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace formats {

// The file cannot be read; what() is the reason alone ("No such file or directory", "is a
// directory", "larger than 1048576 bytes"), so that each caller words the message its users know.
class FileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

std::vector<std::uint8_t> ReadFileBytes(const std::string &Path, std::uint64_t MaxBytes);
std::string ReadFileText(const std::string &Path, std::uint64_t MaxBytes);
// The file's first Count bytes (fewer when it is shorter): enough to tell what a file is before
// it is read whole.
std::string ReadFilePrefix(const std::string &Path, std::uint64_t Count);

} // namespace formats
