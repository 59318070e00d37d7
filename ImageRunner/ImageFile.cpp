#include "ImageFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace imagerun {
namespace {

constexpr const char *MapExtension = ".map";

} // namespace

std::string MapPathFor(const std::string &ImagePath) {
  const std::string::size_type Slash = ImagePath.find_last_of('/');
  const std::string::size_type Dot = ImagePath.find_last_of('.');
  const bool HasExtension = Dot != std::string::npos && (Slash == std::string::npos || Dot > Slash);
  return (HasExtension ? ImagePath.substr(0, Dot) : ImagePath) + MapExtension;
}

std::vector<std::uint8_t> ReadImageFile(const std::string &Path) {
  std::ifstream File(Path, std::ios::binary);
  if (!File) {
    throw ImageRejected("cannot read '" + Path + "': " + std::strerror(errno));
  }
  return {std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>()};
}

} // namespace imagerun
