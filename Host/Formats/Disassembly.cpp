#include "Disassembly.h"

#include "CoffReader.h"
#include "ObjectFile.h"

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

#include <algorithm>
#include <mutex>
#include <sstream>

namespace formats {

const Function *ObjectCode::find(const std::string &Symbol) const {
  const auto Found = std::find_if(Functions.begin(), Functions.end(),
                                  [&](const Function &Each) { return Each.Symbol == Symbol; });
  return Found == Functions.end() ? nullptr : &*Found;
}

const Function *ObjectCode::containing(const std::string &Section, std::uint64_t Address) const {
  const Function *Best = nullptr;
  for (const Function &Each : Functions) {
    if (Each.Section == Section && Each.Start <= Address && !Each.Code.empty() &&
        Address <= Each.Code.back().Address && (!Best || Each.Start > Best->Start)) {
      Best = &Each;
    }
  }
  return Best;
}

namespace {

// The AT&T dialect of LLVM's x86 printers.
constexpr unsigned AttSyntax = 0;
// What an undecodable byte is shown as; the stack walk refuses it like any unknown instruction.
constexpr const char *UnknownInstruction = "<unknown>";

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

// LLVM's x86 disassembler and AT&T printer for one machine.
class X86Printer {
public:
  explicit X86Printer(const llvm::Triple &Machine) {
    static std::once_flag Registered;
    std::call_once(Registered, [] {
      LLVMInitializeX86TargetInfo();
      LLVMInitializeX86TargetMC();
      LLVMInitializeX86Disassembler();
    });
    const std::string Name = Machine.str();
    std::string Error;
    const llvm::Target *Target = llvm::TargetRegistry::lookupTarget(Name, Error);
    if (Target == nullptr) {
      throw ObjectError("no x86 disassembler for " + Name);
    }
    Registers.reset(Target->createMCRegInfo(Name));
    Assembly.reset(Target->createMCAsmInfo(*Registers, Name, llvm::MCTargetOptions()));
    Subtarget.reset(Target->createMCSubtargetInfo(Name, "", ""));
    Instructions.reset(Target->createMCInstrInfo());
    Context = std::make_unique<llvm::MCContext>(Machine, Assembly.get(), Registers.get(),
                                                Subtarget.get());
    Decoder.reset(Target->createMCDisassembler(*Subtarget, *Context));
    Printer.reset(
        Target->createMCInstPrinter(Machine, AttSyntax, *Assembly, *Instructions, *Registers));
    if (!Decoder || !Printer) {
      throw ObjectError("no x86 disassembler for " + Name);
    }
    Printer->setPrintBranchImmAsAddress(true);
  }

  // The length of the instruction Bytes starts with; 0 when it cannot be decoded.
  std::size_t length(llvm::ArrayRef<std::uint8_t> Bytes) const {
    llvm::MCInst Decoded;
    std::uint64_t Size = 0;
    return Decoder->getInstruction(Decoded, Size, Bytes, 0, llvm::nulls()) ==
                   llvm::MCDisassembler::Success
               ? static_cast<std::size_t>(Size)
               : 0;
  }

  // The instruction at Offset of Bytes, whose first byte lies at Base; Size is set to its length.
  Instruction decode(llvm::ArrayRef<std::uint8_t> Bytes, std::uint64_t Offset, std::uint64_t &Size,
                     std::uint64_t Base = 0) const {
    Instruction Result;
    Result.Address = Base + Offset;
    llvm::MCInst Decoded;
    if (Decoder->getInstruction(Decoded, Size, Bytes.slice(Offset), Base + Offset, llvm::nulls()) !=
        llvm::MCDisassembler::Success) {
      Size = 1;
      Result.Mnemonic = UnknownInstruction;
      Result.Size = Size;
      return Result;
    }
    Result.Size = Size;
    std::string Text;
    llvm::raw_string_ostream Out(Text);
    // x86 branches are relative to the next instruction: the printer adds their displacement
    // to the address it is given.
    Printer->printInst(&Decoded, Base + Offset + Size, "", *Subtarget, Out);
    SplitInstructionText(Out.str(), Result);
    return Result;
  }

private:
  std::unique_ptr<llvm::MCRegisterInfo> Registers;
  std::unique_ptr<llvm::MCAsmInfo> Assembly;
  std::unique_ptr<llvm::MCSubtargetInfo> Subtarget;
  std::unique_ptr<llvm::MCInstrInfo> Instructions;
  std::unique_ptr<llvm::MCContext> Context;
  std::unique_ptr<llvm::MCDisassembler> Decoder;
  std::unique_ptr<llvm::MCInstPrinter> Printer;
};

namespace {

// A symbol at a place in a section: a function's start, or the target of a relocation there.
struct Place {
  std::uint64_t Offset = 0;
  std::string Name;

  auto operator<=>(const Place &Other) const = default;
};

// The symbols that name places in Section: section symbols name the section, not a function.
std::vector<Place> LabelsOf(const CoffReader &Reader, const llvm::object::SectionRef &Section,
                            const std::string &SectionName) {
  std::vector<Place> Labels;
  for (const llvm::object::SymbolRef &Symbol : Reader.Coff->symbols()) {
    auto Home = Symbol.getSection();
    if (!Home) {
      llvm::consumeError(Home.takeError());
      continue;
    }
    if (*Home == Reader.Coff->section_end() || **Home != Section ||
        Reader.Coff->getCOFFSymbol(Symbol).isSectionDefinition()) {
      continue;
    }
    auto Address = Symbol.getAddress();
    if (!Address) {
      llvm::consumeError(Address.takeError());
      continue;
    }
    Labels.push_back({*Address - Section.getAddress(), NameOrEmpty(Symbol.getName())});
  }
  std::sort(Labels.begin(), Labels.end());
  if (Labels.empty() || Labels.front().Offset != 0) {
    Labels.insert(Labels.begin(), {0, SectionName});
  }
  return Labels;
}

std::vector<Place> FixupsOf(const llvm::object::SectionRef &Section) {
  std::vector<Place> Fixups;
  for (const llvm::object::RelocationRef &Relocation : Section.relocations()) {
    const llvm::object::symbol_iterator Symbol = Relocation.getSymbol();
    Fixups.push_back({Relocation.getOffset(), NameOrEmpty(Symbol->getName())});
  }
  std::stable_sort(Fixups.begin(), Fixups.end(), [](const Place &Left, const Place &Right) {
    return Left.Offset < Right.Offset;
  });
  return Fixups;
}

void DisassembleSection(const CoffReader &Reader, const X86Printer &Printer,
                        const llvm::object::SectionRef &Section, ObjectCode &Object) {
  const std::string Name = NameOrEmpty(Section.getName());
  auto Contents = Section.getContents();
  if (!Contents) {
    llvm::consumeError(Contents.takeError());
    throw ObjectError(Object.Path + ": section " + Name + " lies outside the file");
  }
  const llvm::ArrayRef<std::uint8_t> Bytes(reinterpret_cast<const std::uint8_t *>(Contents->data()),
                                           Contents->size());
  const std::vector<Place> Labels = LabelsOf(Reader, Section, Name);
  const std::vector<Place> Fixups = FixupsOf(Section);
  auto NextFixup = Fixups.begin();
  for (std::size_t Index = 0; Index < Labels.size(); ++Index) {
    Function Each;
    Each.Symbol = Labels[Index].Name;
    Each.Section = Name;
    Each.Start = Labels[Index].Offset;
    const std::uint64_t End = Index + 1 < Labels.size()
                                  ? std::min<std::uint64_t>(Labels[Index + 1].Offset, Bytes.size())
                                  : Bytes.size();
    for (std::uint64_t Offset = Each.Start; Offset < End;) {
      std::uint64_t Size = 0;
      Instruction Decoded = Printer.decode(Bytes.slice(0, End), Offset, Size);
      // A relocation belongs to the instruction whose bytes hold it.
      for (; NextFixup != Fixups.end() && NextFixup->Offset < Offset + Size; ++NextFixup) {
        Decoded.Relocation = NextFixup->Name;
      }
      Each.Code.push_back(std::move(Decoded));
      Offset += Size;
    }
    Object.Functions.push_back(std::move(Each));
  }
}

} // namespace

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

CodeDecoder::CodeDecoder(unsigned PointerSize)
    // The object format does not change how x86 code decodes; only the machine does.
    : Printer(std::make_unique<X86Printer>(
          llvm::Triple(PointerSize == 8 ? "x86_64-pc-windows-coff" : "i386-pc-windows-coff"))) {}

CodeDecoder::~CodeDecoder() = default;

Instruction CodeDecoder::decode(const std::vector<std::uint8_t> &Bytes,
                                std::uint64_t Address) const {
  std::uint64_t Size = 0;
  return Printer->decode(Bytes, 0, Size, Address);
}

std::vector<Instruction> CodeDecoder::decodeAll(const std::vector<std::uint8_t> &Bytes,
                                                std::uint64_t Address) const {
  std::vector<Instruction> Code;
  for (std::uint64_t Offset = 0; Offset < Bytes.size();) {
    std::uint64_t Size = 0;
    Code.push_back(Printer->decode(Bytes, Offset, Size, Address));
    Offset += Size;
  }
  return Code;
}

ObjectCode DisassembleObject(const std::string &Path) {
  const std::unique_ptr<CoffReader> Reader = OpenCoffObject(Path);
  ObjectCode Object;
  Object.Path = Path;
  Object.PointerSize = Reader->Coff->getBytesInAddress();
  const X86Printer Printer(Reader->Coff->makeTriple());
  for (const llvm::object::SectionRef &Section : Reader->Coff->sections()) {
    if (Section.isText() && !Section.isVirtual() && Section.getSize() != 0) {
      DisassembleSection(*Reader, Printer, Section, Object);
    }
  }
  return Object;
}

struct InstructionLengths::Decoder {
  X86Printer Printer;
};

InstructionLengths::InstructionLengths(unsigned PointerSize)
    : Decoder_(std::make_unique<Decoder>(Decoder{
          X86Printer(llvm::Triple(PointerSize == 8 ? "x86_64-pc-windows" : "i686-pc-windows"))})) {}

InstructionLengths::~InstructionLengths() = default;

std::size_t InstructionLengths::operator()(std::span<const std::uint8_t> Code) const {
  return Decoder_->Printer.length(llvm::ArrayRef<std::uint8_t>(Code.data(), Code.size()));
}

} // namespace formats
