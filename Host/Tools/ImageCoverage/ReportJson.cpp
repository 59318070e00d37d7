#include "Reports.h"

#include "CoverageGoal.h"

#include <nlohmann/json.hpp>

namespace imagecoverage {
namespace {

// Two-space indentation, as boardsim's JSON.
constexpr int JsonIndent = 2;

nlohmann::json Line(const ImageListing &Listing, const ListedInstruction &Each) {
  nlohmann::json Where = nlohmann::json::object();
  Where["file"] = Listing.HasLines && !Each.File.empty() ? nlohmann::json(Each.File) : nullptr;
  Where["line"] = Listing.HasLines && !Each.File.empty() ? nlohmann::json(Each.Line) : nullptr;
  return Where;
}

nlohmann::json ImageJson(const ImageCoverage &Image) {
  const ImageListing &Listing = Image.Listing;
  nlohmann::json Functions = nlohmann::json::array();
  for (const FunctionFigures &Each : Image.Functions) {
    Functions.push_back({{"name", Each.Name},
                         {"address", Each.Start},
                         {"address_hex", AddressText(Each.Start)},
                         {"instructions", Each.Instructions},
                         {"executed", Each.Executed},
                         {"padding", Each.Padding}});
  }
  nlohmann::json Missed = nlohmann::json::array();
  for (std::size_t Index = 0; Index < Listing.Instructions.size(); ++Index) {
    const ListedInstruction &Each = Listing.Instructions[Index];
    if (Image.Counts[Index].Times != 0 || Each.Padding) {
      continue;
    }
    nlohmann::json Entry = {{"address", Each.Address},
                            {"address_hex", AddressText(Each.Address)},
                            {"at", FunctionOffset(Listing, Each)},
                            {"function", Listing.Functions[Each.Function].Name},
                            {"text", Each.Text}};
    Entry.update(Line(Listing, Each));
    const char *Why = ReasonFor(Listing, Each, ReviewedUnreachable());
    Entry["unreachable_because"] = Why != nullptr ? nlohmann::json(Why) : nullptr;
    Missed.push_back(std::move(Entry));
  }
  return {{"module", Listing.Module},          {"path", Listing.Path},
          {"debug_file", Listing.HasLines},    {"instructions", Image.Instructions},
          {"executed", Image.Executed},        {"padding", Image.Padding},
          {"functions", std::move(Functions)}, {"never_executed", std::move(Missed)}};
}

} // namespace

std::string ReportJson(const CoverageRecord &Record) {
  nlohmann::json Images = nlohmann::json::array();
  for (const ImageCoverage &Each : Record.Images) {
    Images.push_back(ImageJson(Each));
  }
  const nlohmann::json Whole = {{"runs", Record.Cases + Record.Inputs},
                                {"cases", Record.Cases},
                                {"inputs", Record.Inputs},
                                {"images", std::move(Images)}};
  return Whole.dump(JsonIndent) + "\n";
}

} // namespace imagecoverage
