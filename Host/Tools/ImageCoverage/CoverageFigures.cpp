#include "CoverageFigures.h"

#include <fmt/format.h>

namespace imagecoverage {
namespace {

// Address digits as the board's traces print them: 8 for the early module's 32-bit addresses, and
// the driver's RAM addresses fit them too.
constexpr int AddressDigits = 8;
constexpr double Hundred = 100.0;

} // namespace

ImageCoverage Cover(ImageListing Listing, const InstructionHits &Hits) {
  ImageCoverage Covered;
  for (const ListedFunction &Each : Listing.Functions) {
    Covered.Functions.push_back({Each.Name, Each.Start, 0, 0});
  }
  for (const ListedInstruction &Each : Listing.Instructions) {
    const imagecoverage::Hits Counted = Hits.at(Each.Address);
    Covered.Counts.push_back(Counted);
    FunctionFigures &In = Covered.Functions[Each.Function];
    if (Each.Padding) {
      ++In.Padding;
      ++Covered.Padding;
      continue;
    }
    ++In.Instructions;
    ++Covered.Instructions;
    if (Counted.Times != 0) {
      ++In.Executed;
      ++Covered.Executed;
    }
  }
  Covered.Listing = std::move(Listing);
  return Covered;
}

std::string FunctionOffset(const ImageListing &Listing, const ListedInstruction &Each) {
  const std::string &Name = Listing.Functions[Each.Function].Name;
  return Each.Offset == 0 ? Name : fmt::format("{}+0x{:X}", Name, Each.Offset);
}

std::string AddressText(std::uint64_t Address) {
  return fmt::format("0x{:0{}X}", Address, AddressDigits);
}

std::string Percent(std::size_t Part, std::size_t Whole) {
  return Whole == 0 ? "-"
                    : fmt::format("{:.1f}%",
                                  Hundred * static_cast<double>(Part) / static_cast<double>(Whole));
}

} // namespace imagecoverage
