// Images the boot program must refuse are refused by the PE image library and by pe-check alike,
// so an image pe-check passes is one the boot program loads. Each case patches a small synthetic
// image (headers, a code section, a relocation section with one fixup) that both accept.
#include "PeImage.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

void PrintTo(PeStatus Status, std::ostream *Out) {
  *Out << PeStatusMessage(Status);
}

namespace {

// Where the synthetic image puts things; one 0x200 alignment for file and memory, so the image
// also runs in place.
namespace Synthetic {
constexpr std::uint32_t PeOffset = DosHeader::Size;
constexpr std::uint32_t Coff = PeOffset + PeSignature::Size;
constexpr std::uint32_t Optional = Coff + CoffHeader::Size;
constexpr std::uint32_t Alignment = 0x200;
constexpr std::uint32_t Text = 0x200;
constexpr std::uint32_t Reloc = 0x400;
constexpr std::uint32_t ImageSize = 0x600;
constexpr std::uint32_t FixupOffset = 0x10; // into the code page
constexpr std::uint32_t RelocTableSize =
    BaseRelocation::BlockHeaderSize + 2 * BaseRelocation::EntrySize;
constexpr std::uint64_t Base32 = 0x10000;
constexpr std::uint64_t Base64 = 0x140000000;
constexpr std::uint64_t Move = 0x100000;
} // namespace Synthetic

void Put(std::vector<std::uint8_t> &Bytes, std::size_t At, std::uint64_t Value, unsigned Width) {
  for (unsigned Byte = 0; Byte < Width; ++Byte) {
    Bytes[At + Byte] = static_cast<std::uint8_t>(Value >> (8 * Byte));
  }
}

std::uint64_t Get(const std::vector<std::uint8_t> &Bytes, std::size_t At, unsigned Width) {
  std::uint64_t Value = 0;
  for (unsigned Byte = 0; Byte < Width; ++Byte) {
    Value |= std::uint64_t{Bytes[At + Byte]} << (8 * Byte);
  }
  return Value;
}

// Offsets of the fields the cases patch.
struct Fields {
  bool Pe32Plus;
  std::uint32_t DirectoryCount; // offset of NumberOfRvaAndSizes
  std::uint32_t RelocDirectory;
  std::uint32_t TextHeader;
  std::uint32_t RelocHeader;
  std::uint32_t FixupEntry;
};

Fields FieldsOf(bool Pe32Plus, std::uint32_t DirectorySlots) {
  const std::uint32_t Directories =
      Synthetic::Optional +
      (Pe32Plus ? OptionalHeader::DataDirectoryPe32Plus : OptionalHeader::DataDirectoryPe32);
  const std::uint32_t Table = Directories + DirectorySlots * OptionalHeader::DataDirectoryEntrySize;
  return {Pe32Plus,
          Synthetic::Optional + (Pe32Plus ? OptionalHeader::NumberOfRvaAndSizesPe32Plus
                                          : OptionalHeader::NumberOfRvaAndSizesPe32),
          Directories +
              OptionalHeader::BaseRelocationDirectory * OptionalHeader::DataDirectoryEntrySize,
          Table,
          Table + SectionHeader::Size,
          Synthetic::Reloc + BaseRelocation::BlockHeaderSize};
}

// An optional header holding DirectorySlots data directories, all of them counted.
std::vector<std::uint8_t> BuildImage(const Fields &At, std::uint32_t DirectorySlots) {
  std::vector<std::uint8_t> Bytes(Synthetic::ImageSize, 0);
  const std::uint64_t Base = At.Pe32Plus ? Synthetic::Base64 : Synthetic::Base32;
  Put(Bytes, DosHeader::Magic, DosHeader::MagicValue, 2);
  Put(Bytes, DosHeader::NewHeaderOffset, Synthetic::PeOffset, 4);
  Put(Bytes, Synthetic::PeOffset, PeSignature::Value, 4);
  Put(Bytes, Synthetic::Coff + CoffHeader::Machine, At.Pe32Plus ? PeMachine::X64 : PeMachine::I386,
      2);
  Put(Bytes, Synthetic::Coff + CoffHeader::NumberOfSections, 2, 2);
  Put(Bytes, Synthetic::Coff + CoffHeader::SizeOfOptionalHeader,
      At.TextHeader - Synthetic::Optional, 2);
  const std::uint32_t Opt = Synthetic::Optional;
  Put(Bytes, Opt + OptionalHeader::Magic,
      At.Pe32Plus ? OptionalHeader::MagicPe32Plus : OptionalHeader::MagicPe32, 2);
  Put(Bytes, Opt + OptionalHeader::AddressOfEntryPoint, Synthetic::Text, 4);
  if (At.Pe32Plus) {
    Put(Bytes, Opt + OptionalHeader::ImageBasePe32Plus, Base, 8);
  } else {
    Put(Bytes, Opt + OptionalHeader::ImageBasePe32, Base, 4);
  }
  Put(Bytes, Opt + OptionalHeader::SectionAlignment, Synthetic::Alignment, 4);
  Put(Bytes, Opt + OptionalHeader::FileAlignment, Synthetic::Alignment, 4);
  Put(Bytes, Opt + OptionalHeader::SizeOfImage, Synthetic::ImageSize, 4);
  Put(Bytes, Opt + OptionalHeader::SizeOfHeaders, Synthetic::Text, 4);
  Put(Bytes, Opt + OptionalHeader::Subsystem, OptionalHeader::SubsystemEfiBootServiceDriver, 2);
  Put(Bytes, At.DirectoryCount, DirectorySlots, 4);
  Put(Bytes, At.RelocDirectory, Synthetic::Reloc, 4);
  Put(Bytes, At.RelocDirectory + 4, Synthetic::RelocTableSize, 4);
  struct {
    std::uint32_t Header, Address, VirtualSize, Characteristics;
  } const Sections[] = {
      {At.TextHeader, Synthetic::Text, Synthetic::Alignment,
       SectionHeader::ContainsCode | SectionHeader::MemoryExecute | SectionHeader::MemoryRead},
      {At.RelocHeader, Synthetic::Reloc, Synthetic::RelocTableSize,
       SectionHeader::ContainsInitializedData | SectionHeader::MemoryRead},
  };
  for (const auto &Each : Sections) {
    Put(Bytes, Each.Header + SectionHeader::VirtualSize, Each.VirtualSize, 4);
    Put(Bytes, Each.Header + SectionHeader::VirtualAddress, Each.Address, 4);
    Put(Bytes, Each.Header + SectionHeader::SizeOfRawData, Synthetic::Alignment, 4);
    Put(Bytes, Each.Header + SectionHeader::PointerToRawData, Each.Address, 4);
    Put(Bytes, Each.Header + SectionHeader::Characteristics, Each.Characteristics, 4);
  }
  // One block: the code page, a fixup of the address the code holds, an ABSOLUTE pad.
  const std::uint16_t Type = At.Pe32Plus ? BaseRelocation::TypeDir64 : BaseRelocation::TypeHighLow;
  Put(Bytes, Synthetic::Reloc + BaseRelocation::PageRva, Synthetic::Text, 4);
  Put(Bytes, Synthetic::Reloc + BaseRelocation::BlockSize, Synthetic::RelocTableSize, 4);
  Put(Bytes, At.FixupEntry, Type << BaseRelocation::TypeShift | Synthetic::FixupOffset, 2);
  Put(Bytes, Synthetic::Text + Synthetic::FixupOffset, Base + Synthetic::Text, At.Pe32Plus ? 8 : 4);
  return Bytes;
}

using Patch = std::function<void(std::vector<std::uint8_t> &, const Fields &)>;

// Field at an offset from the start of the optional header, or of a section header.
Patch Set(std::uint32_t Fields::*Base, std::uint32_t Offset, std::uint64_t Value, unsigned Width) {
  return [=](std::vector<std::uint8_t> &Bytes, const Fields &At) {
    Put(Bytes, At.*Base + Offset, Value, Width);
  };
}
Patch SetAt(std::uint32_t Offset, std::uint64_t Value, unsigned Width) {
  return
      [=](std::vector<std::uint8_t> &Bytes, const Fields &) { Put(Bytes, Offset, Value, Width); };
}
Patch SetOptional(std::uint32_t Field, std::uint64_t Value) {
  return SetAt(Synthetic::Optional + Field, Value, 4);
}
Patch SetFixup(std::uint16_t Type) {
  return Set(&Fields::FixupEntry, 0, Type << BaseRelocation::TypeShift | Synthetic::FixupOffset, 2);
}

struct Case {
  const char *Name;
  bool Pe32Plus;
  std::uint32_t DirectorySlots;
  Patch Damage;
  std::uint16_t Machine; // checked by the library when not 0
  bool ExecuteInPlace;   // checked by the library
  PeStatus Library;
  const char *PeCheckOptions;
  int PeCheckExit;
};

const Case Cases[] = {
    {"ValidPe32", false, 16, nullptr, PeMachine::I386, true, PeStatus::Ok,
     "--machine i386 --xip-base 0x10000 --relocatable", 0},
    {"ValidPe32Plus", true, 16, nullptr, PeMachine::X64, false, PeStatus::Ok,
     "--machine x86-64 --relocatable", 0},
    {"SixDirectoriesAllInside", false, 6, nullptr, 0, false, PeStatus::Ok, "--no-imports", 0},
    // The count reaches into the section table, which a reader bound by the count alone takes for
    // directories.
    {"DirectoryCountPastOptionalHeader", false, 6, Set(&Fields::DirectoryCount, 0, 16, 4), 0, false,
     PeStatus::DataDirectoriesOutsideOptionalHeader, "--no-imports", 2},
    {"SeventeenDirectories", false, 16, Set(&Fields::DirectoryCount, 0, 17, 4), 0, false,
     PeStatus::TooManyDataDirectories, "--no-imports", 2},
    {"NoMzSignature", false, 16, SetAt(DosHeader::Magic, 0, 2), 0, false, PeStatus::NoMzSignature,
     "--no-imports", 2},
    {"PeHeaderPastEnd", false, 16, SetAt(DosHeader::NewHeaderOffset, Synthetic::ImageSize - 8, 4),
     0, false, PeStatus::PeHeaderOutsideFile, "--no-imports", 2},
    {"UnknownOptionalMagic", false, 16, SetAt(Synthetic::Optional, 0x0107, 2), 0, false,
     PeStatus::UnknownOptionalHeaderMagic, "--no-imports", 2},
    {"OptionalHeaderShort", false, 16,
     SetAt(Synthetic::Coff + CoffHeader::SizeOfOptionalHeader, 64, 2), 0, false,
     PeStatus::OptionalHeaderTooShort, "--no-imports", 2},
    {"SectionTablePastEnd", false, 16,
     SetAt(Synthetic::Coff + CoffHeader::NumberOfSections, 0xFFFF, 2), 0, false,
     PeStatus::SectionTableOutsideFile, "--no-imports", 2},
    {"HeadersEndInSectionTable", false, 16, SetOptional(OptionalHeader::SizeOfHeaders, 0x100), 0,
     false, PeStatus::HeadersDoNotFit, "--no-imports", 2},
    {"SectionDataPastEnd", false, 16,
     Set(&Fields::RelocHeader, SectionHeader::SizeOfRawData, 0x400, 4), 0, false,
     PeStatus::SectionDataOutsideFile, "--no-imports", 2},
    {"SectionPastImage", false, 16,
     Set(&Fields::TextHeader, SectionHeader::VirtualAddress, 0x580, 4), 0, false,
     PeStatus::SectionOutsideImage, "--no-imports", 2},
    {"EntryPointInData", false, 16,
     SetOptional(OptionalHeader::AddressOfEntryPoint, Synthetic::Reloc), 0, false,
     PeStatus::EntryPointNotInCode, "--no-imports", 2},
    {"RelocationDirectoryPastImage", false, 16, Set(&Fields::RelocDirectory, 0, 0x5F8, 4), 0, false,
     PeStatus::RelocationDirectoryOutsideImage, "--no-imports", 2},
    {"RelocationBlockPastTable", false, 16,
     SetAt(Synthetic::Reloc + BaseRelocation::BlockSize, 0x20, 4), 0, false,
     PeStatus::RelocationBlockSizeInvalid, "--no-imports", 2},
    {"RelocationTableEndsInBlockHeader", false, 16,
     Set(&Fields::RelocDirectory, 4, Synthetic::RelocTableSize + 4, 4), 0, false,
     PeStatus::RelocationBlockOutsideTable, "--no-imports", 2},
    {"RelocationTypeHigh", false, 16, SetFixup(1), 0, false, PeStatus::UnsupportedRelocation,
     "--no-imports", 2},
    {"Dir64InPe32", false, 16, SetFixup(BaseRelocation::TypeDir64), 0, false,
     PeStatus::UnsupportedRelocation, "--no-imports", 2},
    {"RelocationTargetPastImage", false, 16,
     SetAt(Synthetic::Reloc + BaseRelocation::PageRva, 0x5F0, 4), 0, false,
     PeStatus::RelocationTargetOutsideImage, "--no-imports", 2},
    {"RelocationTargetInTable", true, 16,
     SetAt(Synthetic::Reloc + BaseRelocation::PageRva, 0x3F8, 4), 0, false,
     PeStatus::RelocationTargetInTable, "--no-imports", 2},
    {"StrippedImageMoved", false, 16,
     SetAt(Synthetic::Coff + CoffHeader::Characteristics, CoffHeader::RelocationsStripped, 2), 0,
     false, PeStatus::RelocationsStripped, "--relocatable", 1},
    {"X64ImageForI386", true, 16, nullptr, PeMachine::I386, false, PeStatus::WrongMachine,
     "--machine i386", 1},
    {"I386WithPe32PlusHeader", true, 16,
     SetAt(Synthetic::Coff + CoffHeader::Machine, PeMachine::I386, 2), PeMachine::I386, false,
     PeStatus::MagicNotOfMachine, "--machine i386", 1},
    {"InPlaceAlignmentsDiffer", false, 16, SetOptional(OptionalHeader::SectionAlignment, 0x1000), 0,
     true, PeStatus::AlignmentsDiffer, "--xip-base 0x10000", 1},
    {"InPlaceSectionNeedsZeroFill", false, 16,
     Set(&Fields::TextHeader, SectionHeader::SizeOfRawData, 0x100, 4), 0, true,
     PeStatus::SectionNotInPlace, "--xip-base 0x10000", 1},
};

// What the boot program does with a module file, up to its relocation to another base.
PeStatus LoadAsTheBootProgramDoes(const Case &Each, const std::vector<std::uint8_t> &File) {
  PeImage Image;
  PeStatus Status = PeParse({File.data(), File.size()}, Image);
  if (Status == PeStatus::Ok && Each.Machine != 0) {
    Status = PeCheckMachine(Image, Each.Machine);
  }
  if (Status == PeStatus::Ok && Each.ExecuteInPlace) {
    Status = PeCheckExecuteInPlace(Image, nullptr);
  }
  if (Status != PeStatus::Ok) {
    return Status;
  }
  // The fixups below are checked against the base read here, so the base itself is checked too:
  // the 64-bit one lies above 4 GiB.
  EXPECT_EQ(Image.ImageBase, Image.Pe32Plus ? 0x140000000U : 0x10000U);
  std::vector<std::uint8_t> Memory(Image.SizeOfImage);
  EXPECT_EQ(PeCopyToMemory(Image, Memory.data(), Memory.size()), PeStatus::Ok);
  const std::uint64_t NewBase = Image.ImageBase + Synthetic::Move;
  const PeStatus Moved = PeRelocate(Image, Memory.data(), Memory.size(), NewBase);
  // The check of the file refuses exactly the tables the relocation of the copy refuses.
  EXPECT_EQ(PeCheckRelocations(Image),
            Moved == PeStatus::RelocationsStripped ? PeStatus::Ok : Moved);
  if (Moved == PeStatus::Ok) {
    const unsigned Width = Image.Pe32Plus ? 8 : 4;
    EXPECT_EQ(Get(Memory, Synthetic::Text + Synthetic::FixupOffset, Width),
              NewBase + Synthetic::Text);
    EXPECT_EQ(Get(Memory,
                  Synthetic::Optional + (Image.Pe32Plus ? OptionalHeader::ImageBasePe32Plus
                                                        : OptionalHeader::ImageBasePe32),
                  Width),
              NewBase);
  }
  return Moved;
}

int RunPeCheck(const Case &Each, const std::vector<std::uint8_t> &File) {
  const std::string Path = ::testing::TempDir() + "MalformedImage-" + Each.Name + ".efi";
  std::ofstream(Path, std::ios::binary)
      .write(reinterpret_cast<const char *>(File.data()),
             static_cast<std::streamsize>(File.size()));
  const std::string Command =
      std::string(PE_CHECK) + " " + Each.PeCheckOptions + " '" + Path + "' >/dev/null 2>&1";
  const int Status = std::system(Command.c_str());
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

TEST(MalformedImage, BootProgramLibraryAndPeCheckRefuseAlike) {
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    const Fields At = FieldsOf(Each.Pe32Plus, Each.DirectorySlots);
    std::vector<std::uint8_t> File = BuildImage(At, Each.DirectorySlots);
    if (Each.Damage) {
      Each.Damage(File, At);
    }
    EXPECT_EQ(LoadAsTheBootProgramDoes(Each, File), Each.Library) << PeStatusMessage(Each.Library);
    EXPECT_EQ(RunPeCheck(Each, File), Each.PeCheckExit);
  }
}

} // namespace
