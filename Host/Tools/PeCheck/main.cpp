// pe-check: prints a firmware image's layout and fails on any breach of the rules the image
// must keep (machine, subsystem, entry point, execute-in-place layout, writable data, imports,
// relocations, static initialisers).
#include "CommandLine.h"
#include "ExitStatus.h"
#include "HelpLayout.h"
#include "LinkerMap.h"
#include "ModuleRules.h"
#include "Modules.h"
#include "ObjectFile.h"
#include "PeFile.h"
#include "ToolOutput.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Options {
  std::string ImagePath;
  std::string Module;
  std::string Machine;
  std::optional<unsigned> Subsystem;
  std::string MapPath;
  std::string EntrySymbol;
  std::optional<std::uint64_t> XipBase;
  bool NoWritableData = false;
  bool NoImports = false;
  bool Relocatable = false;
  std::vector<std::string> Objects;
};

// The linker map of the image's own link; bad input (FormatError) when it cannot be read, or is
// the map of another link: linked for another base, or naming symbols beyond the image's end.
// IA-32 links write C names with a leading underscore.
formats::LinkerMap ReadImageMap(const pe::Image &Image, const Options &Opt) {
  formats::LinkerMap Map;
  try {
    Map = formats::LinkerMap::ReadFile(Opt.MapPath, !Image.isPe32Plus());
  } catch (const formats::MapError &Error) {
    throw pe::FormatError(std::string("map file: ") + Error.what());
  }
  const auto Another = [&](const std::string &Why) {
    return pe::FormatError("'" + Opt.MapPath + "' is not the map of '" + Opt.ImagePath +
                           "': " + Why);
  };
  if (Map.preferredBase() != Image.ImageBase) {
    throw Another(fmt::format("it was linked for 0x{:X}, the image for 0x{:X}", Map.preferredBase(),
                              Image.ImageBase));
  }
  for (const formats::MapSymbol &Each : Map.symbols()) {
    if (Each.Address < Image.ImageBase || Each.Address - Image.ImageBase >= Image.SizeOfImage) {
      throw Another(fmt::format("{} at 0x{:X} lies beyond the image's {} bytes", Each.Name,
                                Each.Address, Image.SizeOfImage));
    }
  }
  return Map;
}

// The machines the board's modules are built for, by their names: "i386", "x86-64".
std::vector<std::string> MachineNames() {
  std::vector<std::string> Names;
  for (const modules::Module &Each : modules::Modules) {
    if (std::find(Names.begin(), Names.end(), pe::MachineName(Each.Machine)) == Names.end()) {
      Names.emplace_back(pe::MachineName(Each.Machine));
    }
  }
  return Names;
}

std::uint16_t MachineNamed(const std::string &Name) {
  const modules::Module *Built = std::find_if(
      std::begin(modules::Modules), std::end(modules::Modules),
      [&](const modules::Module &Each) { return Name == pe::MachineName(Each.Machine); });
  return Built->Machine;
}

// --module gives every rule the board relies on for the module: its row's machine, entry point
// and, for a module its phase runs in place, the execute-in-place layout; and the board's rules
// for its image (subsystem, writable data, imports, relocations). A rule it gives is not given
// again; the place of the map and the base to execute at are the build's. A problem is one line
// for the command line's error.
std::optional<std::string> TakeModuleRules(Options &Opt) {
  if (Opt.Module.empty()) {
    return std::nullopt;
  }
  if (!Opt.Machine.empty() || !Opt.EntrySymbol.empty() || Opt.Subsystem || Opt.NoWritableData ||
      Opt.NoImports || Opt.Relocatable) {
    return "--module gives the machine, the entry symbol, the subsystem and the rules on "
           "writable data, imports and relocations; give none of them with it";
  }
  if (Opt.MapPath.empty()) {
    return "--module needs --map FILE, the map of the image's link, for the entry point";
  }
  const modules::Module &Row = *modules::FindModule(Opt.Module);
  if (Row.ExecuteInPlace && !Opt.XipBase) {
    return Opt.Module + " executes in place: give --xip-base ADDRESS, the base it runs at";
  }
  const pecheck::ModuleRules &Rules = pecheck::RulesOf(Row.Id);
  Opt.Machine = pe::MachineName(Row.Machine);
  Opt.EntrySymbol = Row.entry().Name;
  Opt.Subsystem = Rules.Subsystem;
  Opt.NoWritableData = Rules.NoWritableData;
  Opt.NoImports = Rules.NoImports;
  Opt.Relocatable = Rules.Relocatable;
  return std::nullopt;
}

void PrintLayout(tooloutput::Output &Out, const pe::Image &Image, std::uintmax_t FileSize) {
  Out.format("image: {}, {}, {} bytes, base 0x{:X}, entry RVA 0x{:X}, alignment {}/{}\n",
             Image.isPe32Plus() ? "PE32+" : "PE32", pe::MachineName(Image.Machine), FileSize,
             Image.ImageBase, Image.EntryPoint, Image.SectionAlignment, Image.FileAlignment);
  Out.format("  {:<8} {:>10} {:>10} {:>10} {:>10}\n", "section", "RVA", "virtual", "file off",
             "raw");
  for (const pe::Section &Each : Image.Sections) {
    Out.format("  {:<8} 0x{:08X} {:10} 0x{:08X} {:10}\n", Each.Name, Each.VirtualAddress,
               Each.VirtualSize, Each.RawOffset, Each.RawSize);
  }
}

// The rules asked for, as the verdict names them.
std::string RulesChecked(const Options &Opt) {
  const std::pair<bool, const char *> Rules[] = {
      {!Opt.Machine.empty(), "machine"},         {Opt.Subsystem.has_value(), "subsystem"},
      {!Opt.EntrySymbol.empty(), "entry point"}, {Opt.XipBase.has_value(), "execute in place"},
      {Opt.NoWritableData, "no writable data"},  {Opt.NoImports, "no imports"},
      {Opt.Relocatable, "relocations"},          {!Opt.Objects.empty(), "no static initialisers"},
  };
  std::string Names;
  for (const auto &[Asked, Name] : Rules) {
    if (Asked) {
      Names += (Names.empty() ? "" : ", ") + std::string(Name);
    }
  }
  return Names;
}

std::vector<std::string> Check(const pe::Image &Image, const Options &Opt) {
  std::vector<std::string> Breaches;
  auto Breach = [&](std::string Text) { Breaches.push_back(std::move(Text)); };

  if (!Opt.Machine.empty()) {
    const std::uint16_t Want = MachineNamed(Opt.Machine);
    if (const PeStatus Status = PeCheckMachine(Image.view(), Want); Status != PeStatus::Ok) {
      Breach(std::string(PeStatusMessage(Status)) + ": " + pe::MachineName(Image.Machine) +
             (Image.isPe32Plus() ? " PE32+" : " PE32") + ", expected " + Opt.Machine);
    }
  }
  if (Opt.Subsystem && Image.Subsystem != *Opt.Subsystem) {
    Breach("subsystem is " + std::to_string(Image.Subsystem) + ", expected " +
           std::to_string(*Opt.Subsystem));
  }
  if (!Opt.EntrySymbol.empty()) {
    const formats::LinkerMap Map = ReadImageMap(Image, Opt);
    const auto Address = Map.functionAddress(Opt.EntrySymbol);
    // The map of an IA-32 link prints C names decorated with a leading underscore, and is read
    // without it: the name as the map prints it is a slip, not a missing entry point.
    const std::string Undecorated = Opt.EntrySymbol.substr(1);
    if (!Address && !Image.isPe32Plus() && Opt.EntrySymbol.starts_with('_') &&
        Map.functionAddress(Undecorated)) {
      throw pe::FormatError("--entry " + Opt.EntrySymbol +
                            ": the map prints i386 names decorated "
                            "with a leading underscore, and the entry is named without it: give "
                            "--entry " +
                            Undecorated);
    }
    if (!Address) {
      Breach("entry symbol " + Opt.EntrySymbol + " is not in the map");
    } else if (*Address - Image.ImageBase != Image.EntryPoint) {
      Breach("entry point is not " + Opt.EntrySymbol);
    }
  }
  if (Opt.XipBase) {
    if (Image.ImageBase != *Opt.XipBase) {
      Breach("image base is not the execute-in-place base");
    }
    if (std::string Fault = pe::ExecuteInPlaceFault(Image); !Fault.empty()) {
      Breach(std::move(Fault));
    }
  }
  if (Opt.NoWritableData) {
    for (const pe::Section &Each : Image.Sections) {
      const bool Writable = (Each.Characteristics & SectionHeader::MemoryWrite) != 0;
      const bool Zeroed = (Each.Characteristics & SectionHeader::ContainsUninitializedData) != 0;
      const bool DataName = Each.Name == ".data" || Each.Name == ".bss";
      if ((Writable || Zeroed || DataName) && (Each.VirtualSize != 0 || Each.RawSize != 0)) {
        Breach("writable data: section " + Each.Name + " of " + std::to_string(Each.VirtualSize) +
               " bytes");
      }
    }
  }
  if (Opt.NoImports) {
    if (Image.Directories[OptionalHeader::ImportDirectory].Size != 0 ||
        Image.findSection(".idata")) {
      Breach("the image imports symbols");
    }
  }
  if (Opt.Relocatable) {
    // x86-64 code addresses its data RIP-relatively, so a PE32+ image may need no fixups at
    // all; IA-32 code always holds absolute addresses and must carry its table.
    const bool Stripped = (Image.Characteristics & CoffHeader::RelocationsStripped) != 0;
    const bool Empty = Image.Directories[OptionalHeader::BaseRelocationDirectory].Size == 0;
    if (Stripped || (Empty && !Image.isPe32Plus())) {
      Breach("the relocation table is missing");
    }
  }
  for (const std::string &Object : Opt.Objects) {
    for (const std::string &Name : formats::ObjectSectionNames(Object)) {
      if (Name.rfind(".CRT$XC", 0) == 0 || Name == ".ctors" || Name == ".init_array") {
        Breach("static initialiser: section " + Name + " in " + Object);
      }
    }
  }
  return Breaches;
}

} // namespace

int main(int argc, char **argv) {
  tooloutput::GuardStandardDescriptors();
  CLI::App App{"Prints a firmware image's layout and checks the rules it must keep."};
  App.footer(
      tooloutput::Wrapped("--module NAME checks every rule the board holds that module to; "
                          "without it give the rules to check: with none asked, pe-check says so "
                          "and fails. Nothing is printed on standard output unless the inputs "
                          "are good.") +
      "\n" +
      tooloutput::ExitStatusHelp(
          {{tooloutput::ExitSuccess, "every rule is kept (a verdict line says so)"},
           {tooloutput::ExitCheckFailed, "a rule is broken (one line each on standard error)"},
           {tooloutput::ExitBadInput,
            "bad input: command line, an unreadable or malformed image, map or object, or "
            "the map of another link"},
           {tooloutput::ExitOutputFailed, "the layout could not be written"}}));
  Options Opt;
  App.add_option("image", Opt.ImagePath, "the PE image")->required()->type_name("IMAGE");
  std::vector<std::string> ModuleNames;
  for (const modules::Module &Each : modules::Modules) {
    ModuleNames.emplace_back(Each.Name);
  }
  tooloutput::OneOf(
      App.add_option("--module", Opt.Module,
                     "the board's module the image is: every rule the board holds it to "
                     "(machine, entry point, execute in place, subsystem, writable data, "
                     "imports, relocations)")
          ->type_name("NAME"),
      ModuleNames);
  tooloutput::OneOf(App.add_option("--machine", Opt.Machine, "required machine: i386 or x86-64")
                        ->type_name("NAME"),
                    MachineNames());
  tooloutput::NumberFrom(
      App.add_option("--subsystem", Opt.Subsystem, "required subsystem number")->type_name("N"), 0,
      0xFFFF);
  App.add_option("--map", Opt.MapPath, "the linker's map file (for --entry)")->type_name("FILE");
  App.add_option("--entry", Opt.EntrySymbol, "symbol the entry point must be (needs --map)")
      ->type_name("SYMBOL");
  tooloutput::NumberFrom(
      App.add_option("--xip-base", Opt.XipBase,
                     "execute in place at this base: file layout equals memory layout")
          ->type_name("ADDRESS"),
      0, 0xFFFFFFFF);
  App.add_flag("--no-writable-data", Opt.NoWritableData, "no .data, .bss or writable section");
  App.add_flag("--no-imports", Opt.NoImports, "no import table");
  App.add_flag("--relocatable", Opt.Relocatable, "base relocations kept");
  App.add_option("--object", Opt.Objects, "object files to scan for static initialisers")
      ->type_name("FILE");
  if (const auto Exit = tooloutput::ParseCommandLine(App, "pe-check", argc, argv)) {
    return *Exit;
  }
  if (const std::optional<std::string> Problem = TakeModuleRules(Opt)) {
    std::fprintf(stderr, "pe-check: %s\n", Problem->c_str());
    return tooloutput::ExitBadInput;
  }
  if (RulesChecked(Opt).empty()) {
    // A check of nothing would pass whatever the image is.
    std::fprintf(stderr, "pe-check: no rule asked for: give --module NAME for a module's rules, "
                         "or the rules to check (see --help)\n");
    return tooloutput::ExitBadInput;
  }
  if (!Opt.EntrySymbol.empty() && Opt.MapPath.empty()) {
    std::fprintf(stderr, "pe-check: --entry needs --map FILE, the map of the image's link\n");
    return tooloutput::ExitBadInput;
  }
  try {
    // Every input is read and checked before a line is printed.
    const pe::Image Image = pe::ReadFile(Opt.ImagePath);
    const std::vector<std::string> Breaches = Check(Image, Opt);
    tooloutput::OutputSet Outputs;
    tooloutput::Output &Out = Outputs.standardOutput();
    PrintLayout(Out, Image, Image.Bytes.size());
    if (Breaches.empty()) {
      Out.format("{}: every rule checked is kept ({})\n", Opt.ImagePath, RulesChecked(Opt));
    }
    Outputs.commit();
    for (const std::string &Text : Breaches) {
      std::fprintf(stderr, "%s: %s\n", Opt.ImagePath.c_str(), Text.c_str());
    }
    return Breaches.empty() ? tooloutput::ExitSuccess : tooloutput::ExitCheckFailed;
  } catch (const tooloutput::WriteFailed &Error) {
    std::fprintf(stderr, "pe-check: %s\n", Error.what());
    return tooloutput::ExitOutputFailed;
  } catch (const std::exception &Error) { // bad input: a malformed image, map or object
    std::fprintf(stderr, "pe-check: %s\n", Error.what());
    return tooloutput::ExitBadInput;
  }
}
