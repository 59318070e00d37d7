#include "ImageTarget.h"

#include "FuzzCheck.h"
#include "HostBuildRuns.h"
#include "ImageRuns.h"
#include "Machine/Coverage.h"
#include "SeedFiles.h"

#include "CommandLine.h"
#include "ExitStatus.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace imagefuzz {
namespace {

// The image's own code steers libFuzzer beside the host build's: each instruction the image runs
// marks its counter in this table, one per byte of code (the images are far smaller), which
// libFuzzer clears before each input and reads after it as coverage of its own. An input that
// reaches image code no input reached before is kept.
constexpr std::size_t ImageCounters = std::size_t{1} << 16;
__attribute__((used, section("__libfuzzer_extra_counters"))) std::uint8_t
    ImageCounter[ImageCounters];

class CountedCoverage final : public imagerun::Coverage {
public:
  void executed(std::uint64_t Address) override {
    std::uint8_t &Counter = ImageCounter[Address % ImageCounters];
    Counter = Counter == UINT8_MAX ? Counter : static_cast<std::uint8_t>(Counter + 1);
  }
};

struct Loaded {
  std::unique_ptr<imagerun::ImageRuns> Image;
  CountedCoverage Covered;
  std::string Path;
  fuzzruns::BoardPair Boards;
};

// One image a process: libFuzzer calls the target from one thread.
Loaded &State() {
  static Loaded Instance;
  return Instance;
}

[[noreturn]] void Fail(const std::string &Message, int Status = tooloutput::ExitBadInput) {
  std::fprintf(stderr, "%s\n", Message.c_str());
  std::exit(Status);
}

// The driver's entry and its format engine run in the driver's image.
bool RunsTheDriver(fuzzruns::Target For) {
  return For == fuzzruns::Target::Dxe || For == fuzzruns::Target::Format;
}

std::string DefaultImage(bool Driver) {
  return std::string(BOARD_FIRMWARE_DIR) + (Driver ? "/BoardInitDxe.efi" : "/BoardInitPei.efi");
}

// The target's own options, those that start with "--"; libFuzzer's flags start with one dash and
// the rest are corpus folders and inputs, all of them left to libFuzzer. The library target runs
// both images, each named by an option of its own with its map beside it; the others run one.
struct OwnOptions {
  std::string Image, Map, PeiImage, DxeImage, Seeds;
};

bool IsOwn(std::string_view Argument) {
  return Argument.size() > 2 && Argument.starts_with("--");
}

OwnOptions ParseOwnOptions(fuzzruns::Target For, int Argc, char **Argv) {
  const std::string Program = fuzzruns::TargetProgram(For);
  OwnOptions Own;
  CLI::App App("", Program);
  App.allow_extras();
  App.set_help_flag();
  std::vector<std::pair<const char *, std::string *>> Options;
  if (For == fuzzruns::Target::Library) {
    Options = {{"--pei-image", &Own.PeiImage}, {"--dxe-image", &Own.DxeImage}};
  } else {
    Options = {{"--image", &Own.Image}, {"--map", &Own.Map}};
  }
  Options.emplace_back("--write-seeds", &Own.Seeds);
  for (const auto &[Name, Field] : Options) {
    App.add_option(Name, *Field)
        ->type_name(std::string_view(Name) == "--write-seeds" ? "DIR" : "FILE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  }
  std::vector<std::string> Arguments;
  for (int Index = 1; Index < Argc; ++Index) {
    if (IsOwn(Argv[Index])) {
      Arguments.emplace_back(Argv[Index]);
    }
  }
  // Each of the target's options takes its value after '=': a word after it is libFuzzer's.
  for (const std::string &Each : Arguments) {
    const CLI::Option *Named = nullptr;
    for (const CLI::Option *Option : App.get_options()) {
      Named = Option->check_name(Each.substr(0, Each.find('='))) ? Option : Named;
    }
    if (Named != nullptr && Each.find('=') == std::string::npos) {
      Fail(Program + ": " + Named->get_name() + " takes its value as " + Named->get_name() + "=" +
           Named->get_type_name());
    }
  }
  try {
    tooloutput::ParseArguments(App, Arguments, Program);
  } catch (const tooloutput::CommandLineError &Error) {
    Fail(Program + ": " + Error.what());
  }
  for (const std::string &Each : App.remaining()) {
    Fail(Program + ": " + tooloutput::UnknownOption(Each, App, Program) +
         "; libFuzzer's flags take one dash");
  }
  return Own;
}

std::optional<std::string> Environment(const char *Name) {
  const char *Value = std::getenv(Name);
  return Value != nullptr && *Value != '\0' ? std::optional<std::string>(Value) : std::nullopt;
}

// Writes one file a distinct input. A file of the folder that is no seed (a seed of an older
// layout or of a case that is gone) is named and left alone: the folder is no seed corpus until it
// is removed, and the test of the committed seeds says so too.
void WriteSeedsAndExit(fuzzruns::Target For, const std::string &Folder) {
  const std::string Program = fuzzruns::TargetProgram(For);
  try {
    const fuzzruns::SeedsWritten Written = fuzzruns::WriteSeeds(For, Folder);
    std::printf("%s: %zu seeds written to %s\n", Program.c_str(), Written.Seeds, Folder.c_str());
    for (const std::string &Each : Written.NotSeeds) {
      std::fprintf(stderr, "%s: %s is no seed of today's cases; remove it\n", Program.c_str(),
                   Each.c_str());
    }
    std::exit(Written.NotSeeds.empty() ? tooloutput::ExitSuccess : tooloutput::ExitCheckFailed);
  } catch (const fuzzruns::SeedWriteFailed &Error) {
    Fail(Program + ": " + Error.what(), tooloutput::ExitOutputFailed);
  }
}

// Flags the image targets give libFuzzer unless the command line gives them itself.
// - The emulator keeps what it allocates across runs (translated code, its caches), so the
//   fuzzer's per-input leak check would find a "leak" after most inputs and scan the whole heap
//   each time, taking nine tenths of the run.
// - Inputs longer than the step budget can use are no use: their answers are never read. The
//   library target takes the readings of the longest delay (fuzzruns::InputLimit).
void AddDefaultFlags(fuzzruns::Target For, int *Argc, char ***Argv) {
  static std::vector<std::string> Defaults = {
      "-detect_leaks=0", "-max_len=" + std::to_string(fuzzruns::InputLimit(For))};
  static std::vector<char *> Arguments;
  Arguments.assign(*Argv, *Argv + *Argc);
  for (std::string &Flag : Defaults) {
    const std::string Name = Flag.substr(0, Flag.find('=') + 1);
    const bool Given = std::any_of(Arguments.begin() + 1, Arguments.end(), [&](const char *Each) {
      return std::string_view(Each).starts_with(Name);
    });
    if (!Given) {
      Arguments.insert(Arguments.begin() + 1, Flag.data());
    }
  }
  Arguments.push_back(nullptr);
  *Argc = static_cast<int>(Arguments.size() - 1);
  *Argv = Arguments.data();
}

} // namespace

} // namespace imagefuzz

// The emulator allocates on every store the image makes (it looks for translated code to drop),
// and recording the allocating stack of each took a third of the run. A finding is replayed with
// ASAN_OPTIONS=malloc_context_size=30 when a heap report needs its stacks.
extern "C" const char *__asan_default_options() {
  return "malloc_context_size=0";
}

namespace imagefuzz {

void Initialize(fuzzruns::Target For, int *Argc, char ***Argv) {
  const OwnOptions Own = ParseOwnOptions(For, *Argc, *Argv);
  if (!Own.Seeds.empty()) {
    WriteSeedsAndExit(For, Own.Seeds);
  }
  AddDefaultFlags(For, Argc, Argv);
  Loaded &Now = State();
  const auto Named = [](const std::string &Given, const char *Variable, bool Driver) {
    return !Given.empty() ? Given : Environment(Variable).value_or(DefaultImage(Driver));
  };
  Now.Path = Named(Own.Image, "BOARD_FUZZ_IMAGE", RunsTheDriver(For));
  const std::string Map = !Own.Map.empty() ? Own.Map : Environment("BOARD_FUZZ_MAP").value_or("");
  try {
    if (For == fuzzruns::Target::Library) {
      const std::string Pei = Named(Own.PeiImage, "BOARD_FUZZ_PEI_IMAGE", false);
      const std::string Dxe = Named(Own.DxeImage, "BOARD_FUZZ_DXE_IMAGE", true);
      Now.Path = Pei + " and " + Dxe;
      Now.Image = std::make_unique<imagerun::ImageRuns>(
          imagerun::LoadPeiImage(Pei), imagerun::LoadDxeImage(Dxe), imagerun::Tracking::Lean);
    } else if (RunsTheDriver(For)) {
      Now.Image = std::make_unique<imagerun::ImageRuns>(
          std::nullopt, imagerun::LoadDxeImage(Now.Path, Map), imagerun::Tracking::Lean);
    } else {
      Now.Image = std::make_unique<imagerun::ImageRuns>(imagerun::LoadPeiImage(Now.Path, Map),
                                                        std::nullopt, imagerun::Tracking::Lean);
    }
  } catch (const std::exception &Error) {
    Fail(std::string(fuzzruns::TargetProgram(For)) + ": " + Error.what());
  }
  Now.Image->coverWith(&Now.Covered);
  std::fprintf(stderr, "%s: fuzzing %s against the host build\n", fuzzruns::TargetProgram(For),
               Now.Path.c_str());
}

int TestOneInput(fuzzruns::Target For, const std::uint8_t *Data, std::size_t Size) {
  const fuzzruns::StackBudgets Budgets{BOARD_PEI_MAX_STACK_BYTES, BOARD_DXE_MAX_STACK_BYTES};
  std::optional<fuzzruns::Finding> Found;
  if (For == fuzzruns::Target::Library) {
    Found =
        fuzzruns::CheckLibraryInput(runs::HostBuild(), *State().Image,
                                    fuzzruns::DecodeLibrary({Data, Size}), Budgets, State().Boards);
  } else if (For == fuzzruns::Target::Format) {
    Found = fuzzruns::CheckFormatInput(runs::HostBuild(), *State().Image,
                                       fuzzruns::DecodeFormat({Data, Size}).Call, Budgets.Driver,
                                       State().Boards);
  } else {
    Found = fuzzruns::CheckInput(runs::HostBuild(), *State().Image,
                                 fuzzruns::Decode(For, {Data, Size}), Budgets, State().Boards);
  }
  if (Found) {
    std::fprintf(stderr, "%s: %s (%s)\n%s\n", fuzzruns::TargetProgram(For), Found->What.c_str(),
                 State().Path.c_str(), Found->Details.c_str());
    std::abort();
  }
  return 0;
}

} // namespace imagefuzz
