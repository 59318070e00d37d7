// The runs whose coverage is measured, made on the shipped images with every instruction told to
// an InstructionHits: the comparison cases (each module's cases, and the whole boots when both
// images are given) and fuzz inputs, each file of a corpus folder one run of its target.
#pragma once

#include "FuzzInput.h"
#include "ImageRuns.h"
#include "InstructionHits.h"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace imagecoverage {

// A corpus folder and the fuzz target whose inputs it holds.
struct Corpus {
  fuzzruns::Target For = fuzzruns::Target::Pei;
  std::string Folder;
};

// A folder that cannot be read: bad input, named in the message.
class CorpusError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The targets whose inputs a set of images can run: the early-init image runs ImagePeiFuzz's and
// ImageRequestFuzz's, the driver's ImageDxeFuzz's, the two together ImageLibraryFuzz's (scripts
// and delays of either module).
bool TargetRuns(fuzzruns::Target For, bool HavePei, bool HaveDxe);
// The target of that program name ("ImagePeiFuzz"); nullopt for any other name.
std::optional<fuzzruns::Target> TargetNamed(const std::string &Name);

struct RunCounts {
  std::size_t Cases = 0;  // comparison cases and boots
  std::size_t Inputs = 0; // fuzz inputs
};

// The implementations each run is made on: the images, whose instructions are counted, and
// optionally the host build too, so that an instrumented host build profiles the same runs.
struct RunSides {
  const imagerun::ImageRuns &Images;
  const runs::ModuleRuns *Host = nullptr;
};

// Makes every comparison case the images can run; a boot case needs both.
void RunComparisonCases(const RunSides &On, bool HavePei, bool HaveDxe, InstructionHits &Into,
                        RunCounts &Counts);
// Makes one run of each regular file of the folder, in name order; CorpusError when the folder
// or a file in it cannot be read.
void RunCorpus(const RunSides &On, const Corpus &Inputs, InstructionHits &Into, RunCounts &Counts);

} // namespace imagecoverage
