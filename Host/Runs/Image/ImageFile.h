// Reading a shipped image and naming the map of its link: what loading either module's image
// starts with.
#pragma once

#include "LinkerMap.h"
#include "PeFile.h"
#include "Trace.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace imagerun {

using formats::LinkerMap;
using formats::MapError;
using formats::MapSymbol;

// The file cannot be run as the module: bad input, named in the message.
class ImageRejected : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The map of an image is the file beside it with the extension .map in place of the image's.
std::string MapPathFor(const std::string &ImagePath);

// The file (up to pe::MaxImageFileBytes) parsed as a PE image for Machine (a PeMachine value);
// ImageRejected naming the problem otherwise. Module names the module for the message: "the driver
// is a PE32+ image for x86-64".
pe::Image ReadPeImage(const std::string &Path, std::uint16_t Machine, const std::string &Module);

// The map of the image at Path; ImageRejected when it is missing or is the map of a link for
// another base than PreferredBase.
LinkerMap ReadImageMap(const std::string &Path, bool UnderscoredCNames,
                       std::uint64_t PreferredBase);

// The address, at the map's base, of the one function or data object of that name, with Bytes of
// it inside the Size bytes of the image at Path; ImageRejected when there is none, more than one,
// or it lies outside.
enum class SymbolKind { Function, Data };
std::uint64_t SymbolInImage(const LinkerMap &Map, const std::string &Path, const std::string &Name,
                            SymbolKind Kind, std::uint64_t Size, std::uint64_t Bytes);

// "0x1C" in upper-case hexadecimal, as few digits as the value needs.
inline std::string HexText(std::uint64_t Value) {
  return sim::HexText(Value, 1);
}

} // namespace imagerun
