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

  Image.Map = ReadImageMap(Path, true, Image.Base);
  Image.SetIoDecode = static_cast<std::uint32_t>(
      SymbolInImage(Image.Map, Path, "SetIoDecode", SymbolKind::Function, Image.Size, 1));
  Image.SetGenericIoRange = static_cast<std::uint32_t>(
      SymbolInImage(Image.Map, Path, "SetGenericIoRange", SymbolKind::Function, Image.Size, 1));
  return Image;
}

} // namespace imagerun
