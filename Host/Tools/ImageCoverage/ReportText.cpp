#include "Reports.h"

#include <fmt/format.h>

#include <algorithm>

namespace imagecoverage {
namespace {

// The function column is as wide as the longest name, at least the heading's.
constexpr std::size_t MinNameWidth = 8;

std::string RunsLine(const CoverageRecord &Record) {
  return fmt::format("{} runs: {} comparison cases and boots, {} fuzz inputs\n",
                     Record.Cases + Record.Inputs, Record.Cases, Record.Inputs);
}

std::string WhereText(const ImageListing &Listing, const ListedInstruction &Each) {
  if (!Listing.HasLines) {
    return "(no debug file)";
  }
  return Each.File.empty() ? "(no line)" : fmt::format("{}:{}", Each.File, Each.Line);
}

} // namespace

std::string ReportText(const CoverageRecord &Record) {
  std::string Text = RunsLine(Record);
  for (const ImageCoverage &Image : Record.Images) {
    Text +=
        fmt::format("\n{} ({}): {} of {} instructions executed ({}); {} int3 of padding "
                    "between functions not counted\n",
                    Image.Listing.Module, Image.Listing.Path, Image.Executed, Image.Instructions,
                    Percent(Image.Executed, Image.Instructions), Image.Padding);
    std::size_t Width = MinNameWidth;
    for (const FunctionFigures &Each : Image.Functions) {
      Width = std::max(Width, Each.Name.size());
    }
    Text += fmt::format("  {:<{}}  {:>8}  {:>5}  {:>7}\n", "function", Width, "executed", "total",
                        "percent");
    for (const FunctionFigures &Each : Image.Functions) {
      Text += fmt::format("  {:<{}}  {:>8}  {:>5}  {:>7}\n", Each.Name, Width, Each.Executed,
                          Each.Instructions, Percent(Each.Executed, Each.Instructions));
    }
  }
  return Text;
}

std::string ReportMissed(const CoverageRecord &Record) {
  std::string Text = RunsLine(Record);
  for (const ImageCoverage &Image : Record.Images) {
    const ImageListing &Listing = Image.Listing;
    Text += fmt::format("\n{}: {} of {} instructions never executed\n", Listing.Module,
                        Image.Instructions - Image.Executed, Image.Instructions);
    for (std::size_t Index = 0; Index < Listing.Instructions.size(); ++Index) {
      const ListedInstruction &Each = Listing.Instructions[Index];
      if (Image.Counts[Index].Times != 0 || Each.Padding) {
        continue;
      }
      Text += fmt::format("{}  {}  {}  {}\n", AddressText(Each.Address),
                          FunctionOffset(Listing, Each), WhereText(Listing, Each), Each.Text);
    }
  }
  return Text;
}

} // namespace imagecoverage
