#include "FfsShow.h"

#include "FfsFile.h"
#include "ModuleFiles.h"
#include "PeFile.h"

#include <fmt/format.h>

#include <algorithm>
#include <numeric>

namespace ffsfile {
namespace {

std::uint32_t LittleEndian(std::span<const std::uint8_t> Bytes, std::size_t At, unsigned Count) {
  std::uint32_t Value = 0;
  for (unsigned I = 0; I < Count; ++I) {
    Value |= static_cast<std::uint32_t>(Bytes[At + I]) << (8 * I);
  }
  return Value;
}

std::uint8_t Sum8(std::span<const std::uint8_t> Bytes) {
  return static_cast<std::uint8_t>(std::accumulate(Bytes.begin(), Bytes.end(), 0u));
}

Guid GuidAt(std::span<const std::uint8_t> Bytes, std::size_t At) {
  Guid Name{LittleEndian(Bytes, At, 4),
            static_cast<std::uint16_t>(LittleEndian(Bytes, At + 4, 2)),
            static_cast<std::uint16_t>(LittleEndian(Bytes, At + 6, 2)),
            {}};
  std::copy_n(Bytes.begin() + static_cast<std::ptrdiff_t>(At + 8), 8, Name.Data4.begin());
  return Name;
}

std::string GuidText(const Guid &Name) {
  return fmt::format("{:08X}-{:04X}-{:04X}-{:02X}{:02X}-{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}",
                     Name.Data1, Name.Data2, Name.Data3, Name.Data4[0], Name.Data4[1],
                     Name.Data4[2], Name.Data4[3], Name.Data4[4], Name.Data4[5], Name.Data4[6],
                     Name.Data4[7]);
}

// "(BoardInitPei)" when the name is one of the modules' files.
std::string ModuleNamed(const Guid &Name) {
  for (const ModuleFile &Each : ModuleFiles) {
    if (Each.FileName.bytes() == Name.bytes()) {
      return std::string(" (") + Each.row().Name + ")";
    }
  }
  return " (no module of this board)";
}

const char *FileTypeName(std::uint8_t Type) {
  switch (Type) {
  case FileType::Peim:
    return "PEIM";
  case FileType::Driver:
    return "DXE driver";
  default:
    return "another type";
  }
}

std::string DepexText(std::span<const std::uint8_t> Body) {
  if (Body.size() == 2 && Body[0] == DepexOpcode::True && Body[1] == DepexOpcode::End) {
    return "TRUE";
  }
  std::string Text = "opcodes";
  for (const std::uint8_t Each : Body) {
    Text += fmt::format(" 0x{:02X}", Each);
  }
  return Text;
}

// A UCS-2 name ending in a NUL character, shown where it is printable ASCII.
std::string UiText(std::span<const std::uint8_t> Body) {
  std::string Text;
  for (std::size_t At = 0; At + 1 < Body.size(); At += 2) {
    const unsigned Char = Body[At] | (Body[At + 1] << 8);
    if (Char == 0) {
      return "\"" + Text + "\"";
    }
    Text += (Char >= 0x20 && Char <= 0x7E) ? static_cast<char>(Char) : '?';
  }
  throw FfsError("the user-interface name has no terminating NUL");
}

std::string Pe32Text(std::span<const std::uint8_t> Body) {
  try {
    const pe::Image Image = pe::Parse({Body.begin(), Body.end()});
    return fmt::format("{} {}, base 0x{:X}, entry RVA 0x{:X}",
                       Image.isPe32Plus() ? "PE32+" : "PE32", pe::MachineName(Image.Machine),
                       Image.ImageBase, Image.EntryPoint);
  } catch (const pe::FormatError &Error) {
    return std::string("not an image the cores would load: ") + Error.what();
  }
}

std::string SectionText(std::uint8_t Type, std::span<const std::uint8_t> Body) {
  switch (Type) {
  case SectionType::PeiDepex:
    return "PEI dependency expression: " + DepexText(Body);
  case SectionType::DxeDepex:
    return "DXE dependency expression: " + DepexText(Body);
  case SectionType::Pe32:
    return "PE32 image: " + Pe32Text(Body);
  case SectionType::UserInterface:
    return "user-interface name " + UiText(Body);
  case SectionType::Raw:
    return std::all_of(Body.begin(), Body.end(), [](std::uint8_t Each) { return Each == 0; })
               ? "raw, zeros (padding that places the next section's body)"
               : "raw";
  default:
    return fmt::format("type 0x{:02X}", Type);
  }
}

} // namespace

std::string DescribeFile(std::span<const std::uint8_t> File) {
  if (File.size() < FileHeader::Size) {
    throw FfsError(fmt::format("{} bytes are too few for a file header ({} bytes)", File.size(),
                               FileHeader::Size));
  }
  const std::uint32_t Size = LittleEndian(File, FileHeader::SizeOffset, 3);
  if (Size < FileHeader::Size || Size > File.size()) {
    throw FfsError(
        fmt::format("the header gives a size of {} bytes; the file has {}", Size, File.size()));
  }
  // The header checksum is taken with both checksum bytes and the state at zero.
  std::vector<std::uint8_t> Header(File.begin(), File.begin() + FileHeader::Size);
  const std::uint8_t HeaderSum = Header[FileHeader::HeaderChecksumOffset];
  Header[FileHeader::FileChecksumOffset] = 0;
  Header[FileHeader::StateOffset] = 0;
  if (Sum8(Header) != 0) {
    throw FfsError(
        fmt::format("the header checksum 0x{:02X} does not match the header", HeaderSum));
  }
  const std::span<const std::uint8_t> Data =
      File.subspan(FileHeader::Size, Size - FileHeader::Size);
  const std::uint8_t Attributes = File[FileHeader::AttributesOffset];
  const bool Checked = (Attributes & FileAttributes::Checksum) != 0;
  if (Checked &&
      static_cast<std::uint8_t>(Sum8(Data) + File[FileHeader::FileChecksumOffset]) != 0) {
    throw FfsError(fmt::format("the data checksum 0x{:02X} does not match the data",
                               File[FileHeader::FileChecksumOffset]));
  }
  const Guid Name = GuidAt(File, FileHeader::NameOffset);
  const std::uint8_t Type = File[FileHeader::TypeOffset];
  const unsigned AlignField = (Attributes >> FileAttributes::DataAlignmentShift) &
                              (FileAttributes::DataAlignmentBytes.size() - 1);
  const std::uint8_t State = File[FileHeader::StateOffset];
  std::string Text = fmt::format(
      "file {}{}, type 0x{:02X} {}, {} bytes{}\n", GuidText(Name), ModuleNamed(Name), Type,
      FileTypeName(Type), Size,
      Size < File.size() ? fmt::format(" ({} bytes after it)", File.size() - Size) : "");
  Text +=
      fmt::format("  attributes 0x{:02X}: data {}, its first byte on a boundary of {} bytes; "
                  "state 0x{:02X} ({})\n",
                  Attributes, Checked ? "checksummed" : "not checksummed",
                  std::max(FileAttributes::DataAlignmentBytes[AlignField], VolumeFileAlignment),
                  State, State == FileState::CompleteErasePolarity1 ? "complete" : "not complete");
  std::size_t At = 0;
  for (unsigned Index = 0; At < Data.size(); ++Index) {
    if (Data.size() - At < SectionHeader::Size) {
      throw FfsError(fmt::format("section {} at data offset 0x{:X}: {} bytes are too few for its "
                                 "header",
                                 Index, At, Data.size() - At));
    }
    const std::uint32_t SectionSize = LittleEndian(Data, At, 3);
    if (SectionSize < SectionHeader::Size || SectionSize > Data.size() - At) {
      throw FfsError(fmt::format("section {} at data offset 0x{:X} gives a size of {} bytes; {} "
                                 "are left in the file",
                                 Index, At, SectionSize, Data.size() - At));
    }
    const std::span<const std::uint8_t> Body =
        Data.subspan(At + SectionHeader::Size, SectionSize - SectionHeader::Size);
    Text += fmt::format("  section {} at 0x{:04X}, {} bytes: {}\n", Index, FileHeader::Size + At,
                        SectionSize, SectionText(Data[At + 3], Body));
    At = (At + SectionSize + SectionHeader::Alignment - 1) & ~(SectionHeader::Alignment - 1);
  }
  return Text;
}

} // namespace ffsfile
