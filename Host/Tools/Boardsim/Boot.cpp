#include "Boot.h"

#include "Arguments.h"
#include "BootReport.h"
#include "ExitStatus.h"
#include "GdbSession.h"
#include "HostBuildRuns.h"
#include "ImageRuns.h"
#include "ImageStops.h"
#include "LastAccesses.h"
#include "Options.h"
#include "RunOutputs.h"
#include "TableText.h"
#include "ToolOutput.h"
#include "TopLevelOptions.h"
#include "TraceEvents.h"

#include "CommandLine.h"
#include "ExitStatus.h"
#include "HelpLayout.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <map>
#include <optional>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace boardsim {
namespace {

using tooloutput::ExitBreach;
using tooloutput::ExitHung;
using tooloutput::ExitSuccess;

constexpr const char *BootUsage = "usage: boardsim boot [options]\n";
constexpr const char *BootDescription =
    "Runs BoardInitPei and then BoardInitDxe on one simulated board: the driver finds every "
    "device as the early module left it (the bridge's decoding, the Super I/O chip), so a device "
    "the early module did not make reachable is out of the driver's reach too.";

// The help of boot's own options; every other option is dxe's.
std::string BootOptionLines() {
  using tooloutput::HelpLine;
  constexpr const char *Tables = "rows in place of BoardInitPei's tables, as 'boardsim pei' "
                                 "takes them";
  return HelpLine("--pei-image=FILE",
                  "run the shipped BoardInitPei.efi for the first phase (its map beside it)") +
         HelpLine("--dxe-image=FILE",
                  "run the shipped BoardInitDxe.efi for the second phase (its map beside it)") +
         HelpLine("--pei-map=FILE", "the linker map of --pei-image when it is not the file "
                                    "beside it") +
         HelpLine("--dxe-map=FILE", "the linker map of --dxe-image when it is not the file "
                                    "beside it") +
         HelpLine("--decode-table=ROWS", Tables) + HelpLine("--superio-script=ROWS", Tables) +
         HelpLine("--tables=FILE", Tables) + HelpLine("-h, --help", "show this help") + "\n" +
         tooloutput::Wrapped("Every option of 'boardsim dxe' sets the board and the driver's "
                             "firmware as it does there (--scenario, --trace, --json, --spi..., "
                             "--uart-lsr, --lpc, --pcr, --max-steps: the budget of each phase); "
                             "see 'boardsim dxe --help'.");
}

std::string BootHelp() {
  using namespace tooloutput;
  return std::string(BootUsage) + "\n" + Wrapped(BootDescription) + "\nOptions:\n" +
         BootOptionLines() + "\n" +
         ExitStatusHelp({{ExitSuccess, "both phases ran to their end"},
                         {ExitCheckFailed, "--strict: a phase gave a warning (the outputs are "
                                           "written)"},
                         {ExitBadInput, "bad input, one line names it"},
                         {ExitHung, "a phase hung (the driver does not run after a hung early "
                                    "phase)"},
                         {ExitBreach, "an image broke a rule"},
                         {ExitOutputFailed, "an output could not be written"}});
}

struct BootOptions {
  std::string PeiImage, DxeImage, PeiMap, DxeMap;
  std::vector<std::string> Rest;      // for the driver's option parser
  std::vector<std::string> PeiTables; // the early module's table rows, for pei's option parser
  bool Help = false;
};

// boot's own options are taken here; the rows for the early module's tables go to pei's parser
// and everything else, in its order, to dxe's, which name what is wrong with them.
BootOptions SplitOptions(int argc, const char *const *argv) {
  BootOptions Out;
  CLI::App App("", "boot");
  App.allow_extras();
  App.set_help_flag();
  const CLI::Option *Help = App.add_flag("-h,--help");
  for (const auto &[Name, Field] : {std::pair{"--pei-image", &Out.PeiImage},
                                    {"--dxe-image", &Out.DxeImage},
                                    {"--pei-map", &Out.PeiMap},
                                    {"--dxe-map", &Out.DxeMap}}) {
    App.add_option(Name, *Field)
        ->type_name("FILE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  }
  std::vector<const CLI::Option *> Tables;
  for (const char *Name : {"--decode-table", "--superio-script", "--tables"}) {
    Tables.push_back(App.add_option(Name)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll));
  }
  const std::vector<std::string> Arguments(argv + 2, argv + argc);
  try {
    tooloutput::ParseArguments(App, Arguments, "boardsim boot");
  } catch (const tooloutput::CommandLineError &Error) {
    throw UsageError(Error.what());
  }
  Out.Help = Help->count() != 0;
  if (Out.Help) {
    CheckHelpAlone(Arguments);
  }
  for (const std::string &Each : App.remaining()) {
    const std::string Name = Each.substr(0, Each.find('='));
    if (Name == "--image" || Name == "--map") {
      throw UsageError("boot takes --pei-image and --dxe-image (with --pei-map, --dxe-map), "
                       "one for each phase, not " +
                       Name);
    }
    Out.Rest.push_back(Each);
  }
  std::map<const CLI::Option *, std::size_t> Taken;
  for (const CLI::Option *Each : App.parse_order()) {
    if (std::find(Tables.begin(), Tables.end(), Each) != Tables.end()) {
      Out.PeiTables.push_back(Each->get_name() + "=" + Each->results().at(Taken[Each]++));
    }
  }
  if (Out.PeiImage.empty() && !Out.PeiMap.empty()) {
    throw UsageError("--pei-map is the map of --pei-image, which is not given");
  }
  if (Out.DxeImage.empty() && !Out.DxeMap.empty()) {
    throw UsageError("--dxe-map is the map of --dxe-image, which is not given");
  }
  return Out;
}

void PrintHung(const BootPhase &Phase, const char *Name) {
  std::string Running;
  for (const sim::CallRecord &Call : Phase.Report.Result.Running) {
    Running += (Running.empty() ? " in " : " > ") + sim::CallText(Call);
  }
  tooloutput::PrintError("boardsim: the boot hung in {}{}; last accesses:\n", Name, Running);
  for (const std::string &Line : CollapsedRecords(Phase.Report.Result.LastAccesses)) {
    tooloutput::PrintError("  {}\n", Line);
  }
  if (Phase.Report.Result.Image) {
    for (const std::string &Line : StoppedLines(*Phase.Report.Result.Image)) {
      tooloutput::PrintError("  {}\n", Line);
    }
  }
}

} // namespace

int BootMain(int argc, const char *const *argv) {
  const BootOptions Own = SplitOptions(argc, argv);
  tooloutput::OutputSet Outputs;
  if (Own.Help) {
    Outputs.standardOutput().write(BootHelp());
    Outputs.commit();
    return ExitSuccess;
  }
  // The board and the driver's firmware are set as 'boardsim dxe' sets them.
  std::vector<const char *> DriverArgs = {argv[0], "dxe"};
  for (const std::string &Arg : Own.Rest) {
    DriverArgs.push_back(Arg.c_str());
  }
  const Invocation Asked = ParseCommandLine(static_cast<int>(DriverArgs.size()), DriverArgs.data());
  // Rows for the early module's tables, as 'boardsim pei' takes them.
  std::vector<const char *> TableArgs = {argv[0], "pei"};
  for (const std::string &Arg : Own.PeiTables) {
    TableArgs.push_back(Arg.c_str());
  }
  const Invocation Tables = ParseCommandLine(static_cast<int>(TableArgs.size()), TableArgs.data());

  const std::string PeiMap =
      Own.PeiMap.empty() && !Own.PeiImage.empty() ? imagerun::MapPathFor(Own.PeiImage) : Own.PeiMap;
  const std::string DxeMap =
      Own.DxeMap.empty() && !Own.DxeImage.empty() ? imagerun::MapPathFor(Own.DxeImage) : Own.DxeMap;
  for (const auto &[What, Path] : {std::pair{"the early-init image", Own.PeiImage},
                                   {"its map", PeiMap},
                                   {"the driver's image", Own.DxeImage},
                                   {"its map", DxeMap},
                                   {"the tables file", Tables.TablesPath}}) {
    if (!Path.empty()) {
      Outputs.addInput(What, Path);
    }
  }
  const RunOutputs Out = AddRunOutputs(Outputs, Asked);

  std::unique_ptr<imagerun::ImageRuns> PeiImage, DxeImage;
  std::int64_t DxeOffset = 0; // where the driver runs less where it was linked
  try {
    std::optional<imagerun::PeiImage> Pei;
    if (!Own.PeiImage.empty()) {
      Pei = imagerun::LoadPeiImage(Own.PeiImage, PeiMap);
    }
    CheckTablesGiven(Tables.Scenario.Tables, Pei ? &*Pei : nullptr);
    if (Pei) {
      PeiImage = std::make_unique<imagerun::ImageRuns>(std::move(*Pei), std::nullopt);
    }
    if (!Own.DxeImage.empty()) {
      imagerun::DxeImage Dxe = imagerun::LoadDxeImage(Own.DxeImage, DxeMap);
      DxeOffset = static_cast<std::int64_t>(Dxe.Base - Dxe.PreferredBase);
      DxeImage = std::make_unique<imagerun::ImageRuns>(std::nullopt, std::move(Dxe));
    }
  } catch (const imagerun::ImageRejected &Error) {
    throw UsageError(Error.what());
  }
  // gdb debugs the phases run from images, each phase a connection of its own (their processor
  // modes differ); the port is taken before any output is touched.
  std::optional<GdbSession> Session;
  if (Asked.GdbPort) {
    if (!PeiImage && !DxeImage) {
      throw UsageError("--gdb debugs a shipped image: give --pei-image or --dxe-image");
    }
    Session.emplace(*Asked.GdbPort);
  }
  Outputs.open();
  if (Session) {
    const std::string DxeSymbols = DxeImage ? GdbSymbols(Own.DxeImage, DxeOffset) : "";
    Session->driverSymbols(DxeSymbols);
    Session->waitForGdb(PeiImage ? "the boot's early phase, " + Own.PeiImage
                                 : "the boot's driver phase, " + Own.DxeImage,
                        PeiImage ? GdbSymbols(Own.PeiImage, 0) : DxeSymbols);
  }

  sim::Scenario Settings = Asked.Scenario;
  Settings.Tables = Tables.Scenario.Tables;
  Settings.RecordTrace = false;
  sim::Board Board(Settings);
  std::vector<sim::TraceObserver> Sinks;
  if (Out.Trace != nullptr) {
    Sinks.push_back(TraceSink(*Out.Trace, Board));
  }
  std::optional<TraceEvents> Events;
  if (Out.TraceEvents != nullptr) {
    Events.emplace(*Out.TraceEvents, "boot: BoardInitPei, then BoardInitDxe");
    Sinks.emplace_back([&Events](const sim::TraceRecord &Record) { Events->observe(Record); });
  }

  // Each phase is a run of its own on the one board, which carries every device's state across.
  BootReport Boot;
  std::span<const sim::TraceObserver> PhaseSinks = Sinks;
  const auto RunPhase = [&](BootPhase &Phase, Module Which, const runs::ModuleRuns &Runs,
                            const std::string &ImagePath) {
    Phase.Report = runs::RecordRun(Runs, Board, Which, {}, {}, PhaseSinks);
    Phase.Report.ScenarioName = Asked.ScenarioName;
    Phase.Ran = true;
    if (!ImagePath.empty()) {
      Phase.Report.ImagePath = ImagePath;
    }
    const runs::RunRecord &Made = Phase.Report;
    Phase.Accesses = Made.accesses();
    Phase.SerialBytesLost = Made.End.deliveries(sim::DeviceId::Uart).LostBytes -
                            Made.Start.deliveries(sim::DeviceId::Uart).LostBytes;
    Phase.Reachable = sim::DevicesReachable(Made.End.Bridge);
  };
  const auto Stopped = [](const BootPhase &Phase) {
    const runs::RunResult &Result = Phase.Report.Result;
    return Result.Hung || (Result.Image && Result.Image->Breach);
  };

  const auto RunBoot = [&](std::span<const sim::TraceObserver> PassSinks) {
    Boot = BootReport();
    Boot.AtStart = sim::DevicesReachable(Board.bridge());
    PhaseSinks = PassSinks;
    RunPhase(Boot.Pei, Module::Pei, PeiImage ? *PeiImage : runs::HostBuild(), Own.PeiImage);
    Boot.Dxe.Report.Which = Module::Dxe;
    if (DxeImage) {
      Boot.Dxe.Report.Result.Ran = runs::Implementation::Image;
    }
    if (Stopped(Boot.Pei)) {
      return Boot.Pei.Report.Result.Hung ? ExitHung : ExitBreach;
    }
    RunPhase(Boot.Dxe, Module::Dxe, DxeImage ? *DxeImage : runs::HostBuild(), Own.DxeImage);
    return Stopped(Boot.Dxe) ? (Boot.Dxe.Report.Result.Hung ? ExitHung : ExitBreach) : ExitSuccess;
  };
  if (Session) {
    std::vector<imagerun::ImageRuns *> Debugged;
    for (imagerun::ImageRuns *Each : {PeiImage.get(), DxeImage.get()}) {
      if (Each != nullptr) {
        Debugged.push_back(Each);
      }
    }
    PassesUnderGdb(*Session, Debugged, Board, Settings, Sinks, RunBoot);
  } else {
    RunBoot(Sinks);
  }

  if (Events) {
    Events->finish();
  }
  if (Out.Json != nullptr) {
    Out.Json->write(BootJson(Boot));
  }
  if (Out.Report != nullptr) {
    Out.Report->write(BootSummary(Boot, Asked.Verbose));
  }
  Outputs.commit();
  for (const BootPhase *Phase : {&Boot.Pei, &Boot.Dxe}) {
    const char *Name = sim::RunModule(sim::RunKindOf(Phase->Report.Which)).Name;
    const runs::RunResult &Result = Phase->Report.Result;
    if (Result.Image && Result.Image->Breach) {
      std::fprintf(stderr, "boardsim: %s\n", Result.Image->Breach->c_str());
      for (const std::string &Line : FaultLines(*Result.Image)) {
        std::fprintf(stderr, "  %s\n", Line.c_str());
      }
      return ExitBreach;
    }
    if (Result.Hung) {
      PrintHung(*Phase, Name);
      return ExitHung;
    }
  }
  // --strict: the outputs are written as ever; the status says a warning was found.
  if (const std::size_t Warnings = BootWarningCount(Boot); Asked.Strict && Warnings != 0) {
    tooloutput::PrintError("boardsim: --strict: {} warning{} in the boot\n", Warnings,
                           Warnings == 1 ? "" : "s");
    return tooloutput::ExitCheckFailed;
  }
  return ExitSuccess;
}

} // namespace boardsim
