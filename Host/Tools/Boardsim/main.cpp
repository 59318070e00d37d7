// boardsim: runs the board's firmware modules, or single requests of them, on the simulated
// board; traces every access and shows what the board looks like afterwards.
#include "Arguments.h"
#include "Boot.h"
#include "Compare.h"
#include "ExitStatus.h"
#include "Findings.h"
#include "GdbSession.h"
#include "HostBuildRuns.h"
#include "ImageRuns.h"
#include "ImageStops.h"
#include "LastAccesses.h"
#include "Options.h"
#include "Progress.h"
#include "Report.h"
#include "RunOutputs.h"
#include "TableText.h"
#include "ToolOutput.h"
#include "TraceEvents.h"

#include "ExitStatus.h"

#include <cstdio>
#include <memory>
#include <optional>

namespace {

using boardsim::Invocation;
using boardsim::Module;
using boardsim::UsageError;

using tooloutput::ExitBadInput;
using tooloutput::ExitBreach;
using tooloutput::ExitCheckFailed;
using tooloutput::ExitHung;
using tooloutput::ExitOutputFailed;
using tooloutput::ExitSuccess;

// The status a run ends the tool with, before --strict: a broken rule, a hang, or success.
int RunExitStatus(const runs::RunResult &Result) {
  if (Result.Image && Result.Image->Breach) {
    return ExitBreach;
  }
  return Result.Hung ? ExitHung : ExitSuccess;
}

void PrintHung(const runs::RunRecord &Report, std::uint64_t MaxSteps) {
  std::string Running;
  for (const sim::CallRecord &Call : Report.Result.Running) {
    Running += (Running.empty() ? " in " : " > ") + sim::CallText(Call);
  }
  // The wait it was in, when its last access was one of a wait's reads.
  if (const boardsim::TimedWait *Wait = Report.Time.hungIn()) {
    Running += ", in " + boardsim::WaitText(*Wait);
  }
  const bool Spun = Report.Result.Image && Report.Result.Image->SpunWithoutAccess;
  tooloutput::PrintError("boardsim: the run hung: {}{}{}\n",
                         Spun ? fmt::format("it executed {} instructions without an access",
                                            runs::InstructionsWithoutAccess)
                              : "it exceeded " + boardsim::StepBudgetText(MaxSteps),
                         Running, Report.Result.LastAccesses.empty() ? "" : "; last accesses:");
  for (const std::string &Line : boardsim::CollapsedRecords(Report.Result.LastAccesses)) {
    tooloutput::PrintError("  {}\n", Line);
  }
  if (Report.Result.Image) {
    for (const std::string &Line : boardsim::StoppedLines(*Report.Result.Image)) {
      tooloutput::PrintError("  {}\n", Line);
    }
  }
}

int Main(int argc, char **argv) {
  if (argc > 1 && std::string(argv[1]) == "compare") {
    return boardsim::CompareMain(argc, argv);
  }
  if (argc > 1 && std::string(argv[1]) == "boot") {
    return boardsim::BootMain(argc, argv);
  }
  // "boardsim --help boot" is "boardsim boot --help".
  if (argc == 3 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") &&
      std::string(argv[2]) == "boot") {
    const char *const Help[] = {argv[0], "boot", "--help"};
    return boardsim::BootMain(3, Help);
  }
  // "boardsim --help compare" is "boardsim compare --help".
  if (argc == 3 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") &&
      std::string(argv[2]) == "compare") {
    const char *const Help[] = {argv[0], "compare", "--help"};
    return boardsim::CompareMain(3, Help);
  }
  const Invocation Asked = boardsim::ParseCommandLine(argc, argv);
  tooloutput::OutputSet Outputs;
  if (Asked.What != Invocation::Action::Run) {
    using Action = Invocation::Action;
    Outputs.standardOutput().write(Asked.What == Action::Version
                                       ? std::string(boardsim::Version) + "\n"
                                   : Asked.What != Action::ListScenarios ? boardsim::HelpText(Asked)
                                   : Asked.ScenariosJson                 ? boardsim::ScenarioJson()
                                                         : boardsim::ScenarioList());
    Outputs.commit();
    return ExitSuccess;
  }

  // Every output is set up before anything runs; none of the files is touched until all of them
  // are complete, and none may be a file the run reads.
  if (!Asked.ImagePath.empty()) {
    Outputs.addInput("the image", Asked.ImagePath);
    Outputs.addInput("the map", Asked.mapPath());
  }
  if (!Asked.TablesPath.empty()) {
    Outputs.addInput("the tables file", Asked.TablesPath);
  }
  const boardsim::RunOutputs Out = boardsim::AddRunOutputs(Outputs, Asked);

  // The image is read and checked before any output is touched: a file that cannot run is bad
  // input.
  std::unique_ptr<imagerun::ImageRuns> Image;
  std::optional<imagerun::PeiImage> PeiImage;
  std::int64_t LoadedOffset = 0; // where the image runs less where it was linked
  if (!Asked.ImagePath.empty()) {
    try {
      if (Asked.Which == Module::Dxe) {
        imagerun::DxeImage Dxe = imagerun::LoadDxeImage(Asked.ImagePath, Asked.mapPath());
        LoadedOffset = static_cast<std::int64_t>(Dxe.Base - Dxe.PreferredBase);
        Image = std::make_unique<imagerun::ImageRuns>(std::nullopt, std::move(Dxe));
      } else {
        PeiImage = imagerun::LoadPeiImage(Asked.ImagePath, Asked.mapPath());
      }
    } catch (const imagerun::ImageRejected &Error) {
      throw UsageError(Error.what());
    }
  }
  // Rows given for the tables must fill the tables of what runs, or nothing runs.
  const imagerun::PeiImage *Pei = PeiImage ? &*PeiImage : nullptr;
  boardsim::CheckTablesGiven(Asked.Scenario.Tables, Pei);
  if (Asked.PrintTables) {
    Outputs.standardOutput().write(
        boardsim::TablesText(boardsim::TablesToRun(Asked.Scenario.Tables, Pei),
                             Pei ? "the image " + Asked.ImagePath : std::string("the host build")));
    Outputs.commit();
    return ExitSuccess;
  }
  if (PeiImage) {
    Image = std::make_unique<imagerun::ImageRuns>(std::move(*PeiImage), std::nullopt);
  }
  const runs::ModuleRuns &Runs = Image ? *Image : runs::HostBuild();

  // gdb debugs an image: the port is taken before any output is touched.
  std::optional<boardsim::GdbSession> Session;
  if (Asked.GdbPort) {
    if (!Image) {
      throw UsageError("--gdb debugs a shipped image: give --image");
    }
    Session.emplace(*Asked.GdbPort);
  }

  // An output that cannot be made fails the run (ExitOutputFailed) before anything runs.
  Outputs.open();
  if (Session) {
    Session->waitForGdb(std::string("the run of ") + Asked.ImagePath,
                        boardsim::GdbSymbols(Asked.ImagePath, LoadedOffset));
  }

  // The trace streams to its output as the run makes it: memory stays bounded whatever the step
  // budget, and the board keeps only its last accesses and counts.
  sim::Scenario Settings = Asked.Scenario;
  Settings.RecordTrace = false;
  sim::Board Board(Settings);
  std::vector<sim::TraceObserver> Sinks;
  if (Out.Trace != nullptr) {
    Sinks.push_back(boardsim::TraceSink(*Out.Trace, Board));
  }
  std::optional<boardsim::TraceEvents> Events;
  if (Out.TraceEvents != nullptr) {
    Events.emplace(*Out.TraceEvents,
                   std::string(boardsim::ModuleName(Asked.Which)) + ", " +
                       (Image ? "the image " + Asked.ImagePath : std::string("the host build")));
    Sinks.emplace_back([&Events](const sim::TraceRecord &Record) { Events->observe(Record); });
  }
  boardsim::Progress Shown(Settings.MaxSteps, boardsim::Progress::StandardErrorIsTerminal());
  Sinks.emplace_back([&Shown](const sim::TraceRecord &Record) {
    if (Record.Kind != sim::AccessKind::Note) {
      Shown.access();
    }
  });
  runs::RunRecord Report;
  const auto Run = [&](std::span<const sim::TraceObserver> PassSinks) {
    Report = runs::RecordRun(Runs, Board, Asked.Which, Asked.Decode, Asked.Window, PassSinks);
    return RunExitStatus(Report.Result);
  };
  if (Session) {
    imagerun::ImageRuns *const Debugged[] = {Image.get()};
    boardsim::PassesUnderGdb(*Session, Debugged, Board, Settings, Sinks, Run);
  } else {
    Run(Sinks);
  }
  Shown.finish();
  if (Events) {
    Events->finish();
  }
  Report.ScenarioName = Asked.ScenarioName;
  if (Report.Result.Ran == runs::Implementation::Image) {
    Report.ImagePath = Asked.ImagePath;
  }

  if (Out.Json != nullptr) {
    Out.Json->write(boardsim::JsonText(Report));
  }
  if (Out.Report != nullptr) {
    Out.Report->write(boardsim::Summary(Report, Asked.Verbose));
  }
  Outputs.commit();
  // A breach is the firmware's fault, not the run's: the outputs hold everything up to it.
  if (Report.Result.Image && Report.Result.Image->Breach) {
    std::fprintf(stderr, "boardsim: %s\n", Report.Result.Image->Breach->c_str());
    for (const std::string &Line : boardsim::FaultLines(*Report.Result.Image)) {
      std::fprintf(stderr, "  %s\n", Line.c_str());
    }
    return ExitBreach;
  }
  if (Report.Result.Hung) {
    PrintHung(Report, Settings.MaxSteps);
    return ExitHung;
  }
  // --strict: the outputs are written as ever; the status says a warning was found.
  if (const std::size_t Warnings = boardsim::WarningCount(Report); Asked.Strict && Warnings != 0) {
    tooloutput::PrintError("boardsim: --strict: {} warning{} in the run\n", Warnings,
                           Warnings == 1 ? "" : "s");
    return ExitCheckFailed;
  }
  return ExitSuccess;
}

} // namespace

int main(int argc, char **argv) {
  tooloutput::GuardStandardDescriptors();
  try {
    return Main(argc, argv);
  } catch (const UsageError &Error) {
    std::fprintf(stderr, "boardsim: %s\n", Error.what());
    return ExitBadInput;
  } catch (const tooloutput::BadOutput &Error) {
    std::fprintf(stderr, "boardsim: %s\n", Error.what());
    return ExitBadInput;
  } catch (const tooloutput::WriteFailed &Error) {
    std::fprintf(stderr, "boardsim: %s\n", Error.what());
    return ExitOutputFailed;
  }
}
