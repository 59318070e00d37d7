#include "Options.h"

#include "Arguments.h"
#include "BoardLpcBridge.h"
#include "BoardPcr.h"
#include "NamedScenarios.h"
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

// An option as given: its name for messages, and its value ("" for a flag).
struct OptionValue {
  const std::string &Option;
  const std::string &Value;
};

using Setter = void (*)(Invocation &, const OptionValue &);

struct OptionRow {
  const char *Name;      // "--spi-status"
  const char *ValueName; // "N"; nullptr for a flag
  unsigned Where;        // subcommands that have it
  bool Repeatable;
  std::string Help;
  Setter Set;
};

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
     }},
    {"--spi-status", "N", Modules, false,
     "constant read from the SPI status register (default 0x04: transmit FIFO not full, idle)",
     [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.Spi.Status = Number(Arg, 32); }},
    {"--spi-reg0c", "N", Modules, false,
     "constant read from SPI register 0x0C (default 0; bits 7:5 set keep the controller busy)",
     [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.Spi.Reg0C = Number(Arg, 32); }},
    {"--spi-drain", "N", Modules, false,
     "constant read from SPI register 0x48 (default 0; non-zero: stale data never drain)",
     [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.Spi.Drain = Number(Arg, 32); }},
    {"--spi-clock", "N", Modules, false, "initial value of the SPI clock register (default 0)",
     [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.Spi.Clock = Number(Arg, 32); }},
    {"--pm-timer", "N", Modules, false, "initial PM timer count, 24 bits (default 0)",
     [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.PmTimerStart = Number(Arg, 24); }},
    {"--pm-timer-stuck", nullptr, Modules, false, "the PM timer never advances",
     [](Invocation &Run, const OptionValue &) { Run.Scenario.PmTimerStuck = true; }},
    {"--uart-lsr", "N", Dxe, false,
     "constant read from the UART line status register, 8 bits (default 0x60: transmitter "
     "empty; without bit 5 the driver waits for good)",
     [](Invocation &Run, const OptionValue &Arg) { Run.Scenario.UartLineStatus = Number(Arg, 8); }},
    {"--image", "FILE", BridgeRuns | Dxe, false,
     "run the shipped image FILE (BoardInitPei.efi executed in place, or for dxe BoardInitDxe.efi "
     "loaded into RAM; its linker map, FILE with .map, beside it) under CPU emulation instead of "
     "the host build; the trace, the summary and the JSON are the same, and the summary and the "
     "JSON add its stack high-water mark and the instructions it executed",
     [](Invocation &Run, const OptionValue &Arg) { Run.ImagePath = Arg.Value; }},
    {"--all-ones", nullptr, All, false, "no device answers: every port and memory read is all ones",
     [](Invocation &Run, const OptionValue &) { Run.Scenario.AllOnesEverywhere = true; }},
    {"--lpc", "OFFSET=VALUE", BridgeRuns, true,
     "preset a bridge configuration register before the run (" + WidthsText(Lpc16BitRegisters) +
         "); one register each, repeatable",
     [](Invocation &Run, const OptionValue &Arg) {
       AddPreset(Run.Scenario.LpcConfig, Arg, LpcConfigSize, Lpc16BitRegisters);
     }},
    {"--pcr", "OFFSET=VALUE", BridgeRuns, true,
     "preset a private-configuration register before the run (" + WidthsText(Pcr16BitRegisters) +
         "); one register each, repeatable",
     [](Invocation &Run, const OptionValue &Arg) {
       AddPreset(Run.Scenario.PcrWindow, Arg, PcrWindowSize, Pcr16BitRegisters);
     }},
    {"--no-hob-list", nullptr, Dxe, false, "leave the HOB list out of the configuration table",
     [](Invocation &Run, const OptionValue &) {
       Run.Scenario.Firmware.HobListInConfigTable = false;
     }},
    {"--timer-hob", nullptr, Dxe, false,
     "put the timer GUID HOB in the HOB list: the driver skips its measuring interval",
     [](Invocation &Run, const OptionValue &) { Run.Scenario.Firmware.TimerHob = true; }},
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
     }},
    {"--smm", "MODE", Dxe, false,
     "SMM Base2 protocol: absent (default), outside (InSmm stores FALSE), inside (TRUE), "
     "null-interface (LocateProtocol succeeds with no interface)",
     [](Invocation &Run, const OptionValue &Arg) {
       Run.Scenario.Firmware.Smm = Choice(Arg, SmmModeNames);
     }},
    {"--max-steps", "N", All, false,
     "step budget: accesses before a run counts as hung (default 1000000, at least 1)",
     [](Invocation &Run, const OptionValue &Arg) {
       Run.Scenario.MaxSteps = Number(Arg, 64);
       if (Run.Scenario.MaxSteps == 0) {
         throw UsageError(Arg.Option + ": the step budget must be at least 1");
       }
     }},
};

// Options that ask for settings that contradict each other.
const std::pair<const char *, const char *> Conflicts[] = {
    {"--no-hob-list", "--timer-hob"},
    {"--no-hob-list", "--extra-hob"},
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
    "  1  an output could not be written (one line names the file and the reason)\n"
    "  2  bad input: one line names it; nothing ran and no file was touched\n"
    "  3  the run hung: the step budget stopped it (its last accesses go to standard error)\n"
    "  4  the firmware broke a rule (--image): it wrote into its own image, called a PEI\n"
    "     service or a boot service other than LocateProtocol, or faulted; one line names\n"
    "     it, and the outputs are still written\n";

constexpr const char *DecodeRequestHelp =
    "Requests: PORT,SIZE,ATTRIBUTES\n"
    "  PORT        16-bit I/O base of the device; 0 turns the device's decoding off\n"
    "  SIZE        8 bits: for serial requests the COM selector (0 COM A, 1 COM B); for type\n"
    "              0xFF the size in bytes of the generic window opened when the port has no\n"
    "              fixed decode; not read for the other types\n"
    "  ATTRIBUTES  32 bits: device type in bits 7:0 (1 floppy, 2-5 keyboard controller,\n"
    "              6 serial, 7 parallel, 8 game port, 0xFF other: decoded by its port alone),\n"
    "              decode target in bits 11:8 (0 LPC / primary, 1-3 eSPI chip select 1-3);\n"
    "              bits 31:12 are not read\n"
    "  Example: 0x2F8,1,0x006 decodes COM B at 0x2F8 on LPC; 0x6C,4,0x1FF opens a 4-byte\n"
    "  window at 0x6C on eSPI chip select 1.\n";

constexpr const char *WindowRequestHelp =
    "Requests: PORT,SIZEWORD\n"
    "  PORT      16-bit I/O port the window must hold\n"
    "  SIZEWORD  16 bits: window size in bytes in bits 7:0 (1-255; below 4 counts as 4, the\n"
    "            window is the power of two that holds it, aligned to its size), decode\n"
    "            target in bits 11:8 (0 LPC / primary, 1-3 eSPI chip select 1-3); 0x0100\n"
    "            asks for a 256-byte window on LPC\n"
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

} // namespace

std::string TopLevelHelp() {
  std::ostringstream Out;
  Out << "usage: boardsim SUBCOMMAND [options] [requests]\n"
         "       boardsim scenarios | --help | --version\n\n"
         "Runs the board's firmware on the simulated board, traces every access and shows the "
         "board's state.\n\nSubcommands:\n";
  for (const SubcommandRow &Each : SubcommandTable) {
    const std::string Left = std::string(Each.Name) + " " + Each.Operands;
    Out << "  " << Left << std::string(Left.size() < 32 ? 32 - Left.size() : 1, ' ') << Each.Summary
        << "\n";
  }
  Out << "  compare A B                     compare two builds (host or images) case by case\n"
         "  scenarios                       list the named scenarios (--scenario=NAME)\n\n"
         "'boardsim SUBCOMMAND --help' lists the subcommand's options. Without --trace=- or "
         "--json=- a\nsummary goes to standard output.\n\n"
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
  if (Which == Module::Decode) {
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
    Out << Name << std::string(Width + 2 - Name.size(), ' ') << Each.Description << "\n";
  }
  return Out.str();
}

Invocation ParseCommandLine(int argc, const char *const *argv) {
  Invocation Run;
  const std::vector<std::string> Arguments(argv + 1, argv + argc);
  if (Arguments.empty()) {
    throw UsageError("a subcommand is needed: pei, dxe, decode, window, compare or scenarios (see "
                     "boardsim --help)");
  }
  const std::string &First = Arguments[0];
  if (First == "--help" || First == "-h") {
    Run.What = Invocation::Action::Help;
    Run.TopLevelHelp = true;
    return Run;
  }
  if (First == "--version") {
    Run.What = Invocation::Action::Version;
    return Run;
  }
  if (First == "scenarios") {
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
    if (Argument == "--help" || Argument == "-h") {
      Run.What = Invocation::Action::Help;
      return Run;
    }
    const std::string::size_type Equals = Argument.find('=');
    const std::string Name = Argument.substr(0, Equals);
    const OptionRow *Option = FindRow(Options, Name);
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
