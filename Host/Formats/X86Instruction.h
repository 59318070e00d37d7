// One decoded x86 instruction: its text as the listings print it (AT&T) and the facts LLVM's
// description of the instruction and its decoded operands give, so that no reader has to take the
// text apart to learn what the instruction does to the stack, the control flow or the I/O ports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace formats {

// Where execution goes after the instruction.
enum class Flow {
  Next,            // on to the following instruction
  Call,            // to the target, and back to the following instruction when it returns
  Return,          // back to the caller
  Jump,            // to the target only
  ConditionalJump, // to the target or on to the following instruction
  Stop,            // nowhere: the trap the compiler plants after a call that never returns, a halt
};

// What the instruction does to the stack pointer.
struct StackEffect {
  enum class Kind {
    None,    // leaves it alone
    Moves,   // adds Delta to it: a push or a call moves it down, a pop or a return up
    Unknown, // writes it some other way (a move, a mask, a push of every register, a far return)
  };
  Kind How = Kind::None;
  std::int64_t Delta = 0; // bytes, for Moves

  bool operator==(const StackEffect &) const = default;
};

enum class PortDirection { In, Out };

// An IN, OUT, INS or OUTS: the I/O-port access the instruction makes.
struct PortAccess {
  PortDirection Direction = PortDirection::In;
  unsigned Width = 0;                     // bytes moved per access: 1, 2 or 4
  std::optional<std::uint16_t> FixedPort; // the port the instruction names; none when DX holds it
  bool String = false;                    // INS/OUTS: the data comes from or goes to memory

  bool operator==(const PortAccess &) const = default;
};

// What a decoded operand is, by LLVM's description of the instruction's operand.
enum class OperandRole {
  Register,
  Immediate,
  Memory,       // one piece of an address: base, scale, index, displacement, segment
  BranchTarget, // a displacement from the following instruction
  Other,        // a condition code and the like
};

struct Operand {
  OperandRole Role = OperandRole::Other;
  std::int64_t Value = 0; // the register's number in LLVM's numbering, or the immediate

  bool operator==(const Operand &) const = default;
};

struct InstructionFacts {
  std::string Opcode; // LLVM's name of the instruction ("SUB32ri8"); empty when none decodes
  Flow Control = Flow::Next;
  std::optional<std::uint64_t> Target; // of a direct call or jump; none for an indirect one
  bool TargetFromMemory = false;       // an indirect call or jump reads its target from memory
  StackEffect Stack;
  std::optional<PortAccess> Port;
  std::vector<Operand> Operands; // in LLVM's order, the destination first

  // The immediate operands in LLVM's order (`ret $16` -> {16}, `testb $32, 5(%edx)` -> {32}).
  std::vector<std::int64_t> immediates() const {
    std::vector<std::int64_t> Values;
    for (const Operand &Each : Operands) {
      if (Each.Role == OperandRole::Immediate) {
        Values.push_back(Each.Value);
      }
    }
    return Values;
  }
};

struct Instruction {
  std::uint64_t Address = 0;             // section offset (an address for code in an image)
  std::string Mnemonic;                  // AT&T, with its size suffix (pushl, subq, calll)
  std::string Operands;                  // branch targets as addresses: "0x1f"
  std::optional<std::string> Relocation; // symbol the instruction refers to, when relocated
  std::uint64_t Size = 0;                // bytes
  InstructionFacts Facts;
};

// "rep stosl %eax, %es:(%edi)" as it is printed -> mnemonic "stosl" and its operands: prefixes
// are dropped, and so is a trailing "# comment".
void SplitInstructionText(const std::string &Text, Instruction &Into);

// "subl $16, %esp": the mnemonic and its operands as one line.
std::string InstructionText(const Instruction &Each);

} // namespace formats
