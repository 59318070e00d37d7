// The code of one COFF object, decoded by the one x86 decoder (X86Decoder.h) and printed in AT&T
// syntax: its functions, their instructions and the relocation each instruction carries.
#pragma once

#include "X86Decoder.h"
#include "X86Instruction.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace formats {

struct Function {
  std::string Symbol;
  std::string Section;
  std::uint64_t Start = 0;
  std::vector<Instruction> Code; // empty for a second name at the same place
};

struct ObjectCode {
  std::string Path;
  unsigned PointerSize = 0; // 4 on IA-32, 8 on x86-64: the size of a pushed return address
  std::vector<Function> Functions;

  const Function *find(const std::string &Symbol) const;
  // The function whose code holds Address in Section.
  const Function *containing(const std::string &Section, std::uint64_t Address) const;
};

// Every code section of the object: each defined symbol starts a function that runs to the next
// symbol or the section's end (a section without a symbol at its start gets one of its own name).
// Throws ObjectError when the file is not an i386 or x86-64 COFF object.
ObjectCode DisassembleObject(const std::string &Path);

// Machine code as it lies in an image: the one decoder, under the name its first users know.
using CodeDecoder = X86Decoder;

// The lengths of raw x86 instructions, for code that lies in memory rather than in an object.
class InstructionLengths {
public:
  // PointerSize 4: IA-32 code, 8: x86-64 code.
  explicit InstructionLengths(unsigned PointerSize) : Decoder(PointerSize) {}

  // The length of the instruction Code starts with; 0 when its bytes are no instruction (or Code
  // ends inside it).
  std::size_t operator()(std::span<const std::uint8_t> Code) const {
    return Decoder.shape(Code).Length;
  }
  // Its length and, for an IN, OUT, INS or OUTS, the port access it makes.
  InstructionShape shape(std::span<const std::uint8_t> Code) const { return Decoder.shape(Code); }
  // The IN, OUT, INS and OUTS instructions of a block of code, with their offsets in it.
  std::vector<PortInstruction> portInstructions(std::span<const std::uint8_t> Code) const {
    return Decoder.portInstructions(Code);
  }

private:
  X86Decoder Decoder;
};

} // namespace formats
