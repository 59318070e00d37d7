// The host readers of Host/Formats on small inputs made here: bounded file reads, linked names,
// a linker map, a COFF object disassembled as the stack walk needs it, and single x86
// instructions decoded in both modes.
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
#include <optional>
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

using formats::Flow;
using formats::PortAccess;
using formats::PortDirection;
using formats::StackEffect;

constexpr StackEffect Untouched = {StackEffect::Kind::None, 0};
constexpr StackEffect Unknown = {StackEffect::Kind::Unknown, 0};
constexpr StackEffect Moves(std::int64_t Delta) {
  return {StackEffect::Kind::Moves, Delta};
}
PortAccess Port(PortDirection Direction, unsigned Width,
                std::optional<std::uint16_t> FixedPort = std::nullopt, bool String = false) {
  return {Direction, Width, FixedPort, String};
}

constexpr std::nullopt_t None = std::nullopt;
template <typename... Values> std::vector<std::int64_t> Imm(Values... Each) {
  return {static_cast<std::int64_t>(Each)...};
}

// One instruction decoded at Address (At unless the row gives another).
constexpr std::uint64_t At = 0x1000;

// Machine code written as hex escapes, zero bytes included.
struct MachineCode {
  std::vector<std::uint8_t> Bytes;
  template <std::size_t N> MachineCode(const char (&Text)[N]) : Bytes(Text, Text + N - 1) {}
};

struct DecodeCase {
  const char *Case;
  unsigned PointerSize;
  MachineCode Code;
  std::size_t Length; // 0: no instruction
  const char *Text;
  StackEffect Stack;
  Flow Control;
  std::vector<std::int64_t> Immediates;
  std::optional<std::uint64_t> Target = std::nullopt;
  std::optional<PortAccess> Ports = std::nullopt;
  bool TargetFromMemory = false;
  std::uint64_t Address = At;
};

TEST(X86Decoder, LengthTextAndFactsOfEachInstructionInBothModes) {
  constexpr PortDirection In = PortDirection::In, Out = PortDirection::Out;
  constexpr Flow Next = Flow::Next, Call = Flow::Call, Return = Flow::Return, Jump = Flow::Jump,
                 ConditionalJump = Flow::ConditionalJump, Stop = Flow::Stop;
  const DecodeCase Cases[] = {
      {"PushEbp", 4, "\x55", 1, "pushl %ebp", Moves(-4), Next, Imm()},
      {"SubEsp", 4, "\x83\xEC\x10", 3, "subl $16, %esp", Moves(-16), Next, Imm(16)},
      {"AddEsp", 4, "\x83\xC4\x08", 3, "addl $8, %esp", Moves(8), Next, Imm(8)},
      {"SubEspWide", 4, "\x81\xEC\xF0\xFF\xFF\xFF", 6, "subl $4294967280, %esp", Moves(16), Next,
       Imm(4294967280)},
      {"PushImmediate", 4, "\x6A\x01", 2, "pushl $1", Moves(-4), Next, Imm(1)},
      {"PushWord", 4, "\x66\x50", 2, "pushw %ax", Moves(-2), Next, Imm()},
      {"PushFlags", 4, "\x9C", 1, "pushfl", Moves(-4), Next, Imm()},
      {"PopEsi", 4, "\x5E", 1, "popl %esi", Moves(4), Next, Imm()},
      {"PushAll", 4, "\x60", 1, "pushal", Unknown, Next, Imm()},
      {"Leave", 4, "\xC9", 1, "leave", Unknown, Next, Imm()},
      {"MovToEsp", 4, "\x89\xC4", 2, "movl %eax, %esp", Unknown, Next, Imm()},
      {"MovFromEsp", 4, "\x89\xE5", 2, "movl %esp, %ebp", Untouched, Next, Imm()},
      {"RealignEsp", 4, "\x83\xE4\xF0", 3, "andl $-16, %esp", Unknown, Next, Imm(-16)},
      {"Ret", 4, "\xC3", 1, "retl", Moves(4), Return, Imm()},
      {"RetPopsArguments", 4, "\xC2\x10\x00", 3, "retl $16", Moves(20), Return, Imm(16)},
      {"CallRel32", 4, "\xE8\x01\x00\x00\x00", 5, "calll 0x1006", Moves(-4), Call, Imm(), 0x1006},
      {"CallWrapsAt4GiB", 4, "\xE8\x20\x00\x00\x00", 5, "calll 0x15", Moves(-4), Call, Imm(), 0x15,
       None, false, 0xFFFFFFF0},
      {"CallThroughRegister", 4, "\xFF\xD0", 2, "calll *%eax", Moves(-4), Call, Imm()},
      {"JneRel32", 4, "\x0F\x85\x10\x00\x00\x00", 6, "jne 0x1016", Untouched, ConditionalJump,
       Imm(), 0x1016},
      {"JmpToItself", 4, "\xEB\xFE", 2, "jmp 0x1000", Untouched, Jump, Imm(), 0x1000},
      {"JumpThroughTable", 4, "\xFF\x24\x85\x00\x00\x00\x00", 7, "jmpl *(,%eax,4)", Untouched, Jump,
       Imm(), None, None, true},
      {"Ud2", 4, "\x0F\x0B", 2, "ud2", Untouched, Stop, Imm()},
      {"Int3", 4, "\xCC", 1, "int3", Untouched, Stop, Imm()},
      {"Halt", 4, "\xF4", 1, "hlt", Untouched, Stop, Imm()},
      {"TestMemory", 4, "\xF6\x42\x05\x20", 4, "testb $32, 5(%edx)", Untouched, Next, Imm(32)},
      {"InByteFromDx", 4, "\xEC", 1, "inb %dx, %al", Untouched, Next, Imm(), None, Port(In, 1)},
      {"InWordFromDx", 4, "\x66\xED", 2, "inw %dx, %ax", Untouched, Next, Imm(), None, Port(In, 2)},
      {"InByteFromNamedPort", 4, "\xE4\x61", 2, "inb $97, %al", Untouched, Next, Imm(0x61), None,
       Port(In, 1, 0x61)},
      {"OutDwordToNamedPort", 4, "\xE7\x80", 2, "outl %eax, $128", Untouched, Next, Imm(0x80), None,
       Port(Out, 4, 0x80)},
      {"RepeatedOutString", 4, "\xF3\x6E", 2, "outsb (%esi), %dx", Untouched, Next, Imm(), None,
       Port(Out, 1, None, true)},
      {"NoInstruction", 4, "\xFF\xFF", 0, "", Untouched, Next, Imm()},
      {"EndsInside", 4, "\xE8\x01\x00", 0, "", Untouched, Next, Imm()},
      {"NoBytes", 4, "", 0, "", Untouched, Next, Imm()},
      {"PushRbp", 8, "\x55", 1, "pushq %rbp", Moves(-8), Next, Imm()},
      {"PushR12", 8, "\x41\x54", 2, "pushq %r12", Moves(-8), Next, Imm()},
      {"PopRbx", 8, "\x5B", 1, "popq %rbx", Moves(8), Next, Imm()},
      {"PushFlags64", 8, "\x9C", 1, "pushfq", Moves(-8), Next, Imm()},
      {"SubRsp", 8, "\x48\x83\xEC\x28", 4, "subq $40, %rsp", Moves(-40), Next, Imm(40)},
      {"AddRspWide", 8, "\x48\x81\xC4\x40\x01\x00\x00", 7, "addq $320, %rsp", Moves(320), Next,
       Imm(320)},
      {"SubEspOnX64", 8, "\x83\xEC\x10", 3, "subl $16, %esp", Unknown, Next, Imm(16)},
      {"MovToRsp", 8, "\x48\x89\xC4", 3, "movq %rax, %rsp", Unknown, Next, Imm()},
      {"Ret64", 8, "\xC3", 1, "retq", Moves(8), Return, Imm()},
      {"Call64", 8, "\xE8\x01\x00\x00\x00", 5, "callq 0x140001006", Moves(-8), Call, Imm(),
       0x140001006, None, false, 0x140001000},
      {"CallThroughMemory64", 8, "\xFF\x50\x18", 3, "callq *24(%rax)", Moves(-8), Call, Imm(), None,
       None, true},
      {"InByteFromDx64", 8, "\xEC", 1, "inb %dx, %al", Untouched, Next, Imm(), None, Port(In, 1)},
      {"InWordFromDx64", 8, "\x66\xED", 2, "inw %dx, %ax", Untouched, Next, Imm(), None,
       Port(In, 2)},
      {"OutByteToNamedPort64", 8, "\xE6\x80", 2, "outb %al, $128", Untouched, Next, Imm(0x80), None,
       Port(Out, 1, 0x80)},
      {"PushAllIsNoInstruction64", 8, "\x60", 0, "", Untouched, Next, Imm()},
  };
  const formats::X86Decoder Ia32(4), X64(8);
  const formats::InstructionLengths Ia32Lengths(4), X64Lengths(8);
  for (const DecodeCase &Each : Cases) {
    const bool Wide = Each.PointerSize == 8;
    const formats::X86Decoder &Decoder = Wide ? X64 : Ia32;
    const formats::Instruction Decoded = Decoder.decode(Each.Code.Bytes, Each.Address);
    EXPECT_EQ(Decoded.Address, Each.Address) << Each.Case;
    EXPECT_EQ(Decoded.Size, Each.Length) << Each.Case;
    EXPECT_EQ(formats::InstructionText(Decoded), Each.Text) << Each.Case;
    EXPECT_EQ(Decoded.Facts.Stack.How, Each.Stack.How) << Each.Case;
    EXPECT_EQ(Decoded.Facts.Stack.Delta, Each.Stack.Delta) << Each.Case;
    EXPECT_EQ(Decoded.Facts.Control, Each.Control) << Each.Case;
    EXPECT_EQ(Decoded.Facts.Target, Each.Target) << Each.Case;
    EXPECT_EQ(Decoded.Facts.TargetFromMemory, Each.TargetFromMemory) << Each.Case;
    EXPECT_EQ(Decoded.Facts.Port, Each.Ports) << Each.Case;
    EXPECT_EQ(Decoded.Facts.immediates(), Each.Immediates) << Each.Case;
    // The emulated machine's question gets the same answer without the text.
    const formats::InstructionShape Shape =
        (Wide ? X64Lengths : Ia32Lengths).shape(Each.Code.Bytes);
    EXPECT_EQ(Shape.Length, Each.Length) << Each.Case;
    EXPECT_EQ(Shape.Port, Each.Ports) << Each.Case;
    EXPECT_EQ((Wide ? X64Lengths : Ia32Lengths)(Each.Code.Bytes), Each.Length) << Each.Case;
  }
  // The emulated machine finds the port instruction of a block it runs: push %ebp;
  // mov $0xCF8, %edx; in (%dx), %eax; pop %ebp; ret, and no further past a byte that is none.
  const MachineCode Block("\x55\xBA\xF8\x0C\x00\x00\xED\x5D\xC3\xFF\xFF\xEC");
  EXPECT_EQ(Ia32Lengths.portInstructions(Block.Bytes),
            std::vector<formats::PortInstruction>({{6, 1, Port(In, 4)}}));
  // A listing goes on past a byte that starts no instruction, and the stack walk refuses it.
  const std::vector<formats::Instruction> Listed =
      X64.decodeAll(std::vector<std::uint8_t>{0x60, 0xC3}, 0x10);
  ASSERT_EQ(Listed.size(), 2u);
  EXPECT_EQ(Listed[0].Mnemonic, "<unknown>");
  EXPECT_EQ(Listed[0].Size, 1u);
  EXPECT_EQ(Listed[0].Facts.Stack.How, StackEffect::Kind::Unknown);
  EXPECT_EQ(formats::InstructionText(Listed[1]), "retq");
  EXPECT_EQ(Listed[1].Address, 0x11u);
}

} // namespace
