// The packer's layout rules, checked through the tests' own reader: where the image lands for
// each alignment, what the attributes state, and the limits of the header fields.
#include "FfsFile.h"
#include "FfsReader.h"
#include "FfsShow.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

namespace {

constexpr std::uint8_t PeiDepex = 0x1B;
constexpr std::uint8_t Pe32Section = 0x10;

ffsfile::FileRequest Request(std::uint32_t Alignment, std::optional<std::uint8_t> Depex,
                             std::size_t ImageBytes = 100) {
  ffsfile::FileRequest Out;
  Out.Name = {0x01234567, 0x89AB, 0xCDEF, {0, 1, 2, 3, 4, 5, 6, 7}};
  Out.Type = 0x06;
  Out.DepexSectionType = Depex;
  Out.Pe32.resize(ImageBytes);
  for (std::size_t I = 0; I < ImageBytes; ++I) {
    Out.Pe32[I] = static_cast<std::uint8_t>(I * 7 + 1);
  }
  Out.Pe32Alignment = Alignment;
  Out.UiName = "Module";
  return Out;
}

struct AlignmentCase {
  std::uint32_t Alignment;
  bool Depex;
  std::uint32_t StatedBoundary; // smallest boundary the attribute can state that keeps it
};

class PackedAlignment : public ::testing::TestWithParam<AlignmentCase> {};

TEST_P(PackedAlignment, ImageStartsOnItsBoundaryAndAttributesSayWhichOne) {
  const AlignmentCase &Case = GetParam();
  const auto Bytes = ffsfile::BuildFile(
      Request(Case.Alignment, Case.Depex ? std::optional<std::uint8_t>(PeiDepex) : std::nullopt));
  const ffstest::File File = ffstest::ReadFile(Bytes);
  constexpr std::uint32_t Boundary[] = {1, 16, 128, 512, 1024, 4096, 32768, 65536};
  EXPECT_EQ(Boundary[(File.Attributes >> 3) & 7], Case.StatedBoundary);
  EXPECT_TRUE(File.HeaderSumsToZero);
  EXPECT_TRUE(File.DataSumsToZero);
  const ffstest::Section *Image = nullptr;
  for (const auto &Each : File.Sections) {
    if (Each.Type == Pe32Section) {
      Image = &Each;
    }
  }
  ASSERT_NE(Image, nullptr);
  EXPECT_EQ((Image->Offset + 4 - 24) % Case.Alignment, 0u);
  EXPECT_EQ(Image->Body, Request(Case.Alignment, std::nullopt).Pe32);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, PackedAlignment,
                         ::testing::Values(AlignmentCase{1, true, 1}, AlignmentCase{4, false, 1},
                                           AlignmentCase{8, true, 1}, AlignmentCase{16, true, 16},
                                           AlignmentCase{32, true, 128},
                                           AlignmentCase{32, false, 128},
                                           AlignmentCase{64, true, 128},
                                           AlignmentCase{4096, true, 4096},
                                           AlignmentCase{65536, false, 65536}));

TEST(PackedFile, SizeFieldCoversTheFileWithoutTrailingPadding) {
  const auto Bytes = ffsfile::BuildFile(Request(1, PeiDepex, 101));
  const ffstest::File File = ffstest::ReadFile(Bytes);
  const ffstest::Section &Last = File.Sections.back();
  EXPECT_EQ(Last.Offset + Last.Size, Bytes.size());
  EXPECT_EQ(ffstest::Ucs2ToAscii(Last.Body), "Module");
}

TEST(PackedFile, RefusesWhatTheHeadersCannotState) {
  struct Bad {
    const char *What;
    ffsfile::FileRequest Input;
  };
  std::vector<Bad> Cases = {
      {"alignment above 64 KiB", Request(128 * 1024, std::nullopt)},
      {"alignment not a power of two", Request(48, std::nullopt)},
      {"alignment zero", Request(0, std::nullopt)},
      {"image beyond a 24-bit size", Request(1, std::nullopt, 0xFFFFFF)},
  };
  Cases.push_back({"empty name", Request(1, std::nullopt)});
  Cases.back().Input.UiName = "";
  Cases.push_back({"name not ASCII", Request(1, std::nullopt)});
  Cases.back().Input.UiName = "Modul\xC3\xA9";
  for (const Bad &Case : Cases) {
    EXPECT_THROW(ffsfile::BuildFile(Case.Input), ffsfile::FfsError) << Case.What;
  }
}

// --show reads back what the packer wrote, and refuses a file the cores would refuse, naming
// why. Offsets are the file header's (24 bytes) and the first section's, as a core reads them.
TEST(PackedFile, ShowReadsBackWhatThePackerWroteAndRefusesDamage) {
  const std::vector<std::uint8_t> Good = ffsfile::BuildFile(Request(1, PeiDepex, 101));
  const std::string Shown = ffsfile::DescribeFile(Good);
  for (const char *Line : {"file 01234567-89AB-CDEF-0001-020304050607 (no module of this board), "
                           "type 0x06 PEIM, 158 bytes\n",
                           "section 0 at 0x0018, 6 bytes: PEI dependency expression: TRUE\n",
                           "section 1 at 0x0020, 105 bytes: PE32 image: not an image",
                           "section 2 at 0x008C, 18 bytes: user-interface name \"Module\"\n"}) {
    EXPECT_NE(Shown.find(Line), std::string::npos) << Line << " in\n" << Shown;
  }
  struct Damage {
    const char *What;
    std::function<void(std::vector<std::uint8_t> &)> Apply;
    const char *Refusal;
  };
  const Damage Cases[] = {
      {"cut inside the header", [](auto &File) { File.resize(20); }, "too few for a file header"},
      {"cut before its stated size", [](auto &File) { File.pop_back(); },
       "the header gives a size of 158 bytes; the file has 157"},
      {"a header byte changed", [](auto &File) { File[18] ^= 1; }, "the header checksum"},
      {"a data byte changed", [](auto &File) { File[30] ^= 1; }, "the data checksum"},
      {"a section past the file's end",
       [](auto &File) {
         File[24] = 0xF0; // the first section's size, and the data checksum to match
         File[17] = static_cast<std::uint8_t>(File[17] - (0xF0 - 0x06));
       },
       "section 0 at data offset 0x0 gives a size of 240 bytes"},
  };
  for (const Damage &Case : Cases) {
    std::vector<std::uint8_t> File = Good;
    Case.Apply(File);
    try {
      ffsfile::DescribeFile(File);
      ADD_FAILURE() << Case.What << ": taken";
    } catch (const ffsfile::FfsError &Error) {
      EXPECT_NE(std::string(Error.what()).find(Case.Refusal), std::string::npos)
          << Case.What << ": " << Error.what();
    }
  }
}

} // namespace
