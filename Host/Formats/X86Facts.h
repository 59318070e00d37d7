// Inside Host/Formats: the facts of a decoded instruction, read from LLVM's description of its
// opcode (flags, implicit registers, operand kinds, the opcode's name) and its decoded operands.
#pragma once

#include "X86Instruction.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace llvm {
class MCInst;
class MCInstrInfo;
class MCRegisterInfo;
} // namespace llvm

namespace formats {

class FactReader {
public:
  FactReader(const llvm::MCInstrInfo &Instructions, const llvm::MCRegisterInfo &Registers,
             unsigned PointerSize);

  // The facts of Decoded, Size bytes long, whose first byte lies at Address.
  InstructionFacts read(const llvm::MCInst &Decoded, std::uint64_t Address,
                        std::uint64_t Size) const;
  // Its port access alone, for the emulated machine's question about a block it runs.
  std::optional<PortAccess> port(const llvm::MCInst &Decoded) const;

private:
  std::vector<Operand> operands(const llvm::MCInst &Decoded) const;
  Flow control(const llvm::MCInst &Decoded) const;
  StackEffect stack(const llvm::MCInst &Decoded, Flow Control,
                    const std::vector<Operand> &Operands) const;
  bool writesStackPointer(const llvm::MCInst &Decoded) const;
  std::int64_t atPointerWidth(std::int64_t Value) const;

  const llvm::MCInstrInfo &Instructions;
  const llvm::MCRegisterInfo &Registers;
  unsigned PointerSize;
  unsigned StackPointer = 0;  // ESP on IA-32, RSP on x86-64: the register a push moves
  unsigned WholeStackReg = 0; // RSP: every stack-pointer register (SP, ESP, SPL) lies in it
};

} // namespace formats
