#include "CoverageRuns.h"

#include "Board.h"
#include "CompareCases.h"
#include "Comparison.h"
#include "FileRead.h"
#include "FormatCases.h"
#include "FormatComparison.h"
#include "LibraryCases.h"
#include "RunRecord.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace imagecoverage {
namespace {

// A file past this is no input of a target (they take MaxInputBytes), and is not read whole.
constexpr std::uint64_t MaxInputFileBytes = std::uint64_t{1} << 20;

constexpr fuzzruns::Target Targets[] = {fuzzruns::Target::Pei, fuzzruns::Target::Requests,
                                        fuzzruns::Target::Dxe, fuzzruns::Target::Library};

// A library input: the script or the delay on Board, answered from the input.
void RunLibraryInput(const runs::ModuleRuns &Side, const fuzzruns::LibraryInput &Input,
                     sim::Board &Board) {
  Board.reset(Input.Settings);
  Board.answerReadsFrom(Input.Answers);
  if (Input.Delay) {
    Side.runDelay(Board, Input.Call);
  } else {
    Side.runScript(Board, Input.Rows);
  }
}

} // namespace

bool TargetRuns(fuzzruns::Target For, bool HavePei, bool HaveDxe) {
  if (For == fuzzruns::Target::Library) {
    return HavePei && HaveDxe;
  }
  return For == fuzzruns::Target::Dxe ? HaveDxe : HavePei;
}

std::optional<fuzzruns::Target> TargetNamed(const std::string &Name) {
  for (const fuzzruns::Target Each : Targets) {
    if (Name == fuzzruns::TargetProgram(Each)) {
      return Each;
    }
  }
  return std::nullopt;
}

void RunComparisonCases(const RunSides &On, bool HavePei, bool HaveDxe, InstructionHits &Into,
                        RunCounts &Counts) {
  // One run: on the images, whose instructions are counted, then on the host build when asked.
  const auto Run = [&](const auto &Make) {
    Into.beginRun();
    Make(On.Images);
    if (On.Host != nullptr) {
      Make(*On.Host);
    }
    ++Counts.Cases;
  };
  const unsigned Which =
      (HavePei ? comparison::EarlyInitRuns : 0u) | (HaveDxe ? comparison::DxeRuns : 0u);
  for (const comparison::Case &Each : comparison::Cases(Which)) {
    Run([&](const runs::ModuleRuns &Runs) { comparison::RunCase(Runs, Each); });
  }
  // The early-init module's script runner over rows of its own, each module's delays.
  if (HavePei) {
    for (const comparison::ScriptCase &Each : comparison::ScriptCases()) {
      Run([&](const runs::ModuleRuns &Runs) { comparison::RunScriptCase(Runs, Each); });
    }
  }
  for (const comparison::DelayCase &Each : comparison::DelayCases()) {
    if (Each.Call.Module == modules::ModuleId::BoardInitPei ? HavePei : HaveDxe) {
      Run([&](const runs::ModuleRuns &Runs) { comparison::RunDelayCase(Runs, Each); });
    }
  }
  // The driver's format engine and status names, over the format table and the status values.
  if (HaveDxe) {
    for (const comparison::FormatCase &Each : comparison::FormatComparisonCases()) {
      Run([&](const runs::ModuleRuns &Runs) { comparison::RunFormatCase(Runs, Each); });
    }
    for (const std::uint64_t Status : comparison::StatusNameCases()) {
      Run([&](const runs::ModuleRuns &Runs) { comparison::RunStatusNameCase(Runs, Status); });
    }
  }
  if (HavePei && HaveDxe) {
    for (const comparison::BootCase &Each : comparison::BootCases()) {
      Run([&](const runs::ModuleRuns &Runs) { comparison::RunBoot(Runs, Runs, Each); });
    }
  }
}

void RunCorpus(const RunSides &On, const Corpus &Inputs, InstructionHits &Into, RunCounts &Counts) {
  std::error_code Error;
  std::vector<std::filesystem::path> Files;
  for (std::filesystem::directory_iterator Each(Inputs.Folder, Error), End; !Error && Each != End;
       Each.increment(Error)) {
    if (Each->is_regular_file()) {
      Files.push_back(Each->path());
    }
  }
  if (Error) {
    throw CorpusError("cannot read the corpus folder '" + Inputs.Folder + "': " + Error.message());
  }
  std::sort(Files.begin(), Files.end());
  sim::Board Board;
  for (const std::filesystem::path &File : Files) {
    std::vector<std::uint8_t> Bytes;
    try {
      // Longer inputs than the targets take are cut as libFuzzer cuts them.
      Bytes = formats::ReadFileBytes(File.string(), MaxInputFileBytes);
    } catch (const formats::FileError &Failed) {
      throw CorpusError("cannot read the fuzz input '" + File.string() + "': " + Failed.what());
    }
    Bytes.resize(std::min(Bytes.size(), fuzzruns::InputLimit(Inputs.For)));
    if (Inputs.For == fuzzruns::Target::Library) {
      const fuzzruns::LibraryInput Input = fuzzruns::DecodeLibrary(Bytes);
      Into.beginRun();
      RunLibraryInput(On.Images, Input, Board);
      if (On.Host != nullptr) {
        RunLibraryInput(*On.Host, Input, Board);
      }
      ++Counts.Inputs;
      continue;
    }
    const fuzzruns::BoardInput Input = fuzzruns::Decode(Inputs.For, Bytes);
    const auto Run = [&](const runs::ModuleRuns &Side) {
      Board.reset(Input.Settings);
      Board.answerReadsFrom(Input.Answers);
      runs::RecordRun(Side, Board, Input.What, Input.Decode, Input.Window);
    };
    Into.beginRun();
    Run(On.Images);
    if (On.Host != nullptr) {
      Run(*On.Host);
    }
    ++Counts.Inputs;
  }
}

} // namespace imagecoverage
