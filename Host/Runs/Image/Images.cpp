#include "Images.h"

#include "BoardInitDxe/DxeModuleData.h"
#include "EmulatedMachine.h"
#include "FileRead.h"
#include "ImageDebug.h"
#include "MapCheck.h"
#include "Modules.h"
#include "PeImage.h"

#include <algorithm>
#include <stdexcept>

namespace imagerun {
namespace {

constexpr const char *MapExtension = ".map";

constexpr const modules::Module &PeiModule = modules::ModuleOf(modules::ModuleId::BoardInitPei);
constexpr const modules::Module &DxeModule = modules::ModuleOf(modules::ModuleId::BoardInitDxe);
// The early-init module is loaded in place, the driver into RAM.
static_assert(PeiModule.ExecuteInPlace && !DxeModule.ExecuteInPlace);

// "PE32+".
const char *FormatName(bool Pe32Plus) {
  return Pe32Plus ? "PE32+" : "PE32";
}

// The file (up to pe::MaxImageFileBytes) parsed as a PE image for the module's machine;
// ImageRejected naming the problem otherwise, and what the module is: "the driver is a PE32+
// image for x86-64".
pe::Image ReadPeImage(const std::string &Path, const modules::Module &Module) {
  std::vector<std::uint8_t> Bytes;
  try {
    Bytes = formats::ReadFileBytes(Path, pe::MaxImageFileBytes);
  } catch (const formats::FileError &Error) {
    throw ImageRejected("cannot read '" + Path + "': " + Error.what());
  }
  pe::Image File;
  try {
    File = pe::Parse(std::move(Bytes));
  } catch (const pe::FormatError &Error) {
    throw ImageRejected("'" + Path + "': " + Error.what());
  }
  if (PeCheckMachine(File.view(), Module.Machine) != PeStatus::Ok) {
    throw ImageRejected("'" + Path + "' is a " + FormatName(File.isPe32Plus()) + " " +
                        pe::MachineName(File.Machine) + " image; " + Module.Role + " is a " +
                        FormatName(modules::Pe32Plus(Module)) + " image for " +
                        pe::MachineName(Module.Machine));
  }
  return File;
}

// The map of the image at Path; ImageRejected when it is missing or is the map of a link for
// another base than PreferredBase.
LinkerMap ReadImageMap(const std::string &Path, const std::string &MapPath, bool UnderscoredCNames,
                       std::uint64_t PreferredBase) {
  LinkerMap Map;
  try {
    Map = LinkerMap::ReadFile(MapPath, UnderscoredCNames);
  } catch (const MapError &Error) {
    throw ImageRejected(std::string("the linker map of '") + Path + "' is needed: " + Error.what());
  }
  if (Map.preferredBase() != PreferredBase) {
    throw ImageRejected("'" + MapPath + "' is the map of a link for " +
                        HexText(Map.preferredBase()) + ", not of '" + Path + "' (linked for " +
                        HexText(PreferredBase) + ")");
  }
  return Map;
}

// The image's executable sections cut at every function the map names in them, at Base: each
// stretch begins with an instruction, so a linear walk of it finds only instruction starts.
std::vector<CodeStretch> CodeStretches(const pe::Image &File, const LinkerMap &Map,
                                       std::uint64_t Base) {
  std::vector<CodeStretch> Code;
  for (const pe::Section &Each : File.Sections) {
    if ((Each.Characteristics & SectionHeader::MemoryExecute) == 0) {
      continue;
    }
    const std::uint64_t Start = Each.VirtualAddress;
    const std::uint64_t End = Start + (Each.VirtualSize != 0 ? Each.VirtualSize : Each.RawSize);
    std::vector<std::uint64_t> Cuts{Start, End};
    for (const MapSymbol &Symbol : Map.symbols()) {
      const std::uint64_t Rva = Symbol.Address - Map.preferredBase();
      if (Symbol.Code && Symbol.Address >= Map.preferredBase() && Rva > Start && Rva < End) {
        Cuts.push_back(Rva);
      }
    }
    std::sort(Cuts.begin(), Cuts.end());
    Cuts.erase(std::unique(Cuts.begin(), Cuts.end()), Cuts.end());
    for (std::size_t Cut = 0; Cut + 1 < Cuts.size(); ++Cut) {
      Code.push_back({Base + Cuts[Cut], Base + Cuts[Cut + 1]});
    }
  }
  return Code;
}

// The address, at the map's base, of the one function or data object of that name, with Bytes of
// it inside the Size bytes of the image; ImageRejected when there is none, more than one, or it
// lies outside.
enum class SymbolKind { Function, Data };
std::uint64_t SymbolInImage(const LinkerMap &Map, const std::string &MapPath,
                            const std::string &Name, SymbolKind Kind, std::uint64_t Size,
                            std::uint64_t Bytes) {
  const bool Code = Kind == SymbolKind::Function;
  const std::optional<std::uint64_t> Address =
      Code ? Map.functionAddress(Name) : Map.dataAddress(Name);
  if (!Address) {
    throw ImageRejected("'" + MapPath + "' names no " + (Code ? "function " : "data ") + Name +
                        " (or more than one)");
  }
  if (*Address < Map.preferredBase() || *Address - Map.preferredBase() + Bytes > Size) {
    throw ImageRejected("'" + MapPath + "' places " + Name + " at " + HexText(*Address) +
                        ", outside the image");
  }
  return *Address;
}

constexpr std::uint64_t AddressSpaceEnd = std::uint64_t{1} << 32;

// The flash the image occupies must not cover the RAM, traps or device windows of the machine.
void CheckPlacement(const std::string &Path, std::uint64_t Base, std::uint64_t Size) {
  using namespace machine;
  if (Base % PageSize != 0 || Base + PageRoundUp(Size) > AddressSpaceEnd) {
    throw ImageRejected("'" + Path + "' is linked for " + HexText(Base) +
                        ", which is not a 4 KiB boundary with the whole image below 4 GiB");
  }
  std::vector<DeviceWindow> Taken = {
      {"the stack", StackBase, StackSize},
      {"the PEI services table", ServicesPage, PageSize},
      {"the PEI service traps", ServiceTrapBase, ExitTrap + PageSize - ServiceTrapBase},
  };
  Taken.insert(Taken.end(), DeviceWindows.begin(), DeviceWindows.end());
  for (const DeviceWindow &Each : Taken) {
    if (Overlaps(Base, PageRoundUp(Size), Each.Base, Each.Size)) {
      throw ImageRejected("'" + Path + "' is linked for " + HexText(Base) +
                          ", where the board has " + Each.Name);
    }
  }
}

constexpr const char *ModuleDataName = "gDxeModuleData";

// A function the runs call in the early-init module, by the table's name for it.
std::uint32_t PeiFunction(const PeiImage &Image, const std::string &MapPath, modules::Call Called) {
  constexpr std::uint64_t FirstInstructionBytes = 1;
  return static_cast<std::uint32_t>(
      SymbolInImage(Image.Map, MapPath, modules::FunctionOf(Called).Name, SymbolKind::Function,
                    Image.Size, FirstInstructionBytes));
}

// The row of Called in the module's calls; a logic error for a function of the other module.
std::size_t CallIndex(const modules::Module &Module, modules::Call Called) {
  for (std::size_t Index = 0; Index < Module.Calls.size(); ++Index) {
    if (Module.Calls[Index].Id == Called) {
      return Index;
    }
  }
  throw std::logic_error(std::string(modules::FunctionOf(Called).Name) + " is not a function of " +
                         Module.Role);
}

std::string Problem(const std::string &Path, PeStatus Status) {
  return "'" + Path + "' cannot be loaded: " + PeStatusMessage(Status);
}

} // namespace

std::string MapPathFor(const std::string &ImagePath) {
  const std::string::size_type Slash = ImagePath.find_last_of('/');
  const std::string::size_type Dot = ImagePath.find_last_of('.');
  const bool HasExtension = Dot != std::string::npos && (Slash == std::string::npos || Dot > Slash);
  return (HasExtension ? ImagePath.substr(0, Dot) : ImagePath) + MapExtension;
}

std::string PeiImage::describe(std::uint64_t Address) const {
  return HexText(Address) + " (" + Map.describe(Address) + ")";
}

std::uint32_t PeiImage::address(modules::Call Called) const {
  return Calls.at(CallIndex(PeiModule, Called));
}

PeiImage LoadPeiImage(const std::string &Path, const std::string &GivenMapPath) {
  const std::string MapPath = GivenMapPath.empty() ? MapPathFor(Path) : GivenMapPath;
  PeiImage Image;
  Image.Path = Path;
  const pe::Image File = ReadPeImage(Path, PeiModule);
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

  Image.Map = ReadImageMap(Path, MapPath, modules::UnderscoredCNames(PeiModule), Image.Base);
  CheckMapBelongs(Path, MapPath, File, Image.Map, PeiModule);
  Image.Calls.push_back(Image.Entry);
  for (const modules::Function &Each : PeiModule.Calls.subspan(1)) {
    Image.Calls.push_back(PeiFunction(Image, MapPath, Each.Id));
  }
  Image.SetIoDecode = Image.address(modules::Call::SetIoDecode);
  Image.SetGenericIoRange = Image.address(modules::Call::SetGenericIoRange);
  Image.Code = CodeStretches(File, Image.Map, Image.Base);
  Image.Debug = ReadImageDebug(Path, Image.Entry, PeiModule.entry().Name);
  return Image;
}

std::string DxeImage::functionAt(std::uint64_t Address) const {
  return Map.describe(Address - Base + PreferredBase);
}

std::string DxeImage::describe(std::uint64_t Address) const {
  return contains(Address) ? HexText(Address) + " (" + functionAt(Address) + ")" : HexText(Address);
}

std::uint64_t DxeImage::address(modules::Call Called) const {
  return Calls.at(CallIndex(DxeModule, Called));
}

DxeImage LoadDxeImage(const std::string &Path, const std::string &GivenMapPath) {
  const std::string MapPath = GivenMapPath.empty() ? MapPathFor(Path) : GivenMapPath;
  using namespace machine::dxe;
  DxeImage Image;
  Image.Path = Path;
  const pe::Image File = ReadPeImage(Path, DxeModule);
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

  Image.Map =
      ReadImageMap(Path, MapPath, modules::UnderscoredCNames(DxeModule), Image.PreferredBase);
  CheckMapBelongs(Path, MapPath, File, Image.Map, DxeModule);
  Image.ModuleData = LoadBase - Image.PreferredBase +
                     SymbolInImage(Image.Map, MapPath, ModuleDataName, SymbolKind::Data, Image.Size,
                                   sizeof(DxeModuleData));
  const auto Function = [&](modules::Call Called) {
    constexpr std::uint64_t FirstInstructionBytes = 1;
    return LoadBase - Image.PreferredBase +
           SymbolInImage(Image.Map, MapPath, modules::FunctionOf(Called).Name, SymbolKind::Function,
                         Image.Size, FirstInstructionBytes);
  };
  Image.Calls.push_back(Image.Entry);
  for (const modules::Function &Each : DxeModule.Calls.subspan(1)) {
    Image.Calls.push_back(Function(Each.Id));
  }
  Image.Code = CodeStretches(File, Image.Map, Image.Base);
  Image.Debug = ReadImageDebug(Path, Image.PreferredBase + File.EntryPoint, DxeModule.entry().Name);
  return Image;
}

} // namespace imagerun
