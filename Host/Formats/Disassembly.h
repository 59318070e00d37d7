// The code of one COFF object, disassembled with LLVM's x86 disassembler and printed in AT&T
// syntax: its functions, their instructions and the relocation each instruction carries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace formats {

struct Instruction {
  std::uint64_t Address = 0;             // section offset (an address for DisassembleCode)
  std::string Mnemonic;                  // AT&T, with its size suffix (pushl, subq, calll)
  std::string Operands;                  // branch targets as section offsets: "0x1f"
  std::optional<std::string> Relocation; // symbol the instruction refers to, when relocated
  std::uint64_t Size = 0;                // bytes
};

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

class X86Printer;

// Machine code as it lies in an image, decoded for IA-32 (PointerSize 4) or x86-64 (8) by one
// disassembler set up once. Addresses and branch targets are absolute; a byte that starts no
// instruction is one "<unknown>" byte.
class CodeDecoder {
public:
  explicit CodeDecoder(unsigned PointerSize);
  ~CodeDecoder();
  CodeDecoder(const CodeDecoder &) = delete;
  CodeDecoder &operator=(const CodeDecoder &) = delete;

  // The instruction at the start of Bytes, whose first byte lies at Address.
  Instruction decode(const std::vector<std::uint8_t> &Bytes, std::uint64_t Address) const;
  // Every instruction of Bytes, one after another.
  std::vector<Instruction> decodeAll(const std::vector<std::uint8_t> &Bytes,
                                     std::uint64_t Address) const;

private:
  std::unique_ptr<X86Printer> Printer;
};

// "rep stosl %eax, %es:(%edi)" as it is printed -> mnemonic "stosl" and its operands: prefixes
// are dropped, and so is a trailing "# comment".
void SplitInstructionText(const std::string &Text, Instruction &Into);

// The lengths of raw x86 instructions, for code that lies in memory rather than in an object.
class InstructionLengths {
public:
  // PointerSize 4: IA-32 code, 8: x86-64 code.
  explicit InstructionLengths(unsigned PointerSize);
  ~InstructionLengths();
  InstructionLengths(const InstructionLengths &) = delete;
  InstructionLengths &operator=(const InstructionLengths &) = delete;

  // The length of the instruction Code starts with; 0 when its bytes are no instruction (or Code
  // ends inside it).
  std::size_t operator()(std::span<const std::uint8_t> Code) const;

private:
  struct Decoder;
  std::unique_ptr<Decoder> Decoder_;
};

} // namespace formats
