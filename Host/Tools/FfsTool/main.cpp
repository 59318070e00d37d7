// ffs-tool: packs a board module's PE image into the firmware-file-system file the platform
// integrator places in a firmware volume, and shows what such a file holds (--show). On any error
// it prints one line and exits non-zero; the output file is replaced only by a complete one, so an
// existing file from an earlier run stays as it was and a partial file is never mistaken for the
// product.
#include "CommandLine.h"
#include "ExitStatus.h"
#include "FfsFile.h"
#include "FfsShow.h"
#include "FileRead.h"
#include "HelpLayout.h"
#include "LinkerMap.h"
#include "ModuleFiles.h"
#include "PeFile.h"
#include "ToolOutput.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

// The map the linker wrote beside the image: IMAGE with .map for its extension.
std::string MapBeside(const std::string &ImagePath) {
  return std::filesystem::path(ImagePath).replace_extension(".map").string();
}

// The image is the module when its entry point is the module's entry function, by the map of its
// own link (linked for the image's base). Machine and subsystem alone do not tell a probe built
// for the same machine from the module.
void CheckIsModule(const modules::Module &Module, const pe::Image &Image,
                   const std::string &ImagePath, const std::string &MapPath) {
  formats::LinkerMap Map;
  try {
    Map = formats::LinkerMap::ReadFile(MapPath, !Image.isPe32Plus());
  } catch (const formats::MapError &Error) {
    throw ffsfile::FfsError("cannot tell that " + ImagePath + " is " + Module.Name +
                            " without the map of its link: " + Error.what());
  }
  if (Map.preferredBase() != Image.ImageBase) {
    throw ffsfile::FfsError(MapPath + " is not the map of " + ImagePath +
                            ": it was linked for another base");
  }
  const auto Entry = Map.functionAddress(Module.entry().Name);
  if (!Entry || *Entry != Image.ImageBase + Image.EntryPoint) {
    throw ffsfile::FfsError(ImagePath + " is not " + Module.Name + ": its entry point is " +
                            Map.describe(Image.ImageBase + Image.EntryPoint) + ", not " +
                            Module.entry().Name);
  }
}

std::vector<std::uint8_t> PackModule(const ffsfile::ModuleFile &Packed,
                                     const std::string &ImagePath, const std::string &MapPath) {
  const modules::Module &Module = Packed.row();
  std::vector<std::uint8_t> Bytes;
  try {
    Bytes = formats::ReadFileBytes(ImagePath, pe::MaxImageFileBytes);
  } catch (const formats::FileError &Error) {
    throw ffsfile::FfsError(ImagePath + ": " + Error.what());
  }
  pe::Image Image;
  try {
    Image = pe::Parse(std::move(Bytes));
  } catch (const pe::FormatError &Error) {
    throw ffsfile::FfsError(ImagePath + ": " + Error.what());
  }
  if (const PeStatus Status = PeCheckMachine(Image.view(), Module.Machine);
      Status == PeStatus::WrongMachine) {
    throw ffsfile::FfsError(ImagePath + ": machine is " + pe::MachineName(Image.Machine) + ", " +
                            Module.Name + " must be " + pe::MachineName(Module.Machine));
  } else if (Status != PeStatus::Ok) {
    throw ffsfile::FfsError(ImagePath + ": " + PeStatusMessage(Status));
  }
  if (const std::string Fault = Module.ExecuteInPlace ? pe::ExecuteInPlaceFault(Image) : "";
      !Fault.empty()) {
    throw ffsfile::FfsError(ImagePath + ": " + Fault);
  }
  CheckIsModule(Module, Image, ImagePath, MapPath);
  return ffsfile::BuildFile({.Name = Packed.FileName,
                             .Type = Packed.FileType,
                             .DepexSectionType = Packed.DepexSectionType,
                             .Pe32 = Image.Bytes,
                             .Pe32Alignment = Module.ExecuteInPlace ? Image.SectionAlignment : 1,
                             .UiName = Module.Name});
}

// Runs Work and gives the exit status its outcome calls for: one line on standard error for a
// failure.
template <typename Job> int Ending(Job &&Work) {
  try {
    return Work();
  } catch (const tooloutput::WriteFailed &Error) {
    std::fprintf(stderr, "ffs-tool: %s\n", Error.what());
    return tooloutput::ExitOutputFailed;
  } catch (const std::exception &Error) {
    std::fprintf(stderr, "ffs-tool: %s\n", Error.what());
    return tooloutput::ExitBadInput;
  }
}

// --show: the file's header and sections, on standard output.
int ShowFile(const std::string &Path) {
  return Ending([&] {
    std::vector<std::uint8_t> Bytes;
    try {
      Bytes = formats::ReadFileBytes(Path, ffsfile::FileHeader::MaxSize);
    } catch (const formats::FileError &Error) {
      throw ffsfile::FfsError("cannot read '" + Path + "': " + Error.what());
    }
    std::string Text;
    try {
      Text = Path + ": " + ffsfile::DescribeFile(Bytes);
    } catch (const ffsfile::FfsError &Error) {
      throw ffsfile::FfsError("'" + Path +
                              "' is not a firmware file the cores would take: " + Error.what());
    }
    tooloutput::OutputSet Outputs;
    Outputs.standardOutput().write(Text);
    Outputs.commit();
    return tooloutput::ExitSuccess;
  });
}

} // namespace

int main(int argc, char **argv) {
  tooloutput::GuardStandardDescriptors();
  CLI::App App{"Packs a board module's PE image into its firmware-file-system file, or shows what "
               "such a file holds."};
  App.footer(tooloutput::Wrapped(
                 "The image must be the module: its entry point is the module's entry function by "
                 "the linker map of its link (IMAGE with .map for its extension, or --map).") +
             "\n" +
             tooloutput::ExitStatusHelp(
                 {{tooloutput::ExitSuccess, "the file is written (with --show: shown)"},
                  {tooloutput::ExitBadInput,
                   "bad input: command line, module, an unreadable or unfit image or map, an image "
                   "that is not the module, or an output that is an input"},
                  {tooloutput::ExitOutputFailed,
                   "the file could not be made, written or put in place (an existing one is left "
                   "as it was)"}}));
  std::string ModuleName, ImagePath, OutputPath, MapPath;
  std::string Names;
  for (const modules::Module &Each : modules::Modules) {
    Names += (Names.empty() ? "" : ", ") + std::string(Each.Name);
  }
  std::string ShowPath;
  CLI::Option *Module =
      App.add_option("--module", ModuleName, "module to pack: " + Names)->type_name("NAME");
  CLI::Option *Output =
      App.add_option("--output,-o", OutputPath, "the .ffs file to write ('-': standard output)")
          ->type_name("FILE");
  CLI::Option *Map =
      App.add_option("--map", MapPath, "the linker map of the image's link (default: beside it)")
          ->type_name("FILE");
  CLI::Option *Image =
      App.add_option("image", ImagePath, "the module's PE image")->type_name("IMAGE");
  App.add_option("--show", ShowPath,
                 "show what the firmware file FFS holds (its header and sections) instead of "
                 "packing one")
      ->type_name("FFS");
  if (const auto Exit = tooloutput::ParseCommandLine(App, "ffs-tool", argc, argv)) {
    return *Exit;
  }
  if (!ShowPath.empty()) {
    if (Module->count() + Output->count() + Map->count() + Image->count() != 0) {
      std::fprintf(stderr, "ffs-tool: --show reads a firmware file and packs none: give no "
                           "--module, --output, --map or IMAGE with it\n");
      return tooloutput::ExitBadInput;
    }
    return ShowFile(ShowPath);
  }
  // Packing needs all three; --show needs none of them.
  for (const auto &[Given, Missing] :
       {std::pair{Module, "give --module NAME"}, std::pair{Output, "give --output FILE"},
        std::pair{Image, "give one IMAGE"}}) {
    if (Given->count() == 0) {
      std::fprintf(stderr, "ffs-tool: %s\n", Missing);
      return tooloutput::ExitBadInput;
    }
  }
  return Ending([&] {
    if (MapPath.empty()) {
      MapPath = MapBeside(ImagePath);
    }
    tooloutput::OutputSet Outputs;
    Outputs.addInput("the image", ImagePath);
    Outputs.addInput("the map", MapPath);
    tooloutput::Output &Ffs = Outputs.add("--output", OutputPath);
    const ffsfile::ModuleFile *Packed = ffsfile::FindModuleFile(ModuleName);
    if (!Packed) {
      throw ffsfile::FfsError("unknown module '" + ModuleName + "', expected one of " + Names);
    }
    const std::vector<std::uint8_t> File = PackModule(*Packed, ImagePath, MapPath);
    Outputs.open();
    Ffs.write({reinterpret_cast<const char *>(File.data()), File.size()});
    Outputs.commit();
    return tooloutput::ExitSuccess;
  });
}
