// boardsim: runs the board's firmware modules, or single requests of them, on the simulated
// board; traces every access and shows what the board looks like afterwards.
#include "Arguments.h"
#include "DxeRun.h"
#include "PeiRun.h"
#include "Report.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

namespace {

using boardsim::Module;
using boardsim::ParseNumber;
using boardsim::UsageError;

constexpr int ExitBadInput = 2;
constexpr int ExitHung = 3;

// Register widths the board's bridge and its private-configuration window use.
const std::vector<std::uint32_t> Lpc16BitRegisters = {0x80, 0x82, 0xA0, 0x200, 0x240};
const std::vector<std::uint32_t> Pcr16BitRegisters = {0x2770, 0x2774};
constexpr std::uint32_t LpcConfigSize = 0x1000;
constexpr std::uint32_t PcrWindowSize = 0x10000;

struct CommonOptions {
  std::string TracePath, JsonPath;
  std::string Spi = "present";
  std::string SpiStatus, SpiReg0C, SpiDrain, SpiClock, PmTimer, MaxSteps;
  std::vector<std::string> Lpc, Pcr;
  // dxe only
  bool NoHobList = false, TimerHob = false;
  std::string Smm = "absent";
  // decode and window
  std::vector<std::string> Requests;
};

void AddCommonOptions(CLI::App &Command, CommonOptions &Opt) {
  Command.add_option("--trace", Opt.TracePath, "write the access trace to FILE ('-': stdout)")
      ->type_name("FILE");
  Command.add_option("--json", Opt.JsonPath, "write the result as JSON to FILE ('-': stdout)")
      ->type_name("FILE");
  Command
      .add_option("--spi", Opt.Spi,
                  "SPI controller: present, absent, or dead (control 0 "
                  "reads 0xFFFFFFFF)")
      ->check(CLI::IsMember({"present", "absent", "dead"}))
      ->type_name("STATE");
  Command.add_option("--spi-status", Opt.SpiStatus, "constant read from SPI status (0x04)")
      ->type_name("N");
  Command.add_option("--spi-reg0c", Opt.SpiReg0C, "constant read from SPI offset 0x0C (0)")
      ->type_name("N");
  Command.add_option("--spi-drain", Opt.SpiDrain, "constant read from SPI offset 0x48 (0)")
      ->type_name("N");
  Command.add_option("--spi-clock", Opt.SpiClock, "initial SPI clock register value (0)")
      ->type_name("N");
  Command.add_option("--pm-timer", Opt.PmTimer, "initial PM timer count, 24 bits (0)")
      ->type_name("N");
  Command
      .add_option("--lpc", Opt.Lpc,
                  "preset a bridge configuration register (16 bits at 0x80, 0x82, 0xA0, "
                  "0x200, 0x240; 32 elsewhere); repeatable")
      ->type_name("OFFSET=VALUE");
  Command
      .add_option("--pcr", Opt.Pcr,
                  "preset a private-configuration register (16 bits at 0x2770, 0x2774; 32 "
                  "elsewhere); repeatable")
      ->type_name("OFFSET=VALUE");
  Command
      .add_option("--max-steps", Opt.MaxSteps,
                  "step budget: accesses before a run counts "
                  "as hung (1000000)")
      ->type_name("N");
}

sim::Scenario BuildScenario(const CommonOptions &Opt) {
  sim::Scenario Settings;
  Settings.Spi.Presence = Opt.Spi == "absent" ? sim::SpiPresence::Absent
                          : Opt.Spi == "dead" ? sim::SpiPresence::Dead
                                              : sim::SpiPresence::Present;
  auto Set32 = [](const std::string &Text, const char *What, std::uint32_t &Field) {
    if (!Text.empty()) {
      Field = static_cast<std::uint32_t>(ParseNumber(Text, 32, What));
    }
  };
  Set32(Opt.SpiStatus, "--spi-status", Settings.Spi.Status);
  Set32(Opt.SpiReg0C, "--spi-reg0c", Settings.Spi.Reg0C);
  Set32(Opt.SpiDrain, "--spi-drain", Settings.Spi.Drain);
  Set32(Opt.SpiClock, "--spi-clock", Settings.Spi.Clock);
  if (!Opt.PmTimer.empty()) {
    Settings.PmTimerStart = static_cast<std::uint32_t>(ParseNumber(Opt.PmTimer, 24, "--pm-timer"));
  }
  if (!Opt.MaxSteps.empty()) {
    Settings.MaxSteps = ParseNumber(Opt.MaxSteps, 64, "--max-steps");
  }
  for (const std::string &Text : Opt.Lpc) {
    const auto Preset = boardsim::ParsePreset(Text, LpcConfigSize, Lpc16BitRegisters, "--lpc");
    Settings.LpcConfig[Preset.Offset] = {Preset.Value, Preset.Width};
  }
  for (const std::string &Text : Opt.Pcr) {
    const auto Preset = boardsim::ParsePreset(Text, PcrWindowSize, Pcr16BitRegisters, "--pcr");
    Settings.PcrWindow[Preset.Offset] = {Preset.Value, Preset.Width};
  }
  return Settings;
}

// An output file, opened before the run so that a bad path stops everything up front.
class Output {
public:
  explicit Output(const std::string &Path) : Path_(Path) {
    if (!Path.empty() && Path != "-") {
      File_ = std::make_unique<std::ofstream>(Path, std::ios::binary);
      if (!*File_) {
        throw UsageError("cannot write '" + Path + "'");
      }
    }
  }
  bool toStdout() const { return Path_ == "-"; }
  void write(const std::string &Text) {
    if (toStdout()) {
      std::cout << Text;
    } else if (File_) {
      *File_ << Text;
    }
  }

private:
  std::string Path_;
  std::unique_ptr<std::ofstream> File_;
};

boardsim::RunReport Run(Module Which, const CommonOptions &Opt, sim::Board &Board) {
  boardsim::RunReport Report;
  Report.Which = Which;
  Report.Requests = Opt.Requests;
  switch (Which) {
  case Module::Pei: {
    const sim::PeiRunResult Result = sim::RunPei(Board);
    Report.Hung = Result.Hung;
    Report.LastAccesses = Result.LastAccesses;
    if (!Result.Hung) {
      Report.EntryStatus = Result.EntryStatus;
    }
    break;
  }
  case Module::Dxe: {
    sim::DxeEnvironmentSettings Settings;
    Settings.HobListInConfigTable = !Opt.NoHobList;
    Settings.TimerHob = Opt.TimerHob;
    Settings.Smm = Opt.Smm == "inside"    ? sim::SmmMode::Inside
                   : Opt.Smm == "outside" ? sim::SmmMode::Outside
                                          : sim::SmmMode::Absent;
    const sim::DxeRunResult Result = sim::RunDxe(Board, Settings);
    Report.Hung = Result.Hung;
    Report.LastAccesses = Result.LastAccesses;
    if (!Result.Hung) {
      Report.EntryStatus = Result.EntryStatus;
    }
    Report.Dxe = boardsim::DxeFacts{Result.InSmm, Result.LocateProtocolCalls, Result.InSmmCalls};
    break;
  }
  case Module::Decode:
  case Module::Window:
    break;
  }
  return Report;
}

// The requests of `decode` or `window`, parsed before anything runs.
struct Requests {
  std::vector<DecodeRequestRow> Decode;
  std::vector<sim::WindowRequest> Window;
};

Requests ParseRequests(Module Which, const CommonOptions &Opt) {
  Requests Parsed;
  for (const std::string &Text : Opt.Requests) {
    if (Which == Module::Decode) {
      const auto Fields = boardsim::ParseRequest(Text, {16, 8, 32}, "PORT,SIZE,ATTRIBUTES");
      Parsed.Decode.push_back({static_cast<std::uint16_t>(Fields[0]),
                               static_cast<std::uint8_t>(Fields[1]), 0,
                               static_cast<std::uint32_t>(Fields[2])});
    } else if (Which == Module::Window) {
      const auto Fields = boardsim::ParseRequest(Text, {16, 16}, "PORT,SIZEWORD");
      Parsed.Window.push_back(
          {static_cast<std::uint16_t>(Fields[0]), static_cast<std::uint16_t>(Fields[1])});
    }
  }
  return Parsed;
}

boardsim::RunReport RunRequests(Module Which, const CommonOptions &Opt, const Requests &Parsed,
                                sim::Board &Board) {
  boardsim::RunReport Report;
  Report.Which = Which;
  Report.Requests = Opt.Requests;
  const sim::RequestsRunResult Result = Which == Module::Decode
                                            ? sim::RunDecodeRequests(Board, Parsed.Decode)
                                            : sim::RunWindowRequests(Board, Parsed.Window);
  Report.Results = Result.Statuses;
  Report.Hung = Result.Hung;
  Report.LastAccesses = Result.LastAccesses;
  return Report;
}

} // namespace

int main(int argc, char **argv) {
  CLI::App App{"boardsim: runs the board's firmware on the simulated board, traces every access "
               "and shows the board's state.\nNumbers are decimal or 0x hexadecimal. Exit status: "
               "0 the run finished (whatever the firmware returned), 2 bad input, 3 the run hung."};
  App.require_subcommand(1);
  CommonOptions Opt;
  CLI::App *Pei = App.add_subcommand("pei", "run the BoardInitPei entry");
  CLI::App *Dxe = App.add_subcommand("dxe", "run the BoardInitDxe entry");
  CLI::App *Decode = App.add_subcommand("decode", "run SetIoDecode for each request, in order");
  CLI::App *Window =
      App.add_subcommand("window", "run SetGenericIoRange for each request, in order");
  for (CLI::App *Command : {Pei, Dxe, Decode, Window}) {
    AddCommonOptions(*Command, Opt);
  }
  Dxe->add_flag("--no-hob-list", Opt.NoHobList,
                "leave the HOB list out of the configuration "
                "table");
  Dxe->add_flag("--timer-hob", Opt.TimerHob,
                "add the GUID-extension HOB that skips the timer measuring interval");
  Dxe->add_option("--smm", Opt.Smm,
                  "SMM Base2 protocol: absent, outside (InSmm stores FALSE), "
                  "inside (TRUE)")
      ->check(CLI::IsMember({"absent", "outside", "inside"}))
      ->type_name("MODE");
  Decode->add_option("requests", Opt.Requests, "decode requests")
      ->type_name("PORT,SIZE,ATTRIBUTES")
      ->required();
  Window->add_option("requests", Opt.Requests, "window requests")
      ->type_name("PORT,SIZEWORD")
      ->required();

  // Name an unknown subcommand rather than let it pass for a stray argument.
  const std::string First = argc > 1 ? argv[1] : "-";
  if (First[0] != '-' && First != "pei" && First != "dxe" && First != "decode" &&
      First != "window") {
    std::fprintf(stderr,
                 "boardsim: unknown subcommand '%s' (expected pei, dxe, decode or window)\n",
                 argv[1]);
    return ExitBadInput;
  }
  try {
    App.parse(argc, argv);
  } catch (const CLI::CallForHelp &Help) {
    return App.exit(Help);
  } catch (const CLI::CallForAllHelp &Help) {
    return App.exit(Help);
  } catch (const CLI::ParseError &Error) {
    std::fprintf(stderr, "boardsim: %s (see boardsim --help)\n", Error.what());
    return ExitBadInput;
  }

  const Module Which = Pei->parsed()      ? Module::Pei
                       : Dxe->parsed()    ? Module::Dxe
                       : Decode->parsed() ? Module::Decode
                                          : Module::Window;
  try {
    const sim::Scenario Settings = BuildScenario(Opt);
    const Requests Parsed = ParseRequests(Which, Opt);
    Output Trace(Opt.TracePath);
    Output Json(Opt.JsonPath);
    sim::Board Board(Settings);
    const boardsim::RunReport Report = (Which == Module::Decode || Which == Module::Window)
                                           ? RunRequests(Which, Opt, Parsed, Board)
                                           : Run(Which, Opt, Board);
    Trace.write(sim::FormatTrace(Board.trace()));
    Json.write(boardsim::JsonText(Report, Board));
    if (!Trace.toStdout() && !Json.toStdout()) {
      std::cout << boardsim::Summary(Report, Board);
    }
    if (Report.Hung) {
      std::fprintf(stderr,
                   "boardsim: the run hung: it exceeded its step budget of %llu "
                   "accesses; last accesses:\n",
                   static_cast<unsigned long long>(Settings.MaxSteps));
      for (const sim::TraceRecord &Record : Report.LastAccesses) {
        std::fprintf(stderr, "  %s\n", sim::FormatRecord(Record).c_str());
      }
      return ExitHung;
    }
    return 0;
  } catch (const UsageError &Error) {
    std::fprintf(stderr, "boardsim: %s\n", Error.what());
    return ExitBadInput;
  }
}
