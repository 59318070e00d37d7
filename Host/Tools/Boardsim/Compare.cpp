#include "Compare.h"

#include "Arguments.h"
#include "FileRead.h"
#include "FormatComparison.h"
#include "HostBuildRuns.h"
#include "ImageRuns.h"
#include "LibraryCases.h"
#include "Modules.h"
#include "NamedScenarios.h"
#include "OptionTable.h"
#include "PeFile.h"
#include "ToolOutput.h"
#include "TopLevelOptions.h"
#include "Trace.h"

#include "CommandLine.h"
#include "ExitStatus.h"
#include "HelpLayout.h"
#include "Suggest.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

namespace boardsim {
namespace {

constexpr int ExitSame = tooloutput::ExitSuccess;
constexpr int ExitDifferent = tooloutput::ExitCheckFailed;

using comparison::Run;

// The boot cases' run: the early-init module, then the driver, on one board.
constexpr const char *BootRun = "boot";
// The format cases' run: the driver's FormatBufferV and GetStatusCodeName on data of their own.
constexpr const char *FormatRun = "format";
// The early-init module's RunIoScript over rows of its own, and each module's PM-timer delays.
constexpr const char *ScriptRun = "script";
constexpr const char *DelayRun = "delay";

// The operand that names the host build rather than a file.
constexpr const char *HostOperand = "host";

// Traces are read whole, up to this size: a file far larger is refused rather than read until
// memory runs out.
constexpr std::uint64_t MaxTraceBytes = std::uint64_t{1} << 30;

std::vector<std::string> ScenarioNames() {
  std::vector<std::string> Names;
  for (const sim::NamedScenario &Each : sim::NamedScenarios()) {
    Names.emplace_back(Each.Name);
  }
  return Names;
}

struct CompareArguments {
  bool Help = false;
  bool Traces = false;
  std::vector<std::string> Scenarios;
  std::string JsonPath;
  std::vector<std::string> Operands;
};

// An option compare does not have: one of the runs' options, or none at all.
[[noreturn]] void RefuseOption(const CLI::App &App, const std::string &Word) {
  const std::string Name = Word.substr(0, Word.find('='));
  for (const OptionRow &Each : OptionTable()) {
    if (Name == Each.name()) {
      throw UsageError(Name + " is an option of " + sim::RunNames(Each.runs()) +
                       ", not of compare: compare makes its runs on its own cases");
    }
  }
  throw UsageError(tooloutput::UnknownOption(Word, App, "boardsim compare"));
}

CompareArguments Parse(int argc, const char *const *argv) {
  CompareArguments Asked;
  const std::string Help = " (see boardsim compare --help)";
  CLI::App App("", "compare");
  App.allow_extras();
  App.set_help_flag();
  const CLI::Option *HelpFlag = App.add_flag("-h,--help");
  App.add_flag("--traces", Asked.Traces);
  App.add_option("--scenario", Asked.Scenarios)->type_name("NAME")->allow_extra_args(false);
  App.add_option("--json", Asked.JsonPath)
      ->type_name("FILE")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  App.add_option("builds", Asked.Operands);
  const std::vector<std::string> Arguments(argv + 2, argv + argc);
  try {
    tooloutput::ParseArguments(App, Arguments, "boardsim compare");
  } catch (const tooloutput::CommandLineError &Error) {
    throw UsageError(Error.what());
  }
  for (const std::string &Each : App.remaining()) {
    if (Each.size() > 1 && Each[0] == '-' && Each != "--") {
      RefuseOption(App, Each);
    }
  }
  if (HelpFlag->count() != 0) {
    CheckHelpAlone(Arguments);
    Asked.Help = true;
    return Asked;
  }
  for (const std::string &Each : Asked.Scenarios) {
    if (sim::FindScenario(Each) == nullptr) {
      throw UsageError("--scenario: no scenario named '" + Each +
                       "' (boardsim scenarios lists them)" +
                       tooloutput::DidYouMean(Each, ScenarioNames()));
    }
  }
  for (const std::string &Each : App.remaining()) {
    if (Each != "--") {
      Asked.Operands.push_back(Each); // a third build: counted below
    }
  }
  if (Asked.Operands.size() != 2) {
    throw UsageError(std::string("compare needs two ") +
                     (Asked.Traces ? "trace files" : "builds (host or an image file)") + ", got " +
                     std::to_string(Asked.Operands.size()) + Help);
  }
  if (Asked.Traces && !Asked.Scenarios.empty()) {
    throw UsageError("--scenario selects runs to make; with --traces nothing runs");
  }
  return Asked;
}

// A build to run: the host build, or one of the two images.
struct Build {
  CompareSide Side;
  std::unique_ptr<imagerun::ImageRuns> Image;
  unsigned Runs = comparison::AllRuns; // what it can run

  const runs::ModuleRuns &runs() const {
    return Image ? static_cast<const runs::ModuleRuns &>(*Image) : runs::HostBuild();
  }
  // A boot runs each module from the image that holds it, the other from the host build.
  const runs::ModuleRuns &runsOf(Run What) const {
    return (Runs & comparison::Bit(What)) != 0 ? runs() : runs::HostBuild();
  }
};

// The image's module comes from its machine, as the modules' table gives it. Anything else is
// loaded as the early-init module, which names what is wrong with it.
Build LoadBuild(const std::string &Operand) {
  Build Loaded;
  if (Operand == HostOperand) {
    return Loaded;
  }
  Loaded.Side = {CompareSide::Kind::Image, Operand};
  constexpr const modules::Module &DxeModule = modules::ModuleOf(modules::ModuleId::BoardInitDxe);
  bool Driver = false;
  try {
    Driver = pe::ReadFile(Operand).Machine == DxeModule.Machine;
  } catch (const pe::FormatError &) {
    // Not an image at all: the early-init module's loader names the problem.
  }
  try {
    if (Driver) {
      Loaded.Image =
          std::make_unique<imagerun::ImageRuns>(std::nullopt, imagerun::LoadDxeImage(Operand));
      Loaded.Runs = comparison::DxeRuns;
    } else {
      Loaded.Image =
          std::make_unique<imagerun::ImageRuns>(imagerun::LoadPeiImage(Operand), std::nullopt);
      Loaded.Runs = comparison::EarlyInitRuns;
    }
  } catch (const imagerun::ImageRejected &Error) {
    throw UsageError(Error.what());
  }
  return Loaded;
}

// A trace file of an earlier run: its header line is read first, so that another file (an image
// given for a trace, a file of zeros) is refused after a line's read, never taken whole.
comparison::Outcome ReadTrace(const std::string &Path) {
  const std::string Header = std::string(sim::TraceFileHeader) + "\n";
  std::string Text;
  try {
    const std::string First = formats::ReadFilePrefix(Path, Header.size());
    if (First != Header) {
      throw UsageError("'" + Path + "' is not a boardsim trace file: its first line is not '" +
                       sim::TraceFileHeader + "' (boardsim --trace=FILE writes one)");
    }
    Text = formats::ReadFileText(Path, MaxTraceBytes);
  } catch (const formats::FileError &Error) {
    throw UsageError("cannot read '" + Path + "': " + Error.what());
  }
  return comparison::TraceOutcome(Text.substr(Header.size()));
}

std::vector<std::string> RunNames(unsigned Which) {
  std::vector<std::string> Names;
  for (const sim::RunKindRow &Each : sim::RunKinds()) {
    if ((Which & sim::RunBit(Each.Kind)) != 0) {
      Names.emplace_back(Each.Name);
    }
  }
  return Names;
}

// Both sides, read and checked before anything runs or any output is touched.
struct Sides {
  CompareReport Report; // the sides and the runs; no cases yet
  std::optional<comparison::Outcome> TraceA, TraceB;
  std::optional<Build> BuildA, BuildB;
  unsigned Runs = 0;
  std::vector<std::string> Inputs; // every file the comparison reads
};

Sides ReadSides(const CompareArguments &Asked) {
  Sides Read;
  if (Asked.Traces) {
    Read.Report.A = {CompareSide::Kind::Trace, Asked.Operands[0]};
    Read.Report.B = {CompareSide::Kind::Trace, Asked.Operands[1]};
    Read.TraceA = ReadTrace(Asked.Operands[0]);
    Read.TraceB = ReadTrace(Asked.Operands[1]);
    Read.Inputs = {Asked.Operands[0], Asked.Operands[1]};
    return Read;
  }
  Read.BuildA = LoadBuild(Asked.Operands[0]);
  Read.BuildB = LoadBuild(Asked.Operands[1]);
  Read.Runs = Read.BuildA->Runs & Read.BuildB->Runs;
  if (Read.Runs == 0) {
    throw UsageError("'" + Read.BuildA->Side.Path + "' and '" + Read.BuildB->Side.Path +
                     "' are images of different modules (the early-init module and the driver): "
                     "they make no run in common");
  }
  Read.Report.A = Read.BuildA->Side;
  Read.Report.B = Read.BuildB->Side;
  Read.Report.Runs = RunNames(Read.Runs);
  Read.Report.Runs.emplace_back(BootRun);
  for (const Build *Each : {&*Read.BuildA, &*Read.BuildB}) {
    if (Each->Image) {
      Read.Inputs.push_back(Each->Side.Path);
      Read.Inputs.push_back(imagerun::MapPathFor(Each->Side.Path));
    }
  }
  return Read;
}

void CompareAll(Sides &Read, const CompareArguments &Asked) {
  CompareReport &Report = Read.Report;
  if (Read.TraceA) {
    Report.Cases.push_back({comparison::Compare("traces", *Read.TraceA, *Read.TraceB), "", ""});
    return;
  }
  const std::set<std::string> Selected(Asked.Scenarios.begin(), Asked.Scenarios.end());
  for (const comparison::Case &Each : comparison::Cases(Read.Runs)) {
    if (!Selected.empty() && Selected.count(Each.ScenarioName) == 0) {
      continue;
    }
    Report.Cases.push_back(
        {comparison::Compare(Each.Name, comparison::RunCase(Read.BuildA->runs(), Each),
                             comparison::RunCase(Read.BuildB->runs(), Each)),
         comparison::RunName(Each.What), Each.ScenarioName});
  }
  for (const comparison::BootCase &Each : comparison::BootCases()) {
    if (!Selected.empty() && Selected.count(Each.ScenarioName) == 0) {
      continue;
    }
    const auto Boot = [&Each](const Build &Side) {
      return comparison::RunBoot(Side.runsOf(Run::Pei), Side.runsOf(Run::Dxe), Each);
    };
    Report.Cases.push_back({comparison::Compare(Each.Name, Boot(*Read.BuildA), Boot(*Read.BuildB)),
                            BootRun, Each.ScenarioName});
  }
  // The functions that take data of their own, on no named scenario: the early-init module's
  // script runner, each module's delays, the driver's format engine and status names.
  if (!Selected.empty()) {
    return;
  }
  const auto Add = [&](const std::string &Name, const comparison::Outcome &A,
                       const comparison::Outcome &B, const char *Run) {
    Report.Cases.push_back({comparison::Compare(Name, A, B), Run, ""});
  };
  const bool Early = (Read.Runs & comparison::Bit(Run::Pei)) != 0;
  const bool Driver = (Read.Runs & comparison::Bit(Run::Dxe)) != 0;
  if (Early) {
    for (const comparison::ScriptCase &Each : comparison::ScriptCases()) {
      Add(Each.Name, comparison::RunScriptCase(Read.BuildA->runs(), Each),
          comparison::RunScriptCase(Read.BuildB->runs(), Each), ScriptRun);
    }
  }
  for (const comparison::DelayCase &Each : comparison::DelayCases()) {
    if (Each.Call.Module == modules::ModuleId::BoardInitPei ? Early : Driver) {
      Add(Each.Name, comparison::RunDelayCase(Read.BuildA->runs(), Each),
          comparison::RunDelayCase(Read.BuildB->runs(), Each), DelayRun);
    }
  }
  if (!Driver) {
    return;
  }
  for (const comparison::FormatCase &Each : comparison::FormatComparisonCases()) {
    Add(Each.Name, comparison::RunFormatCase(Read.BuildA->runs(), Each),
        comparison::RunFormatCase(Read.BuildB->runs(), Each), FormatRun);
  }
  for (const std::uint64_t Status : comparison::StatusNameCases()) {
    Add(comparison::StatusNameCaseName(Status),
        comparison::RunStatusNameCase(Read.BuildA->runs(), Status),
        comparison::RunStatusNameCase(Read.BuildB->runs(), Status), FormatRun);
  }
}

std::string SideText(const CompareSide &Side) {
  switch (Side.What) {
  case CompareSide::Kind::Host:
    return "the host build";
  case CompareSide::Kind::Image:
    return "the image " + Side.Path;
  case CompareSide::Kind::Trace:
    return "the trace " + Side.Path;
  }
  return "";
}

} // namespace

std::size_t CompareReport::different() const {
  return static_cast<std::size_t>(std::count_if(
      Cases.begin(), Cases.end(), [](const Entry &Each) { return !Each.Result.same(); }));
}

std::vector<std::size_t> CompareReport::partingFirsts() const {
  std::vector<std::size_t> Firsts(Cases.size());
  std::map<std::string, std::size_t> FirstOf;
  for (std::size_t Index = 0; Index < Cases.size(); ++Index) {
    Firsts[Index] = Index;
    if (!Cases[Index].Result.same()) {
      Firsts[Index] =
          FirstOf.try_emplace(comparison::PartingKey(Cases[Index].Result), Index).first->second;
    }
  }
  return Firsts;
}

std::string CompareText(const CompareReport &Report) {
  std::ostringstream Out;
  Out << "A: " << SideText(Report.A) << "\nB: " << SideText(Report.B) << "\n";
  if (!Report.Runs.empty()) {
    Out << "runs compared:";
    for (const std::string &Each : Report.Runs) {
      Out << " " << Each;
    }
    Out << "\n";
  }
  Out << "\n";
  // Cases that part the same way are one block, where the first of them comes.
  const std::vector<std::size_t> Firsts = Report.partingFirsts();
  for (std::size_t Index = 0; Index < Report.Cases.size(); ++Index) {
    if (Firsts[Index] != Index) {
      continue; // shown in its group
    }
    std::vector<const comparison::CaseComparison *> Group;
    for (std::size_t Other = Index; Other < Report.Cases.size(); ++Other) {
      if (Firsts[Other] == Index) {
        Group.push_back(&Report.Cases[Other].Result);
      }
    }
    Out << comparison::ReportText(Group);
  }
  const std::size_t Different = Report.different();
  Out << "\n"
      << Report.Cases.size() << (Report.Cases.size() == 1 ? " case: " : " cases: ")
      << Report.Cases.size() - Different << " same, " << Different << " different\n";
  return Out.str();
}

std::string CompareHelp() {
  return "usage: boardsim compare [options] A B\n"
         "       boardsim compare --traces [--json=FILE] X Y\n\n" +
         tooloutput::Wrapped(
             "Runs two builds over the same cases and compares them record for record. A and B "
             "are each 'host' (the host build) or a shipped image, its linker map (FILE with "
             ".map) beside it. An image of the early-init module (BoardInitPei.efi) makes the "
             "pei, decode and window runs, the driver's (BoardInitDxe.efi) the dxe runs; two "
             "host builds make all of them; the two modules' images make none in common (bad "
             "input). The cases: each module's entry on every named scenario whose settings it "
             "reads and on a few other boards (bits another agent left, step budgets, the "
             "firmware around the driver one setting at a time), and request lists that reach "
             "every branch of SetIoDecode and SetGenericIoRange.") +
         "\n" +
         tooloutput::Wrapped(
             "Each case is reported 'same' or 'different'. For a difference: the first record "
             "where the traces part, on each side with three records before and after it "
             "(trace record format, ports, addresses and values in hexadecimal; records count "
             "from 0, so record N is line N+2 of a trace file), the calls each side was in "
             "there, and every result that differs: entry status, each request's status, hung, "
             "the calls and last accesses of a hung run, a broken rule, the driver's facts, "
             "and what the run left on the board (decode map and its warnings, each bridge "
             "register and mirror, the Super I/O configuration, serial output, UART bytes "
             "lost, SPI frames, the interrupt flag). Cases that part the same way (the same "
             "records where they part, the same calls in progress there, the same results) are "
             "one block, the first of them shown in full.") +
         "\n" + "Options:\n" +
         tooloutput::HelpLine("--scenario=NAME",
                              "compare only the runs on this named scenario ('boardsim scenarios' "
                              "lists them); repeatable") +
         tooloutput::HelpLine("--json=FILE", "write the comparison as JSON to FILE ('-': standard "
                                             "output, and no report there)") +
         tooloutput::HelpLine("--traces", "X and Y are trace files of earlier runs "
                                          "(--trace=FILE): one case, their records compared, no "
                                          "results") +
         tooloutput::HelpLine("-h, --help", "show this help") + "\n" +
         tooloutput::ExitStatusHelp(
             {{tooloutput::ExitSuccess, "every case is the same"},
              {tooloutput::ExitCheckFailed, "a case differs"},
              {tooloutput::ExitBadInput, "bad input: one line names it; nothing ran and no file "
                                         "was touched"},
              {tooloutput::ExitOutputFailed, "an output could not be written (one line names the "
                                             "file)"}});
}

int CompareMain(int argc, const char *const *argv) {
  const CompareArguments Asked = Parse(argc, argv);
  tooloutput::OutputSet Outputs;
  if (Asked.Help) {
    Outputs.standardOutput().write(CompareHelp());
    Outputs.commit();
    return ExitSame;
  }
  Sides Read = ReadSides(Asked);

  // Every output is set up before anything runs; none of the files is touched until all of them
  // are complete, and none may be a file the comparison reads.
  for (const std::string &Each : Read.Inputs) {
    Outputs.addInput("one of the files", Each);
  }
  tooloutput::Output *Json =
      Asked.JsonPath.empty() ? nullptr : &Outputs.add("--json", Asked.JsonPath);
  tooloutput::Output *Text =
      Json != nullptr && Json->toStandardOutput() ? nullptr : &Outputs.standardOutput();
  // An output that cannot be made fails the comparison (ExitOutputFailed) before anything runs.
  Outputs.open();

  CompareAll(Read, Asked);
  if (Json != nullptr) {
    Json->write(CompareJson(Read.Report));
  }
  if (Text != nullptr) {
    Text->write(CompareText(Read.Report));
  }
  Outputs.commit();
  return Read.Report.different() == 0 ? ExitSame : ExitDifferent;
}

} // namespace boardsim
