// The shipped images as the runs load them, each with the map of its link. Loading checks
// everything a run relies on; any other file is refused with one line that names the problem.
#pragma once

#include "DebugInfo.h"
#include "LinkerMap.h"
#include "Modules.h"
#include "PeFile.h"
#include "Trace.h"

#include <cstdint>
#include <memory>
#include <optional>
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

// "0x1C" in upper-case hexadecimal, as few digits as the value needs.
inline std::string HexText(std::uint64_t Value) {
  return sim::HexText(Value, 1);
}

// How closely a run of an image is followed. Full: every instruction of the image is watched,
// for the exact instruction count and the calls in progress at the stack's deepest point. Lean:
// only what the board must see is watched (the processor events, the calls the trace annotates,
// blocks for the spin backstop), for speed. Both give the same trace, results, outcome and
// breach; a lean run leaves StackDeepestIn and StackChain empty, and its instruction count is
// taken a translated block at a time: a block the run left early (a breach, a stop) counts whole,
// and the spin backstop may see up to a block more or fewer instructions since the last access.
enum class Tracking { Full, Lean };

// A stretch of an image's code that begins with an instruction: an executable section, cut at
// each function's start; addresses where the image executes.
struct CodeStretch {
  std::uint64_t Start = 0;
  std::uint64_t End = 0; // past its last byte
};

struct PeiImage {
  std::string Path;
  std::vector<std::uint8_t> Bytes; // the file: in place, so also the image in memory
  std::uint32_t Base = 0;          // preferred base, where it executes
  std::uint32_t Size = 0;          // SizeOfImage
  std::uint32_t Entry = 0;         // absolute address of the entry point
  std::uint32_t SetIoDecode = 0;   // absolute addresses, from the map
  std::uint32_t SetGenericIoRange = 0;
  std::vector<std::uint32_t> Calls; // where each function of the module's calls begins, in order
  LinkerMap Map;
  std::vector<CodeStretch> Code;
  // The debug file beside the image, when there is one.
  std::shared_ptr<const formats::DebugInfo> Debug;

  bool contains(std::uint64_t Address) const { return Address >= Base && Address - Base < Size; }
  // The source line of the instruction at Address; nullopt without debug information.
  std::optional<formats::SourceLine> lineAt(std::uint64_t Address) const {
    return Debug ? Debug->lineAt(Address) : std::nullopt;
  }
  // "0xFFF00390 (SetIoDecode+0xC)".
  std::string describe(std::uint64_t Address) const;
  // Where one of the module's functions the runs call begins.
  std::uint32_t address(modules::Call Called) const;
};

// Reads the image and its map. Refuses (ImageRejected) a file that is not a PE32 image for IA-32,
// cannot execute in place, is linked for a base where the emulated board has RAM or devices, or
// whose map is missing, of another link, or lacks a function the modules' table has the runs call
// (SetIoDecode, SetGenericIoRange, RunIoScript, the delays).
// MapPath names the map when it is not beside the image (empty: MapPathFor(Path)).
PeiImage LoadPeiImage(const std::string &Path, const std::string &MapPath = {});

struct DxeImage {
  std::string Path;
  std::vector<std::uint8_t> Memory; // the loaded image, as it lies at Base
  std::uint64_t Base = 0;           // where it is loaded
  std::uint64_t PreferredBase = 0;  // where it is linked for
  std::uint32_t Size = 0;           // SizeOfImage
  std::uint64_t Entry = 0;          // absolute addresses at Base
  std::uint64_t ModuleData = 0;     // gDxeModuleData
  std::vector<std::uint64_t> Calls; // where each function of the module's calls begins, in order
  LinkerMap Map;
  std::vector<CodeStretch> Code;
  // The debug file beside the image, when there is one: linked at PreferredBase.
  std::shared_ptr<const formats::DebugInfo> Debug;

  bool contains(std::uint64_t Address) const { return Address >= Base && Address - Base < Size; }
  // The source line of the instruction at Address (at Base); nullopt without debug information.
  std::optional<formats::SourceLine> lineAt(std::uint64_t Address) const {
    return Debug && contains(Address) ? Debug->lineAt(Address - Base + PreferredBase)
                                      : std::nullopt;
  }
  // "SerialPrint+0xC": the map's name for an address at Base.
  std::string functionAt(std::uint64_t Address) const;
  // "0x400390 (SerialPrint+0xC)"; the address alone outside the image.
  std::string describe(std::uint64_t Address) const;
  // Where one of the driver's functions the runs call begins.
  std::uint64_t address(modules::Call Called) const;
};

// Reads the image and its map and loads it at machine::dxe::LoadBase. Refuses (ImageRejected) a
// file that is not a PE32+ image for x86-64, does not fit the machine's image RAM, cannot be
// relocated, or whose map is missing, of another link, or lacks gDxeModuleData or a function the
// modules' table has the runs call.
DxeImage LoadDxeImage(const std::string &Path, const std::string &MapPath = {});

} // namespace imagerun
