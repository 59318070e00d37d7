#include "Divergences.h"

#include "Disassembly.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace planting {
namespace {

// What the hardware would have to answer for each to show is in its Why; Tests/ImageRunner
// checks that every case of the module's entries stays the same and that such a board tells it
// apart, and Scripts/fuzz-planted that its finder finds it.
constexpr Divergence Table[] = {
    {"uart-ready-bit", modules::ModuleId::BoardInitDxe, "SendByte", "testb", 32, 64,
     "the serial wait tests line-status bit 6 (transmitter empty) instead of bit 5 (holding "
     "register empty); every board of the comparison reads the two alike (0x60, 0xFF, 0x00), a "
     "UART reading 0x20 or 0x40 tells them apart",
     "ImageDxeFuzz"},
    {"pm-timer-sign-bit", modules::ModuleId::BoardInitPei, "PmTimerDelayTicks", "btl", 23, 24,
     "a PM-timer delay ends on bit 24 of the difference instead of bit 23; alike while the "
     "counter does not wrap and reads with its upper byte zero, as on every board of the entries' "
     "cases, apart for a delay across the wrap from 0xFFFFFF (a delay case) or a reading above 24 "
     "bits",
     FoundByCases},
    {"window-base-mask", modules::ModuleId::BoardInitPei,
     modules::FunctionOf(modules::Call::SetGenericIoRange).Name, "andl", 65532, 65534,
     "the window slot search compares a slot's base with bit 1 of the register kept; the "
     "firmware writes that bit 0 and no board of the comparison presets it, a slot reading it "
     "set at the requested base tells them apart",
     "ImageRequestFuzz"},
    {"width-digit-nine", modules::ModuleId::BoardInitDxe, "ParseFieldWidth", "cmpb", 10, 9,
     "the format engine's width reader takes the digits 0 to 8 only, so a width holding a 9 ends "
     "before it and the conversion after it is read as text; no format of the comparison has a 9 "
     "in a width (their widths are 2 to 5, 20 and 40), a format such as \"%9d\" tells them apart",
     "ImageFormatFuzz"},
    {"pass-ticks", modules::ModuleId::BoardInitPei, "PmTimerDelayTicks", "movl", 4194304, 4194305,
     "each pass of a PM-timer delay after the first waits 2^22 + 1 ticks instead of 2^22; the "
     "modules' own delays are of 35 ticks, a single pass, and only a delay of 2^22 ticks or more "
     "(the delay cases) tells them apart",
     FoundByCases},
    {"microsecond-divisor", modules::ModuleId::BoardInitPei, "DelayMicroseconds", "movl", 1000000,
     1000001,
     "microseconds become ticks divided by 1,000,001 instead of 1,000,000; the modules' own 10 "
     "microseconds give 35 ticks either way, a delay of a second (the delay cases) tells them "
     "apart",
     FoundByCases},
    {"pi-warning-row", modules::ModuleId::BoardInitDxe, "GetStatusCodeName", "imulq", 35, 36,
     "GetStatusCodeName steps 36 bytes a row of the PI warnings' names instead of 35, so the "
     "second name starts a byte late; the driver prints EFI_SUCCESS only, the status values of "
     "the PI-warning class tell them apart",
     FoundByCases},
};

std::string Hex(std::uint64_t Value) {
  return fmt::format("0x{:X}", Value);
}

std::string Shape(const Divergence &Which, std::int64_t Immediate) {
  return fmt::format("{} ${},", Which.Mnemonic, Immediate);
}

// The instruction the divergence changes: the one its mnemonic names whose one immediate is From.
bool IsChanged(const Divergence &Which, const formats::Instruction &Each) {
  return Each.Mnemonic == Which.Mnemonic &&
         Each.Facts.immediates() == std::vector<std::int64_t>{Which.From};
}

// Whether Changed is Original with its one immediate replaced by Value: the same instruction at
// the same length, every other operand as it was.
bool ImmediateReplaced(const formats::Instruction &Original, const formats::Instruction &Changed,
                       std::int64_t Value) {
  if (Changed.Size != Original.Size || Changed.Facts.Opcode != Original.Facts.Opcode ||
      Changed.Facts.Operands.size() != Original.Facts.Operands.size()) {
    return false;
  }
  for (std::size_t Index = 0; Index < Original.Facts.Operands.size(); ++Index) {
    const formats::Operand &Was = Original.Facts.Operands[Index];
    const formats::Operand &Is = Changed.Facts.Operands[Index];
    const bool Kept = Was.Role == formats::OperandRole::Immediate
                          ? Is.Role == Was.Role && Is.Value == Value
                          : Is == Was;
    if (!Kept) {
      return false;
    }
  }
  return true;
}

// The function's bytes in the file: from its symbol to the next symbol, within its section.
struct Code {
  std::uint64_t Address = 0;
  std::uint64_t FileOffset = 0;
  std::vector<std::uint8_t> Bytes;
};

Code FunctionCode(const pe::Image &Image, const formats::LinkerMap &Map, const char *Name) {
  const std::optional<std::uint64_t> Start = Map.functionAddress(Name);
  if (!Start) {
    throw PlantError(fmt::format("the map names no one function '{}'", Name));
  }
  if (Map.preferredBase() != Image.ImageBase || *Start < Image.ImageBase) {
    throw PlantError("the map is of another link than the image (another base)");
  }
  const std::uint64_t Rva = *Start - Image.ImageBase;
  const auto Home = std::find_if(Image.Sections.begin(), Image.Sections.end(), [&](const auto &S) {
    return S.VirtualAddress <= Rva && Rva < std::uint64_t{S.VirtualAddress} + S.RawSize;
  });
  if (Home == Image.Sections.end()) {
    throw PlantError(fmt::format("'{}' at {} lies in no section of the file", Name, Hex(*Start)));
  }
  std::uint64_t End = Image.ImageBase + Home->VirtualAddress + Home->RawSize;
  for (const formats::MapSymbol &Symbol : Map.symbols()) {
    if (Symbol.Address > *Start) {
      End = std::min(End, Symbol.Address);
      break;
    }
  }
  Code Result;
  Result.Address = *Start;
  Result.FileOffset = Home->RawOffset + (Rva - Home->VirtualAddress);
  const auto First = Image.Bytes.begin() + static_cast<std::ptrdiff_t>(Result.FileOffset);
  Result.Bytes.assign(First, First + static_cast<std::ptrdiff_t>(End - *Start));
  return Result;
}

} // namespace

std::span<const Divergence> Divergences() {
  return Table;
}

std::string FromText(const Divergence &Which) {
  return Shape(Which, Which.From);
}

std::string ToText(const Divergence &Which) {
  return Shape(Which, Which.To);
}

const Divergence *FindDivergence(const std::string &Name) {
  for (const Divergence &Each : Table) {
    if (Name == Each.Name) {
      return &Each;
    }
  }
  return nullptr;
}

Planted Plant(const Divergence &Which, pe::Image &Image, const formats::LinkerMap &Map) {
  // A PE32+ image is the driver's, any other the early-init module's.
  const modules::Module &Given = *std::find_if(
      std::begin(modules::Modules), std::end(modules::Modules),
      [&](const modules::Module &Each) { return modules::Pe32Plus(Each) == Image.isPe32Plus(); });
  const modules::Module &Changed = modules::ModuleOf(Which.Where);
  if (&Given != &Changed) {
    throw PlantError(fmt::format("{} changes {}'s image; this is an image of {}", Which.Name,
                                 Changed.Role, Given.Role));
  }
  const Code Function = FunctionCode(Image, Map, Which.Function);
  const formats::CodeDecoder Decoder(modules::PointerBytes(Given));
  const std::vector<formats::Instruction> Instructions =
      Decoder.decodeAll(Function.Bytes, Function.Address);
  std::vector<const formats::Instruction *> Found;
  for (const formats::Instruction &Each : Instructions) {
    if (IsChanged(Which, Each)) {
      Found.push_back(&Each);
    }
  }
  if (Found.size() != 1) {
    throw PlantError(fmt::format("'{}' holds {} instructions '{} ...', not exactly one",
                                 Which.Function, Found.size(), FromText(Which)));
  }
  const formats::Instruction &Target = *Found.front();
  Planted Result;
  Result.Address = Target.Address;
  Result.Before = formats::InstructionText(Target);
  const std::uint64_t Offset = Target.Address - Function.Address;
  const std::vector<std::uint8_t> Original(
      Function.Bytes.begin() + static_cast<std::ptrdiff_t>(Offset),
      Function.Bytes.begin() + static_cast<std::ptrdiff_t>(Offset + Target.Size));
  // Every one-byte change of the instruction that decodes to it with the wanted immediate.
  std::vector<std::pair<std::uint64_t, std::uint8_t>> Changes;
  std::string Wanted = ToText(Which) + " ...";
  for (std::uint64_t Byte = 0; Byte < Original.size(); ++Byte) {
    for (unsigned Value = 0; Value <= 0xFF; ++Value) {
      if (Value == Original[Byte]) {
        continue;
      }
      std::vector<std::uint8_t> Changed = Original;
      Changed[Byte] = static_cast<std::uint8_t>(Value);
      const formats::Instruction Decoded = Decoder.decode(Changed, Target.Address);
      if (ImmediateReplaced(Target, Decoded, Which.To)) {
        Changes.emplace_back(Byte, static_cast<std::uint8_t>(Value));
        Wanted = formats::InstructionText(Decoded);
      }
    }
  }
  if (Changes.size() != 1) {
    throw PlantError(fmt::format("{} one-byte changes turn '{}' into '{}', not exactly one",
                                 Changes.size(), Result.Before, Wanted));
  }
  Result.FileOffset = Function.FileOffset + Offset + Changes.front().first;
  Image.Bytes[Result.FileOffset] = Changes.front().second;
  Result.After = Wanted;
  Result.Place = Map.describe(Target.Address);
  return Result;
}

} // namespace planting
