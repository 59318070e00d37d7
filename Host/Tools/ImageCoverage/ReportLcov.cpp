#include "Reports.h"
#include "SourceLines.h"

#include <fmt/format.h>

namespace imagecoverage {

std::string ReportLcov(const CoverageRecord &Record) {
  std::string Text;
  for (const ImageCoverage &Image : Record.Images) {
    Text += fmt::format("TN:{}\n", Image.Listing.Module);
    for (const auto &[File, Counts] : LinesOf(Image)) {
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
