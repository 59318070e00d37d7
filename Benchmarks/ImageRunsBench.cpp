// Speed of the differential runs the image fuzz targets make: the PEI and DXE entries on the
// default board, through the host build and through the shipped images under emulation, one run
// an iteration, the images followed fully (every instruction watched, as boardsim and the tests
// follow them) and lean (only what the board must see, as the fuzz targets follow them). Each
// benchmark reports runs a second and, for the images, the instructions the emulator executed a
// second. The pei-rows rows run the PEI entry with its own tables given as rows: what the table
// what-ifs cost (the writable copy of the tables, or the image's flash written for every run).
//
//   build/host/Benchmarks/ImageRunsBench [build/firmware] [--benchmark_filter=...]
#include "HostBuildRuns.h"
#include "ImageRuns.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace {

std::string FirmwareDir = "build/firmware";

// One image runner a tracking for the whole program: its engines are kept across runs.
const imagerun::ImageRuns &Images(imagerun::Tracking Follow) {
  static const auto Make = [](imagerun::Tracking Each) {
    return std::make_unique<imagerun::ImageRuns>(
        imagerun::LoadPeiImage(FirmwareDir + "/BoardInitPei.efi"),
        imagerun::LoadDxeImage(FirmwareDir + "/BoardInitDxe.efi"), Each);
  };
  static const std::unique_ptr<imagerun::ImageRuns> Full = Make(imagerun::Tracking::Full);
  static const std::unique_ptr<imagerun::ImageRuns> Lean = Make(imagerun::Tracking::Lean);
  return Follow == imagerun::Tracking::Lean ? *Lean : *Full;
}

enum class Entry { Pei, Dxe };

void Run(benchmark::State &State, const runs::ModuleRuns &Runs, Entry Which,
         const sim::Scenario &Settings = {}) {
  std::uint64_t Instructions = 0;
  for (auto _ : State) {
    sim::Board Board(Settings);
    const runs::RunResult Result = Which == Entry::Pei ? Runs.runPei(Board) : Runs.runDxe(Board);
    if (Result.Image) {
      Instructions += Result.Image->Instructions;
    }
    benchmark::DoNotOptimize(Result.EntryStatus);
  }
  State.counters["runs/s"] =
      benchmark::Counter(static_cast<double>(State.iterations()), benchmark::Counter::kIsRate);
  if (Instructions != 0) {
    State.counters["insn/s"] =
        benchmark::Counter(static_cast<double>(Instructions), benchmark::Counter::kIsRate);
  }
}

// Host build and image, one run each: what one differential execution costs.
void RunBoth(benchmark::State &State, Entry Which, imagerun::Tracking Follow) {
  for (auto _ : State) {
    const runs::ModuleRuns *Both[] = {&runs::HostBuild(), &Images(Follow)};
    for (const runs::ModuleRuns *Runs : Both) {
      sim::Board Board;
      const runs::RunResult Result =
          Which == Entry::Pei ? Runs->runPei(Board) : Runs->runDxe(Board);
      benchmark::DoNotOptimize(Result.EntryStatus);
    }
  }
  State.counters["runs/s"] =
      benchmark::Counter(static_cast<double>(State.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (argc > 1) {
    FirmwareDir = argv[1];
  }
  using imagerun::Tracking;
  for (const auto &[Name, Which] : {std::pair{"pei", Entry::Pei}, std::pair{"dxe", Entry::Dxe}}) {
    const Entry Each = Which;
    benchmark::RegisterBenchmark(
        (std::string("host/") + Name).c_str(),
        [Each](benchmark::State &State) { Run(State, runs::HostBuild(), Each); });
    for (const auto &[Suffix, Follow] :
         {std::pair{"", Tracking::Full}, std::pair{"-lean", Tracking::Lean}}) {
      const Tracking Way = Follow;
      benchmark::RegisterBenchmark(
          (std::string("image") + Suffix + "/" + Name).c_str(),
          [Each, Way](benchmark::State &State) { Run(State, Images(Way), Each); });
      benchmark::RegisterBenchmark(
          (std::string("both") + Suffix + "/" + Name).c_str(),
          [Each, Way](benchmark::State &State) { RunBoth(State, Each, Way); });
    }
  }
  sim::Scenario OwnRows;
  OwnRows.Tables = runs::HostBuildTables();
  benchmark::RegisterBenchmark("host/pei-rows", [OwnRows](benchmark::State &State) {
    Run(State, runs::HostBuild(), Entry::Pei, OwnRows);
  });
  for (const auto &[Suffix, Follow] :
       {std::pair{"", Tracking::Full}, std::pair{"-lean", Tracking::Lean}}) {
    const Tracking Way = Follow;
    benchmark::RegisterBenchmark(
        (std::string("image") + Suffix + "/pei-rows").c_str(),
        [Way, OwnRows](benchmark::State &State) { Run(State, Images(Way), Entry::Pei, OwnRows); });
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
