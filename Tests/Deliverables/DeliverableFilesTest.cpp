// The two .ffs files the firmware build delivers, read back field by field with the tests' own
// reader and compared with the images they were packed from; and the debug files beside the
// images, which must describe the shipped bytes and nothing else.
#include "DebugInfo.h"
#include "FfsReader.h"
#include "LinkerMap.h"
#include "PeFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct Deliverable {
  const char *Ffs;
  const char *Image;
  const char *Guid;
  std::uint8_t FileType;
  std::uint8_t DepexType;
  const char *UiName;
  bool ExecuteInPlace;
};

constexpr std::uint8_t Pe32Section = 0x10;
constexpr std::uint8_t UiSection = 0x15;
constexpr std::uint8_t RawSection = 0x19;
constexpr std::uint8_t ChecksumAttribute = 0x40;
constexpr std::uint8_t StateValidErasedToOnes = 0xF8;

const Deliverable Deliverables[] = {
    {BOARD_INIT_PEI_FFS, BOARD_INIT_PEI_EFI, "D7D47718-8DA2-466A-BE65-76595DDA1461", 0x06, 0x1B,
     "BoardInitPei", true},
    {BOARD_INIT_DXE_FFS, BOARD_INIT_DXE_EFI, "57C8DA1A-93FE-4147-99DF-9F2BA2DB482F", 0x07, 0x13,
     "BoardInitDxe", false},
};

void PrintTo(const Deliverable &Each, std::ostream *Out) {
  *Out << Each.UiName;
}

std::uint32_t SectionAlignmentOf(const std::vector<std::uint8_t> &Image) {
  const std::uint32_t Pe = Image.at(0x3C) | Image.at(0x3D) << 8;
  const std::size_t At = Pe + 4 + 20 + 32; // signature, file header, then optional header field
  return Image.at(At) | Image.at(At + 1) << 8 | Image.at(At + 2) << 16 | Image.at(At + 3) << 24;
}

class DeliverableFile : public ::testing::TestWithParam<Deliverable> {};

TEST_P(DeliverableFile, HeaderFieldsAndChecksums) {
  const Deliverable &Want = GetParam();
  const ffstest::File File = ffstest::ReadFile(ffstest::Slurp(Want.Ffs));
  EXPECT_EQ(File.Name, Want.Guid);
  EXPECT_EQ(File.Type, Want.FileType);
  EXPECT_EQ(File.State, StateValidErasedToOnes);
  EXPECT_TRUE(File.HeaderSumsToZero)
      << "header checksum byte 0x" << std::hex << int(File.HeaderChecksum);
  EXPECT_TRUE(File.DataSumsToZero) << "file checksum byte 0x" << std::hex << int(File.FileChecksum);
  // Only the checksum bit and the data-alignment field: no large-file header, no fixed place.
  EXPECT_EQ(File.Attributes & ~0x38, ChecksumAttribute);
}

TEST_P(DeliverableFile, SectionsCarryDepexImageAndName) {
  const Deliverable &Want = GetParam();
  const ffstest::File File = ffstest::ReadFile(ffstest::Slurp(Want.Ffs));
  const std::vector<std::uint8_t> Image = ffstest::Slurp(Want.Image);
  std::vector<std::uint8_t> Types;
  for (const ffstest::Section &Each : File.Sections) {
    if (Each.Type == RawSection) {
      EXPECT_TRUE(std::all_of(Each.Body.begin(), Each.Body.end(), [](auto B) { return B == 0; }))
          << "padding section holds data";
      continue;
    }
    Types.push_back(Each.Type);
    if (Each.Type == Want.DepexType) {
      EXPECT_EQ(Each.Body, (std::vector<std::uint8_t>{0x06, 0x08})) << "expression is not TRUE END";
    } else if (Each.Type == Pe32Section) {
      EXPECT_EQ(Each.Body, Image) << "PE32 section differs from " << Want.Image;
    } else if (Each.Type == UiSection) {
      EXPECT_EQ(ffstest::Ucs2ToAscii(Each.Body), Want.UiName);
      EXPECT_EQ(Each.Body.size(), 2 * (std::string(Want.UiName).size() + 1))
          << "name not ended by exactly one NUL";
    }
  }
  EXPECT_EQ(Types, (std::vector<std::uint8_t>{Want.DepexType, Pe32Section, UiSection}));
}

// The volume puts the file's data on the boundary the attributes name; the image inside must
// then start on its own section alignment, or code run in place sees misaligned sections.
TEST_P(DeliverableFile, ImageKeepsItsAlignmentInFlash) {
  const Deliverable &Want = GetParam();
  const ffstest::File File = ffstest::ReadFile(ffstest::Slurp(Want.Ffs));
  constexpr std::array<std::uint32_t, 8> Boundary = {1, 16, 128, 512, 1024, 4096, 32768, 65536};
  const std::uint32_t Stated = Boundary[(File.Attributes >> 3) & 7];
  const auto Pe32 = std::find_if(File.Sections.begin(), File.Sections.end(),
                                 [](const auto &S) { return S.Type == Pe32Section; });
  ASSERT_NE(Pe32, File.Sections.end());
  const std::size_t DataOffset = Pe32->Offset + 4 - 24;
  if (!Want.ExecuteInPlace) {
    EXPECT_EQ(Stated, 1u) << "a loaded driver needs no placement";
    return;
  }
  const std::uint32_t Needed = SectionAlignmentOf(ffstest::Slurp(Want.Image));
  EXPECT_EQ(Needed, 32u);
  EXPECT_GE(Stated, Needed);
  EXPECT_EQ(DataOffset % Needed, 0u) << "image data at " << DataOffset << " from the file data";
}

INSTANTIATE_TEST_SUITE_P(Modules, DeliverableFile, ::testing::ValuesIn(Deliverables),
                         [](const auto &Info) { return std::string(Info.param.UiName); });

// The bytes of Image at the absolute Address, as a loader places them; empty when they lie
// outside every section's file data.
std::vector<std::uint8_t> BytesAt(const pe::Image &Image, std::uint64_t Address,
                                  std::uint64_t Count) {
  for (const pe::Section &Each : Image.Sections) {
    const std::uint64_t Start = Image.ImageBase + Each.VirtualAddress;
    if (Address >= Start && Address + Count <= Start + std::min(Each.VirtualSize, Each.RawSize)) {
      const auto First =
          Image.Bytes.begin() + static_cast<std::ptrdiff_t>(Each.RawOffset + (Address - Start));
      return {First, First + static_cast<std::ptrdiff_t>(Count)};
    }
  }
  return {};
}

struct DebugFile {
  const char *Image;
  const char *Debug;
  bool Pe32Plus;
  // One function of each module where its source says: name, file, line of its first instruction.
  const char *Function;
  const char *File;
  unsigned Line;
};

const DebugFile DebugFiles[] = {
    {BOARD_INIT_PEI_EFI, BOARD_INIT_PEI_DEBUG, false, "SetIoDecode", "BoardInitPei/IoDecode.cpp",
     199},
    {BOARD_INIT_DXE_EFI, BOARD_INIT_DXE_DEBUG, true, "BoardInitDxeEntry",
     "BoardInitDxe/DxeEntry.cpp", 7},
};

// Every range the debug file describes holds the shipped image's bytes at the same addresses,
// and every function of the shipped image's map is one the debug file places in a file of the
// source tree: the DWARF is of the shipped code, not of a build like it.
TEST(DebugFiles, DescribeExactlyTheShippedBytes) {
  for (const DebugFile &Each : DebugFiles) {
    SCOPED_TRACE(Each.Debug);
    const pe::Image Shipped = pe::ReadFile(Each.Image);
    const pe::Image Debug = pe::ReadFile(Each.Debug);
    const formats::DebugInfo Info = formats::DebugInfo::ReadFile(Each.Debug);
    const std::vector<formats::AddressRange> Ranges = Info.coveredRanges();
    ASSERT_FALSE(Ranges.empty());
    for (const formats::AddressRange &Range : Ranges) {
      const std::vector<std::uint8_t> Want = BytesAt(Shipped, Range.First, Range.End - Range.First);
      ASSERT_FALSE(Want.empty()) << std::hex << Range.First << "-" << Range.End
                                 << " is outside the shipped image's sections";
      EXPECT_EQ(BytesAt(Debug, Range.First, Range.End - Range.First), Want)
          << std::hex << Range.First << "-" << Range.End;
    }
    const std::string MapPath =
        std::filesystem::path(Each.Image).replace_extension(".map").string();
    const formats::LinkerMap Map = formats::LinkerMap::ReadFile(MapPath, !Each.Pe32Plus);
    unsigned Functions = 0;
    for (const formats::MapSymbol &Symbol : Map.symbols()) {
      const auto Chunk = std::find_if(Map.chunks().begin(), Map.chunks().end(), [&](const auto &C) {
        return C.Section == Symbol.Section && Symbol.Offset >= C.Start &&
               Symbol.Offset < C.Start + C.Length;
      });
      if (Chunk == Map.chunks().end() || Chunk->Name != ".text") {
        continue; // a constant table, in the code section's read-only part
      }
      ++Functions;
      const std::optional<formats::SourceLine> Line = Info.lineAt(Symbol.Address);
      ASSERT_TRUE(Line) << Symbol.Name << " has no line";
      EXPECT_TRUE(Symbol.Name == Line->Function || Symbol.Name.ends_with("::" + Line->Function))
          << Symbol.Name << " is " << Line->Function << " by the debug file";
      EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(SOURCE_DIR) / Line->File))
          << Symbol.Name << ": " << Line->File;
    }
    EXPECT_GT(Functions, 10u);
    const auto Address = Map.functionAddress(Each.Function);
    ASSERT_TRUE(Address);
    const std::optional<formats::SourceLine> Line = Info.lineAt(*Address);
    ASSERT_TRUE(Line);
    EXPECT_EQ(Line->Function, Each.Function);
    EXPECT_EQ(Line->File, Each.File);
    EXPECT_EQ(Line->Line, Each.Line);
  }
}

} // namespace
