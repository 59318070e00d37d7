#include "Disassembly.h"

#include "CoffReader.h"
#include "ObjectFile.h"

#include <llvm/Object/COFF.h>

#include <algorithm>

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

void DisassembleSection(const CoffReader &Reader, const X86Decoder &Decoder,
                        const llvm::object::SectionRef &Section, ObjectCode &Object) {
  const std::string Name = NameOrEmpty(Section.getName());
  auto Contents = Section.getContents();
  if (!Contents) {
    llvm::consumeError(Contents.takeError());
    throw ObjectError(Object.Path + ": section " + Name + " lies outside the file");
  }
  const std::span<const std::uint8_t> Bytes(
      reinterpret_cast<const std::uint8_t *>(Contents->data()), Contents->size());
  const std::vector<Place> Labels = LabelsOf(Reader, Section, Name);
  const std::vector<Place> Fixups = FixupsOf(Section);
  auto NextFixup = Fixups.begin();
  for (std::size_t Index = 0; Index < Labels.size(); ++Index) {
    Function Each;
    Each.Symbol = Labels[Index].Name;
    Each.Section = Name;
    Each.Start = Labels[Index].Offset;
    const std::uint64_t From = std::min<std::uint64_t>(Each.Start, Bytes.size());
    const std::uint64_t End = Index + 1 < Labels.size()
                                  ? std::min<std::uint64_t>(Labels[Index + 1].Offset, Bytes.size())
                                  : Bytes.size();
    // Addresses are section offsets; an instruction never runs past the next symbol.
    Each.Code = Decoder.decodeAll(Bytes.subspan(From, End - std::min(End, From)), From);
    for (Instruction &Decoded : Each.Code) {
      // A relocation belongs to the instruction whose bytes hold it.
      for (; NextFixup != Fixups.end() && NextFixup->Offset < Decoded.Address + Decoded.Size;
           ++NextFixup) {
        Decoded.Relocation = NextFixup->Name;
      }
    }
    Object.Functions.push_back(std::move(Each));
  }
}

} // namespace

ObjectCode DisassembleObject(const std::string &Path) {
  const std::unique_ptr<CoffReader> Reader = OpenCoffObject(Path);
  ObjectCode Object;
  Object.Path = Path;
  Object.PointerSize = Reader->Coff->getBytesInAddress();
  const X86Decoder Decoder(Object.PointerSize);
  for (const llvm::object::SectionRef &Section : Reader->Coff->sections()) {
    if (Section.isText() && !Section.isVirtual() && Section.getSize() != 0) {
      DisassembleSection(*Reader, Decoder, Section, Object);
    }
  }
  return Object;
}

} // namespace formats
