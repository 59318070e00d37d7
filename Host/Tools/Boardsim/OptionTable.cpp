#include "OptionTable.h"

#include "Arguments.h"
#include "BoardLpcBridge.h"
#include "BoardPcr.h"
#include "NamedScenarios.h"
#include "TableText.h"
#include "Trace.h"

#include "Suggest.h"

#include <algorithm>
#include <map>
#include <span>

namespace boardsim {
namespace {

using sim::Setting;

constexpr unsigned AllRuns = sim::AllRuns;
constexpr unsigned EntryRuns = sim::EntryRuns;
constexpr unsigned EarlyInitRuns = sim::EarlyInitRuns;
constexpr unsigned DxeRuns = sim::RunBit(Module::Dxe);
constexpr unsigned PeiRuns = sim::RunBit(Module::Pei);

// Register widths of the bridge and of its private-configuration window, from the board model:
// the 16-bit registers; every other offset is taken as a 32-bit register.
std::vector<std::uint32_t> Registers16(std::span<const sim::hw::NamedRegister> Table) {
  std::vector<std::uint32_t> Offsets;
  for (const sim::hw::NamedRegister &Each : Table) {
    if (Each.Width == 2) {
      Offsets.push_back(Each.Offset);
    }
  }
  return Offsets;
}

// "16 bits at 0x80, 0x82; 32 bits elsewhere"
std::string WidthsText(const std::vector<std::uint32_t> &Offsets16) {
  std::string Text = "16 bits at ";
  for (std::size_t Index = 0; Index < Offsets16.size(); ++Index) {
    Text += (Index == 0 ? "" : ", ") + sim::HexText(Offsets16[Index], 2);
  }
  return Text + "; 32 bits elsewhere";
}

const std::vector<std::uint32_t> Lpc16BitRegisters = Registers16(sim::hw::LpcBridge::Registers);
const std::vector<std::uint32_t> Pcr16BitRegisters = Registers16(sim::hw::Pcr::Registers);
constexpr std::uint32_t LpcConfigSize = sim::hw::LpcBridge::ConfigSize;
constexpr std::uint32_t PcrWindowSize = sim::hw::Pcr::Size;

// The step budget's bounds: a hung run of the largest budget still ends within seconds and its
// trace stays below a gigabyte.
constexpr std::uint64_t MinSteps = 1;
constexpr std::uint64_t MaxStepsLimit = 10000000;

const sim::Scenario DefaultBoard{};

// The value as the option takes it when it differs from the default board's, else nothing.
template <typename T> std::vector<std::string> HexIfChanged(T Value, T Default) {
  if (Value == Default) {
    return {};
  }
  return {sim::HexText(Value, 2)};
}

std::vector<std::string> FlagIfChanged(bool Value, bool Default) {
  return Value == Default ? std::vector<std::string>{} : std::vector<std::string>{""};
}

template <typename T, std::size_t N>
std::vector<std::string> ChoiceIfChanged(const std::pair<const char *, T> (&Choices)[N], T Value,
                                         T Default) {
  if (Value == Default) {
    return {};
  }
  for (const auto &[Name, Setting] : Choices) {
    if (Setting == Value) {
      return {Name};
    }
  }
  return {};
}

std::vector<std::string> PresetsShown(const std::map<std::uint32_t, sim::Preset> &Presets) {
  std::vector<std::string> Values;
  for (const auto &[Offset, Preset] : Presets) {
    Values.push_back(sim::HexText(Offset, 2) + "=" + sim::HexText(Preset.Value, 2));
  }
  return Values;
}

std::uint64_t Number(const OptionValue &Arg, unsigned Bits) {
  return ParseNumber(Arg.Value, Bits, Arg.Option);
}

template <typename T, std::size_t N>
T Choice(const OptionValue &Arg, const std::pair<const char *, T> (&Choices)[N]) {
  std::string Names;
  std::vector<std::string> Known;
  for (const auto &[Name, Setting] : Choices) {
    if (Arg.Value == Name) {
      return Setting;
    }
    Names += (Names.empty() ? "" : ", ") + std::string(Name);
    Known.emplace_back(Name);
  }
  throw UsageError(Arg.Option + ": '" + Arg.Value + "' is not one of " + Names +
                   tooloutput::DidYouMean(Arg.Value, Known));
}

void AddPreset(std::map<std::uint32_t, sim::Preset> &Presets, const OptionValue &Arg,
               std::uint32_t WindowSize, const std::vector<std::uint32_t> &Registers16) {
  const RegisterPreset Preset = ParsePreset(Arg.Value, WindowSize, Registers16, Arg.Option);
  Presets[Preset.Offset] = {Preset.Value, Preset.Width};
}

// An option of the run itself, and an option that sets one of the board's settings.
OptionRow Own(const char *Name, const char *ValueName, unsigned Runs, std::string Help,
              Setter Set) {
  return {Name, std::nullopt, ValueName, Runs, false, std::move(Help), Set};
}
OptionRow Sets(Setting Which, const char *ValueName, std::string Help, Setter Set, Shower Shows,
               bool Repeatable = false) {
  return {nullptr, Which, ValueName, 0, Repeatable, std::move(Help), Set, Shows};
}

// The table. --scenario comes first: the other options apply on top of it.
const std::vector<OptionRow> Options = {
    Own("--scenario", "NAME", EntryRuns,
        "start from a named scenario ('boardsim scenarios' lists them); the other options add "
        "settings on top of it",
        [](Invocation &Run, const OptionValue &Arg) {
          const sim::NamedScenario *Named = sim::FindScenario(Arg.Value);
          if (Named == nullptr) {
            std::vector<std::string> Names;
            for (const sim::NamedScenario &Each : sim::NamedScenarios()) {
              Names.emplace_back(Each.Name);
            }
            throw UsageError(Arg.Option + ": no scenario named '" + Arg.Value +
                             "' (boardsim scenarios lists them)" +
                             tooloutput::DidYouMean(Arg.Value, Names));
          }
          Run.Scenario = Named->Settings;
          Run.ScenarioName = Named->Name;
        }),
    Own("--trace", "FILE", AllRuns,
        "write every access, one record a line, to FILE ('-': standard output)",
        [](Invocation &Run, const OptionValue &Arg) { Run.TracePath = Arg.Value; }),
    Own("--trace-events", "FILE", AllRuns,
        "write the run as trace-event JSON for Perfetto or chrome://tracing to FILE ('-': "
        "standard output): the calls as slices, each access an instant, the PM timer a counter, "
        "on board time",
        [](Invocation &Run, const OptionValue &Arg) { Run.TraceEventsPath = Arg.Value; }),
    Own("--json", "FILE", AllRuns, "write the result as JSON to FILE ('-': standard output)",
        [](Invocation &Run, const OptionValue &Arg) { Run.JsonPath = Arg.Value; }),
    Sets(
        Setting::SpiPresence, "STATE",
        "SPI controller: present (default), absent (device ID reads 0xFFFF) or dead (control 0 "
        "reads 0xFFFFFFFF)",
        [](Invocation &Run, const OptionValue &Arg) {
          Run.Scenario.Spi.Presence = Choice(Arg, SpiPresenceNames);
        },
        [](const sim::Scenario &Board) {
          return ChoiceIfChanged(SpiPresenceNames, Board.Spi.Presence, DefaultBoard.Spi.Presence);
        }),
    Sets(
        Setting::SpiStatus, "N",
        "constant read from the SPI status register (default 0x04: transmit FIFO not full, idle)",
        [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.Spi.Status = Number(Arg, 32); },
        [](const sim::Scenario &Board) {
          return HexIfChanged(Board.Spi.Status, DefaultBoard.Spi.Status);
        }),
    Sets(
        Setting::SpiReg0C, "N",
        "constant read from SPI register 0x0C (default 0; bits 7:5 set keep the controller busy)",
        [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.Spi.Reg0C = Number(Arg, 32); },
        [](const sim::Scenario &Board) {
          return HexIfChanged(Board.Spi.Reg0C, DefaultBoard.Spi.Reg0C);
        }),
    Sets(
        Setting::SpiDrain, "N",
        "constant read from SPI register 0x48 (default 0; non-zero: stale data never drain)",
        [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.Spi.Drain = Number(Arg, 32); },
        [](const sim::Scenario &Board) {
          return HexIfChanged(Board.Spi.Drain, DefaultBoard.Spi.Drain);
        }),
    Sets(
        Setting::SpiClock, "N", "initial value of the SPI clock register (default 0)",
        [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.Spi.Clock = Number(Arg, 32); },
        [](const sim::Scenario &Board) {
          return HexIfChanged(Board.Spi.Clock, DefaultBoard.Spi.Clock);
        }),
    Sets(
        Setting::PmTimerStart, "N", "initial PM timer count, 24 bits (default 0)",
        [](Invocation &Run, const OptionValue &Arg) {
          Run.Scenario.PmTimerStart = Number(Arg, 24);
        },
        [](const sim::Scenario &Board) {
          return HexIfChanged(Board.PmTimerStart, DefaultBoard.PmTimerStart);
        }),
    Sets(
        Setting::PmTimerStuck, nullptr, "the PM timer never advances",
        [](Invocation &Run, const OptionValue &) { Run.Scenario.PmTimerStuck = true; },
        [](const sim::Scenario &Board) {
          return FlagIfChanged(Board.PmTimerStuck, DefaultBoard.PmTimerStuck);
        }),
    Sets(
        Setting::UartLineStatus, "N",
        "constant read from the UART line status register, 8 bits (default 0x60: transmitter "
        "empty; without bit 5 the driver waits for good)",
        [](Invocation &Run, const OptionValue &Arg) {
          Run.Scenario.UartLineStatus = Number(Arg, 8);
        },
        [](const sim::Scenario &Board) {
          return HexIfChanged(Board.UartLineStatus, DefaultBoard.UartLineStatus);
        }),
    // One option, two helps: the early-init module's image for pei, decode and window, the
    // driver's for dxe.
    Own("--image", "FILE", EarlyInitRuns,
        "run the shipped image FILE, BoardInitPei.efi, executed in place (its linker map, FILE "
        "with .map, beside it) under CPU emulation instead of the host build; the trace, the "
        "summary and the JSON are the same, and the summary and the JSON add its stack high-water "
        "mark and the instructions it executed",
        [](Invocation &Run, const OptionValue &Arg) { Run.ImagePath = Arg.Value; }),
    Own("--image", "FILE", DxeRuns,
        "run the shipped image FILE, BoardInitDxe.efi, loaded into RAM (its linker map, FILE with "
        ".map, beside it) under CPU emulation instead of the host build; the trace, the summary "
        "and the JSON are the same, and the summary and the JSON add its stack high-water mark "
        "and the instructions it executed",
        [](Invocation &Run, const OptionValue &Arg) { Run.ImagePath = Arg.Value; }),
    Own("--verbose", nullptr, AllRuns,
        "the summary adds what the JSON also gives: the decode registers beside their mirrors, "
        "what each request asked and got, the registers the run changed, the Super I/O writes "
        "and each wait the firmware spun in",
        [](Invocation &Run, const OptionValue &) { Run.Verbose = true; }),
    Own("--strict", nullptr, AllRuns,
        "a run whose summary marks a WARNING exits with status 1, once every output is written "
        "(standard error says how many)",
        [](Invocation &Run, const OptionValue &) { Run.Strict = true; }),
    Own("--gdb", "PORT", AllRuns,
        "debug the --image with gdb: serve gdb's remote protocol on 127.0.0.1:PORT (0: a free "
        "port, which standard error names), the run waiting at the module's entry instruction "
        "for 'target remote'; breakpoints, steps, registers, memory, reverse-stepi and "
        "reverse-continue, the board's accesses shown as they happen",
        [](Invocation &Run, const OptionValue &Arg) {
          Run.GdbPort = static_cast<std::uint16_t>(Number(Arg, 16));
        }),
    Own("--map", "FILE", AllRuns,
        "the linker map of the --image, when it is not the file beside it with .map",
        [](Invocation &Run, const OptionValue &Arg) { Run.MapPath = Arg.Value; }),
    Own("--decode-table", "ROWS", PeiRuns, DecodeTableHelp,
        [](Invocation &Run, const OptionValue &Arg) {
          SetRowsFromOption(Run.Scenario.Tables, sim::BoardTable::Decode, Arg.Value, Arg.Option);
        }),
    Own("--superio-script", "ROWS", PeiRuns, SuperIoScriptHelp,
        [](Invocation &Run, const OptionValue &Arg) {
          SetRowsFromOption(Run.Scenario.Tables, sim::BoardTable::Script, Arg.Value, Arg.Option);
        }),
    Own("--tables", "FILE", PeiRuns, TablesFileHelp,
        [](Invocation &Run, const OptionValue &Arg) {
          SetRowsFromFile(Run.Scenario.Tables, Run.TablesPath = Arg.Value, Arg.Option);
        }),
    Own("--print-tables", nullptr, PeiRuns, PrintTablesHelp,
        [](Invocation &Run, const OptionValue &) { Run.PrintTables = true; }),
    Sets(
        Setting::AllOnes, nullptr,
        "no device answers: every port and memory read is all ones (the SPI, PM-timer and UART "
        "settings then have nothing to set and are refused with it)",
        [](Invocation &Run, const OptionValue &) { Run.Scenario.AllOnesEverywhere = true; },
        [](const sim::Scenario &Board) {
          return FlagIfChanged(Board.AllOnesEverywhere, DefaultBoard.AllOnesEverywhere);
        }),
    Sets(
        Setting::InterruptsOff, nullptr,
        "enter the module with the processor's interrupt flag clear, as the reset vector leaves "
        "it (default: interrupts enabled)",
        [](Invocation &Run, const OptionValue &) { Run.Scenario.InterruptsOff = true; },
        [](const sim::Scenario &Board) {
          return FlagIfChanged(Board.InterruptsOff, DefaultBoard.InterruptsOff);
        }),
    Sets(
        Setting::LpcPresets, "OFFSET=VALUE",
        "preset a bridge configuration register before the run (" + WidthsText(Lpc16BitRegisters) +
            "); one register each, repeatable; dxe: over the bridge as BoardInitPei leaves it",
        [](Invocation &Run, const OptionValue &Arg) {
          AddPreset(Run.Scenario.LpcConfig, Arg, LpcConfigSize, Lpc16BitRegisters);
        },
        [](const sim::Scenario &Board) { return PresetsShown(Board.LpcConfig); }, true),
    Sets(
        Setting::PcrPresets, "OFFSET=VALUE",
        "preset a private-configuration register before the run (" + WidthsText(Pcr16BitRegisters) +
            "); one register each, repeatable; dxe: over the mirrors as BoardInitPei leaves them",
        [](Invocation &Run, const OptionValue &Arg) {
          AddPreset(Run.Scenario.PcrWindow, Arg, PcrWindowSize, Pcr16BitRegisters);
        },
        [](const sim::Scenario &Board) { return PresetsShown(Board.PcrWindow); }, true),
    Sets(
        Setting::NoHobList, nullptr, "leave the HOB list out of the configuration table",
        [](Invocation &Run, const OptionValue &) {
          Run.Scenario.Firmware.HobListInConfigTable = false;
        },
        [](const sim::Scenario &Board) {
          return FlagIfChanged(Board.Firmware.HobListInConfigTable,
                               DefaultBoard.Firmware.HobListInConfigTable);
        }),
    Sets(
        Setting::TimerHob, nullptr,
        "put the timer GUID HOB in the HOB list: the driver skips its measuring interval",
        [](Invocation &Run, const OptionValue &) { Run.Scenario.Firmware.TimerHob = true; },
        [](const sim::Scenario &Board) {
          return FlagIfChanged(Board.Firmware.TimerHob, DefaultBoard.Firmware.TimerHob);
        }),
    Sets(
        Setting::ExtraHob, "TYPE,LENGTH",
        "a bare HOB header of this type and length before the timer HOB (a length below 8 ends "
        "the driver's walk there; 8 or more: a multiple of 8)",
        [](Invocation &Run, const OptionValue &Arg) {
          const std::string What = Arg.Option + " '" + Arg.Value + "'";
          const auto Fields = ParseRequest(Arg.Value, {16, 16}, "TYPE,LENGTH", What);
          if (Fields[1] >= 8 && Fields[1] % 8 != 0) {
            throw UsageError(What + ": a length of 8 or more must be a multiple of 8");
          }
          Run.Scenario.Firmware.ExtraHob = sim::HeaderOnlyHob{
              true, static_cast<std::uint16_t>(Fields[0]), static_cast<std::uint16_t>(Fields[1])};
        },
        [](const sim::Scenario &Board) -> std::vector<std::string> {
          const sim::HeaderOnlyHob &Hob = Board.Firmware.ExtraHob;
          if (!Hob.Present) {
            return {};
          }
          return {std::to_string(Hob.Type) + "," + std::to_string(Hob.Length)};
        }),
    Sets(
        Setting::Smm, "MODE",
        "SMM Base2 protocol: absent (default), outside (InSmm stores FALSE), inside (TRUE), "
        "null-interface (LocateProtocol succeeds with no interface)",
        [](Invocation &Run, const OptionValue &Arg) {
          Run.Scenario.Firmware.Smm = Choice(Arg, SmmModeNames);
        },
        [](const sim::Scenario &Board) {
          return ChoiceIfChanged(SmmModeNames, Board.Firmware.Smm, DefaultBoard.Firmware.Smm);
        }),
    Sets(
        Setting::MaxSteps, "N",
        "step budget: steps (bus accesses and processor events) before a run counts as hung, 1 "
        "to " +
            std::to_string(MaxStepsLimit) + " (default " + std::to_string(DefaultBoard.MaxSteps) +
            "); a run longer than a second shows its progress on standard error when that is a "
            "terminal",
        [](Invocation &Run, const OptionValue &Arg) {
          Run.Scenario.MaxSteps = Number(Arg, 64);
          if (Run.Scenario.MaxSteps < MinSteps || Run.Scenario.MaxSteps > MaxStepsLimit) {
            throw UsageError(Arg.Option + ": '" + Arg.Value +
                             "' is out of range: the step budget is " + "at least " +
                             std::to_string(MinSteps) + " and at most " +
                             std::to_string(MaxStepsLimit) + " steps");
          }
        },
        [](const sim::Scenario &Board) -> std::vector<std::string> {
          if (Board.MaxSteps == DefaultBoard.MaxSteps) {
            return {};
          }
          return {std::to_string(Board.MaxSteps)};
        }),
};

} // namespace

std::span<const OptionRow> OptionTable() {
  return Options;
}

const OptionRow &OptionFor(Setting Which) {
  return *std::find_if(Options.begin(), Options.end(),
                       [&](const OptionRow &Each) { return Each.Sets == Which; });
}

std::vector<ShownSetting> ShownSettings(const sim::Scenario &Board) {
  std::vector<ShownSetting> Shown;
  for (const OptionRow &Each : Options) {
    if (Each.Shows == nullptr) {
      continue;
    }
    for (const std::string &Value : Each.Shows(Board)) {
      Shown.push_back({Each.given(Value), &Each});
    }
  }
  return Shown;
}

} // namespace boardsim
