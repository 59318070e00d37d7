#include "ImageFile.h"

#include "FileRead.h"
#include "PeImage.h"

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
  try {
    return formats::ReadFileBytes(Path, pe::MaxImageFileBytes);
  } catch (const formats::FileError &Error) {
    throw ImageRejected("cannot read '" + Path + "': " + Error.what());
  }
}

pe::Image ReadPeImage(const std::string &Path, std::uint16_t Machine, const std::string &Module) {
  pe::Image File;
  try {
    File = pe::Parse(ReadImageFile(Path));
  } catch (const pe::FormatError &Error) {
    throw ImageRejected("'" + Path + "': " + Error.what());
  }
  if (PeCheckMachine(File.view(), Machine) != PeStatus::Ok) {
    throw ImageRejected("'" + Path + "' is a " + (File.isPe32Plus() ? "PE32+" : "PE32") + " " +
                        pe::MachineName(File.Machine) + " image; " + Module);
  }
  return File;
}

} // namespace imagerun
