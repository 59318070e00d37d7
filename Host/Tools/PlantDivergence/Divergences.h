// Planted divergences: a copy of a shipped image with one instruction changed, for showing that
// the image-level checks find it: on a path only the comparison cases of a function's own data
// reach (the script runner's merges, the delays' later passes, a status class), the cases must
// see it; where every case passes the change, the image fuzz target named must find it. Each is
// found again in every build by its function's symbol in the linker map and the decoded
// instruction (its name and its immediate), so no file offset is written down anywhere.
#pragma once

#include "LinkerMap.h"
#include "Modules.h"
#include "PeFile.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace planting {

struct Divergence {
  const char *Name;        // "uart-ready-bit"
  modules::ModuleId Where; // the module whose image it changes
  const char *Function;    // readable symbol of the function that holds the instruction
  const char *Mnemonic;    // the instruction, as listings name it: "testb"
  std::int64_t From;       // its one immediate operand: the bit, mask or count the firmware uses
  std::int64_t To;         // ... and the immediate once changed; every other operand is kept
  const char *Why;         // what changes for the hardware, and which runs show it
  // What must find it: FoundByCases, or the image fuzz target ("ImageDxeFuzz") that finds what
  // every comparison case misses.
  const char *FoundBy;
};

inline constexpr const char *FoundByCases = "compare";

std::span<const Divergence> Divergences();
// The instruction as the help and the messages show it: "testb $32," (From), "testb $64," (To).
std::string FromText(const Divergence &Which);
std::string ToText(const Divergence &Which);
const Divergence *FindDivergence(const std::string &Name);

// The image does not hold the instruction the divergence changes exactly once, or is another
// module's; the message says which.
class PlantError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct Planted {
  std::uint64_t Address = 0;    // of the changed instruction
  std::uint64_t FileOffset = 0; // of the changed byte
  std::string Before, After;    // the instruction's text
  std::string Place;            // "SendByte+0x10"
};

// Changes the one byte of Image.Bytes that turns the instruction into its changed form (found by
// decoding every one-byte change of it, which must give that form exactly once).
Planted Plant(const Divergence &Which, pe::Image &Image, const formats::LinkerMap &Map);

} // namespace planting
