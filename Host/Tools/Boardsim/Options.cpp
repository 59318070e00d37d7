#include "Options.h"

#include "Arguments.h"
#include "BoardLpcBridge.h"
#include "BoardPcr.h"
#include "Images.h"
#include "NamedScenarios.h"
#include "TableText.h"
#include "Trace.h"

#include <algorithm>
#include <map>
#include <set>
#include <span>
#include <sstream>

namespace boardsim {
namespace {

// The subcommands an option belongs to.
enum Subcommands : unsigned {
  Pei = 1u << 0,
  Dxe = 1u << 1,
  Decode = 1u << 2,
  Window = 1u << 3,
  Modules = Pei | Dxe,
  Requests = Decode | Window,
  BridgeRuns = Pei | Decode | Window,
  All = Modules | Requests,
};

unsigned Bit(Module Which) {
  return 1u << static_cast<unsigned>(Which);
}

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

// An option as given: its name for messages, and its value ("" for a flag).
struct OptionValue {
  const std::string &Option;
  const std::string &Value;
};

using Setter = void (*)(Invocation &, const OptionValue &);
// The values of the option that would set what a scenario changes from the default board: one
// value a register for --lpc/--pcr, "" for a flag that is set, none when the setting is the
// default's.
using Shower = std::vector<std::string> (*)(const sim::Scenario &);

struct OptionRow {
  const char *Name;      // "--spi-status"
  const char *ValueName; // "N"; nullptr for a flag
  unsigned Where;        // subcommands that have it
  bool Repeatable;
  std::string Help;
  Setter Set;
  Shower Shows = nullptr; // nullptr: the option sets no board setting
};

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
  for (const auto &[Name, Setting] : Choices) {
    if (Arg.Value == Name) {
      return Setting;
    }
    Names += (Names.empty() ? "" : ", ") + std::string(Name);
  }
  throw UsageError(Arg.Option + ": '" + Arg.Value + "' is not one of " + Names);
}

void AddPreset(std::map<std::uint32_t, sim::Preset> &Presets, const OptionValue &Arg,
               std::uint32_t WindowSize, const std::vector<std::uint32_t> &Registers16) {
  const RegisterPreset Preset = ParsePreset(Arg.Value, WindowSize, Registers16, Arg.Option);
  Presets[Preset.Offset] = {Preset.Value, Preset.Width};
}

// The table. --scenario comes first: the other options apply on top of it.
const OptionRow Options[] = {
    {"--scenario", "NAME", Modules, false,
     "start from a named scenario ('boardsim scenarios' lists them); the other options apply on "
     "top of it",
     [](Invocation &Run, const OptionValue &Arg) {
       const sim::NamedScenario *Named = sim::FindScenario(Arg.Value);
       if (Named == nullptr) {
         throw UsageError(Arg.Option + ": no scenario named '" + Arg.Value +
                          "' (boardsim scenarios lists them)");
       }
       Run.Scenario = Named->Settings;
       Run.ScenarioName = Named->Name;
     }},
    {"--trace", "FILE", All, false,
     "write every access, one record a line, to FILE ('-': standard output)",
     [](Invocation &Run, const OptionValue &Arg) { Run.TracePath = Arg.Value; }},
    {"--json", "FILE", All, false, "write the result as JSON to FILE ('-': standard output)",
     [](Invocation &Run, const OptionValue &Arg) { Run.JsonPath = Arg.Value; }},
    {"--spi", "STATE", Modules, false,
     "SPI controller: present (default), absent (device ID reads 0xFFFF) or dead (control 0 "
     "reads 0xFFFFFFFF)",
     [](Invocation &Run, const OptionValue &Arg) {
       Run.Scenario.Spi.Presence = Choice(Arg, SpiPresenceNames);
     },
     [](const sim::Scenario &Board) {
       return ChoiceIfChanged(SpiPresenceNames, Board.Spi.Presence, DefaultBoard.Spi.Presence);
     }},
    {"--spi-status", "N", Modules, false,
     "constant read from the SPI status register (default 0x04: transmit FIFO not full, idle)",
     [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.Spi.Status = Number(Arg, 32); },
     [](const sim::Scenario &Board) {
       return HexIfChanged(Board.Spi.Status, DefaultBoard.Spi.Status);
     }},
    {"--spi-reg0c", "N", Modules, false,
     "constant read from SPI register 0x0C (default 0; bits 7:5 set keep the controller busy)",
     [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.Spi.Reg0C = Number(Arg, 32); },
     [](const sim::Scenario &Board) {
       return HexIfChanged(Board.Spi.Reg0C, DefaultBoard.Spi.Reg0C);
     }},
    {"--spi-drain", "N", Modules, false,
     "constant read from SPI register 0x48 (default 0; non-zero: stale data never drain)",
     [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.Spi.Drain = Number(Arg, 32); },
     [](const sim::Scenario &Board) {
       return HexIfChanged(Board.Spi.Drain, DefaultBoard.Spi.Drain);
     }},
    {"--spi-clock", "N", Modules, false, "initial value of the SPI clock register (default 0)",
     [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.Spi.Clock = Number(Arg, 32); },
     [](const sim::Scenario &Board) {
       return HexIfChanged(Board.Spi.Clock, DefaultBoard.Spi.Clock);
     }},
    {"--pm-timer", "N", Modules, false, "initial PM timer count, 24 bits (default 0)",
     [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.PmTimerStart = Number(Arg, 24); },
     [](const sim::Scenario &Board) {
       return HexIfChanged(Board.PmTimerStart, DefaultBoard.PmTimerStart);
     }},
    {"--pm-timer-stuck", nullptr, Modules, false, "the PM timer never advances",
     [](Invocation &Run, const OptionValue &) { Run.Scenario.PmTimerStuck = true; },
     [](const sim::Scenario &Board) {
       return FlagIfChanged(Board.PmTimerStuck, DefaultBoard.PmTimerStuck);
     }},
    {"--uart-lsr", "N", Dxe, false,
     "constant read from the UART line status register, 8 bits (default 0x60: transmitter "
     "empty; without bit 5 the driver waits for good)",
     [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.UartLineStatus = Number(Arg, 8); },
     [](const sim::Scenario &Board) {
       return HexIfChanged(Board.UartLineStatus, DefaultBoard.UartLineStatus);
     }},
    // One option, two helps: the early-init module's image for pei, decode and window, the
    // driver's for dxe.
    {"--image", "FILE", BridgeRuns, false,
     "run the shipped image FILE, BoardInitPei.efi, executed in place (its linker map, FILE with "
     ".map, beside it) under CPU emulation instead of the host build; the trace, the summary and "
     "the JSON are the same, and the summary and the JSON add its stack high-water mark and the "
     "instructions it executed",
     [](Invocation &Run, const OptionValue &Arg) { Run.ImagePath = Arg.Value; }},
    {"--image", "FILE", Dxe, false,
     "run the shipped image FILE, BoardInitDxe.efi, loaded into RAM (its linker map, FILE with "
     ".map, beside it) under CPU emulation instead of the host build; the trace, the summary and "
     "the JSON are the same, and the summary and the JSON add its stack high-water mark and the "
     "instructions it executed",
     [](Invocation &Run, const OptionValue &Arg) { Run.ImagePath = Arg.Value; }},
    {"--map", "FILE", BridgeRuns | Dxe, false,
     "the linker map of the --image, when it is not the file beside it with .map",
     [](Invocation &Run, const OptionValue &Arg) { Run.MapPath = Arg.Value; }},
    {"--decode-table", "ROWS", Pei, false, DecodeTableHelp,
     [](Invocation &Run, const OptionValue &Arg) {
       SetRowsFromOption(Run.Scenario.Tables, sim::BoardTable::Decode, Arg.Value, Arg.Option);
     }},
    {"--superio-script", "ROWS", Pei, false, SuperIoScriptHelp,
     [](Invocation &Run, const OptionValue &Arg) {
       SetRowsFromOption(Run.Scenario.Tables, sim::BoardTable::Script, Arg.Value, Arg.Option);
     }},
    {"--tables", "FILE", Pei, false, TablesFileHelp,
     [](Invocation &Run, const OptionValue &Arg) {
       SetRowsFromFile(Run.Scenario.Tables, Run.TablesPath = Arg.Value, Arg.Option);
     }},
    {"--print-tables", nullptr, Pei, false, PrintTablesHelp,
     [](Invocation &Run, const OptionValue &) { Run.PrintTables = true; }},
    {"--all-ones", nullptr, All, false, "no device answers: every port and memory read is all ones",
     [](Invocation &Run, const OptionValue &) { Run.Scenario.AllOnesEverywhere = true; },
     [](const sim::Scenario &Board) {
       return FlagIfChanged(Board.AllOnesEverywhere, DefaultBoard.AllOnesEverywhere);
     }},
    {"--lpc", "OFFSET=VALUE", All, true,
     "preset a bridge configuration register before the run (" + WidthsText(Lpc16BitRegisters) +
         "); one register each, repeatable; dxe: over the bridge as BoardInitPei leaves it",
     [](Invocation &Run, const OptionValue &Arg) {
       AddPreset(Run.Scenario.LpcConfig, Arg, LpcConfigSize, Lpc16BitRegisters);
     },
     [](const sim::Scenario &Board) { return PresetsShown(Board.LpcConfig); }},
    {"--pcr", "OFFSET=VALUE", All, true,
     "preset a private-configuration register before the run (" + WidthsText(Pcr16BitRegisters) +
         "); one register each, repeatable; dxe: over the mirrors as BoardInitPei leaves them",
     [](Invocation &Run, const OptionValue &Arg) {
       AddPreset(Run.Scenario.PcrWindow, Arg, PcrWindowSize, Pcr16BitRegisters);
     },
     [](const sim::Scenario &Board) { return PresetsShown(Board.PcrWindow); }},
    {"--no-hob-list", nullptr, Dxe, false, "leave the HOB list out of the configuration table",
     [](Invocation &Run, const OptionValue &) {
       Run.Scenario.Firmware.HobListInConfigTable = false;
     },
     [](const sim::Scenario &Board) {
       return FlagIfChanged(Board.Firmware.HobListInConfigTable,
                            DefaultBoard.Firmware.HobListInConfigTable);
     }},
    {"--timer-hob", nullptr, Dxe, false,
     "put the timer GUID HOB in the HOB list: the driver skips its measuring interval",
     [](Invocation &Run, const OptionValue &) { Run.Scenario.Firmware.TimerHob = true; },
     [](const sim::Scenario &Board) {
       return FlagIfChanged(Board.Firmware.TimerHob, DefaultBoard.Firmware.TimerHob);
     }},
    {"--extra-hob", "TYPE,LENGTH", Dxe, false,
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
     }},
    {"--smm", "MODE", Dxe, false,
     "SMM Base2 protocol: absent (default), outside (InSmm stores FALSE), inside (TRUE), "
     "null-interface (LocateProtocol succeeds with no interface)",
     [](Invocation &Run, const OptionValue &Arg) {
       Run.Scenario.Firmware.Smm = Choice(Arg, SmmModeNames);
     },
     [](const sim::Scenario &Board) {
       return ChoiceIfChanged(SmmModeNames, Board.Firmware.Smm, DefaultBoard.Firmware.Smm);
     }},
    {"--max-steps", "N", All, false,
     "step budget: accesses before a run counts as hung, 1 to " + std::to_string(MaxStepsLimit) +
         " (default " + std::to_string(DefaultBoard.MaxSteps) +
         "); a run longer than a second shows its progress on standard error when that is a "
         "terminal",
     [](Invocation &Run, const OptionValue &Arg) {
       Run.Scenario.MaxSteps = Number(Arg, 64);
       if (Run.Scenario.MaxSteps < MinSteps || Run.Scenario.MaxSteps > MaxStepsLimit) {
         throw UsageError(Arg.Option + ": '" + Arg.Value +
                          "' is out of range: the step budget is " + "at least " +
                          std::to_string(MinSteps) + " and at most " +
                          std::to_string(MaxStepsLimit) + " accesses");
       }
     },
     [](const sim::Scenario &Board) -> std::vector<std::string> {
       if (Board.MaxSteps == DefaultBoard.MaxSteps) {
         return {};
       }
       return {std::to_string(Board.MaxSteps)};
     }},
};

// Options that ask for settings that contradict each other.
const std::pair<const char *, const char *> Conflicts[] = {
    {"--no-hob-list", "--timer-hob"},
    {"--no-hob-list", "--extra-hob"},
    {"--print-tables", "--trace"},
    {"--print-tables", "--json"},
};

struct SubcommandRow {
  const char *Name;
  Module Which;
  const char *Summary;
  const char *Operands; // "" when it takes none
};

// In the order of Module.
constexpr SubcommandRow SubcommandTable[] = {
    {"pei", Module::Pei, "run the BoardInitPei entry, as the PEI core enters it", ""},
    {"dxe", Module::Dxe, "run the BoardInitDxe entry, inside a simulated DXE firmware", ""},
    {"decode", Module::Decode, "run SetIoDecode for each request, in order",
     "PORT,SIZE,ATTRIBUTES..."},
    {"window", Module::Window, "run SetGenericIoRange for each request, in order",
     "PORT,SIZEWORD..."},
};
static_assert([] {
  for (std::size_t Row = 0; Row < std::size(SubcommandTable); ++Row) {
    if (static_cast<std::size_t>(SubcommandTable[Row].Which) != Row) {
      return false;
    }
  }
  return true;
}());

template <typename Row, std::size_t N>
const Row *FindRow(const Row (&Table)[N], const std::string &Name) {
  const Row *Found =
      std::find_if(Table, Table + N, [&](const Row &Each) { return Name == Each.Name; });
  return Found == Table + N ? nullptr : Found;
}

// "dxe", "pei and dxe", "pei, decode and window"
std::string SubcommandsOf(unsigned Where) {
  std::vector<std::string> Names;
  for (const SubcommandRow &Each : SubcommandTable) {
    if ((Where & Bit(Each.Which)) != 0) {
      Names.emplace_back(Each.Name);
    }
  }
  std::string Text;
  for (std::size_t Index = 0; Index < Names.size(); ++Index) {
    Text += (Index == 0 ? "" : Index + 1 == Names.size() ? " and " : ", ") + Names[Index];
  }
  return Text;
}

constexpr const char *NumbersNote = "Numbers are decimal or 0x hexadecimal.\n";

constexpr const char *ExitStatuses =
    "Exit status:\n"
    "  0  the run finished, whatever the firmware returned\n"
    "  1  an output could not be made, written or put in place (one line names the file and\n"
    "     the reason; standard output gets nothing from the run)\n"
    "  2  bad input, one line names it: the command line, an image or map that cannot be\n"
    "     read or run, an output that is also an input, two outputs on one file\n"
    "  3  the run hung: the step budget stopped it (its last accesses go to standard error)\n"
    "  4  the firmware broke a rule (--image): it wrote into its own image, called a PEI\n"
    "     service or a boot service other than LocateProtocol, or faulted; one line names it\n"
    "Exit 1 and 2 leave every existing file as it was; 0, 3 and 4 write the outputs.\n";

constexpr const char *DecodeRequestHelp =
    "Requests: PORT,SIZE,ATTRIBUTES\n"
    "  PORT        16-bit I/O base of the device; 0 turns the device's decoding off\n"
    "  SIZE        8 bits: for serial requests the COM selector (0 COM A, 1 COM B); for type\n"
    "              0xFF the size in bytes of the generic window opened when the port has no\n"
    "              fixed decode; not read for the other types. The standard COM ports 0x3F8,\n"
    "              0x2F8, 0x3E8 and 0x2E8 ignore the selector: any of them opens all four\n"
    "              (COM A at 0x3F8, COM B at 0x3E8, and the 256-byte window at 0x200 on LPC\n"
    "              that holds 0x2F8 and 0x2E8)\n"
    "  ATTRIBUTES  32 bits: device type in bits 7:0 (1 floppy, 2-5 keyboard controller,\n"
    "              6 serial, 7 parallel, 8 game port, 0xFF other: decoded by its port alone),\n"
    "              decode target in bits 11:8 (0 LPC / primary, 1-3 eSPI chip select 1-3);\n"
    "              bits 31:12 are not read\n"
    "  Example: 0x220,1,0x006 decodes COM B at 0x220 on LPC; 0x6C,4,0x1FF opens a 4-byte\n"
    "  window at 0x6C on eSPI chip select 1.\n";

constexpr const char *WindowRequestHelp =
    "Requests: PORT,SIZEWORD\n"
    "  PORT      16-bit I/O port the window must hold\n"
    "  SIZEWORD  16 bits: window size in bytes in bits 7:0 (1-255; below 4 counts as 4, the\n"
    "            window is the power of two that holds it, aligned to its size), decode\n"
    "            target in bits 11:8 (0 LPC / primary, 1-3 eSPI chip select 1-3). One value\n"
    "            is a special case: 0x0100, which by those fields would be 0 bytes on chip\n"
    "            select 1, asks for a 256-byte window on LPC (256 does not fit bits 7:0)\n"
    "  Example: 0x6C,4 opens 0x006C-0x006F on LPC; 0xA00,0x0190 opens 0x0A00-0x0AFF on eSPI\n"
    "  chip select 1.\n";

std::string OptionHelpLines(unsigned Where) {
  std::ostringstream Out;
  constexpr std::size_t Column = 26;
  auto Line = [&](const std::string &Left, const std::string &Help) {
    Out << "  " << Left;
    if (Left.size() + 2 >= Column) {
      Out << "\n" << std::string(Column, ' ');
    } else {
      Out << std::string(Column - 2 - Left.size(), ' ');
    }
    // Wrap the help text at 100 columns.
    std::size_t Width = Column;
    std::istringstream Words(Help);
    bool First = true;
    for (std::string Word; Words >> Word;) {
      if (!First && Width + 1 + Word.size() > 100) {
        Out << "\n" << std::string(Column, ' ');
        Width = Column;
        First = true;
      }
      Out << (First ? "" : " ") << Word;
      Width += (First ? 0 : 1) + Word.size();
      First = false;
    }
    Out << "\n";
  };
  for (const OptionRow &Each : Options) {
    if ((Each.Where & Where) != 0) {
      Line(std::string(Each.Name) + (Each.ValueName ? "=" + std::string(Each.ValueName) : ""),
           Each.Help);
    }
  }
  Line("-h, --help", "show this help");
  return Out.str();
}

// What a scenario changes from the default board, as the options that set it, each with the
// subcommands that have it.
struct ShownSetting {
  std::string Text; // "--spi-status=0x10"
  const OptionRow *Option;
};

std::vector<ShownSetting> ShownSettings(const sim::Scenario &Board) {
  std::vector<ShownSetting> Shown;
  for (const OptionRow &Each : Options) {
    if (Each.Shows == nullptr) {
      continue;
    }
    for (const std::string &Value : Each.Shows(Board)) {
      Shown.push_back({std::string(Each.Name) + (Each.ValueName ? "=" + Value : ""), &Each});
    }
  }
  return Shown;
}

// The first setting of the scenario that the subcommand does not read, if any.
const ShownSetting *SettingOutside(const std::vector<ShownSetting> &Shown, Module Which) {
  for (const ShownSetting &Each : Shown) {
    if ((Each.Option->Where & Bit(Which)) == 0) {
      return &Each;
    }
  }
  return nullptr;
}

constexpr const char *ScenariosHelpText =
    "usage: boardsim scenarios\n\n"
    "Lists the named scenarios that --scenario=NAME replays, one a line: the name first, what it\n"
    "is, and then what it changes from the default board as the options that would set it\n"
    "(nothing for the healthy board). A scenario is taken only by the subcommands that read\n"
    "every setting it changes.\n";

} // namespace

std::string Invocation::mapPath() const {
  if (ImagePath.empty()) {
    return {};
  }
  return MapPath.empty() ? imagerun::MapPathFor(ImagePath) : MapPath;
}

std::string ScenarioOptions(const sim::Scenario &Board) {
  std::string Text;
  for (const ShownSetting &Each : ShownSettings(Board)) {
    Text += (Text.empty() ? "" : " ") + Each.Text;
  }
  return Text;
}

bool ScenarioFits(const sim::Scenario &Board, Module Which) {
  return SettingOutside(ShownSettings(Board), Which) == nullptr;
}

std::string TopLevelHelp() {
  std::ostringstream Out;
  Out << "usage: boardsim SUBCOMMAND [options] [requests]\n"
         "       boardsim scenarios | --help [SUBCOMMAND] | --version\n\n"
         "Runs the board's firmware on the simulated board, traces every access and shows the "
         "board's state.\n\nSubcommands:\n";
  for (const SubcommandRow &Each : SubcommandTable) {
    const std::string Left = std::string(Each.Name) + " " + Each.Operands;
    Out << "  " << Left << std::string(Left.size() < 32 ? 32 - Left.size() : 1, ' ') << Each.Summary
        << "\n";
  }
  Out << "  boot [options]                  BoardInitPei then BoardInitDxe on one board\n"
         "  compare A B                     compare two builds (host or images) case by case\n"
         "  scenarios                       list the named scenarios (--scenario=NAME) and their "
         "settings\n\n"
         "'boardsim SUBCOMMAND --help' or 'boardsim --help SUBCOMMAND' lists the subcommand's "
         "options.\nWithout --trace=- or --json=- a summary goes to standard output; for pei, "
         "decode and\nwindow it ends with the I/O decode map: each decoded port range and where it "
         "goes.\n\n"
      << NumbersNote << "\n"
      << ExitStatuses;
  return Out.str();
}

const char *ModuleName(Module Which) {
  return SubcommandTable[static_cast<std::size_t>(Which)].Name;
}

std::string SubcommandHelp(Module Which) {
  const SubcommandRow *Row = &SubcommandTable[static_cast<std::size_t>(Which)];
  std::ostringstream Out;
  Out << "usage: boardsim " << Row->Name << " [options]" << (Row->Operands[0] != '\0' ? " " : "")
      << Row->Operands << "\n\n"
      << static_cast<char>(Row->Summary[0] - 'a' + 'A') << (Row->Summary + 1) << ".\n\n"
      << "Options:\n"
      << OptionHelpLines(Bit(Which)) << "\n";
  if (Which == Module::Pei) {
    Out << TablesFormHelp << "\n";
  } else if (Which == Module::Decode) {
    Out << DecodeRequestHelp << "\n";
  } else if (Which == Module::Window) {
    Out << WindowRequestHelp << "\n";
  }
  Out << NumbersNote << "\n" << ExitStatuses;
  return Out.str();
}

std::string ScenarioList() {
  std::ostringstream Out;
  std::size_t Width = 0;
  for (const sim::NamedScenario &Each : sim::NamedScenarios()) {
    Width = std::max(Width, std::string(Each.Name).size());
  }
  for (const sim::NamedScenario &Each : sim::NamedScenarios()) {
    const std::string Name = Each.Name;
    const std::string Settings = ScenarioOptions(Each.Settings);
    Out << Name << std::string(Width + 2 - Name.size(), ' ') << Each.Description
        << "; options: " << (Settings.empty() ? "none" : Settings) << "\n";
  }
  return Out.str();
}

std::string HelpText(const Invocation &Asked) {
  return Asked.ScenariosHelp  ? ScenariosHelpText
         : Asked.TopLevelHelp ? TopLevelHelp()
                              : SubcommandHelp(Asked.Which);
}

Invocation ParseCommandLine(int argc, const char *const *argv) {
  Invocation Run;
  const std::vector<std::string> Arguments(argv + 1, argv + argc);
  if (Arguments.empty()) {
    throw UsageError(
        "a subcommand is needed: pei, dxe, decode, window, boot, compare or scenarios (see "
        "boardsim --help)");
  }
  const std::string &First = Arguments[0];
  auto IsHelp = [](const std::string &Argument) {
    return Argument == "--help" || Argument == "-h";
  };
  if (IsHelp(First)) {
    // "boardsim --help pei" is "boardsim pei --help".
    Run.What = Invocation::Action::Help;
    Run.TopLevelHelp = Arguments.size() == 1;
    if (Arguments.size() > 2) {
      throw UsageError(First + " takes at most one subcommand, got '" + Arguments[2] + "'");
    }
    if (Arguments.size() == 2) {
      const SubcommandRow *Named = FindRow(SubcommandTable, Arguments[1]);
      Run.ScenariosHelp = Arguments[1] == "scenarios";
      if (Named == nullptr && !Run.ScenariosHelp) {
        throw UsageError(
            "no help for '" + Arguments[1] +
            "': the subcommands are pei, dxe, decode, window, boot, compare and scenarios");
      }
      Run.Which = Named != nullptr ? Named->Which : Run.Which;
    }
    return Run;
  }
  if (First == "--version") {
    Run.What = Invocation::Action::Version;
    return Run;
  }
  if (First == "scenarios") {
    if (Arguments.size() == 2 && IsHelp(Arguments[1])) {
      Run.What = Invocation::Action::Help;
      Run.ScenariosHelp = true;
      return Run;
    }
    if (Arguments.size() > 1) {
      throw UsageError("scenarios takes no arguments, got '" + Arguments[1] + "'");
    }
    Run.What = Invocation::Action::ListScenarios;
    return Run;
  }
  const SubcommandRow *Subcommand = FindRow(SubcommandTable, First);
  if (Subcommand == nullptr) {
    throw UsageError(First[0] == '-' ? "'" + First +
                                           "' before the subcommand: the subcommand "
                                           "(pei, dxe, decode, window, compare or "
                                           "scenarios) "
                                           "comes first"
                                     : "unknown subcommand '" + First +
                                           "' (expected pei, dxe, decode, window, compare or "
                                           "scenarios)");
  }
  Run.Which = Subcommand->Which;
  const std::string Help = " (see boardsim " + std::string(Subcommand->Name) + " --help)";

  // Options and requests in any order; "--" ends the options.
  std::vector<std::pair<const OptionRow *, std::string>> Given;
  std::vector<std::string> Operands;
  bool OptionsEnded = false;
  for (std::size_t Index = 1; Index < Arguments.size(); ++Index) {
    const std::string &Argument = Arguments[Index];
    if (OptionsEnded || Argument.empty() || Argument[0] != '-') {
      Operands.push_back(Argument);
      continue;
    }
    if (Argument == "--") {
      OptionsEnded = true;
      continue;
    }
    if (IsHelp(Argument)) {
      Run.What = Invocation::Action::Help;
      return Run;
    }
    const std::string::size_type Equals = Argument.find('=');
    const std::string Name = Argument.substr(0, Equals);
    // A name may have a row for each of its subcommands; the subcommand's own row is the one.
    const OptionRow *Option = FindRow(Options, Name);
    for (const OptionRow &Each : Options) {
      if (Name == Each.Name && (Each.Where & Bit(Run.Which)) != 0) {
        Option = &Each;
      }
    }
    if (Option == nullptr) {
      throw UsageError("unknown option '" + Name + "'" + Help);
    }
    if ((Option->Where & Bit(Run.Which)) == 0) {
      throw UsageError(Name + " is an option of " + SubcommandsOf(Option->Where) + ", not of " +
                       Subcommand->Name);
    }
    std::string Value;
    if (Option->ValueName == nullptr) {
      if (Equals != std::string::npos) {
        throw UsageError(Name + " takes no value, got '" + Argument + "'");
      }
    } else if (Equals != std::string::npos) {
      Value = Argument.substr(Equals + 1);
    } else if (Index + 1 < Arguments.size()) {
      Value = Arguments[++Index];
    } else {
      throw UsageError(Name + " needs a value " + Option->ValueName);
    }
    // An empty value is a mistake, typically an unset shell variable: running the host build in
    // place of an image, or writing no file, would leave the caller believing the opposite.
    if (Option->ValueName != nullptr && Value.empty()) {
      throw UsageError(Name + " needs a value " + Option->ValueName + ", not an empty one");
    }
    const bool Again = std::any_of(Given.begin(), Given.end(),
                                   [&](const auto &Earlier) { return Earlier.first == Option; });
    if (Again && !Option->Repeatable) {
      throw UsageError(Name + " is given more than once");
    }
    Given.emplace_back(Option, Value);
  }
  for (const auto &[Left, Right] : Conflicts) {
    auto Has = [&](const char *Name) {
      return std::any_of(Given.begin(), Given.end(),
                         [&](const auto &Each) { return std::string(Each.first->Name) == Name; });
    };
    if (Has(Left) && Has(Right)) {
      throw UsageError(std::string(Left) + " and " + Right + " contradict each other");
    }
  }

  // The scenario first, then every other option on top, in the order given.
  std::stable_partition(Given.begin(), Given.end(), [](const auto &Each) {
    return std::string(Each.first->Name) == "--scenario";
  });
  std::map<std::string, std::set<std::uint64_t>> PresetOffsets;
  for (const auto &[Option, Value] : Given) {
    const std::string Name = Option->Name;
    const std::string::size_type Equals = Value.find('=');
    if (Option->Repeatable && Equals != std::string::npos) {
      // One register per option: the same register twice would silently drop one value.
      const std::string Offset = Value.substr(0, Equals);
      if (!PresetOffsets[Name]
               .insert(ParseNumber(Offset, 32, Name + " offset in '" + Value + "'"))
               .second) {
        throw UsageError(Name + ": register " + Offset + " is given more than once");
      }
    }
    Option->Set(Run, {Name, Value});
  }
  // A scenario is refused where one of its settings would be, as the option that sets it is:
  // the subcommand would run the board without it under the scenario's name.
  if (const sim::NamedScenario *Named = sim::FindScenario(Run.ScenarioName)) {
    const std::vector<ShownSetting> Shown = ShownSettings(Named->Settings);
    if (const ShownSetting *Outside = SettingOutside(Shown, Run.Which)) {
      throw UsageError("--scenario=" + Run.ScenarioName + " sets " + Outside->Text + ", and " +
                       Outside->Option->Name + " is an option of " +
                       SubcommandsOf(Outside->Option->Where) + ", not of " + Subcommand->Name);
    }
  }

  if (!Run.MapPath.empty() && Run.ImagePath.empty()) {
    throw UsageError("--map names the map of an --image, and no --image is given: the host build "
                     "has no map");
  }

  const bool TakesRequests = (Bit(Run.Which) & Requests) != 0;
  if (!TakesRequests && !Operands.empty()) {
    throw UsageError("unexpected argument '" + Operands[0] + "': " + Subcommand->Name +
                     " takes no requests" + Help);
  }
  if (TakesRequests && Operands.empty()) {
    throw UsageError(std::string(Subcommand->Name) + " needs at least one request " +
                     Subcommand->Operands + Help);
  }
  for (const std::string &Text : Operands) {
    const std::string What = "request '" + Text + "'";
    if (Run.Which == Module::Decode) {
      const auto Fields = ParseRequest(Text, {16, 8, 32}, "PORT,SIZE,ATTRIBUTES", What);
      Run.Decode.push_back({static_cast<std::uint16_t>(Fields[0]),
                            static_cast<std::uint8_t>(Fields[1]), 0,
                            static_cast<std::uint32_t>(Fields[2])});
    } else {
      const auto Fields = ParseRequest(Text, {16, 16}, "PORT,SIZEWORD", What);
      Run.Window.push_back(
          {static_cast<std::uint16_t>(Fields[0]), static_cast<std::uint16_t>(Fields[1])});
    }
  }
  return Run;
}

} // namespace boardsim
