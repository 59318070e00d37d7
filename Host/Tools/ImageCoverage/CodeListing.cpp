#include "CodeListing.h"

#include "Modules.h"
#include "X86Decoder.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

namespace imagecoverage {
namespace {

// The map's name of the pieces of a section that hold code; the rest (".rdata") is the constant
// tables the link merges into the code section, which are never decoded.
constexpr std::string_view CodeChunk = ".text";

struct Range {
  std::uint64_t Start = 0, End = 0;
};

// What the listing needs of an image, whichever module it is.
struct CodeSource {
  const modules::Module &Module;
  const std::string &Path;
  std::span<const std::uint8_t> Memory; // the image as it lies at Base
  std::uint64_t Base = 0;
  std::uint64_t Moved = 0; // where it runs less where its map places it
  const formats::LinkerMap &Map;
  const std::vector<imagerun::CodeStretch> &Code;
  std::function<std::optional<formats::SourceLine>(std::uint64_t)> LineAt;
  const formats::DebugInfo *Debug = nullptr;
};

// The map's code pieces, where the image runs. A section's address is read off a symbol in it
// (its address less its offset): the map's section table gives offsets only.
std::vector<Range> CodeRanges(const CodeSource &From) {
  std::vector<Range> Ranges;
  for (const formats::MapChunk &Chunk : From.Map.chunks()) {
    if (Chunk.Name != CodeChunk) {
      continue;
    }
    const auto InSection =
        std::find_if(From.Map.symbols().begin(), From.Map.symbols().end(),
                     [&](const formats::MapSymbol &Each) { return Each.Section == Chunk.Section; });
    if (InSection != From.Map.symbols().end()) {
      const std::uint64_t Section = InSection->Address - InSection->Offset + From.Moved;
      Ranges.push_back({Section + Chunk.Start, Section + Chunk.Start + Chunk.Length});
    }
  }
  return Ranges;
}

std::vector<ListedFunction> Functions(const CodeSource &From, const std::vector<Range> &Ranges) {
  std::vector<ListedFunction> Listed;
  for (const Range &Piece : Ranges) {
    for (const formats::MapSymbol &Each : From.Map.symbols()) {
      const std::uint64_t At = Each.Address + From.Moved;
      if (Each.Code && At >= Piece.Start && At < Piece.End) {
        if (!Listed.empty() && Listed.back().End > At) {
          Listed.back().End = At;
        }
        Listed.push_back({Each.Name, At, Piece.End});
      }
    }
  }
  std::sort(Listed.begin(), Listed.end(),
            [](const ListedFunction &A, const ListedFunction &B) { return A.Start < B.Start; });
  return Listed;
}

ImageListing List(const CodeSource &From) {
  ImageListing Listing;
  Listing.Module = From.Module.Name;
  Listing.Path = From.Path;
  Listing.HasLines = From.Debug != nullptr;
  const std::vector<Range> Ranges = CodeRanges(From);
  // The functions' own code, where the image runs; with -ffunction-sections each function is a
  // range of its own, so the alignment between them lies outside every range.
  std::vector<Range> Described;
  if (From.Debug != nullptr) {
    for (const formats::AddressRange &Each : From.Debug->coveredRanges()) {
      Described.push_back({Each.First + From.Moved, Each.End + From.Moved});
    }
  }
  const auto IsPadding = [&](std::uint64_t At) {
    return !Described.empty() &&
           std::none_of(Described.begin(), Described.end(),
                        [&](const Range &Each) { return At >= Each.Start && At < Each.End; });
  };
  Listing.Functions = Functions(From, Ranges);
  const formats::X86Decoder Decoder(modules::PointerBytes(From.Module));
  for (const imagerun::CodeStretch &Stretch : From.Code) {
    for (const Range &Piece : Ranges) {
      const std::uint64_t Start = std::max(Stretch.Start, Piece.Start);
      const std::uint64_t End = std::min(Stretch.End, Piece.End);
      if (Start >= End || End - From.Base > From.Memory.size()) {
        continue;
      }
      const auto Bytes = From.Memory.subspan(Start - From.Base, End - Start);
      for (const formats::Instruction &Each : Decoder.decodeAll(Bytes, Start)) {
        const auto Above = std::upper_bound(
            Listing.Functions.begin(), Listing.Functions.end(), Each.Address,
            [](std::uint64_t At, const ListedFunction &F) { return At < F.Start; });
        ListedInstruction Listed;
        Listed.Address = Each.Address;
        Listed.Size = Each.Size;
        Listed.Text = formats::InstructionText(Each);
        // Every code piece starts with a function (the stretches are cut at each), so one lies
        // at or below each instruction.
        Listed.Function = static_cast<std::size_t>(
            std::max<std::ptrdiff_t>(0, (Above - Listing.Functions.begin()) - 1));
        Listed.Offset = Each.Address - Listing.Functions[Listed.Function].Start;
        Listed.Padding = IsPadding(Each.Address);
        if (const std::optional<formats::SourceLine> Line = From.LineAt(Each.Address)) {
          Listed.File = Line->File;
          Listed.Line = Line->Line;
        }
        Listing.Instructions.push_back(std::move(Listed));
      }
    }
  }
  std::sort(
      Listing.Instructions.begin(), Listing.Instructions.end(),
      [](const ListedInstruction &A, const ListedInstruction &B) { return A.Address < B.Address; });
  return Listing;
}

} // namespace

ImageListing ListCode(const imagerun::PeiImage &Image) {
  return List({modules::ModuleOf(modules::ModuleId::BoardInitPei), Image.Path, Image.Bytes,
               Image.Base, 0, Image.Map, Image.Code,
               [&](std::uint64_t At) { return Image.lineAt(At); }, Image.Debug.get()});
}

ImageListing ListCode(const imagerun::DxeImage &Image) {
  return List({modules::ModuleOf(modules::ModuleId::BoardInitDxe), Image.Path, Image.Memory,
               Image.Base, Image.Base - Image.PreferredBase, Image.Map, Image.Code,
               [&](std::uint64_t At) { return Image.lineAt(At); }, Image.Debug.get()});
}

} // namespace imagecoverage
