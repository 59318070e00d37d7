// The stack walk on small hand-written objects, their code decoded from the machine code a compiler
// emits for it: what a chain costs, and every case where the tool must refuse rather than
// undercount.
#include "CallChain.h"
#include "Disassembly.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace {

// One function: each entry is an instruction at Start + index. "call SYM" and "jmp SYM" carry
// a relocation to SYM; "jne #N" branches to the function's instruction N.
struct Fn {
  std::string Symbol;
  std::vector<std::string> Code;
};

using Bytes = std::vector<std::uint8_t>;

// The machine code of every instruction the functions here are written in, as a compiler emits
// it; the decoder must print each as written.
const std::map<std::string, Bytes> Encodings = {
    {"pushl %esi", {0x56}},
    {"popl %esi", {0x5E}},
    {"popl %ecx", {0x59}},
    {"pushl %ebx", {0x53}},
    {"popl %ebx", {0x5B}},
    {"pushl $0", {0x6A, 0x00}},
    {"pushl $1", {0x6A, 0x01}},
    {"pushl $2", {0x6A, 0x02}},
    {"pushal", {0x60}},
    {"popal", {0x61}},
    {"subl $8, %esp", {0x83, 0xEC, 0x08}},
    {"subl $10, %esp", {0x83, 0xEC, 0x0A}},
    {"subl $12, %esp", {0x83, 0xEC, 0x0C}},
    {"subl $20, %esp", {0x83, 0xEC, 0x14}},
    {"subl $100, %esp", {0x83, 0xEC, 0x64}},
    {"addl $8, %esp", {0x83, 0xC4, 0x08}},
    {"addl $10, %esp", {0x83, 0xC4, 0x0A}},
    {"addl $12, %esp", {0x83, 0xC4, 0x0C}},
    {"addl $20, %esp", {0x83, 0xC4, 0x14}},
    {"addl $100, %esp", {0x83, 0xC4, 0x64}},
    {"andl $-16, %esp", {0x83, 0xE4, 0xF0}},
    {"cmpl $1, %eax", {0x83, 0xF8, 0x01}},
    {"calll *%eax", {0xFF, 0xD0}},
    {"jmpl *%eax", {0xFF, 0xE0}},
    {"jmpl *(,%eax,4)", {0xFF, 0x24, 0x85, 0x00, 0x00, 0x00, 0x00}},
    {"retl", {0xC3}},
    {"retl $4", {0xC2, 0x04, 0x00}},
    {"retl $16", {0xC2, 0x10, 0x00}},
    {"subq $40, %rsp", {0x48, 0x83, 0xEC, 0x28}},
    {"addq $40, %rsp", {0x48, 0x83, 0xC4, 0x28}},
    {"pushq %rbx", {0x53}},
    {"popq %rbx", {0x5B}},
    {"retq", {0xC3}},
};

// The opcode bytes of the branches with a 32-bit displacement the functions here take.
const std::map<std::string, Bytes> BranchOpcodes = {{"call", {0xE8}},
                                                    {"jmp", {0xE9}},
                                                    {"ja", {0x0F, 0x87}},
                                                    {"je", {0x0F, 0x84}},
                                                    {"jne", {0x0F, 0x85}}};
constexpr unsigned DisplacementBytes = 4;
constexpr unsigned BitsPerByte = 8;

// The branch Op at Address to Target.
Bytes Branch(const std::string &Op, std::uint64_t Address, std::uint64_t Target) {
  Bytes Code = BranchOpcodes.at(Op);
  const std::uint64_t Next = Address + Code.size() + DisplacementBytes;
  const auto Displacement = static_cast<std::uint32_t>(Target - Next);
  for (unsigned Byte = 0; Byte < DisplacementBytes; ++Byte) {
    Code.push_back(static_cast<std::uint8_t>(Displacement >> (BitsPerByte * Byte)));
  }
  return Code;
}

// The object's code as the disassembly gives it, one section holding the functions in order.
stack::ObjectCode Object(const std::vector<Fn> &Functions, unsigned PointerSize = 4) {
  const formats::X86Decoder Decoder(PointerSize);
  stack::ObjectCode Out;
  Out.Path = "t.o";
  Out.PointerSize = PointerSize;
  std::uint64_t Start = 0;
  for (const Fn &Each : Functions) {
    stack::Function Code;
    Code.Symbol = Each.Symbol;
    Code.Section = ".text";
    Code.Start = Start;
    for (std::size_t I = 0; I < Each.Code.size(); ++I) {
      const std::string &Insn = Each.Code[I];
      const auto Space = Insn.find(' ');
      const std::string Op = Insn.substr(0, Space);
      const std::string Arg = Space == std::string::npos ? "" : Insn.substr(Space + 1);
      const std::uint64_t Address = Start + I;
      const bool ToInstruction = !Arg.empty() && Arg[0] == '#';
      const bool Relocated =
          (Op == "call" || Op == "jmp") && !Arg.empty() && Arg[0] != '*' && !ToInstruction;
      Bytes Machine;
      if (Relocated) {
        Machine = Branch(Op, Address, Address); // the linker fills the displacement in
      } else if (ToInstruction) {
        Machine = Branch(Op, Address, Start + std::stoul(Arg.substr(1)));
      } else {
        Machine = Encodings.at(Insn);
      }
      stack::Instruction Line = Decoder.decode(Machine, Address);
      if (Line.Size != Machine.size() ||
          (!Relocated && !ToInstruction && formats::InstructionText(Line) != Insn)) {
        ADD_FAILURE() << Insn << " decodes as " << formats::InstructionText(Line);
      }
      if (Relocated) {
        Line.Relocation = Arg;
      } else if (Op == "jmpl" && Arg.find("(,") != std::string::npos) {
        Line.Relocation = ".rdata"; // the jump table
      }
      Code.Code.push_back(std::move(Line));
    }
    Out.Functions.push_back(std::move(Code));
    Start += Each.Code.size() + 16;
  }
  return Out;
}

std::map<std::string, stack::UsageRecord> Usage(std::map<std::string, std::uint64_t> Frames,
                                                const std::string &Qualifier = "static") {
  std::map<std::string, stack::UsageRecord> Out;
  for (const auto &[Name, Bytes] : Frames) {
    Out[Name] = {Bytes, Qualifier};
  }
  return Out;
}

std::uint64_t Worst(const std::vector<Fn> &Functions, std::map<std::string, std::uint64_t> Frames,
                    stack::Rules Limits = {}, unsigned PointerSize = 4) {
  stack::Program Program;
  Program.addObject(Object(Functions, PointerSize), Usage(Frames));
  return Program.worstChain("Entry", Limits).Total;
}

const Fn Leaf20 = {"?Leaf@@YAXXZ", {"subl $20, %esp", "addl $20, %esp", "retl"}};

TEST(StackChain, ArgumentsPushedForACallCountAboveTheCompilersFrame) {
  // The compiler records 4 bytes for Entry, but 12 are below its return address at the call.
  const Fn Entry = {"_Entry",
                    {"pushl %esi", "pushl $1", "pushl $2", "call ?Leaf@@YAXXZ", "addl $8, %esp",
                     "popl %esi", "retl"}};
  EXPECT_EQ(Worst({Entry, Leaf20}, {{"Entry", 4}, {"?Leaf@@YAXXZ", 20}}), 4 + 12 + 4 + 20u);
}

TEST(StackChain, CalleePoppedArgumentsAreReleasedAtTheReturn) {
  const Fn Divide = {"__aulldiv", {"pushl %ebx", "popl %ebx", "retl $16"}};
  const Fn Entry = {"_Entry",
                    {"pushl $0", "pushl $0", "pushl $0", "pushl $0", "call __aulldiv",
                     "call ?Leaf@@YAXXZ", "retl"}};
  EXPECT_EQ(Worst({Entry, Divide, Leaf20}, {{"Entry", 0}, {"__aulldiv", 4}, {"?Leaf@@YAXXZ", 20}}),
            4 + 0 + 4 + 20u);
}

TEST(StackChain, CompilersFrameCountsWhenDeeperThanTheCodeShows) {
  const Fn Entry = {"_Entry", {"pushl %esi", "popl %esi", "retl"}};
  EXPECT_EQ(Worst({Entry}, {{"Entry", 100}}), 4 + 100u);
}

TEST(StackChain, TailJumpReusesTheCallersReturnAddress) {
  const Fn Entry = {"_Entry", {"subl $8, %esp", "addl $8, %esp", "jmp ?Leaf@@YAXXZ"}};
  EXPECT_EQ(Worst({Entry, Leaf20}, {{"Entry", 8}, {"?Leaf@@YAXXZ", 20}}), 4 + 20u);
}

TEST(StackChain, JumpTableTargetsAreWalkedAtTheTablesDepth) {
  // Instructions 4 and 6 are reached only through the table, the first with a call.
  const Fn Entry = {"_Entry",
                    {"pushl %esi", "cmpl $1, %eax", "ja #6", "jmpl *(,%eax,4)", "call ?Leaf@@YAXXZ",
                     "jmp #6", "popl %esi", "retl"}};
  EXPECT_EQ(Worst({Entry, Leaf20}, {{"Entry", 4}, {"?Leaf@@YAXXZ", 20}}), 4 + 4 + 4 + 20u);
}

TEST(StackChain, ReturnAddressesAreEightBytesOnX64) {
  const Fn Entry = {"Entry", {"subq $40, %rsp", "call ?Leaf@@YAXXZ", "addq $40, %rsp", "retq"}};
  const Fn Leaf = {"?Leaf@@YAXXZ", {"pushq %rbx", "popq %rbx", "retq"}};
  EXPECT_EQ(Worst({Entry, Leaf}, {{"Entry", 40}, {"?Leaf@@YAXXZ", 8}}, {}, 8), 8 + 40 + 8 + 8u);
}

// Entry -> V -> B -> V ...: V 100 bytes, B 10 bytes, each call pushing 4.
const std::vector<Fn> Nesting = {
    {"_Entry", {"call ?V@@YAXXZ", "retl"}},
    {"?V@@YAXXZ", {"subl $100, %esp", "call ?B@@YAXXZ", "addl $100, %esp", "retl"}},
    {"?B@@YAXXZ", {"subl $10, %esp", "call ?V@@YAXXZ", "addl $10, %esp", "retl"}},
};
const std::map<std::string, std::uint64_t> NestingFrames = {
    {"Entry", 0}, {"?V@@YAXXZ", 100}, {"?B@@YAXXZ", 10}};

TEST(StackChain, BoundedNestingIsCountedToItsDepth) {
  stack::Rules Once, Twice;
  Once.MaxNesting["V"] = 1;
  Twice.MaxNesting["V"] = 2;
  EXPECT_EQ(Worst(Nesting, NestingFrames, Once), 4 + 4 + 104 + 10u);
  EXPECT_EQ(Worst(Nesting, NestingFrames, Twice), 4 + 4 + 104 + 14 + 104 + 10u);
}

TEST(StackChain, ServiceCallCountsItsReturnAddressWhenDeclared) {
  const std::vector<Fn> Code = {
      {"_Entry", {"subl $12, %esp", "calll *%eax", "addl $12, %esp", "retl"}}};
  stack::Rules Declared;
  Declared.ServiceCallers.insert("Entry");
  EXPECT_EQ(Worst(Code, {{"Entry", 12}}, Declared), 4 + 12 + 4u);
}

struct Refusal {
  const char *Case;
  std::vector<Fn> Code;
  std::map<std::string, std::uint64_t> Frames;
  const char *Message;
  const char *Qualifier = "static";
  std::vector<std::vector<Fn>> OtherObjects = {}; // more objects of the module, when needed
};

class StackRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(StackRefusal, FailsNamingTheCause) {
  const Refusal &Case = GetParam();
  stack::Program Program;
  try {
    Program.addObject(Object(Case.Code), Usage(Case.Frames, Case.Qualifier));
    for (const std::vector<Fn> &Other : Case.OtherObjects) {
      stack::ObjectCode Code = Object(Other);
      Code.Path = "u.o";
      Program.addObject(std::move(Code), Usage(Case.Frames, Case.Qualifier));
    }
    Program.worstChain("Entry", {});
    FAIL() << "no error";
  } catch (const stack::AnalysisError &Error) {
    EXPECT_NE(std::string(Error.what()).find(Case.Message), std::string::npos) << Error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StackRefusal,
    ::testing::Values(
        Refusal{"UnboundedRecursion", Nesting, NestingFrames,
                "recursion without a declared bound: V -> B -> V"},
        Refusal{"UndeclaredPointerCall",
                {{"_Entry", {"calll *%eax", "retl"}}},
                {{"Entry", 0}},
                "calls through a pointer"},
        Refusal{"PointerJumpOutOfTheFunction",
                {{"_Entry", {"jmpl *%eax"}}},
                {{"Entry", 0}},
                "calls through a pointer"},
        Refusal{"CallOutsideTheObjects",
                {{"_Entry", {"call ?Gone@@YAXXZ", "retl"}}},
                {{"Entry", 0}},
                "Entry calls Gone, which none of the module's objects defines"},
        Refusal{"RealignedStack",
                {{"_Entry", {"andl $-16, %esp", "retl"}}},
                {{"Entry", 0}},
                "cannot be followed"},
        Refusal{"PushOfAllRegisters",
                {{"_Entry", {"pushal", "popal", "retl"}}},
                {{"Entry", 0}},
                "cannot be followed"},
        Refusal{"FrameKeptAtReturn",
                {{"_Entry", {"pushl %esi", "retl"}}},
                {{"Entry", 4}},
                "returns with its frame not released"},
        Refusal{"DepthsDisagreeAtAJoin",
                {{"_Entry", {"je #2", "pushl %esi", "popl %ecx", "retl"}}},
                {{"Entry", 4}},
                "two different depths"},
        Refusal{"NoCompilerRecord", {{"_Entry", {"retl"}}}, {}, "no stack-usage record for Entry"},
        // Two other objects keep their own copy of one helper; the first pops nothing.
        Refusal{"DefinitionsPopDifferentSizes",
                {{"_Entry", {"pushl $0", "call _Helper", "retl"}}},
                {{"Entry", 0}, {"Helper", 0}},
                "the definitions of Helper pop different argument sizes",
                "static",
                {{{"_Helper", {"retl"}}}, {{"_Helper", {"retl $4"}}}}},
        Refusal{
            "VariableFrame", {{"_Entry", {"retl"}}}, {{"Entry", 0}}, "dynamic frame", "dynamic"}),
    [](const auto &Info) { return std::string(Info.param.Case); });

TEST(StackUsageRecords, ReadNamesPathsAndAssemblyMarkers) {
  const auto Records = stack::ParseStackUsage(
      "x.su", "/src/a.cpp:8:Entry\t4\tstatic\n/src/b.cpp:35:\x01__aulldiv\t32\tstatic\n");
  ASSERT_EQ(Records.size(), 2u);
  EXPECT_EQ(Records.at("Entry").Bytes, 4u);
  EXPECT_EQ(Records.at("__aulldiv").Bytes, 32u);
  EXPECT_THROW(stack::ParseStackUsage("x.su", "garbage line\n"), stack::AnalysisError);
}

} // namespace
