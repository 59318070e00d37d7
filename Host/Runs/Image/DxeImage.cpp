#include "DxeImage.h"

#include "BoardInitDxe/DxeModuleData.h"
#include "DxeEmulatedMachine.h"
#include "PeFile.h"
#include "PeImage.h"

namespace imagerun {
namespace {

constexpr const char *ModuleDataName = "gDxeModuleData";

// x86-64 links write C names without a leading underscore.
constexpr bool UnderscoredCNames = false;

std::string Problem(const std::string &Path, PeStatus Status) {
  return "'" + Path + "' cannot be loaded: " + PeStatusMessage(Status);
}

} // namespace

std::string DxeImage::functionAt(std::uint64_t Address) const {
  return Map.describe(Address - Base + PreferredBase);
}

std::string DxeImage::describe(std::uint64_t Address) const {
  return contains(Address) ? HexText(Address) + " (" + functionAt(Address) + ")" : HexText(Address);
}

DxeImage LoadDxeImage(const std::string &Path) {
  using namespace machine::dxe;
  DxeImage Image;
  Image.Path = Path;
  const pe::Image File =
      ReadPeImage(Path, PeMachine::X64, "the driver is a PE32+ image for x86-64");
  const PeImage View = File.view();
  if (File.SizeOfImage > ImageRamSize) {
    throw ImageRejected("'" + Path + "' needs " + std::to_string(File.SizeOfImage) +
                        " bytes of memory; the machine loads images up to " +
                        std::to_string(ImageRamSize));
  }
  // As a DXE core loads it: headers and sections copied, the rest zeroed (uninitialised data
  // included), then relocated for where it lies.
  Image.Memory.assign(File.SizeOfImage, 0);
  if (const PeStatus Status = PeCopyToMemory(View, Image.Memory.data(), Image.Memory.size());
      Status != PeStatus::Ok) {
    throw ImageRejected(Problem(Path, Status));
  }
  if (const PeStatus Status = PeRelocate(View, Image.Memory.data(), Image.Memory.size(), LoadBase);
      Status != PeStatus::Ok) {
    throw ImageRejected(Problem(Path, Status));
  }
  Image.Base = LoadBase;
  Image.PreferredBase = File.ImageBase;
  Image.Size = File.SizeOfImage;
  Image.Entry = LoadBase + File.EntryPoint;

  Image.Map = ReadImageMap(Path, UnderscoredCNames, Image.PreferredBase);
  Image.ModuleData = LoadBase - Image.PreferredBase +
                     SymbolInImage(Image.Map, Path, ModuleDataName, SymbolKind::Data, Image.Size,
                                   sizeof(DxeModuleData));
  return Image;
}

} // namespace imagerun
