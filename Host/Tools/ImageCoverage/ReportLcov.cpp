#include "Reports.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>

namespace imagecoverage {

std::string ReportLcov(const CoverageRecord &Record) {
  std::string Text;
  for (const ImageCoverage &Image : Record.Images) {
    // File, then line, then the most times one of the line's instructions ran. Compiler-made code
    // with no line of its own (line 0) is no source line.
    std::map<std::string, std::map<unsigned, std::uint64_t>> Lines;
    const ImageListing &Listing = Image.Listing;
    for (std::size_t Index = 0; Index < Listing.Instructions.size(); ++Index) {
      const ListedInstruction &Each = Listing.Instructions[Index];
      if (Each.File.empty() || Each.Line == 0) {
        continue;
      }
      std::uint64_t &Count = Lines[Each.File][Each.Line];
      Count = std::max(Count, Image.Counts[Index].Times);
    }
    Text += fmt::format("TN:{}\n", Listing.Module);
    for (const auto &[File, Counts] : Lines) {
      Text += fmt::format("SF:{}\n", File);
      std::size_t Hit = 0;
      for (const auto &[Line, Count] : Counts) {
        Text += fmt::format("DA:{},{}\n", Line, Count);
        Hit += Count != 0 ? 1 : 0;
      }
      Text += fmt::format("LF:{}\nLH:{}\nend_of_record\n", Counts.size(), Hit);
    }
  }
  return Text;
}

} // namespace imagecoverage
