#include "PeiImage.h"

#include "EmulatedMachine.h"
#include "PeFile.h"
#include "PeImage.h"

namespace imagerun {
namespace {

constexpr std::uint64_t AddressSpaceEnd = std::uint64_t{1} << 32;

// The flash the image occupies must not cover the RAM, traps or device windows of the machine.
void CheckPlacement(const std::string &Path, std::uint64_t Base, std::uint64_t Size) {
  using namespace machine;
  if (Base % PageSize != 0 || Base + PageRoundUp(Size) > AddressSpaceEnd) {
    throw ImageRejected("'" + Path + "' is linked for " + HexText(Base) +
                        ", which is not a 4 KiB boundary with the whole image below 4 GiB");
  }
  struct Region {
    const char *Name;
    std::uint64_t Base, Size;
  };
  const Region Taken[] = {
      {"the stack", StackBase, StackSize},
      {"the PEI services table", ServicesPage, PageSize},
      {"the PEI service traps", ServiceTrapBase, ExitTrap + PageSize - ServiceTrapBase},
      {"the PCI configuration window", DeviceWindows[0].Base, DeviceWindows[0].Size},
      {"the private-configuration window", DeviceWindows[1].Base, DeviceWindows[1].Size},
      {"the SPI controller windows", DeviceWindows[2].Base, DeviceWindows[2].Size},
  };
  for (const Region &Each : Taken) {
    if (Overlaps(Base, PageRoundUp(Size), Each.Base, Each.Size)) {
      throw ImageRejected("'" + Path + "' is linked for " + HexText(Base) +
                          ", where the board has " + Each.Name);
    }
  }
}

std::uint32_t FunctionAddress(const PeiImage &Image, const std::string &MapPath, const char *Name) {
  const std::optional<std::uint64_t> Address = Image.Map.functionAddress(Name);
  if (!Address) {
    throw ImageRejected("'" + MapPath + "' names no function " + Name + " (or more than one)");
  }
  if (!Image.contains(*Address)) {
    throw ImageRejected("'" + MapPath + "' places " + Name + " at " + HexText(*Address) +
                        ", outside the image");
  }
  return static_cast<std::uint32_t>(*Address);
}

} // namespace

std::string PeiImage::describe(std::uint64_t Address) const {
  return HexText(Address) + " (" + Map.describe(Address) + ")";
}

PeiImage LoadPeiImage(const std::string &Path) {
  PeiImage Image;
  Image.Path = Path;
  const pe::Image File =
      ReadPeImage(Path, PeMachine::I386, "the early-init module is a PE32 image for i386");
  const PeImage View = File.view();
  std::uint16_t Section = 0;
  if (const PeStatus Status = PeCheckExecuteInPlace(View, &Section); Status != PeStatus::Ok) {
    throw ImageRejected(
        "'" + Path + "' cannot execute in place from flash: " + PeStatusMessage(Status) +
        (Status == PeStatus::SectionNotInPlace ? " (section " + File.Sections.at(Section).Name + ")"
                                               : std::string()));
  }
  CheckPlacement(Path, File.ImageBase, File.SizeOfImage);
  Image.Base = static_cast<std::uint32_t>(File.ImageBase);
  Image.Size = File.SizeOfImage;
  Image.Entry = Image.Base + File.EntryPoint;
  // In place, every section's bytes are in the file where they are in memory; what lies past the
  // file (alignment of the last section) is never read.
  Image.Bytes = File.Bytes;
  Image.Bytes.resize(File.SizeOfImage, 0);

  const std::string MapPath = MapPathFor(Path);
  try {
    Image.Map = LinkerMap::ReadFile(MapPath, true);
  } catch (const MapError &Error) {
    throw ImageRejected(std::string("the linker map of '") + Path + "' is needed: " + Error.what());
  }
  if (Image.Map.preferredBase() != Image.Base) {
    throw ImageRejected("'" + MapPath + "' is the map of a link for " +
                        HexText(Image.Map.preferredBase()) + ", not of '" + Path +
                        "' (linked for " + HexText(Image.Base) + ")");
  }
  Image.SetIoDecode = FunctionAddress(Image, MapPath, "SetIoDecode");
  Image.SetGenericIoRange = FunctionAddress(Image, MapPath, "SetGenericIoRange");
  return Image;
}

} // namespace imagerun
