#include "CoverageGoal.h"

#include <algorithm>
#include <array>
#include <set>

namespace imagecoverage {
namespace {

// Reviewed instructions that no run of the board can execute. None today: the comparison cases
// run every instruction of both images. Add an entry only with the reason no case can be made.
constexpr std::array<UnreachableEntry, 0> Table{};

bool Matches(const UnreachableEntry &Entry, const ImageListing &Listing,
             const ListedInstruction &Each) {
  return Listing.Module == Entry.Module && FunctionOffset(Listing, Each) == Entry.At &&
         Each.Text == Entry.Instruction;
}

std::string Describe(const ImageListing &Listing, const ListedInstruction &Each) {
  std::string Text =
      Listing.Module + " " + AddressText(Each.Address) + " " + FunctionOffset(Listing, Each);
  if (Listing.HasLines && !Each.File.empty()) {
    Text += " (" + Each.File + ":" + std::to_string(Each.Line) + ")";
  }
  return Text + ": " + Each.Text;
}

} // namespace

std::span<const UnreachableEntry> ReviewedUnreachable() {
  return Table;
}

const char *ReasonFor(const ImageListing &Listing, const ListedInstruction &Each,
                      std::span<const UnreachableEntry> Reviewed) {
  for (const UnreachableEntry &Entry : Reviewed) {
    if (Matches(Entry, Listing, Each)) {
      return Entry.Why;
    }
  }
  return nullptr;
}

GoalReport CheckGoal(const CoverageRecord &Record, std::span<const UnreachableEntry> Reviewed) {
  GoalReport Report;
  std::set<const UnreachableEntry *> Held;
  for (const ImageCoverage &Image : Record.Images) {
    const ImageListing &Listing = Image.Listing;
    for (std::size_t Index = 0; Index < Listing.Instructions.size(); ++Index) {
      const ListedInstruction &Each = Listing.Instructions[Index];
      if (Each.Padding || Image.Counts[Index].Times != 0) {
        continue;
      }
      const auto Entry =
          std::find_if(Reviewed.begin(), Reviewed.end(),
                       [&](const UnreachableEntry &Row) { return Matches(Row, Listing, Each); });
      if (Entry == Reviewed.end()) {
        Report.Unexplained.push_back(Describe(Listing, Each));
      } else {
        Held.insert(&*Entry);
        ++Report.Reviewed;
      }
    }
  }
  // An entry of an image not given says nothing about this record.
  for (const UnreachableEntry &Entry : Reviewed) {
    const bool Given =
        std::any_of(Record.Images.begin(), Record.Images.end(), [&](const ImageCoverage &Image) {
          return Image.Listing.Module == Entry.Module;
        });
    if (Given && Held.count(&Entry) == 0) {
      Report.Stale.push_back(std::string(Entry.Module) + " " + Entry.At + ": " + Entry.Instruction);
    }
  }
  return Report;
}

std::string GoalText(const GoalReport &Report) {
  if (Report.met()) {
    return "goal met: every instruction executed" +
           (Report.Reviewed == 0
                ? std::string()
                : " or reviewed unreachable (" + std::to_string(Report.Reviewed) + ")") +
           "\n";
  }
  std::string Text;
  if (!Report.Unexplained.empty()) {
    Text += std::to_string(Report.Unexplained.size()) +
            " instructions never executed and not reviewed as unreachable:\n";
    for (const std::string &Each : Report.Unexplained) {
      Text += "  " + Each + "\n";
    }
  }
  if (!Report.Stale.empty()) {
    Text += std::to_string(Report.Stale.size()) +
            " reviewed entries that no longer hold (the instruction ran, or is not there):\n";
    for (const std::string &Each : Report.Stale) {
      Text += "  " + Each + "\n";
    }
  }
  return Text;
}

} // namespace imagecoverage
