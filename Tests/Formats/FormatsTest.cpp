// The host readers of Host/Formats on small inputs made here: bounded file reads, linked names,
// a linker map, and a COFF object disassembled as the stack walk needs it.
#include "Disassembly.h"
#include "FileRead.h"
#include "LinkerMap.h"
#include "ObjectFile.h"
#include "SymbolName.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string TempPath(const std::string &Name) {
  return ::testing::TempDir() + "formats-" + std::to_string(getpid()) + "-" + Name;
}

std::string WriteFile(const std::string &Name, const std::string &Bytes) {
  const std::string Path = TempPath(Name);
  std::ofstream(Path, std::ios::binary) << Bytes;
  return Path;
}

struct ReadCase {
  const char *Case;
  std::string Path;
  std::uint64_t MaxBytes;
  const char *Text;   // what is read; nullptr when the read is refused
  const char *Reason; // the refusal's reason
};

TEST(FileRead, ReadsRegularFilesUpToTheLimitAndRefusesAnythingElseWithAReason) {
  const std::string Four = WriteFile("four", "abcd");
  const std::string Empty = WriteFile("empty", "");
  const std::string Folder = TempPath("folder");
  fs::create_directories(Folder);
  const ReadCase Cases[] = {
      {"AtTheLimit", Four, 4, "abcd", nullptr},
      {"Empty", Empty, 0, "", nullptr},
      {"OverTheLimit", Four, 3, nullptr, "larger than 3 bytes"},
      {"Missing", TempPath("missing"), 4, nullptr, "No such file or directory"},
      {"Directory", Folder, 4, nullptr, "is a directory"},
      {"DeviceWithoutEnd", "/dev/zero", 4, nullptr, "not a regular file"},
  };
  for (const ReadCase &Each : Cases) {
    try {
      const std::string Text = formats::ReadFileText(Each.Path, Each.MaxBytes);
      const std::vector<std::uint8_t> Bytes = formats::ReadFileBytes(Each.Path, Each.MaxBytes);
      ASSERT_NE(Each.Text, nullptr) << Each.Case << ": read " << Text;
      EXPECT_EQ(Text, Each.Text) << Each.Case;
      EXPECT_EQ(std::string(Bytes.begin(), Bytes.end()), Each.Text) << Each.Case;
    } catch (const formats::FileError &Error) {
      ASSERT_EQ(Each.Text, nullptr) << Each.Case << ": " << Error.what();
      EXPECT_EQ(std::string(Error.what()), Each.Reason) << Each.Case;
    }
  }
}

struct NameCase {
  const char *Linked;
  bool UnderscoredCNames;
  const char *Readable;
  const char *Short;
};

TEST(SymbolName, LinkedNamesReadAsTheSourceWritesThem) {
  const NameCase Cases[] = {
      {"?SetIoDecode@@YAIGEI@Z", true, "SetIoDecode", "SetIoDecode"},
      {"?Send@Spi@Board@@YAXXZ", false, "Board::Spi::Send", "Send"},
      {"?WaitTransmitReady@?A0xFAE6AA53@@YAX_K@Z", false, "WaitTransmitReady", "WaitTransmitReady"},
      {"_BoardInitPeiEntry", true, "BoardInitPeiEntry", "BoardInitPeiEntry"},
      {"_Callback@12", true, "Callback", "Callback"},
      {"_memset", false, "_memset", "_memset"}, // x86-64 C names keep their underscore
      {"??0Table@@QAE@XZ", true, "??0Table@@QAE@XZ", "??0Table@@QAE@XZ"}, // special member
      {"?Broken@@Y", true, "?Broken@@Y", "?Broken@@Y"}, // the demangler cannot read it
  };
  for (const NameCase &Each : Cases) {
    EXPECT_EQ(formats::ReadableSymbolName(Each.Linked, Each.UnderscoredCNames), Each.Readable)
        << Each.Linked;
    EXPECT_EQ(formats::ShortSymbolName(Each.Linked, Each.UnderscoredCNames), Each.Short)
        << Each.Linked;
  }
}

// The shape lld-link writes: the load address, the section table, then the symbols.
const char *const Map = R"( Module

 Preferred load address is 00000000fff00000

 Start         Length     Name                   Class
 0001:00000000 000007d0H .text                   CODE
 0002:00000000 00000010H .data                   DATA

  Address         Publics by Value              Rva+Base               Lib:Object

 0001:00000000       _BoardInitPeiEntry         00000000fff00200     Entry.cpp.o
 0001:0000004c       ?SetIoDecode@@YAIGEI@Z     00000000fff0024c     IoDecode.cpp.o
 0001:00000100       ?Helper@?A0x11111111@@YAXXZ 00000000fff00300     A.cpp.o
 0001:00000140       ?Helper@?A0x22222222@@YAXXZ 00000000fff00340     B.cpp.o
 0002:00000000       _gTable                    00000000fff00800     Entry.cpp.o
)";

TEST(LinkerMap, FindsEachNameOnceAndDescribesAddressesInCode) {
  const formats::LinkerMap Parsed = formats::LinkerMap::Parse(Map, true);
  EXPECT_EQ(Parsed.preferredBase(), 0xFFF00000u);
  EXPECT_EQ(Parsed.functionAddress("SetIoDecode"), 0xFFF0024Cu);
  EXPECT_EQ(Parsed.functionAddress("Helper"), std::nullopt); // two files define one
  EXPECT_EQ(Parsed.functionAddress("gTable"), std::nullopt); // data, not code
  EXPECT_EQ(Parsed.dataAddress("gTable"), 0xFFF00800u);
  EXPECT_EQ(Parsed.describe(0xFFF00268), "SetIoDecode+0x1C");
  EXPECT_EQ(Parsed.describe(0xFFF00200), "BoardInitPeiEntry");
  EXPECT_EQ(Parsed.describe(0xFFF00100), "?");
  EXPECT_THROW(formats::LinkerMap::Parse("no map here\n", true), formats::MapError);
}

// A little-endian field of a COFF record: 2 or 4 bytes.
struct Field {
  std::uint32_t Value;
  unsigned Bytes;
};
Field W(std::uint32_t Value) {
  return {Value, 2};
}
Field D(std::uint32_t Value) {
  return {Value, 4};
}
void Put(std::string &Out, std::initializer_list<Field> Fields) {
  for (const Field &Each : Fields) {
    for (unsigned Byte = 0; Byte < Each.Bytes; ++Byte) {
      Out += static_cast<char>(Each.Value >> (8 * Byte) & 0xFF);
    }
  }
}

// A small IA-32 COFF object: one code section with two functions, and a relocation on the call.
//   _Entry:        push %ebp; call ?Leaf@@YAXXZ; pop %ebp; ret
//   ?Leaf@@YAXXZ:  rep stosl; ret
std::string CoffObjectBytes() {
  constexpr std::uint32_t I386Machine = 0x14C, I386Rel32 = 0x14, CodeExecuteRead = 0x60000020;
  constexpr std::uint32_t FileHeaderSize = 20, SectionHeaderSize = 40, RelocationSize = 10;
  constexpr std::uint32_t StaticClass = 3, ExternalClass = 2, FunctionType = 0x20;
  constexpr char CodeBytes[] = "\x55\xE8\0\0\0\0\x5D\xC3\xF3\xAB\xC3";
  const std::string Code(CodeBytes, sizeof CodeBytes - 1);
  const std::string LongName = "?Leaf@@YAXXZ";
  const auto CodeSize = static_cast<std::uint32_t>(Code.size());
  const std::uint32_t CodeAt = FileHeaderSize + SectionHeaderSize;
  const std::uint32_t RelocationAt = CodeAt + CodeSize;
  const std::uint32_t SymbolsAt = RelocationAt + RelocationSize;
  std::string Out;
  // File header: machine, sections, time, symbol table, symbols, optional header, flags.
  Put(Out, {W(I386Machine), W(1), D(0), D(SymbolsAt), D(4), W(0), W(0)});
  // Section header: name, sizes and places, relocation count, flags.
  Out += std::string(".text\0\0\0", 8);
  Put(Out, {D(0), D(0), D(CodeSize), D(CodeAt), D(RelocationAt), D(0), W(1), W(0)});
  Put(Out, {D(CodeExecuteRead)});
  Out += Code;
  // The call's displacement (offset 2) refers to symbol 3.
  Put(Out, {D(2), D(3), W(I386Rel32)});
  // Symbols: the section's own with its auxiliary record, _Entry, and the leaf whose long name
  // lies in the string table (offset 4, past the table's size field).
  Out += std::string(".text\0\0\0", 8);
  Put(Out, {D(0), W(1), W(0), W(StaticClass | 1 << 8)});
  Put(Out, {D(CodeSize), W(1), W(0), D(0), W(1), W(0), W(0)});
  Out += std::string("_Entry\0\0", 8);
  Put(Out, {D(0), W(1), W(FunctionType), W(ExternalClass)});
  Put(Out, {D(0), D(4), D(8), W(1), W(FunctionType), W(ExternalClass)});
  Put(Out, {D(static_cast<std::uint32_t>(4 + LongName.size() + 1))});
  return Out + LongName + '\0';
}

TEST(ObjectCode, FunctionsInstructionsAndRelocationsOfACoffObject) {
  const std::string Path = WriteFile("object.o", CoffObjectBytes());
  EXPECT_EQ(formats::ObjectSectionNames(Path), std::vector<std::string>{".text"});
  const formats::ObjectCode Object = formats::DisassembleObject(Path);
  EXPECT_EQ(Object.PointerSize, 4u);
  // The section symbol names no function; each function runs to the next symbol.
  ASSERT_EQ(Object.Functions.size(), 2u);
  const formats::Function &Entry = Object.Functions[0];
  EXPECT_EQ(Entry.Symbol, "_Entry");
  ASSERT_EQ(Entry.Code.size(), 4u);
  EXPECT_EQ(Entry.Code[0].Mnemonic + " " + Entry.Code[0].Operands, "pushl %ebp");
  EXPECT_EQ(Entry.Code[1].Mnemonic + " " + Entry.Code[1].Operands, "calll 0x6");
  EXPECT_EQ(Entry.Code[1].Relocation, "?Leaf@@YAXXZ");
  EXPECT_EQ(Entry.Code[2].Relocation, std::nullopt);
  EXPECT_EQ(Entry.Code[3].Mnemonic + "|" + Entry.Code[3].Operands, "retl|");
  const formats::Function *Leaf = Object.find("?Leaf@@YAXXZ");
  ASSERT_NE(Leaf, nullptr);
  EXPECT_EQ(Leaf->Start, 8u);
  ASSERT_EQ(Leaf->Code.size(), 2u);
  EXPECT_EQ(Leaf->Code[0].Mnemonic + " " + Leaf->Code[0].Operands, // the rep prefix dropped
            "stosl %eax, %es:(%edi)");
  EXPECT_EQ(Object.containing(".text", 9), Leaf);

  const std::string Text = WriteFile("text.o", "not an object\n");
  EXPECT_THROW(formats::DisassembleObject(Text), formats::ObjectError);
  EXPECT_THROW(formats::ObjectSectionNames(TempPath("missing.o")), formats::ObjectError);
}

} // namespace
