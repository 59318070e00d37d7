// ffs-tool: packs a board module's PE image into the firmware-file-system file the platform
// integrator places in a firmware volume. On any error it prints one line, removes the output
// and exits non-zero, so a stale or partial file is never mistaken for the product.
#include "FfsFile.h"
#include "Modules.h"
#include "PeFile.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
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
  if (Image.Machine != Module.Machine) {
    throw ffsfile::FfsError(ImagePath + ": machine is " + pe::MachineName(Image.Machine) + ", " +
                            Module.Name + " must be " + pe::MachineName(Module.Machine));
  }
  ffsfile::FileRequest Request;
  Request.Name = Module.FileName;
  Request.Type = Module.FileType;
  Request.DepexSectionType = Module.DepexSectionType;
  Request.UiName = Module.Name;
  if (Module.ExecuteInPlace) {
    if (Image.SectionAlignment != Image.FileAlignment) {
      throw ffsfile::FfsError(ImagePath + ": section alignment " +
                              std::to_string(Image.SectionAlignment) +
                              " differs from file alignment " +
                              std::to_string(Image.FileAlignment) + ", so it cannot run in place");
    }
    Request.Pe32Alignment = Image.SectionAlignment;
  }
  Request.Pe32 = Image.Bytes;
  return ffsfile::BuildFile(Request);
}

void WriteAtomically(const std::string &Path, const std::vector<std::uint8_t> &Bytes) {
  const std::string Temporary = Path + ".partial";
  {
    std::ofstream Out(Temporary, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char *>(Bytes.data()),
              static_cast<std::streamsize>(Bytes.size()));
    if (!Out.flush()) {
      std::error_code Ignored;
      std::filesystem::remove(Temporary, Ignored);
      throw ffsfile::FfsError("cannot write " + Path);
    }
  }
  std::filesystem::rename(Temporary, Path);
}

} // namespace

int main(int argc, char **argv) {
  CLI::App App{"Packs a board module's PE image into its firmware-file-system file."};
  std::string ModuleName, ImagePath, OutputPath;
  std::string Names;
  for (const ffsfile::Module &Each : ffsfile::Modules()) {
    Names += (Names.empty() ? "" : ", ") + std::string(Each.Name);
  }
  App.add_option("--module", ModuleName, "module to pack: " + Names)->required();
  App.add_option("--output,-o", OutputPath, "the .ffs file to write")->required();
  App.add_option("image", ImagePath, "the module's PE image")->required();
  try {
    App.parse(argc, argv);
  } catch (const CLI::ParseError &Error) {
    return App.exit(Error) == 0 ? 0 : 2;
  }
  try {
    const ffsfile::Module *Module = ffsfile::FindModule(ModuleName);
    if (!Module) {
      throw ffsfile::FfsError("unknown module '" + ModuleName + "', expected one of " + Names);
    }
    WriteAtomically(OutputPath, PackModule(*Module, ImagePath));
    return 0;
  } catch (const std::exception &Error) {
    std::error_code Ignored;
    std::filesystem::remove(OutputPath, Ignored);
    std::fprintf(stderr, "ffs-tool: %s\n", Error.what());
    return 1;
  }
}
