#include "FfsFile.h"

#include <algorithm>
#include <numeric>

namespace ffsfile {
namespace {

// Value's low Count bytes at At, little-endian.
void PutLittleEndian(std::uint8_t *At, std::uint32_t Value, unsigned Count) {
  for (unsigned I = 0; I < Count; ++I) {
    At[I] = static_cast<std::uint8_t>(Value >> (8 * I));
  }
}

std::uint8_t Checksum8(const std::uint8_t *Bytes, std::size_t Count) {
  const unsigned Sum = std::accumulate(Bytes, Bytes + Count, 0u);
  return static_cast<std::uint8_t>(0x100 - (Sum & 0xFF));
}

std::size_t SectionAligned(std::size_t Offset) {
  return (Offset + SectionHeader::Alignment - 1) & ~(SectionHeader::Alignment - 1);
}

// Sections are appended to the file's data; offsets are relative to the first data byte, which
// the volume places on the boundary the file's attributes name.
class SectionWriter {
public:
  void add(std::uint8_t Type, const std::vector<std::uint8_t> &Body, const char *What) {
    Data.resize(SectionAligned(Data.size()), 0);
    const std::size_t Size = SectionHeader::Size + Body.size();
    if (Size > SectionHeader::MaxSize) {
      throw FfsError(std::string(What) + " section of " + std::to_string(Size) +
                     " bytes is larger than a section header can state (16 MiB)");
    }
    const std::size_t At = Data.size();
    Data.resize(At + SectionHeader::Size);
    PutLittleEndian(&Data[At], static_cast<std::uint32_t>(Size), 3);
    Data[At + 3] = Type;
    Data.insert(Data.end(), Body.begin(), Body.end());
  }

  // Offset the next section's body would start at.
  std::size_t nextBodyOffset() const { return SectionAligned(Data.size()) + SectionHeader::Size; }

  std::vector<std::uint8_t> Data;
};

std::vector<std::uint8_t> Ucs2Name(const std::string &Name) {
  if (Name.empty()) {
    throw FfsError("the user-interface name is empty");
  }
  std::vector<std::uint8_t> Out;
  for (const char Each : Name) {
    if (Each < 0x20 || Each > 0x7E) {
      throw FfsError("the user-interface name '" + Name + "' is not printable ASCII");
    }
    Out.push_back(static_cast<std::uint8_t>(Each));
    Out.push_back(0);
  }
  Out.push_back(0);
  Out.push_back(0);
  return Out;
}

// Data-alignment field for the smallest boundary the attribute can state that keeps Bytes,
// beyond the 8 bytes every file in a volume keeps anyway.
std::uint8_t DataAlignmentField(std::uint32_t Bytes) {
  const auto &Boundaries = FileAttributes::DataAlignmentBytes;
  const auto Field = std::find_if(Boundaries.begin(), Boundaries.end(),
                                  [&](std::uint32_t Each) { return Each >= Bytes; });
  if (Field == Boundaries.end()) {
    throw FfsError("an alignment of " + std::to_string(Bytes) +
                   " bytes is beyond what the file attributes can state (64 KiB)");
  }
  return Bytes <= VolumeFileAlignment ? 0 : static_cast<std::uint8_t>(Field - Boundaries.begin());
}

} // namespace

std::array<std::uint8_t, 16> Guid::bytes() const {
  std::array<std::uint8_t, 16> Out{};
  PutLittleEndian(&Out[0], Data1, 4);
  PutLittleEndian(&Out[4], Data2, 2);
  PutLittleEndian(&Out[6], Data3, 2);
  std::copy(Data4.begin(), Data4.end(), Out.begin() + 8);
  return Out;
}

std::vector<std::uint8_t> BuildFile(const FileRequest &Request) {
  const std::uint32_t Align = Request.Pe32Alignment;
  if (Align == 0 || (Align & (Align - 1)) != 0) {
    throw FfsError("image alignment " + std::to_string(Align) + " is not a power of two");
  }
  const std::uint8_t AlignField = DataAlignmentField(Align);
  const std::vector<std::uint8_t> Name = Ucs2Name(Request.UiName);

  SectionWriter Sections;
  if (Request.DepexSectionType) {
    Sections.add(*Request.DepexSectionType, {DepexOpcode::True, DepexOpcode::End},
                 "dependency expression");
  }
  // Sections only keep 4-byte boundaries; a raw section of zeros in front of the image moves
  // its first byte onto the boundary it was linked for.
  if (Sections.nextBodyOffset() % Align != 0) {
    std::size_t Pad = Align - Sections.nextBodyOffset() % Align;
    while (Pad < SectionHeader::Size) {
      Pad += Align;
    }
    Sections.add(SectionType::Raw, std::vector<std::uint8_t>(Pad - SectionHeader::Size, 0),
                 "padding");
  }
  Sections.add(SectionType::Pe32, Request.Pe32, "PE32");
  Sections.add(SectionType::UserInterface, Name, "user-interface");

  const std::size_t FileSize = FileHeader::Size + Sections.Data.size();
  if (FileSize > FileHeader::MaxSize) {
    throw FfsError("the file would be " + std::to_string(FileSize) +
                   " bytes, larger than a file header can state (16 MiB)");
  }
  std::vector<std::uint8_t> File(FileSize, 0);
  std::copy(Sections.Data.begin(), Sections.Data.end(), File.begin() + FileHeader::Size);
  const auto NameBytes = Request.Name.bytes();
  std::copy(NameBytes.begin(), NameBytes.end(), File.begin() + FileHeader::NameOffset);
  File[FileHeader::TypeOffset] = Request.Type;
  File[FileHeader::AttributesOffset] = static_cast<std::uint8_t>(
      FileAttributes::Checksum | (AlignField << FileAttributes::DataAlignmentShift));
  PutLittleEndian(&File[FileHeader::SizeOffset], static_cast<std::uint32_t>(FileSize), 3);
  // The header checksum is taken with both checksum bytes and the state at zero, since the
  // state changes in flash after the header is written.
  File[FileHeader::HeaderChecksumOffset] = Checksum8(File.data(), FileHeader::Size);
  File[FileHeader::FileChecksumOffset] = Checksum8(Sections.Data.data(), Sections.Data.size());
  File[FileHeader::StateOffset] = FileState::CompleteErasePolarity1;
  return File;
}

} // namespace ffsfile
