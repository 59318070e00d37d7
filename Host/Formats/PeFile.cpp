#include "PeFile.h"

#include "FileRead.h"

#include <algorithm>
#include <cstring>

namespace pe {

const Section *Image::findSection(const std::string &Name) const {
  const auto Found = std::find_if(Sections.begin(), Sections.end(),
                                  [&](const Section &Each) { return Each.Name == Name; });
  return Found == Sections.end() ? nullptr : &*Found;
}

PeImage Image::view() const {
  PeImage View = View_;
  View.File = {Bytes.data(), Bytes.size()};
  return View;
}

const char *MachineName(std::uint16_t Machine) {
  switch (Machine) {
  case PeMachine::I386:
    return "i386";
  case PeMachine::X64:
    return "x86-64";
  default:
    return "unknown";
  }
}

std::string ExecuteInPlaceFault(const Image &Image) {
  std::uint16_t Index = 0;
  const PeStatus Status = PeCheckExecuteInPlace(Image.view(), &Index);
  if (Status == PeStatus::Ok) {
    return {};
  }
  const std::string Fault = PeStatusMessage(Status);
  return Status == PeStatus::SectionNotInPlace
             ? "section " + Image.Sections[Index].Name + ": " + Fault
             : Fault;
}

Image Parse(std::vector<std::uint8_t> Bytes) {
  Image Result;
  Result.Bytes = std::move(Bytes);
  PeImage View = {};
  PeStatus Status = PeParse({Result.Bytes.data(), Result.Bytes.size()}, View);
  if (Status == PeStatus::Ok) {
    Status = PeCheckRelocations(View);
  }
  if (Status != PeStatus::Ok) {
    throw FormatError(PeStatusMessage(Status));
  }
  Result.View_ = View;
  Result.Machine = View.Machine;
  Result.Characteristics = View.Characteristics;
  Result.Pe32Plus = View.Pe32Plus;
  Result.EntryPoint = View.EntryPointRva;
  Result.ImageBase = View.ImageBase;
  Result.SectionAlignment = View.SectionAlignment;
  Result.FileAlignment = View.FileAlignment;
  Result.SizeOfImage = View.SizeOfImage;
  Result.SizeOfHeaders = View.SizeOfHeaders;
  Result.Subsystem = View.Subsystem;
  for (const PeDataDirectory &Each : View.Directories) {
    Result.Directories.push_back({Each.Rva, Each.Size});
  }
  for (std::uint16_t Index = 0; Index < View.SectionCount; ++Index) {
    const PeSection Header = PeSectionAt(View, Index);
    Section Each;
    const auto *Name = reinterpret_cast<const char *>(Header.Name);
    Each.Name.assign(Name, strnlen(Name, SectionHeader::NameLength));
    Each.VirtualSize = Header.VirtualSize;
    Each.VirtualAddress = Header.VirtualAddress;
    Each.RawSize = Header.SizeOfRawData;
    Each.RawOffset = Header.PointerToRawData;
    Each.Characteristics = Header.Characteristics;
    Result.Sections.push_back(Each);
  }
  return Result;
}

Image ReadFile(const std::string &Path) {
  std::vector<std::uint8_t> Bytes;
  try {
    Bytes = formats::ReadFileBytes(Path, MaxImageFileBytes);
  } catch (const formats::FileError &Error) {
    throw FormatError("cannot read '" + Path + "': " + Error.what());
  }
  try {
    return Parse(std::move(Bytes));
  } catch (const FormatError &Error) {
    throw FormatError("'" + Path + "': " + Error.what());
  }
}

} // namespace pe
