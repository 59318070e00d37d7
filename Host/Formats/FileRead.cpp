#include "FileRead.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace formats {
namespace {

// The file opened for reading, once it is known to be a regular file.
std::ifstream OpenRegular(const std::string &Path) {
  namespace fs = std::filesystem;
  std::error_code Error;
  const fs::file_status Status = fs::status(Path, Error);
  if (Error) {
    throw FileError(Error.message());
  }
  if (fs::is_directory(Status)) {
    throw FileError("is a directory");
  }
  if (!fs::is_regular_file(Status)) {
    throw FileError("not a regular file");
  }
  std::ifstream File(Path, std::ios::binary);
  if (!File) {
    throw FileError(std::strerror(errno));
  }
  return File;
}

template <typename Buffer> Buffer ReadBounded(const std::string &Path, std::uint64_t MaxBytes) {
  std::ifstream File = OpenRegular(Path);
  // Read in pieces, so that a file that grows meanwhile still stops at the limit.
  Buffer Data;
  std::array<char, 1 << 16> Piece;
  while (File.read(Piece.data(), Piece.size()) || File.gcount() > 0) {
    if (Data.size() + static_cast<std::uint64_t>(File.gcount()) > MaxBytes) {
      throw FileError("larger than " + std::to_string(MaxBytes) + " bytes");
    }
    Data.insert(Data.end(), Piece.data(), Piece.data() + File.gcount());
  }
  if (File.bad()) {
    throw FileError(std::strerror(errno));
  }
  return Data;
}

} // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::string &Path, std::uint64_t MaxBytes) {
  return ReadBounded<std::vector<std::uint8_t>>(Path, MaxBytes);
}

std::string ReadFileText(const std::string &Path, std::uint64_t MaxBytes) {
  return ReadBounded<std::string>(Path, MaxBytes);
}

std::string ReadFilePrefix(const std::string &Path, std::uint64_t Count) {
  std::ifstream File = OpenRegular(Path);
  std::string Data(Count, '\0');
  File.read(Data.data(), static_cast<std::streamsize>(Count));
  if (File.bad()) {
    throw FileError(std::strerror(errno));
  }
  Data.resize(static_cast<std::size_t>(File.gcount()));
  return Data;
}

} // namespace formats
