// The goal of the image-level checks: every instruction of both shipped images is executed by the
// runs that CI makes (the comparison cases and the committed fuzz seeds), or stands in the reviewed
// table of instructions no run can reach, with the reason. An entry names the instruction by its
// module, function and offset and its text, so a rebuilt image whose code moved or changed there
// matches no entry until the entry is reviewed again.
#pragma once

#include "CoverageFigures.h"

#include <span>
#include <string>
#include <vector>

namespace imagecoverage {

struct UnreachableEntry {
  const char *Module;      // "BoardInitPei"
  const char *At;          // "PciCfgAccess+0x105"
  const char *Instruction; // "calll 0xfff009c7", as the decoder prints it
  const char *Why;         // why no run of the board can execute it
};

// The reviewed table: today empty, every instruction of both images runs.
std::span<const UnreachableEntry> ReviewedUnreachable();

struct GoalReport {
  // Never executed and in no entry: "BoardInitPei 0xFFF00909 PciCfgAccess+0x105 (file:line):
  // calll 0xfff009c7".
  std::vector<std::string> Unexplained;
  // Entries of an image given that no longer hold: the instruction ran, or is not there.
  std::vector<std::string> Stale;
  std::size_t Reviewed = 0; // never executed, with a reason
  bool met() const { return Unexplained.empty() && Stale.empty(); }
};

GoalReport CheckGoal(const CoverageRecord &Record, std::span<const UnreachableEntry> Reviewed);
// The reason of an entry for Each, or nullptr: for the never-executed list.
const char *ReasonFor(const ImageListing &Listing, const ListedInstruction &Each,
                      std::span<const UnreachableEntry> Reviewed);
// What --goal prints: a line when it is met, otherwise every unexplained and stale instruction.
std::string GoalText(const GoalReport &Report);

} // namespace imagecoverage
