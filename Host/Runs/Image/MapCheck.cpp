#include "MapCheck.h"

#include "Disassembly.h"
#include "Images.h"

#include <algorithm>
#include <string_view>

namespace imagerun {
namespace {

constexpr std::string_view CodeChunk = ".text";

// Whether execution never goes on to the next instruction after Last: a function's last
// instruction is a return, a jump or a trap (a call that does not return ends in a trap the
// compiler adds).
bool EndsFlow(const formats::Instruction &Last) {
  using formats::Flow;
  const Flow Control = Last.Facts.Control;
  return Control == Flow::Return || Control == Flow::Jump || Control == Flow::Stop;
}

const pe::Section *SectionNumbered(const pe::Image &File, unsigned Number) {
  return Number == 0 || Number > File.Sections.size() ? nullptr : &File.Sections[Number - 1];
}

std::uint64_t SectionSize(const pe::Section &Each) {
  return Each.VirtualSize != 0 ? Each.VirtualSize : Each.RawSize;
}

// Whether the symbol lies in a code piece (".text") of its section by the map's own table.
bool InCode(const formats::LinkerMap &Map, const formats::MapSymbol &Symbol) {
  return std::any_of(Map.chunks().begin(), Map.chunks().end(), [&](const formats::MapChunk &Each) {
    return Each.Section == Symbol.Section && Each.Name == CodeChunk &&
           Symbol.Offset >= Each.Start && Symbol.Offset < Each.Start + Each.Length;
  });
}

// The image's bytes from Rva on, Size of them, as the file holds them.
std::vector<std::uint8_t> BytesAt(const pe::Image &File, std::uint64_t Rva, std::uint64_t Size) {
  std::vector<std::uint8_t> Bytes;
  for (const pe::Section &Each : File.Sections) {
    if (Rva >= Each.VirtualAddress && Rva + Size <= Each.VirtualAddress + Each.RawSize) {
      const std::uint64_t From = Each.RawOffset + (Rva - Each.VirtualAddress);
      if (From + Size <= File.Bytes.size()) {
        Bytes.assign(File.Bytes.begin() + static_cast<std::ptrdiff_t>(From),
                     File.Bytes.begin() + static_cast<std::ptrdiff_t>(From + Size));
      }
    }
  }
  return Bytes;
}

} // namespace

void CheckMapBelongs(const std::string &Path, const std::string &MapPath, const pe::Image &File,
                     const formats::LinkerMap &Map, const modules::Module &Module) {
  const std::string Mismatch = "'" + MapPath + "' is not the map of '" + Path + "': ";
  for (const formats::MapChunk &Each : Map.chunks()) {
    const pe::Section *In = SectionNumbered(File, Each.Section);
    if (In == nullptr) {
      throw ImageRejected(Mismatch + "it lists " + Each.Name + " in section " +
                          std::to_string(Each.Section) + ", and the image has " +
                          std::to_string(File.Sections.size()) + " sections");
    }
    if (Each.Start + Each.Length > SectionSize(*In)) {
      throw ImageRejected(Mismatch + "its " + Each.Name + " runs to " +
                          HexText(Each.Start + Each.Length) + " of section " +
                          std::to_string(Each.Section) + ", which holds " +
                          HexText(SectionSize(*In)) + " bytes in the image (" + In->Name + ")");
    }
  }
  // The functions, by address: each where its section and offset put it.
  std::vector<const formats::MapSymbol *> Functions;
  for (const formats::MapSymbol &Symbol : Map.symbols()) {
    const pe::Section *In = SectionNumbered(File, Symbol.Section);
    if (In == nullptr || !InCode(Map, Symbol)) {
      continue;
    }
    if (Symbol.Address != Map.preferredBase() + In->VirtualAddress + Symbol.Offset) {
      throw ImageRejected(Mismatch + "it places " + Symbol.Name + " at " + HexText(Symbol.Address) +
                          ", but offset " + HexText(Symbol.Offset) + " of the image's " + In->Name +
                          " is " +
                          HexText(Map.preferredBase() + In->VirtualAddress + Symbol.Offset));
    }
    Functions.push_back(&Symbol);
  }
  const modules::Function &Entry = Module.entry();
  const std::uint64_t Enters = Map.preferredBase() + File.EntryPoint;
  if (const std::optional<std::uint64_t> At = Map.functionAddress(Entry.Name);
      At && *At != Enters) {
    throw ImageRejected(Mismatch + "it places " + Entry.Name + " at " + HexText(*At) +
                        ", and the image enters at " + HexText(Enters));
  }
  // Each function the runs call starts where the code before it ends: the function before it
  // decodes whole up to it and ends in an instruction that does not run on.
  const formats::CodeDecoder Decoder(modules::PointerBytes(Module));
  for (const modules::Function &Called : Module.Calls) {
    const auto Found =
        std::find_if(Functions.begin(), Functions.end(),
                     [&](const formats::MapSymbol *Each) { return Each->Name == Called.Name; });
    if (Found == Functions.end() || Found == Functions.begin() ||
        (*std::prev(Found))->Section != (*Found)->Section) {
      continue; // none, or the first of its section: nothing before it to end
    }
    const formats::MapSymbol &Before = **std::prev(Found);
    const std::uint64_t Rva = Before.Address - Map.preferredBase();
    const std::vector<std::uint8_t> Bytes = BytesAt(File, Rva, (*Found)->Address - Before.Address);
    const std::vector<formats::Instruction> Code = Bytes.empty()
                                                       ? std::vector<formats::Instruction>{}
                                                       : Decoder.decodeAll(Bytes, Before.Address);
    const bool Whole = !Code.empty() && Code.back().Address + Code.back().Size == (*Found)->Address;
    if (!Whole || !EndsFlow(Code.back())) {
      throw ImageRejected(Mismatch + "it places " + Called.Name + " at " +
                          HexText((*Found)->Address) + ", where the image's code of " +
                          Before.Name + " does not end");
    }
  }
}

} // namespace imagerun
