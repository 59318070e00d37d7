// boardsim's help: the whole tool's, each subcommand's (its options from the option table) and
// the list of named scenarios.
#include "BoardLpcBridge.h"
#include "Modules.h"
#include "NamedScenarios.h"
#include "OptionTable.h"
#include "Options.h"
#include "TableText.h"

#include "ExitStatus.h"
#include "HelpLayout.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

namespace boardsim {
namespace {

constexpr const modules::Module &PeiModule = modules::ModuleOf(modules::ModuleId::BoardInitPei);
constexpr const modules::Module &DxeModule = modules::ModuleOf(modules::ModuleId::BoardInitDxe);

constexpr const char *NumbersNote = "Numbers are decimal or 0x hexadecimal.\n";

// What each status means for a run; the help of every subcommand that runs lists them.
std::string ExitStatuses() {
  using namespace tooloutput;
  return ExitStatusHelp(
             {{ExitSuccess, "the run finished, whatever the firmware returned"},
              {ExitCheckFailed, "--strict: the run's summary marks a WARNING (the outputs are "
                                "written; one line gives the count)"},
              {ExitBadInput, "bad input, one line names it: the command line, an image or map that "
                             "cannot be read or run, an output that is also an input, two outputs "
                             "on one file"},
              {ExitHung, "the run hung: the step budget stopped it (its last accesses go to "
                         "standard error)"},
              {ExitBreach, "the firmware broke a rule (--image): it wrote into its own image, "
                           "called a PEI service or a boot service other than LocateProtocol, or "
                           "faulted; one line names it"},
              {ExitOutputFailed, "an output could not be made, written or put in place (one line "
                                 "names the file and the reason; standard output gets nothing "
                                 "from the run)"}}) +
         "Exit 2 and 5 leave every existing file as it was; 0, 3 and 4 write the outputs.\n";
}

// "0x6C", "0xA00": a port as the examples write it.
std::string PortText(std::uint16_t Port) {
  char Text[8];
  std::snprintf(Text, sizeof Text, "0x%X", Port);
  return Text;
}
// "0x006C".
std::string PortText4(std::uint16_t Port) {
  char Text[8];
  std::snprintf(Text, sizeof Text, "0x%04X", Port);
  return Text;
}

constexpr std::uint16_t FourBytes = sim::hw::LpcBridge::EarlyFourByteWindow;
constexpr std::uint16_t Whole = sim::hw::LpcBridge::EarlyWholeWindow;
constexpr unsigned FourByteSpan = 4, WholeSpan = 256;

const std::string DecodeRequestHelp =
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
    "  Example: 0x220,1,0x006 decodes COM B at 0x220 on LPC; " +
    PortText(FourBytes) + ",4,0x1FF opens a 4-byte\n  window at " + PortText(FourBytes) +
    " on eSPI chip select 1.\n";

const std::string WindowRequestHelp =
    "Requests: PORT,SIZEWORD\n"
    "  PORT      16-bit I/O port the window must hold\n"
    "  SIZEWORD  16 bits: window size in bytes in bits 7:0 (1-255; below 4 counts as 4, the\n"
    "            window is the power of two that holds it, aligned to its size), decode\n"
    "            target in bits 11:8 (0 LPC / primary, 1-3 eSPI chip select 1-3). One value\n"
    "            is a special case: 0x0100, which by those fields would be 0 bytes on chip\n"
    "            select 1, asks for a 256-byte window on LPC (256 does not fit bits 7:0)\n"
    "  Example: " +
    PortText(FourBytes) + ",4 opens " + PortText4(FourBytes) + "-" +
    PortText4(FourBytes + FourByteSpan - 1) + " on LPC; " + PortText(Whole) + ",0x0190 opens " +
    PortText4(Whole) + "-" + PortText4(Whole + WholeSpan - 1) + " on eSPI\n  chip select 1.\n";

// The help of 'boardsim scenarios'.
std::string ScenariosHelp() {
  using namespace tooloutput;
  return "usage: boardsim scenarios [--json]\n\n" +
         Wrapped("Lists the named scenarios that --scenario=NAME replays, one a line: the name "
                 "first, the subcommands that take it, what it is, and then what it changes from "
                 "the default board as the options that would set it (nothing for the healthy "
                 "board). A scenario is taken only by the subcommands that read every setting it "
                 "changes (boot takes what dxe takes; compare selects its cases by any of them). "
                 "Options add settings to it and never change one of its own, and a setting that "
                 "another cancels (every read all ones hides every device's answer, an absent or "
                 "dead SPI controller its registers, no HOB list the HOBs) is refused, whether the "
                 "scenario or an option asks for either.") +
         "\nOptions:\n" +
         HelpLine("--json", "list them as JSON instead: an array of objects, each with name, "
                            "description, options (what it changes, as the options that would "
                            "set it) and subcommands (those that take it)") +
         HelpLine("-h, --help", "show this help") + "\n" +
         ExitStatusHelp({{ExitSuccess, "the list is written"},
                         {ExitBadInput, "bad input: the command line"},
                         {ExitOutputFailed, "the list could not be written"}});
}

} // namespace

std::string OptionHelpLines(unsigned Runs) {
  std::string Lines;
  for (const OptionRow &Each : OptionTable()) {
    if ((Each.runs() & Runs) != 0) {
      Lines += tooloutput::HelpLine(std::string(Each.name()) +
                                        (Each.ValueName ? "=" + std::string(Each.ValueName) : ""),
                                    Each.Help);
    }
  }
  return Lines + tooloutput::HelpLine("-h, --help", "show this help");
}

std::string ScenarioOptions(const sim::Scenario &Board) {
  std::string Text;
  for (const ShownSetting &Each : ShownSettings(Board)) {
    Text += (Text.empty() ? "" : " ") + Each.Text;
  }
  return Text;
}

std::string TopLevelHelp() {
  std::ostringstream Out;
  Out << "usage: boardsim SUBCOMMAND [options] [requests]\n"
         "       boardsim scenarios [--json] | --help [SUBCOMMAND] | --version\n\n"
         "Runs the board's firmware on the simulated board, traces every access and shows the "
         "board's state.\n\nSubcommands:\n";
  for (const sim::RunKindRow &Each : sim::RunKinds()) {
    const std::string Operands = Each.Operands;
    Out << tooloutput::HelpLine(std::string(Each.Name) + (Operands.empty() ? "" : " " + Operands),
                                sim::RunHelp(Each));
  }
  Out << tooloutput::HelpLine("boot [options]", std::string(PeiModule.Name) + " then " +
                                                    DxeModule.Name + " on one board")
      << tooloutput::HelpLine("compare A B", "compare two builds (host or images) case by case")
      << tooloutput::HelpLine("scenarios [--json]", "list the named scenarios (--scenario=NAME), "
                                                    "their settings and the subcommands that "
                                                    "take them")
      << "\n"
      << tooloutput::Wrapped("'boardsim SUBCOMMAND --help' or 'boardsim --help SUBCOMMAND' lists "
                             "the subcommand's options. Without --trace=- or --json=- a summary "
                             "goes to standard output; for pei, decode and window it ends with the "
                             "I/O decode map: each decoded port range and where it goes.")
      << "\n"
      << NumbersNote << "\n"
      << ExitStatuses();
  return Out.str();
}

std::string SubcommandHelp(Module Which) {
  const sim::RunKindRow *Row = &sim::RunKindOf(Which);
  const std::string Help = sim::RunHelp(*Row);
  std::ostringstream Out;
  Out << "usage: boardsim " << Row->Name << " [options]" << (Row->Operands[0] != '\0' ? " " : "")
      << Row->Operands << "\n\n"
      << static_cast<char>(Help[0] - 'a' + 'A') << Help.substr(1) << ".\n\n"
      << "Options:\n"
      << OptionHelpLines(sim::RunBit(Which)) << "\n";
  if (Which == Module::Pei) {
    Out << TablesFormHelp << "\n";
  } else if (Which == Module::Decode) {
    Out << DecodeRequestHelp << "\n";
  } else if (Which == Module::Window) {
    Out << WindowRequestHelp << "\n";
  }
  Out << NumbersNote << "\n" << ExitStatuses();
  return Out.str();
}

std::string HelpText(const Invocation &Asked) {
  return Asked.ScenariosHelp  ? ScenariosHelp()
         : Asked.TopLevelHelp ? TopLevelHelp()
                              : SubcommandHelp(Asked.Which);
}

} // namespace boardsim
