// q35-compare: reads QEMU's log of a q35 boot of the boot program (its device accesses), cuts out
// each module's accesses between the boot program's phase markers, runs the same module's host
// build with q35's read values as the board's answers, and compares the two access for access.
#include "CommandLine.h"
#include "ExitStatus.h"
#include "FileRead.h"
#include "HostBuildRuns.h"
#include "Q35Comparison.h"
#include "QemuTraceLog.h"
#include "ToolOutput.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

namespace {

// A boot's log is a few thousand lines; this bounds a file named by mistake.
constexpr std::uint64_t MaxLogBytes = 64u << 20;

constexpr const char *PlainConfiguration = "plain";
constexpr const char *TimerHobAndSmmConfiguration = "timer-hob-smm";

// The driver's firmware as the boot program builds it for each configuration (its kernel
// command-line word): the HOB list in the configuration table either way.
sim::Scenario DxeSettings(const std::string &Configuration) {
  sim::Scenario Settings;
  if (Configuration == TimerHobAndSmmConfiguration) {
    Settings.Firmware.TimerHob = true;
    Settings.Firmware.Smm = sim::SmmMode::Outside;
  }
  return Settings;
}

} // namespace

int main(int argc, char **argv) {
  tooloutput::GuardStandardDescriptors();
  CLI::App App{"Compares each module's accesses in a q35 boot's QEMU log with the host build's "
               "run of the module, answered with q35's read values."};
  App.footer(tooloutput::ExitStatusHelp(
      {{tooloutput::ExitSuccess, "both modules' accesses agree record for record"},
       {tooloutput::ExitCheckFailed, "a module's accesses differ (the report gives the first)"},
       {tooloutput::ExitBadInput,
        "bad input: command line, an unreadable log, a log without the phase markers"},
       {tooloutput::ExitOutputFailed, "the report could not be written"}}));
  std::string LogPath;
  std::string Configuration = PlainConfiguration;
  App.add_option("log", LogPath, "QEMU's log: -trace 'memory_region_ops_*' -d guest_errors -D LOG")
      ->required()
      ->type_name("LOG");
  tooloutput::OneOf(App.add_option("--dxe-config", Configuration,
                                   "the boot's DXE configuration: plain (default) or "
                                   "timer-hob-smm, as its kernel command line chose")
                        ->type_name("NAME"),
                    {PlainConfiguration, TimerHobAndSmmConfiguration});
  bool BoardModel = false;
  App.add_flag("--board-model", BoardModel,
               "let the board model's devices answer the host build's reads instead of q35's "
               "values: shows where the model and QEMU's devices part");
  if (const auto Exit = tooloutput::ParseCommandLine(App, "q35-compare", argc, argv)) {
    return *Exit;
  }
  q35::ModuleAccesses Cut;
  try {
    Cut = q35::CutByMarkers(q35::ParseLog(formats::ReadFileText(LogPath, MaxLogBytes)));
  } catch (const formats::FileError &Error) {
    std::fprintf(stderr, "q35-compare: %s: %s\n", LogPath.c_str(), Error.what());
    return tooloutput::ExitBadInput;
  } catch (const q35::LogError &Error) {
    std::fprintf(stderr, "q35-compare: %s: %s\n", LogPath.c_str(), Error.what());
    return tooloutput::ExitBadInput;
  }
  const q35::Answers Given = BoardModel ? q35::Answers::FromBoardModel : q35::Answers::FromQ35;
  const q35::PhaseComparison Pei =
      q35::ComparePhase(runs::HostBuild(), sim::RunKind::Pei, {}, std::move(Cut.Pei), Given);
  const q35::PhaseComparison Dxe = q35::ComparePhase(
      runs::HostBuild(), sim::RunKind::Dxe, DxeSettings(Configuration), std::move(Cut.Dxe), Given);
  tooloutput::OutputSet Outputs;
  tooloutput::Output &Out = Outputs.standardOutput();
  Out.format("{}{}", q35::ReportText(Pei), q35::ReportText(Dxe));
  try {
    Outputs.commit();
  } catch (const tooloutput::WriteFailed &Error) {
    std::fprintf(stderr, "q35-compare: %s\n", Error.what());
    return tooloutput::ExitOutputFailed;
  }
  return Pei.same() && Dxe.same() ? tooloutput::ExitSuccess : tooloutput::ExitCheckFailed;
}
