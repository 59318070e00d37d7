// The code of one object file as llvm-objdump prints it with `-d -r`: functions, their
// instructions and the relocation each instruction carries.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace stack {

class AnalysisError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct Instruction {
  std::uint64_t Address = 0;             // section offset
  std::string Mnemonic;                  // AT&T, with its size suffix (pushl, subq, calll)
  std::string Operands;                  // comments removed
  std::optional<std::string> Relocation; // symbol the instruction refers to, when relocated
};

struct Function {
  std::string Symbol;
  std::string Section;
  std::uint64_t Start = 0;
  std::vector<Instruction> Code;
};

struct ObjectCode {
  std::string Path;
  unsigned PointerSize = 0; // 4 on IA-32, 8 on x86-64: the size of a pushed return address
  std::vector<Function> Functions;

  const Function *find(const std::string &Symbol) const;
  // The function whose code holds Address in Section.
  const Function *containing(const std::string &Section, std::uint64_t Address) const;
};

// Parses the text of `llvm-objdump -d -r --no-show-raw-insn` for one COFF object.
ObjectCode ParseDisassembly(const std::string &Path, const std::string &Text);

} // namespace stack
