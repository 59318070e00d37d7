#include "X86Facts.h"

#include "ObjectFile.h"

#include <llvm/MC/MCInst.h>
#include <llvm/MC/MCInstrDesc.h>
#include <llvm/MC/MCInstrInfo.h>
#include <llvm/MC/MCRegisterInfo.h>

#include <algorithm>
#include <charconv>
#include <string_view>

namespace formats {
namespace {

constexpr unsigned BitsPerByte = 8;
constexpr unsigned WideMachinePointerSize = 8;
constexpr std::uint64_t NarrowAddressMask = 0xFFFFFFFF;

// LLVM's names of the port instructions: which way the data goes, how many bytes, whether the
// instruction names the port in an immediate (otherwise DX holds it), whether memory takes part.
struct PortForm {
  std::string_view Opcode;
  PortDirection Direction;
  unsigned Width;
  bool NamesPort;
  bool String;
};
constexpr PortForm PortForms[] = {
    {"IN8ri", PortDirection::In, 1, true, false},
    {"IN16ri", PortDirection::In, 2, true, false},
    {"IN32ri", PortDirection::In, 4, true, false},
    {"IN8rr", PortDirection::In, 1, false, false},
    {"IN16rr", PortDirection::In, 2, false, false},
    {"IN32rr", PortDirection::In, 4, false, false},
    {"OUT8ir", PortDirection::Out, 1, true, false},
    {"OUT16ir", PortDirection::Out, 2, true, false},
    {"OUT32ir", PortDirection::Out, 4, true, false},
    {"OUT8rr", PortDirection::Out, 1, false, false},
    {"OUT16rr", PortDirection::Out, 2, false, false},
    {"OUT32rr", PortDirection::Out, 4, false, false},
    {"INSB", PortDirection::In, 1, false, true},
    {"INSW", PortDirection::In, 2, false, true},
    {"INSL", PortDirection::In, 4, false, true},
    {"OUTSB", PortDirection::Out, 1, false, true},
    {"OUTSW", PortDirection::Out, 2, false, true},
    {"OUTSL", PortDirection::Out, 4, false, true},
};

// LLVM marks ud2 a trap, but not the int3 compilers pad with after a call that never returns,
// nor hlt; the code goes on after none of them.
constexpr std::string_view StopOpcodes[] = {"INT3", "HLT"};

// The near calls, returns, pushes and pops: LLVM names each by its family and then the size in
// bits of what it moves (CALLpcrel32, CALL64r, RET32, RETI64, PUSH32r, PUSHi32, PUSHF64,
// POP16rmm). Far calls and returns (FARCALL, LRET, IRET) are of no family and stay unknown.
struct StackFamily {
  std::string_view Prefix;
  int Direction; // -1: the stack pointer moves down
};
constexpr StackFamily CallFamily = {"CALL", -1};
constexpr StackFamily ReturnFamily = {"RET", +1};
constexpr StackFamily PushPopFamilies[] = {{"PUSH", -1}, {"POP", +1}};
// Pushes and pops of every general register at once, which move more than their size says.
constexpr std::string_view AllRegisterForms[] = {"PUSHA", "POPA"};
// Adding an immediate to the stack pointer, or taking one from it, moves it by that much.
constexpr StackFamily ArithmeticFamilies[] = {{"ADD", +1}, {"SUB", -1}};
constexpr unsigned OperandSizesInBits[] = {16, 32, 64};

bool StartsWith(std::string_view Name, std::string_view Prefix) {
  return Name.substr(0, Prefix.size()) == Prefix;
}

// The bytes an opcode of Family moves, from the first size in bits of its name.
std::optional<std::int64_t> FamilyBytes(std::string_view Name, const StackFamily &Family) {
  if (!StartsWith(Name, Family.Prefix)) {
    return std::nullopt;
  }
  const auto Digit = Name.find_first_of("0123456789");
  unsigned Bits = 0;
  if (Digit == std::string_view::npos ||
      std::from_chars(Name.data() + Digit, Name.data() + Name.size(), Bits).ec != std::errc() ||
      std::find(std::begin(OperandSizesInBits), std::end(OperandSizesInBits), Bits) ==
          std::end(OperandSizesInBits)) {
    return std::nullopt;
  }
  return Family.Direction * static_cast<std::int64_t>(Bits / BitsPerByte);
}

StackEffect Moves(std::int64_t Delta) {
  return {StackEffect::Kind::Moves, Delta};
}

constexpr StackEffect Unknown = {StackEffect::Kind::Unknown, 0};

unsigned RegisterNamed(const llvm::MCRegisterInfo &Registers, std::string_view Name) {
  for (unsigned Each = 1; Each < Registers.getNumRegs(); ++Each) {
    if (Name == Registers.getName(Each)) {
      return Each;
    }
  }
  throw ObjectError("the x86 decoder knows no register " + std::string(Name));
}

} // namespace

FactReader::FactReader(const llvm::MCInstrInfo &Instructions, const llvm::MCRegisterInfo &Registers,
                       unsigned PointerSize)
    : Instructions(Instructions), Registers(Registers), PointerSize(PointerSize),
      StackPointer(RegisterNamed(Registers, PointerSize == WideMachinePointerSize ? "RSP" : "ESP")),
      WholeStackReg(RegisterNamed(Registers, "RSP")) {}

InstructionFacts FactReader::read(const llvm::MCInst &Decoded, std::uint64_t Address,
                                  std::uint64_t Size) const {
  const llvm::MCInstrDesc &Description = Instructions.get(Decoded.getOpcode());
  InstructionFacts Facts;
  Facts.Opcode = Instructions.getName(Decoded.getOpcode()).str();
  Facts.Operands = operands(Decoded);
  Facts.Control = control(Decoded);
  const bool Transfers = Facts.Control == Flow::Call || Facts.Control == Flow::Jump ||
                         Facts.Control == Flow::ConditionalJump;
  const auto Displacement =
      std::find_if(Facts.Operands.begin(), Facts.Operands.end(),
                   [](const Operand &Each) { return Each.Role == OperandRole::BranchTarget; });
  if (Transfers && Displacement != Facts.Operands.end()) {
    // x86 branches are relative to the following instruction, and wrap at the address size.
    const std::uint64_t Target = Address + Size + static_cast<std::uint64_t>(Displacement->Value);
    Facts.Target = PointerSize == WideMachinePointerSize ? Target : Target & NarrowAddressMask;
  }
  Facts.TargetFromMemory = Transfers && !Facts.Target && Description.mayLoad();
  Facts.Stack = stack(Decoded, Facts.Control, Facts.Operands);
  Facts.Port = port(Decoded);
  return Facts;
}

std::optional<PortAccess> FactReader::port(const llvm::MCInst &Decoded) const {
  const std::string_view Name = Instructions.getName(Decoded.getOpcode());
  const auto Form = std::find_if(std::begin(PortForms), std::end(PortForms),
                                 [&](const PortForm &Each) { return Each.Opcode == Name; });
  if (Form == std::end(PortForms)) {
    return std::nullopt;
  }
  PortAccess Access;
  Access.Direction = Form->Direction;
  Access.Width = Form->Width;
  Access.String = Form->String;
  if (Form->NamesPort) {
    for (const Operand &Each : operands(Decoded)) {
      if (Each.Role == OperandRole::Immediate) {
        Access.FixedPort = static_cast<std::uint16_t>(Each.Value);
      }
    }
  }
  return Access;
}

std::vector<Operand> FactReader::operands(const llvm::MCInst &Decoded) const {
  const llvm::MCInstrDesc &Description = Instructions.get(Decoded.getOpcode());
  std::vector<Operand> Result;
  for (unsigned Index = 0; Index < Decoded.getNumOperands(); ++Index) {
    const llvm::MCOperand &Each = Decoded.getOperand(Index);
    const std::uint8_t Kind = Index < Description.getNumOperands()
                                  ? Description.OpInfo[Index].OperandType
                                  : static_cast<std::uint8_t>(llvm::MCOI::OPERAND_UNKNOWN);
    Operand Read;
    Read.Role = Kind == llvm::MCOI::OPERAND_MEMORY                      ? OperandRole::Memory
                : Each.isReg()                                          ? OperandRole::Register
                : Kind == llvm::MCOI::OPERAND_IMMEDIATE && Each.isImm() ? OperandRole::Immediate
                : Kind == llvm::MCOI::OPERAND_PCREL && Each.isImm()     ? OperandRole::BranchTarget
                                                                        : OperandRole::Other;
    Read.Value = Each.isReg()   ? static_cast<std::int64_t>(Each.getReg())
                 : Each.isImm() ? Each.getImm()
                                : 0;
    Result.push_back(Read);
  }
  return Result;
}

Flow FactReader::control(const llvm::MCInst &Decoded) const {
  const llvm::MCInstrDesc &Description = Instructions.get(Decoded.getOpcode());
  const std::string_view Name = Instructions.getName(Decoded.getOpcode());
  if (Description.isCall()) {
    return Flow::Call;
  }
  if (Description.isReturn()) {
    return Flow::Return;
  }
  if (Description.isBranch()) {
    // A branch the code never falls through (jmp) is a barrier; jcc, jecxz and loop fall through.
    return Description.isBarrier() ? Flow::Jump : Flow::ConditionalJump;
  }
  if (Description.isTrap() ||
      std::find(std::begin(StopOpcodes), std::end(StopOpcodes), Name) != std::end(StopOpcodes)) {
    return Flow::Stop;
  }
  return Flow::Next;
}

StackEffect FactReader::stack(const llvm::MCInst &Decoded, Flow Control,
                              const std::vector<Operand> &Operands) const {
  const llvm::MCInstrDesc &Description = Instructions.get(Decoded.getOpcode());
  const std::string_view Name = Instructions.getName(Decoded.getOpcode());
  if (Control == Flow::Call) {
    const auto Pushed = FamilyBytes(Name, CallFamily); // the return address
    return Pushed ? Moves(*Pushed) : Unknown;
  }
  if (Control == Flow::Return) {
    // `ret $N` also releases the N bytes of arguments its callers pushed.
    const auto Popped = FamilyBytes(Name, ReturnFamily);
    const auto Released = std::find_if(Operands.begin(), Operands.end(), [](const Operand &Each) {
      return Each.Role == OperandRole::Immediate;
    });
    return Popped ? Moves(*Popped + (Released == Operands.end() ? 0 : Released->Value)) : Unknown;
  }
  if (writesStackPointer(Decoded)) {
    const bool ByImmediate = !Operands.empty() && Operands.back().Role == OperandRole::Immediate &&
                             Operands.front().Role == OperandRole::Register &&
                             Operands.front().Value == StackPointer;
    for (const StackFamily &Each : ArithmeticFamilies) {
      if (ByImmediate && StartsWith(Name, Each.Prefix)) {
        return Moves(Each.Direction * atPointerWidth(Operands.back().Value));
      }
    }
    return Unknown;
  }
  const llvm::MCPhysReg *Defined = Description.getImplicitDefs();
  const bool Implicit =
      std::any_of(Defined, Defined + Description.getNumImplicitDefs(), [&](llvm::MCPhysReg Each) {
        return Registers.isSubRegisterEq(WholeStackReg, Each);
      });
  if (!Implicit) {
    return {};
  }
  const bool AllRegisters =
      std::any_of(std::begin(AllRegisterForms), std::end(AllRegisterForms),
                  [&](std::string_view Each) { return StartsWith(Name, Each); });
  for (const StackFamily &Each : PushPopFamilies) {
    if (const auto Moved = FamilyBytes(Name, Each); Moved && !AllRegisters) {
      return Moves(*Moved);
    }
  }
  return Unknown; // leave, enter and the like
}

// Whether one of the registers the instruction names as its destinations is a stack pointer.
bool FactReader::writesStackPointer(const llvm::MCInst &Decoded) const {
  const llvm::MCInstrDesc &Description = Instructions.get(Decoded.getOpcode());
  for (unsigned Index = 0; Index < Description.getNumDefs() && Index < Decoded.getNumOperands();
       ++Index) {
    const llvm::MCOperand &Each = Decoded.getOperand(Index);
    if (Each.isReg() && Registers.isSubRegisterEq(WholeStackReg, Each.getReg())) {
      return true;
    }
  }
  return false;
}

// LLVM keeps a 32-bit immediate as written (0xFFFFFFF0); on IA-32 the stack pointer wraps, so
// that is -16.
std::int64_t FactReader::atPointerWidth(std::int64_t Value) const {
  return PointerSize == WideMachinePointerSize
             ? Value
             : static_cast<std::int32_t>(static_cast<std::uint32_t>(Value));
}

} // namespace formats
