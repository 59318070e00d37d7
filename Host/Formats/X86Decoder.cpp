#include "X86Decoder.h"

#include "ObjectFile.h"
#include "X86Facts.h"

#include <llvm/ADT/Triple.h>
#include <llvm/MC/MCAsmInfo.h>
#include <llvm/MC/MCContext.h>
#include <llvm/MC/MCDisassembler/MCDisassembler.h>
#include <llvm/MC/MCInst.h>
#include <llvm/MC/MCInstPrinter.h>
#include <llvm/MC/MCInstrInfo.h>
#include <llvm/MC/MCRegisterInfo.h>
#include <llvm/MC/MCSubtargetInfo.h>
#include <llvm/MC/MCTargetOptions.h>
#include <llvm/MC/TargetRegistry.h>
#include <llvm/Support/TargetSelect.h>
#include <llvm/Support/raw_ostream.h>

#include <mutex>
#include <sstream>

namespace formats {
namespace {

constexpr unsigned Ia32PointerSize = 4;
constexpr unsigned X64PointerSize = 8;
// The AT&T dialect of LLVM's x86 printers.
constexpr unsigned AttSyntax = 0;
// What a byte that starts no instruction is listed as.
constexpr const char *UnknownInstruction = "<unknown>";

// The object format does not change how x86 code decodes; only the machine does.
std::string TripleFor(unsigned PointerSize) {
  if (PointerSize == Ia32PointerSize) {
    return "i386-pc-windows-coff";
  }
  if (PointerSize == X64PointerSize) {
    return "x86_64-pc-windows-coff";
  }
  throw ObjectError("no x86 machine has pointers of " + std::to_string(PointerSize) + " bytes");
}

// Prefixes the printer writes as their own word in front of the instruction they modify.
bool IsPrefix(const std::string &Word) {
  return Word == "rep" || Word == "repe" || Word == "repne" || Word == "lock" ||
         Word == "notrack" || Word == "data16";
}

std::string TrimmedOperands(std::string Text) {
  const auto Hash = Text.find('#');
  if (Hash != std::string::npos) {
    Text.erase(Hash);
  }
  const auto First = Text.find_first_not_of(" \t\n");
  return First == std::string::npos
             ? std::string()
             : Text.substr(First, Text.find_last_not_of(" \t\n") - First + 1);
}

} // namespace

// LLVM's x86 disassembler, AT&T printer and the reader of facts, for one machine.
struct X86Decoder::Machine {
  explicit Machine(unsigned PointerSize) : PointerSize(PointerSize), Name(TripleFor(PointerSize)) {
    static std::once_flag Registered;
    std::call_once(Registered, [] {
      LLVMInitializeX86TargetInfo();
      LLVMInitializeX86TargetMC();
      LLVMInitializeX86Disassembler();
    });
    const llvm::Triple Triple(Name);
    std::string Error;
    const llvm::Target *Target = llvm::TargetRegistry::lookupTarget(Name, Error);
    if (Target == nullptr) {
      throw ObjectError("no x86 disassembler for " + Name);
    }
    Registers.reset(Target->createMCRegInfo(Name));
    Assembly.reset(Target->createMCAsmInfo(*Registers, Name, llvm::MCTargetOptions()));
    Subtarget.reset(Target->createMCSubtargetInfo(Name, "", ""));
    Instructions.reset(Target->createMCInstrInfo());
    Context =
        std::make_unique<llvm::MCContext>(Triple, Assembly.get(), Registers.get(), Subtarget.get());
    Decoder.reset(Target->createMCDisassembler(*Subtarget, *Context));
    Printer.reset(
        Target->createMCInstPrinter(Triple, AttSyntax, *Assembly, *Instructions, *Registers));
    if (!Decoder || !Printer) {
      throw ObjectError("no x86 disassembler for " + Name);
    }
    Printer->setPrintBranchImmAsAddress(true);
    Facts = std::make_unique<FactReader>(*Instructions, *Registers, PointerSize);
  }

  // Decodes the instruction Bytes starts with into Decoded; 0 when there is none.
  std::uint64_t decode(std::span<const std::uint8_t> Bytes, std::uint64_t Address,
                       llvm::MCInst &Decoded) const {
    std::uint64_t Size = 0;
    return Decoder->getInstruction(Decoded, Size,
                                   llvm::ArrayRef<std::uint8_t>(Bytes.data(), Bytes.size()),
                                   Address, llvm::nulls()) == llvm::MCDisassembler::Success
               ? Size
               : 0;
  }

  std::string text(const llvm::MCInst &Decoded, std::uint64_t Address, std::uint64_t Size) const {
    std::string Text;
    llvm::raw_string_ostream Out(Text);
    // x86 branches are relative to the next instruction: the printer adds their displacement
    // to the address it is given.
    Printer->printInst(&Decoded, Address + Size, "", *Subtarget, Out);
    return Out.str();
  }

  unsigned PointerSize;
  std::string Name;
  std::unique_ptr<llvm::MCRegisterInfo> Registers;
  std::unique_ptr<llvm::MCAsmInfo> Assembly;
  std::unique_ptr<llvm::MCSubtargetInfo> Subtarget;
  std::unique_ptr<llvm::MCInstrInfo> Instructions;
  std::unique_ptr<llvm::MCContext> Context;
  std::unique_ptr<llvm::MCDisassembler> Decoder;
  std::unique_ptr<llvm::MCInstPrinter> Printer;
  std::unique_ptr<FactReader> Facts;
};

X86Decoder::X86Decoder(unsigned PointerSize) : Machine_(std::make_unique<Machine>(PointerSize)) {}

X86Decoder::~X86Decoder() = default;

unsigned X86Decoder::pointerSize() const {
  return Machine_->PointerSize;
}

Instruction X86Decoder::decode(std::span<const std::uint8_t> Bytes, std::uint64_t Address) const {
  Instruction Result;
  Result.Address = Address;
  llvm::MCInst Decoded;
  const std::uint64_t Size = Machine_->decode(Bytes, Address, Decoded);
  if (Size == 0) {
    return Result;
  }
  Result.Size = Size;
  SplitInstructionText(Machine_->text(Decoded, Address, Size), Result);
  Result.Facts = Machine_->Facts->read(Decoded, Address, Size);
  return Result;
}

std::vector<Instruction> X86Decoder::decodeAll(std::span<const std::uint8_t> Bytes,
                                               std::uint64_t Address) const {
  std::vector<Instruction> Code;
  for (std::uint64_t Offset = 0; Offset < Bytes.size();) {
    Instruction Each = decode(Bytes.subspan(Offset), Address + Offset);
    if (Each.Size == 0) {
      Each.Size = 1;
      Each.Mnemonic = UnknownInstruction;
      Each.Facts.Stack.How = StackEffect::Kind::Unknown;
    }
    Offset += Each.Size;
    Code.push_back(std::move(Each));
  }
  return Code;
}

InstructionShape X86Decoder::shape(std::span<const std::uint8_t> Bytes) const {
  llvm::MCInst Decoded;
  InstructionShape Result;
  Result.Length = Machine_->decode(Bytes, 0, Decoded);
  if (Result.Length != 0) {
    Result.Port = Machine_->Facts->port(Decoded);
  }
  return Result;
}

std::vector<PortInstruction>
X86Decoder::portInstructions(std::span<const std::uint8_t> Code) const {
  std::vector<PortInstruction> Found;
  for (std::size_t Offset = 0; Offset < Code.size();) {
    const InstructionShape Each = shape(Code.subspan(Offset));
    if (Each.Length == 0) {
      break;
    }
    if (Each.Port) {
      Found.push_back({Offset, Each.Length, *Each.Port});
    }
    Offset += Each.Length;
  }
  return Found;
}

void SplitInstructionText(const std::string &Text, Instruction &Into) {
  std::string Rest = Text;
  do {
    std::istringstream Words(Rest);
    Words >> Into.Mnemonic;
    Rest.clear(); // getline leaves it as it was when nothing follows the mnemonic
    std::getline(Words, Rest, '\0');
    Rest = TrimmedOperands(Rest);
  } while (IsPrefix(Into.Mnemonic) && !Rest.empty());
  Into.Operands = Rest;
}

std::string InstructionText(const Instruction &Each) {
  return Each.Operands.empty() ? Each.Mnemonic : Each.Mnemonic + " " + Each.Operands;
}

} // namespace formats
