// A set of runs' coverage of each image: every listed instruction with how often it ran, and the
// figures per function and per image that every report reads.
#pragma once

#include "CodeListing.h"
#include "InstructionHits.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace imagecoverage {

struct FunctionFigures {
  std::string Name;
  std::uint64_t Start = 0;
  std::size_t Instructions = 0;
  std::size_t Executed = 0;
  std::size_t Padding = 0; // int3 filler after it, not counted
};

struct ImageCoverage {
  ImageListing Listing;
  std::vector<Hits> Counts;               // one for each of Listing.Instructions
  std::vector<FunctionFigures> Functions; // in address order
  std::size_t Instructions = 0, Executed = 0, Padding = 0;
};

struct CoverageRecord {
  std::size_t Cases = 0, Inputs = 0; // the runs made: comparison cases and boots, fuzz inputs
  std::vector<ImageCoverage> Images;
};

ImageCoverage Cover(ImageListing Listing, const InstructionHits &Hits);

// "SetIoDecode+0x1C", "BoardInitPeiEntry" at its start.
std::string FunctionOffset(const ImageListing &Listing, const ListedInstruction &Each);
// "0xFFF00390", the address in upper-case hexadecimal with at least 8 digits.
std::string AddressText(std::uint64_t Address);
// "95.6%" of Part in Whole; "-" for none of none.
std::string Percent(std::size_t Part, std::size_t Whole);

} // namespace imagecoverage
