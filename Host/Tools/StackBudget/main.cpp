// stack-budget: the worst stack a module can use from its entry, over its own objects, checked
// against the stack the phase gives it. Prints the figure and the chain that reaches it.
#include "ByteBudget.h"
#include "CallChain.h"
#include "CommandLine.h"
#include "Disassembly.h"
#include "ExitStatus.h"
#include "FileRead.h"
#include "Modules.h"
#include "ToolOutput.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>

namespace {

// The compiler writes NAME.su next to NAME.o.
std::string UsagePath(const std::string &Object) {
  const auto Dot = Object.rfind('.');
  return (Dot == std::string::npos ? Object : Object.substr(0, Dot)) + ".su";
}

// Records of these objects are a few hundred bytes.
constexpr std::uint64_t MaxUsageFileBytes = std::uint64_t{4} << 20;

// An object with no code has no record; a function reached without one is reported then.
std::string ReadUsage(const std::string &Path) {
  if (!std::filesystem::exists(Path)) {
    return "";
  }
  try {
    return formats::ReadFileText(Path, MaxUsageFileBytes);
  } catch (const formats::FileError &Error) {
    throw stack::AnalysisError("cannot read " + Path + ": " + Error.what());
  }
}

} // namespace

int main(int argc, char **argv) {
  tooloutput::GuardStandardDescriptors();
  CLI::App App{"Worst stack use from a module's entry over its objects; fails above the budget."};
  App.footer(
      "Example: the early-init module over the objects of the firmware build (its own and its\n"
      "libraries', built for ia32; the .su records lie beside them):\n"
      "  stack-budget --module BoardInitPei --max-bytes 150 \\\n"
      "    $(find build/firmware/BoardInitPei build/firmware/Library -path '*_ia32.dir/*.o')\n"
      "The driver's objects are the *_x64.dir ones, with --max-nesting FormatBufferV=2\n"
      "--service-caller DxeStartup.\n\n" +
      tooloutput::ExitStatusHelp(
          {{tooloutput::ExitSuccess, "the module's stack is within its budget"},
           {tooloutput::ExitCheckFailed,
            "the stack is over its budget (one line says by how much)"},
           {tooloutput::ExitBadInput,
            "bad input: command line, unreadable objects or records, or code whose stack the "
            "objects and the declared bounds do not bound"},
           {tooloutput::ExitOutputFailed, "the figures could not be written"}}));
  std::string Label, Entry;
  std::uint64_t Budget = 0;
  std::vector<std::string> Nesting;
  std::vector<std::string> ServiceCallers, Objects;
  App.add_option("--module", Label, "module name for the report")->required()->type_name("NAME");
  App.add_option("--entry", Entry, "entry function (default: the entry of the board's module NAME)")
      ->type_name("FUNCTION");
  tooloutput::ByteBudget(App.add_option("--max-bytes", Budget, "largest stack the module may use")
                             ->required()
                             ->type_name("BYTES"));
  App.add_option("--max-nesting", Nesting,
                 "FUNCTION=N: the most activations of a bounded recursion one chain may hold")
      ->allow_extra_args(false)
      ->type_name("FUNCTION=N");
  App.add_option("--service-caller", ServiceCallers,
                 "function whose calls through pointers go to firmware services")
      ->allow_extra_args(false)
      ->type_name("FUNCTION");
  App.add_option("objects", Objects, "the module's object files (NAME.su beside each)")
      ->required()
      ->type_name("OBJECT");
  if (const auto Exit = tooloutput::ParseCommandLine(App, "stack-budget", argc, argv)) {
    return *Exit;
  }
  if (const modules::Module *Row = modules::FindModule(Label); Entry.empty() && Row) {
    Entry = Row->entry().Name;
  }
  if (Entry.empty()) {
    std::fprintf(stderr, "stack-budget: give --entry FUNCTION for %s, not a module of the board\n",
                 Label.c_str());
    return tooloutput::ExitBadInput;
  }
  try {
    stack::Rules Limits;
    for (const std::string &Each : Nesting) {
      const auto Equals = Each.find('=');
      unsigned Count = 0;
      bool Good = false;
      if (Equals != std::string::npos) {
        const char *First = Each.data() + Equals + 1;
        const char *Last = Each.data() + Each.size();
        const auto [End, Problem] = std::from_chars(First, Last, Count);
        Good = First != Last && Problem == std::errc() && End == Last && Count != 0;
      }
      if (!Good) {
        throw stack::AnalysisError("--max-nesting " + Each + ": expected FUNCTION=N, N from 1 to " +
                                   std::to_string(std::numeric_limits<unsigned>::max()));
      }
      Limits.MaxNesting[Each.substr(0, Equals)] = Count;
    }
    Limits.ServiceCallers.insert(ServiceCallers.begin(), ServiceCallers.end());
    stack::Program Program;
    for (const std::string &Object : Objects) {
      Program.addObject(formats::DisassembleObject(Object),
                        stack::ParseStackUsage(UsagePath(Object), ReadUsage(UsagePath(Object))));
    }
    const stack::ChainResult Chain = Program.worstChain(Entry, Limits);
    tooloutput::OutputSet Outputs;
    tooloutput::Output &Out = Outputs.standardOutput();
    Out.format("{}: stack {} of {} bytes from {} ({})\n", Label, Chain.Total, Budget, Entry,
               tooloutput::BudgetLeft(Chain.Total, Budget));
    for (const stack::ChainStep &Step : Chain.Steps) {
      Out.format("  {:5}  {}{}\n", Step.Bytes, Step.Function,
                 Step.Note.empty() ? "" : "  (" + Step.Note + ")");
    }
    for (const std::string &Note : Chain.Notes) {
      Out.format("  note: {}\n", Note);
    }
    Outputs.commit();
    if (Chain.Total > Budget) {
      tooloutput::PrintError("stack-budget: {} uses {} bytes of stack, {} over its budget of {}\n",
                             Label, Chain.Total, Chain.Total - Budget, Budget);
      return tooloutput::ExitCheckFailed;
    }
    return tooloutput::ExitSuccess;
  } catch (const tooloutput::WriteFailed &Error) {
    std::fprintf(stderr, "stack-budget: %s\n", Error.what());
    return tooloutput::ExitOutputFailed;
  } catch (const std::exception &Error) {
    std::fprintf(stderr, "stack-budget: %s: %s\n", Label.c_str(), Error.what());
    return tooloutput::ExitBadInput;
  }
}
