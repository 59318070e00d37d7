// image-coverage: which instructions of the shipped images a set of runs executes (the comparison
// cases, fuzz corpora), mapped to their functions and source lines, as a table per function, an
// LCOV tracefile, the list of instructions never executed and JSON.
#include "CommandLine.h"
#include "CoverageFigures.h"
#include "CoverageGoal.h"
#include "CoverageRuns.h"
#include "ExitStatus.h"
#include "FileRead.h"
#include "HelpLayout.h"
#include "HostBuildRuns.h"
#include "Reports.h"
#include "SourceLines.h"
#include "ToolOutput.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char *Tool = "image-coverage";

struct Options {
  std::string PeiImage, DxeImage, PeiMap, DxeMap;
  bool NoCases = false, FuzzCorpora = false, Lean = false, HostBuild = false, Goal = false;
  std::vector<std::string> Corpora; // TARGET=DIR
  std::string Report, Json, Lcov, Missed;
  std::string HostLcov, Difference;
};

// The host build's tracefiles are of a few hundred kilobytes; far past this is no tracefile.
constexpr std::uint64_t MaxTracefileBytes = std::uint64_t{64} << 20;

struct BadInput {
  std::string Message;
};

// The folders of the runs asked for, each with its target.
std::vector<imagecoverage::Corpus> CorporaAsked(const Options &Opt) {
  const bool HavePei = !Opt.PeiImage.empty(), HaveDxe = !Opt.DxeImage.empty();
  std::vector<imagecoverage::Corpus> Folders;
  if (Opt.FuzzCorpora) {
    for (const fuzzruns::Target Each : {fuzzruns::Target::Pei, fuzzruns::Target::Requests,
                                        fuzzruns::Target::Dxe, fuzzruns::Target::Library}) {
      if (imagecoverage::TargetRuns(Each, HavePei, HaveDxe)) {
        Folders.push_back(
            {Each, std::string(BOARD_FUZZ_CORPORA) + "/" + fuzzruns::TargetProgram(Each)});
      }
    }
  }
  for (const std::string &Given : Opt.Corpora) {
    const std::size_t Equals = Given.find('=');
    const std::optional<fuzzruns::Target> For = imagecoverage::TargetNamed(Given.substr(0, Equals));
    if (Equals == std::string::npos || Equals + 1 == Given.size() || !For) {
      throw BadInput{"--corpus: '" + Given +
                     "' is not TARGET=DIR with TARGET ImagePeiFuzz, ImageRequestFuzz, "
                     "ImageDxeFuzz or ImageLibraryFuzz"};
    }
    if (!imagecoverage::TargetRuns(*For, HavePei, HaveDxe)) {
      throw BadInput{"--corpus: " + Given.substr(0, Equals) + "'s inputs run on " +
                     (*For == fuzzruns::Target::Library ? "--pei-image and --dxe-image"
                      : *For == fuzzruns::Target::Dxe   ? "--dxe-image"
                                                        : "--pei-image") +
                     (*For == fuzzruns::Target::Library ? ", which are not both given"
                                                        : ", which is not given")};
    }
    Folders.push_back({*For, Given.substr(Equals + 1)});
  }
  return Folders;
}

void AddOptions(CLI::App &App, Options &Opt) {
  App.add_option("--pei-image", Opt.PeiImage, "the shipped BoardInitPei.efi (its map beside it)")
      ->type_name("FILE");
  App.add_option("--dxe-image", Opt.DxeImage, "the shipped BoardInitDxe.efi (its map beside it)")
      ->type_name("FILE");
  App.add_option("--pei-map", Opt.PeiMap, "the map of --pei-image when it is not beside it")
      ->type_name("FILE");
  App.add_option("--dxe-map", Opt.DxeMap, "the map of --dxe-image when it is not beside it")
      ->type_name("FILE");
  App.add_flag("--no-cases", Opt.NoCases,
               "leave out the comparison cases (the runs by default; with both images the "
               "whole boots too)");
  App.add_flag("--fuzz-corpora", Opt.FuzzCorpora,
               "also run every input of the committed image fuzz corpora (Fuzz/Corpus) whose "
               "image is given");
  App.add_option("--corpus", Opt.Corpora,
                 "also run every file of DIR as an input of the fuzz target TARGET "
                 "(ImagePeiFuzz, ImageRequestFuzz, ImageDxeFuzz, ImageLibraryFuzz); repeatable")
      ->type_name("TARGET=DIR");
  App.add_flag("--lean", Opt.Lean,
               "follow the runs lean, as the fuzz targets do: faster, and a block left early "
               "counts whole");
  App.add_flag("--host-build", Opt.HostBuild,
               "make every run through the host build as well: built by the coverage preset, "
               "the tool leaves the host build's profile of the same runs");
  App.add_option("--host-lcov", Opt.HostLcov,
                 "the host build's LCOV tracefile of the same runs, for --difference")
      ->type_name("FILE");
  App.add_option("--difference", Opt.Difference,
                 "the source lines the host build runs and the images never run, and the "
                 "reverse (needs --host-lcov)")
      ->type_name("FILE");
  App.add_option("--report", Opt.Report,
                 "the table per function (default, on standard output, without other outputs)")
      ->type_name("FILE");
  App.add_option("--json", Opt.Json, "the figures and the never-executed instructions as JSON")
      ->type_name("FILE");
  App.add_option("--lcov", Opt.Lcov, "an LCOV tracefile by source line, for genhtml")
      ->type_name("FILE");
  App.add_option("--missed", Opt.Missed, "the instructions no run executed, one a line")
      ->type_name("FILE");
  App.add_flag("--goal", Opt.Goal,
               "check the goal: every instruction executed, or reviewed as unreachable with its "
               "reason; exit 1 naming each that is neither, and each reviewed entry that no "
               "longer holds");
}

} // namespace

int main(int argc, char **argv) {
  tooloutput::GuardStandardDescriptors();
  CLI::App App{"Runs the shipped images on the simulated board and tells which of their "
               "instructions ran: per function, by source line, and each never executed."};
  App.footer(tooloutput::ExitStatusHelp(
      {{tooloutput::ExitSuccess, "every output was written (and with --goal, the goal is met)"},
       {tooloutput::ExitCheckFailed,
        "--goal: an instruction was never executed and is not reviewed as unreachable, or a "
        "reviewed entry no longer holds (the outputs are written all the same)"},
       {tooloutput::ExitBadInput,
        "bad input: command line, no image, an image or map that cannot be run, a corpus "
        "folder or input that cannot be read, an output that is an input"},
       {tooloutput::ExitOutputFailed, "an output could not be written"}}));
  Options Opt;
  AddOptions(App, Opt);
  if (const auto Exit = tooloutput::ParseCommandLine(App, Tool, argc, argv)) {
    return *Exit;
  }
  try {
    if (Opt.PeiImage.empty() && Opt.DxeImage.empty()) {
      throw BadInput{"give --pei-image=FILE, --dxe-image=FILE or both"};
    }
    if ((!Opt.PeiMap.empty() && Opt.PeiImage.empty()) ||
        (!Opt.DxeMap.empty() && Opt.DxeImage.empty())) {
      throw BadInput{"a map needs its image (--pei-map with --pei-image, --dxe-map with "
                     "--dxe-image)"};
    }
    if (Opt.HostLcov.empty() != Opt.Difference.empty()) {
      throw BadInput{"--host-lcov and --difference go together: the difference is of the host "
                     "build's tracefile"};
    }
    const std::vector<imagecoverage::Corpus> Folders = CorporaAsked(Opt);
    if (Opt.NoCases && Folders.empty()) {
      throw BadInput{"--no-cases leaves no run: give --fuzz-corpora or --corpus=TARGET=DIR"};
    }
    tooloutput::OutputSet Outputs;
    for (const auto &[What, Path] : {std::pair{"the early-init image", Opt.PeiImage},
                                     {"the driver's image", Opt.DxeImage},
                                     {"the early-init map", Opt.PeiMap},
                                     {"the driver's map", Opt.DxeMap},
                                     {"the host build's tracefile", Opt.HostLcov}}) {
      if (!Path.empty()) {
        Outputs.addInput(What, Path);
      }
    }
    struct Wanted {
      const char *Label;
      const std::string &Path;
      std::string (*Make)(const imagecoverage::CoverageRecord &);
    };
    const bool Default =
        Opt.Report.empty() && Opt.Json.empty() && Opt.Lcov.empty() && Opt.Missed.empty();
    const Wanted Reports[] = {
        {"--report", Default ? std::string("-") : Opt.Report, imagecoverage::ReportText},
        {"--json", Opt.Json, imagecoverage::ReportJson},
        {"--lcov", Opt.Lcov, imagecoverage::ReportLcov},
        {"--missed", Opt.Missed, imagecoverage::ReportMissed}};
    std::vector<std::pair<tooloutput::Output *, const Wanted *>> Opened;
    for (const Wanted &Each : Reports) {
      if (!Each.Path.empty()) {
        Opened.emplace_back(&Outputs.add(Each.Label, Each.Path), &Each);
      }
    }
    std::optional<imagerun::PeiImage> Pei;
    std::optional<imagerun::DxeImage> Dxe;
    if (!Opt.PeiImage.empty()) {
      Pei = imagerun::LoadPeiImage(Opt.PeiImage, Opt.PeiMap);
    }
    if (!Opt.DxeImage.empty()) {
      Dxe = imagerun::LoadDxeImage(Opt.DxeImage, Opt.DxeMap);
    }
    imagecoverage::SourceLines Host;
    tooloutput::Output *Difference = nullptr;
    if (!Opt.HostLcov.empty()) {
      try {
        Host = imagecoverage::ParseLcov(formats::ReadFileText(Opt.HostLcov, MaxTracefileBytes));
      } catch (const std::exception &Error) {
        throw BadInput{"--host-lcov '" + Opt.HostLcov + "': " + Error.what()};
      }
      Difference = &Outputs.add("--difference", Opt.Difference);
    }
    Outputs.open();
    imagecoverage::CoverageRecord Record;
    imagecoverage::InstructionHits Hits;
    {
      imagerun::ImageRuns Images(Pei, Dxe,
                                 Opt.Lean ? imagerun::Tracking::Lean : imagerun::Tracking::Full);
      Images.coverWith(&Hits);
      imagecoverage::RunCounts Counts;
      const imagecoverage::RunSides On{Images, Opt.HostBuild ? &runs::HostBuild() : nullptr};
      if (!Opt.NoCases) {
        imagecoverage::RunComparisonCases(On, Pei.has_value(), Dxe.has_value(), Hits, Counts);
      }
      for (const imagecoverage::Corpus &Each : Folders) {
        imagecoverage::RunCorpus(On, Each, Hits, Counts);
      }
      Record.Cases = Counts.Cases;
      Record.Inputs = Counts.Inputs;
    }
    if (Pei) {
      Record.Images.push_back(imagecoverage::Cover(imagecoverage::ListCode(*Pei), Hits));
    }
    if (Dxe) {
      Record.Images.push_back(imagecoverage::Cover(imagecoverage::ListCode(*Dxe), Hits));
    }
    for (const auto &[Out, Each] : Opened) {
      Out->write(Each->Make(Record));
    }
    if (Difference != nullptr) {
      Difference->write(imagecoverage::ReportDifference(imagecoverage::LinesOf(Record), Host));
    }
    Outputs.commit();
    if (Opt.Goal) {
      const imagecoverage::GoalReport Goal =
          imagecoverage::CheckGoal(Record, imagecoverage::ReviewedUnreachable());
      std::fputs(imagecoverage::GoalText(Goal).c_str(), Goal.met() ? stdout : stderr);
      if (!Goal.met()) {
        return tooloutput::ExitCheckFailed;
      }
    }
    return tooloutput::ExitSuccess;
  } catch (const BadInput &Error) {
    std::fprintf(stderr, "%s: %s\n", Tool, Error.Message.c_str());
  } catch (const tooloutput::BadOutput &Error) {
    std::fprintf(stderr, "%s: %s\n", Tool, Error.what());
  } catch (const tooloutput::WriteFailed &Error) {
    std::fprintf(stderr, "%s: %s\n", Tool, Error.what());
    return tooloutput::ExitOutputFailed;
  } catch (const imagerun::ImageRejected &Error) {
    std::fprintf(stderr, "%s: %s\n", Tool, Error.what());
  } catch (const imagecoverage::CorpusError &Error) {
    std::fprintf(stderr, "%s: %s\n", Tool, Error.what());
  }
  return tooloutput::ExitBadInput;
}
