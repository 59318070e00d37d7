// ffs-tool: packs a board module's PE image into the firmware-file-system file the platform
// integrator places in a firmware volume. On any error it prints one line and exits non-zero;
// the output file is replaced only by a complete one, so an existing file from an earlier run
// stays as it was and a partial file is never mistaken for the product.
#include "FfsFile.h"
#include "Modules.h"
#include "PeFile.h"
#include "ToolOutput.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

std::vector<std::uint8_t> PackModule(const ffsfile::Module &Module, const std::string &ImagePath) {
  if (!std::filesystem::is_regular_file(ImagePath)) {
    throw ffsfile::FfsError(ImagePath + ": no such image file");
  }
  pe::Image Image;
  try {
    Image = pe::ReadFile(ImagePath);
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
  return ffsfile::BuildFile({.Name = Module.FileName,
                             .Type = Module.FileType,
                             .DepexSectionType = Module.DepexSectionType,
                             .Pe32 = Image.Bytes,
                             .Pe32Alignment = Module.ExecuteInPlace ? Image.SectionAlignment : 1,
                             .UiName = Module.Name});
}

} // namespace

int main(int argc, char **argv) {
  tooloutput::GuardStandardDescriptors();
  CLI::App App{"Packs a board module's PE image into its firmware-file-system file."};
  App.footer("Exit status: 0 written; 1 the file could not be written (an existing one is left as\n"
             "it was); 2 bad input: command line, module, or an unreadable or unfit image.");
  App.failure_message([](const CLI::App *, const CLI::Error &Error) {
    return std::string("ffs-tool: ") + Error.what() + "\n";
  });
  std::string ModuleName, ImagePath, OutputPath;
  std::string Names;
  for (const ffsfile::Module &Each : ffsfile::Modules) {
    Names += (Names.empty() ? "" : ", ") + std::string(Each.Name);
  }
  App.add_option("--module", ModuleName, "module to pack: " + Names)->required();
  App.add_option("--output,-o", OutputPath, "the .ffs file to write ('-': standard output)")
      ->required();
  App.add_option("image", ImagePath, "the module's PE image")->required();
  try {
    App.parse(argc, argv);
  } catch (const CLI::ParseError &Error) {
    return App.exit(Error) == 0 ? 0 : 2;
  }
  try {
    tooloutput::OutputSet Outputs;
    tooloutput::Output &Ffs = Outputs.add("--output", OutputPath);
    const ffsfile::Module *Module = ffsfile::FindModule(ModuleName);
    if (!Module) {
      throw ffsfile::FfsError("unknown module '" + ModuleName + "', expected one of " + Names);
    }
    const std::vector<std::uint8_t> File = PackModule(*Module, ImagePath);
    Outputs.open();
    Ffs.write({reinterpret_cast<const char *>(File.data()), File.size()});
    Outputs.commit();
    return 0;
  } catch (const tooloutput::WriteFailed &Error) {
    std::fprintf(stderr, "ffs-tool: %s\n", Error.what());
    return 1;
  } catch (const std::exception &Error) {
    std::fprintf(stderr, "ffs-tool: %s\n", Error.what());
    return 2;
  }
}
