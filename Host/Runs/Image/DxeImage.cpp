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

std::uint64_t ModuleDataAddress(const DxeImage &Image, const std::string &MapPath) {
  const std::optional<std::uint64_t> Address = Image.Map.dataAddress(ModuleDataName);
  if (!Address) {
    throw ImageRejected("'" + MapPath + "' names no data " + ModuleDataName +
                        " (or more than one)");
  }
  const std::uint64_t Rva = *Address - Image.PreferredBase;
  if (*Address < Image.PreferredBase || Rva + sizeof(DxeModuleData) > Image.Size) {
    throw ImageRejected("'" + MapPath + "' places " + ModuleDataName + " at " + HexText(*Address) +
                        ", outside the image");
  }
  return Image.Base + Rva;
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

  const std::string MapPath = MapPathFor(Path);
  try {
    Image.Map = LinkerMap::ReadFile(MapPath, UnderscoredCNames);
  } catch (const MapError &Error) {
    throw ImageRejected(std::string("the linker map of '") + Path + "' is needed: " + Error.what());
  }
  if (Image.Map.preferredBase() != Image.PreferredBase) {
    throw ImageRejected("'" + MapPath + "' is the map of a link for " +
                        HexText(Image.Map.preferredBase()) + ", not of '" + Path +
                        "' (linked for " + HexText(Image.PreferredBase) + ")");
  }
  Image.ModuleData = ModuleDataAddress(Image, MapPath);
  return Image;
}

} // namespace imagerun
