// boardsim: runs the board's firmware modules, or single requests of them, on the simulated
// board; traces every access and shows what the board looks like afterwards.
#include "Arguments.h"
#include "DxeImageRunner.h"
#include "DxeRun.h"
#include "Options.h"
#include "PeiImageRunner.h"
#include "PeiRun.h"
#include "Report.h"
#include "ToolOutput.h"

#include <cstdio>
#include <optional>

namespace {

using boardsim::Invocation;
using boardsim::Module;
using boardsim::UsageError;

constexpr int ExitWriteFailed = 1;
constexpr int ExitBadInput = 2;
constexpr int ExitHung = 3;
constexpr int ExitBreach = 4;

// The module's entry or its requests, on the host build or, given an image, in the image.
sim::PeiRunResult RunPei(const imagerun::PeiImage *Image, sim::Board &Board,
                         boardsim::RunReport &Report) {
  if (Image == nullptr) {
    return sim::RunPei(Board);
  }
  imagerun::PeiImageRun Run = imagerun::RunPeiImage(*Image, Board);
  Report.Image = boardsim::ImageReport{Image->Path, std::move(Run.Image)};
  return Run.Run;
}

sim::RequestsRunResult RunRequests(const Invocation &Asked, const imagerun::PeiImage *Image,
                                   sim::Board &Board, boardsim::RunReport &Report) {
  const bool Decode = Asked.Which == Module::Decode;
  if (Image == nullptr) {
    return Decode ? sim::RunDecodeRequests(Board, Asked.Decode)
                  : sim::RunWindowRequests(Board, Asked.Window);
  }
  imagerun::RequestsImageRun Run =
      Decode ? imagerun::RunDecodeRequestsInImage(*Image, Board, Asked.Decode)
             : imagerun::RunWindowRequestsInImage(*Image, Board, Asked.Window);
  Report.Image = boardsim::ImageReport{Image->Path, std::move(Run.Image)};
  return Run.Run;
}

sim::DxeRunResult RunDxe(const imagerun::DxeImage *Image, sim::Board &Board,
                         boardsim::RunReport &Report) {
  if (Image == nullptr) {
    return sim::RunDxe(Board);
  }
  imagerun::DxeImageRun Run = imagerun::RunDxeImage(*Image, Board);
  Report.Image = boardsim::ImageReport{Image->Path, std::move(Run.Image)};
  return Run.Run;
}

// The shipped image given with --image, loaded for the module that runs it.
struct Images {
  std::optional<imagerun::PeiImage> Pei;
  std::optional<imagerun::DxeImage> Dxe;
};

bool Breached(const boardsim::RunReport &Report) {
  return Report.Image && Report.Image->Facts.Breach;
}

boardsim::RunReport Run(const Invocation &Asked, const Images &Loaded, sim::Board &Board) {
  const imagerun::PeiImage *Image = Loaded.Pei ? &*Loaded.Pei : nullptr;
  boardsim::RunReport Report;
  Report.Which = Asked.Which;
  Report.ScenarioName = Asked.ScenarioName;
  Report.Requests = Asked.Requests;
  switch (Asked.Which) {
  case Module::Pei: {
    const sim::PeiRunResult Result = RunPei(Image, Board, Report);
    Report.Hung = Result.Hung;
    Report.LastAccesses = Result.LastAccesses;
    Report.Running = Result.Running;
    if (!Result.Hung && !Breached(Report)) {
      Report.EntryStatus = Result.EntryStatus;
    }
    break;
  }
  case Module::Dxe: {
    const sim::DxeRunResult Result = RunDxe(Loaded.Dxe ? &*Loaded.Dxe : nullptr, Board, Report);
    Report.Hung = Result.Hung;
    Report.LastAccesses = Result.LastAccesses;
    Report.Running = Result.Running;
    if (!Result.Hung && !Breached(Report)) {
      Report.EntryStatus = Result.EntryStatus;
    }
    Report.Dxe = boardsim::DxeFacts{Result.InSmm, Result.HobListFound, Result.LocateProtocolCalls,
                                    Result.InSmmCalls};
    break;
  }
  case Module::Decode:
  case Module::Window: {
    const sim::RequestsRunResult Result = RunRequests(Asked, Image, Board, Report);
    Report.Results = Result.Statuses;
    Report.Hung = Result.Hung;
    Report.LastAccesses = Result.LastAccesses;
    Report.Running = Result.Running;
    break;
  }
  }
  return Report;
}

void PrintHung(const boardsim::RunReport &Report, std::uint64_t MaxSteps) {
  std::string Running;
  for (const std::string &Call : Report.Running) {
    Running += (Running.empty() ? " in " : " > ") + Call;
  }
  if (Report.Image && Report.Image->Facts.SpunWithoutAccess) {
    std::fprintf(stderr,
                 "boardsim: the run hung: it executed %llu instructions without an access%s; "
                 "last accesses:\n",
                 static_cast<unsigned long long>(imagerun::InstructionsWithoutAccess),
                 Running.c_str());
  } else {
    std::fprintf(stderr,
                 "boardsim: the run hung: it exceeded its step budget of %llu accesses%s; last "
                 "accesses:\n",
                 static_cast<unsigned long long>(MaxSteps), Running.c_str());
  }
  for (const sim::TraceRecord &Record : Report.LastAccesses) {
    std::fprintf(stderr, "  %s\n", sim::FormatRecord(Record).c_str());
  }
}

int Main(int argc, char **argv) {
  const Invocation Asked = boardsim::ParseCommandLine(argc, argv);
  tooloutput::OutputSet Outputs;
  switch (Asked.What) {
  case Invocation::Action::Help:
    Outputs.standardOutput().write(Asked.TopLevelHelp ? boardsim::TopLevelHelp()
                                                      : boardsim::SubcommandHelp(Asked.Which));
    break;
  case Invocation::Action::Version:
    Outputs.standardOutput().write(std::string(boardsim::Version) + "\n");
    break;
  case Invocation::Action::ListScenarios:
    Outputs.standardOutput().write(boardsim::ScenarioList());
    break;
  case Invocation::Action::Run:
    break;
  }
  if (Asked.What != Invocation::Action::Run) {
    Outputs.open();
    Outputs.commit();
    return 0;
  }

  // The image is read and checked before any output is touched: a file that cannot run is bad
  // input.
  Images Loaded;
  if (!Asked.ImagePath.empty()) {
    try {
      if (Asked.Which == Module::Dxe) {
        Loaded.Dxe = imagerun::LoadDxeImage(Asked.ImagePath);
      } else {
        Loaded.Pei = imagerun::LoadPeiImage(Asked.ImagePath);
      }
    } catch (const imagerun::ImageRejected &Error) {
      throw UsageError(Error.what());
    }
  }

  // Every output is set up before anything runs; none of the files is touched until all of them
  // are complete.
  tooloutput::Output *Trace =
      Asked.TracePath.empty() ? nullptr : &Outputs.add("--trace", Asked.TracePath);
  tooloutput::Output *Json =
      Asked.JsonPath.empty() ? nullptr : &Outputs.add("--json", Asked.JsonPath);
  const bool Quiet = (Trace != nullptr && Trace->toStandardOutput()) ||
                     (Json != nullptr && Json->toStandardOutput());
  tooloutput::Output *Summary = Quiet ? nullptr : &Outputs.standardOutput();
  try {
    Outputs.open();
  } catch (const tooloutput::WriteFailed &Error) {
    // Nothing has run and no file was touched: an output that cannot be made is bad input.
    throw UsageError(Error.what());
  }

  // The trace streams to its output as the run makes it: memory stays bounded whatever the step
  // budget, and the board keeps only its last accesses and counts.
  sim::Scenario Settings = Asked.Scenario;
  Settings.RecordTrace = false;
  sim::Board Board(Settings);
  boardsim::RunReport Report;
  if (Trace != nullptr) {
    Board.addObserver([Trace](const sim::TraceRecord &Record) {
      Trace->write(sim::FormatRecord(Record));
      Trace->write("\n");
    });
  }
  boardsim::RunFacts Facts;
  Board.addObserver([&Facts](const sim::TraceRecord &Record) { Facts.observe(Record); });
  Report = Run(Asked, Loaded, Board);
  Facts.finish();
  Report.Facts = Facts;

  if (Json != nullptr) {
    Json->write(boardsim::JsonText(Report, Board));
  }
  if (Summary != nullptr) {
    Summary->write(boardsim::Summary(Report, Board));
  }
  Outputs.commit();
  // A breach is the firmware's fault, not the run's: the outputs hold everything up to it.
  if (Breached(Report)) {
    std::fprintf(stderr, "boardsim: %s\n", Report.Image->Facts.Breach->c_str());
    return ExitBreach;
  }
  if (Report.Hung) {
    PrintHung(Report, Settings.MaxSteps);
    return ExitHung;
  }
  return 0;
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
    return ExitWriteFailed;
  }
}
