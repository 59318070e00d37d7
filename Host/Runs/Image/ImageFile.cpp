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

pe::Image ReadPeImage(const std::string &Path, std::uint16_t Machine, const std::string &Module) {
  std::vector<std::uint8_t> Bytes;
  try {
    Bytes = formats::ReadFileBytes(Path, pe::MaxImageFileBytes);
  } catch (const formats::FileError &Error) {
    throw ImageRejected("cannot read '" + Path + "': " + Error.what());
  }
  pe::Image File;
  try {
    File = pe::Parse(std::move(Bytes));
  } catch (const pe::FormatError &Error) {
    throw ImageRejected("'" + Path + "': " + Error.what());
  }
  if (PeCheckMachine(File.view(), Machine) != PeStatus::Ok) {
    throw ImageRejected("'" + Path + "' is a " + (File.isPe32Plus() ? "PE32+" : "PE32") + " " +
                        pe::MachineName(File.Machine) + " image; " + Module);
  }
  return File;
}

LinkerMap ReadImageMap(const std::string &Path, bool UnderscoredCNames,
                       std::uint64_t PreferredBase) {
  const std::string MapPath = MapPathFor(Path);
  LinkerMap Map;
  try {
    Map = LinkerMap::ReadFile(MapPath, UnderscoredCNames);
  } catch (const MapError &Error) {
    throw ImageRejected(std::string("the linker map of '") + Path + "' is needed: " + Error.what());
  }
  if (Map.preferredBase() != PreferredBase) {
    throw ImageRejected("'" + MapPath + "' is the map of a link for " +
                        HexText(Map.preferredBase()) + ", not of '" + Path + "' (linked for " +
                        HexText(PreferredBase) + ")");
  }
  return Map;
}

std::uint64_t SymbolInImage(const LinkerMap &Map, const std::string &Path, const std::string &Name,
                            SymbolKind Kind, std::uint64_t Size, std::uint64_t Bytes) {
  const bool Code = Kind == SymbolKind::Function;
  const std::optional<std::uint64_t> Address =
      Code ? Map.functionAddress(Name) : Map.dataAddress(Name);
  const std::string MapPath = MapPathFor(Path);
  if (!Address) {
    throw ImageRejected("'" + MapPath + "' names no " + (Code ? "function " : "data ") + Name +
                        " (or more than one)");
  }
  if (*Address < Map.preferredBase() || *Address - Map.preferredBase() + Bytes > Size) {
    throw ImageRejected("'" + MapPath + "' places " + Name + " at " + HexText(*Address) +
                        ", outside the image");
  }
  return *Address;
}

} // namespace imagerun
