// Every instruction of a shipped image's code, executed or not: each code stretch decoded from its
// start, the map's constant tables (merged into the code section) left out, and each instruction
// named by its function in the map and its source line in the debug file beside the image.
#pragma once

#include "Images.h"

#include <cstdint>
#include <string>
#include <vector>

namespace imagecoverage {

struct ListedInstruction {
  std::uint64_t Address = 0; // where the image runs
  std::uint64_t Size = 0;
  std::string Text;         // AT&T, as the decoder prints it
  std::size_t Function = 0; // index into ImageListing::Functions
  std::uint64_t Offset = 0; // from the function's start
  std::string File;         // relative to the source tree; "" without a line
  unsigned Line = 0;        // 0: no line of its own
  // Filler the link put between functions to align the next (int3): outside every function the
  // debug information describes. It belongs to no function's code and is never counted.
  bool Padding = false;
};

struct ListedFunction {
  std::string Name; // the map's readable name
  std::uint64_t Start = 0;
  std::uint64_t End = 0; // past its last instruction
};

struct ImageListing {
  std::string Module; // "BoardInitPei"
  std::string Path;
  bool HasLines = false;                       // a debug file was beside the image
  std::vector<ListedFunction> Functions;       // by address
  std::vector<ListedInstruction> Instructions; // by address
};

ImageListing ListCode(const imagerun::PeiImage &Image);
ImageListing ListCode(const imagerun::DxeImage &Image);

} // namespace imagecoverage
