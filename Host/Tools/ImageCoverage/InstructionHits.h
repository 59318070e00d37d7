// What a set of runs executed of the images: for each instruction address, how often it ran and in
// how many of the runs. The images lie apart (the early module in place below 4 GiB, the driver
// in RAM), so one record serves both.
#pragma once

#include "Machine/Coverage.h"

#include <cstdint>
#include <unordered_map>

namespace imagecoverage {

struct Hits {
  std::uint64_t Times = 0; // executions (a lean run: block entries)
  std::uint64_t Runs = 0;  // runs that executed it
};

class InstructionHits final : public imagerun::Coverage {
public:
  // What executes after this belongs to the next run.
  void beginRun() { ++Run_; }
  void executed(std::uint64_t Address) override {
    Counted &Each = Counts_[Address];
    ++Each.Times;
    if (Each.LastRun != Run_) {
      Each.LastRun = Run_;
      ++Each.Runs;
    }
  }
  Hits at(std::uint64_t Address) const {
    const auto Found = Counts_.find(Address);
    return Found == Counts_.end() ? Hits{} : Hits{Found->second.Times, Found->second.Runs};
  }
  std::uint64_t runs() const { return Run_; }

private:
  struct Counted {
    std::uint64_t Times = 0, Runs = 0, LastRun = 0;
  };
  std::unordered_map<std::uint64_t, Counted> Counts_;
  std::uint64_t Run_ = 0;
};

} // namespace imagecoverage
