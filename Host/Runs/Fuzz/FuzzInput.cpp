#include "FuzzInput.h"

#include "BoardLpcBridge.h"
#include "BoardPcr.h"
#include "FormatCases.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <string_view>

namespace fuzzruns {
namespace {

using comparison::Run;

namespace BoardFlags {
constexpr std::uint8_t PresenceMask = 0x03;
constexpr std::uint8_t Absent = 1;
constexpr std::uint8_t Dead = 2;
constexpr std::uint8_t TimerStuck = 0x04;
constexpr std::uint8_t AllOnes = 0x08;
constexpr std::uint8_t InterruptsOff = 0x10;
} // namespace BoardFlags

namespace FirmwareFlags {
constexpr std::uint8_t HobListInConfigTable = 0x01;
constexpr std::uint8_t TimerHob = 0x02;
constexpr unsigned SmmShift = 2;
constexpr std::uint8_t SmmMask = 0x03;
constexpr std::uint8_t ExtraHob = 0x10;
} // namespace FirmwareFlags

namespace PresetSpace {
constexpr std::uint8_t Bridge = 0;
constexpr std::uint8_t Pcr = 1;
} // namespace PresetSpace

// The targets: each one's program and the runs it makes.
struct TargetDescriptor {
  Target For;
  const char *Program;
  unsigned Runs; // RunBit
};
constexpr TargetDescriptor Targets[] = {
    {Target::Pei, "ImagePeiFuzz", sim::RunBit(Run::Pei)},
    {Target::Requests, "ImageRequestFuzz", sim::RequestRuns},
    {Target::Dxe, "ImageDxeFuzz", sim::RunBit(Run::Dxe)},
    {Target::Format, "ImageFormatFuzz", 0},
    {Target::Library, "ImageLibraryFuzz", 0},
};

const TargetDescriptor &TargetRow(Target For) {
  return Targets[static_cast<std::size_t>(For)];
}

constexpr std::uint8_t WindowRequests = 0x80;
constexpr std::uint8_t RequestCountMask = 0x7F;
constexpr std::uint16_t HobHeaderBytes = 8;

// Reads fields off the front of the input; past its end every field is zero.
class Reader {
public:
  explicit Reader(std::span<const std::uint8_t> Bytes) : Bytes_(Bytes) {}
  std::uint32_t take(unsigned Width) {
    std::uint32_t Value = 0;
    for (unsigned Byte = 0; Byte < Width; ++Byte, ++At_) {
      if (At_ < Bytes_.size()) {
        Value |= std::uint32_t{Bytes_[At_]} << (8 * Byte);
      }
    }
    return Value;
  }
  std::uint8_t u8() { return static_cast<std::uint8_t>(take(1)); }
  std::uint16_t u16() { return static_cast<std::uint16_t>(take(2)); }
  std::uint32_t u32() { return take(4); }
  std::uint64_t u64() {
    const std::uint64_t Low = u32();
    return Low | std::uint64_t{u32()} << 32;
  }
  std::span<const std::uint8_t> rest() const {
    return At_ < Bytes_.size() ? Bytes_.subspan(At_) : std::span<const std::uint8_t>{};
  }

private:
  std::span<const std::uint8_t> Bytes_;
  std::size_t At_ = 0;
};

class Writer {
public:
  void put(std::uint32_t Value, unsigned Width) {
    for (unsigned Byte = 0; Byte < Width; ++Byte) {
      Bytes.push_back(static_cast<std::uint8_t>(Value >> (8 * Byte)));
    }
  }
  void u8(std::uint32_t Value) { put(Value, 1); }
  void u16(std::uint32_t Value) { put(Value, 2); }
  void u32(std::uint32_t Value) { put(Value, 4); }
  void u64(std::uint64_t Value) {
    u32(static_cast<std::uint32_t>(Value));
    u32(static_cast<std::uint32_t>(Value >> 32));
  }
  std::vector<std::uint8_t> Bytes;
};

unsigned PresetWidth(std::uint8_t Code) {
  return Code == 0 ? 1 : Code == 1 ? 2 : 4;
}

std::uint8_t PresetWidthCode(unsigned Width) {
  return Width == 1 ? 0 : Width == 2 ? 1 : 2;
}

void DecodeBoard(Reader &In, sim::Scenario &Settings) {
  const std::uint8_t Flags = In.u8();
  const std::uint8_t Presence = Flags & BoardFlags::PresenceMask;
  Settings.Spi.Presence = Presence == BoardFlags::Absent ? sim::SpiPresence::Absent
                          : Presence == BoardFlags::Dead ? sim::SpiPresence::Dead
                                                         : sim::SpiPresence::Present;
  Settings.PmTimerStuck = (Flags & BoardFlags::TimerStuck) != 0;
  Settings.AllOnesEverywhere = (Flags & BoardFlags::AllOnes) != 0;
  Settings.InterruptsOff = (Flags & BoardFlags::InterruptsOff) != 0;
  Settings.Spi.Status = In.u32();
  Settings.Spi.Reg0C = In.u32();
  Settings.Spi.Drain = In.u32();
  Settings.Spi.Clock = In.u32();
  Settings.PmTimerStart = In.u32();
  Settings.UartLineStatus = In.u8();
}

void EncodeBoard(Writer &Out, const sim::Scenario &Settings) {
  std::uint8_t Flags = Settings.Spi.Presence == sim::SpiPresence::Absent ? BoardFlags::Absent
                       : Settings.Spi.Presence == sim::SpiPresence::Dead ? BoardFlags::Dead
                                                                         : 0;
  Flags |= Settings.PmTimerStuck ? BoardFlags::TimerStuck : 0;
  Flags |= Settings.AllOnesEverywhere ? BoardFlags::AllOnes : 0;
  Flags |= Settings.InterruptsOff ? BoardFlags::InterruptsOff : 0;
  Out.u8(Flags);
  Out.u32(Settings.Spi.Status);
  Out.u32(Settings.Spi.Reg0C);
  Out.u32(Settings.Spi.Drain);
  Out.u32(Settings.Spi.Clock);
  Out.u32(Settings.PmTimerStart);
  Out.u8(Settings.UartLineStatus);
}

std::uint16_t ExtraHobLength(std::uint16_t Raw) {
  const auto Length = static_cast<std::uint16_t>(Raw % (MaxExtraHobLength + 1));
  return Length < HobHeaderBytes
             ? Length
             : static_cast<std::uint16_t>(Length / HobHeaderBytes * HobHeaderBytes);
}

void DecodeFirmware(Reader &In, sim::DxeEnvironmentSettings &Firmware) {
  const std::uint8_t Flags = In.u8();
  Firmware.HobListInConfigTable = (Flags & FirmwareFlags::HobListInConfigTable) != 0;
  Firmware.TimerHob = (Flags & FirmwareFlags::TimerHob) != 0;
  Firmware.Smm =
      static_cast<sim::SmmMode>((Flags >> FirmwareFlags::SmmShift) & FirmwareFlags::SmmMask);
  Firmware.ExtraHob.Present = (Flags & FirmwareFlags::ExtraHob) != 0;
  Firmware.ExtraHob.Type = In.u16();
  Firmware.ExtraHob.Length = ExtraHobLength(In.u16());
}

void EncodeFirmware(Writer &Out, const sim::DxeEnvironmentSettings &Firmware) {
  std::uint8_t Flags = Firmware.HobListInConfigTable ? FirmwareFlags::HobListInConfigTable : 0;
  Flags |= Firmware.TimerHob ? FirmwareFlags::TimerHob : 0;
  Flags |= static_cast<std::uint8_t>((static_cast<unsigned>(Firmware.Smm) & FirmwareFlags::SmmMask)
                                     << FirmwareFlags::SmmShift);
  Flags |= Firmware.ExtraHob.Present ? FirmwareFlags::ExtraHob : 0;
  Out.u8(Flags);
  Out.u16(Firmware.ExtraHob.Type);
  Out.u16(std::min(Firmware.ExtraHob.Length, MaxExtraHobLength));
}

void DecodePresets(Reader &In, sim::Scenario &Settings) {
  const std::size_t Count = In.u8() % (MaxPresets + 1);
  for (std::size_t Index = 0; Index < Count; ++Index) {
    const bool Pcr = (In.u8() & 1) == PresetSpace::Pcr;
    const std::uint16_t Offset = In.u16();
    const unsigned Width = PresetWidth(In.u8());
    const std::uint32_t Value = In.u32();
    const auto Size =
        static_cast<std::uint32_t>(Pcr ? sim::hw::Pcr::Size : sim::hw::LpcBridge::ConfigSize);
    // Inside the space, the whole register with it.
    const std::uint32_t At = Offset % (Size - Width + 1);
    (Pcr ? Settings.PcrWindow : Settings.LpcConfig)[At] = sim::Preset{Value, Width};
  }
}

void EncodePresets(Writer &Out, const sim::Scenario &Settings) {
  std::vector<std::pair<std::uint8_t, std::pair<std::uint32_t, sim::Preset>>> All;
  for (const auto &Each : Settings.LpcConfig) {
    All.push_back({PresetSpace::Bridge, Each});
  }
  for (const auto &Each : Settings.PcrWindow) {
    All.push_back({PresetSpace::Pcr, Each});
  }
  All.resize(std::min(All.size(), MaxPresets));
  Out.u8(static_cast<std::uint32_t>(All.size()));
  for (const auto &[Space, Preset] : All) {
    Out.u8(Space);
    Out.u16(Preset.first);
    Out.u8(PresetWidthCode(Preset.second.Width));
    Out.u32(Preset.second.Value);
  }
}

void DecodeRequests(Reader &In, BoardInput &Into) {
  const std::uint8_t Head = In.u8();
  const std::size_t Count = (Head & RequestCountMask) % (MaxRequests + 1);
  Into.What = (Head & WindowRequests) != 0 ? Run::Window : Run::Decode;
  for (std::size_t Index = 0; Index < Count; ++Index) {
    if (Into.What == Run::Window) {
      const std::uint16_t Port = In.u16();
      Into.Window.push_back({Port, In.u16()});
    } else {
      DecodeRequestRow Row{};
      Row.Port = In.u16();
      Row.Size = In.u8();
      Row.Reserved = In.u8();
      Row.Attributes = In.u32();
      Into.Decode.push_back(Row);
    }
  }
}

void EncodeRequests(Writer &Out, const comparison::Case &Each) {
  const bool Window = Each.What == Run::Window;
  const std::size_t Count = std::min(Window ? Each.Window.size() : Each.Decode.size(), MaxRequests);
  Out.u8((Window ? WindowRequests : 0) | static_cast<std::uint8_t>(Count));
  for (std::size_t Index = 0; Index < Count; ++Index) {
    if (Window) {
      Out.u16(Each.Window[Index].Port);
      Out.u16(Each.Window[Index].SizeWord);
    } else {
      const DecodeRequestRow &Row = Each.Decode[Index];
      Out.u16(Row.Port);
      Out.u8(Row.Size);
      Out.u8(Row.Reserved);
      Out.u32(Row.Attributes);
    }
  }
}

// --- The format target's calls ------------------------------------------------------------

namespace FormatFlags {
constexpr std::uint8_t NullBuffer = 0x01;
constexpr std::uint8_t NullFormat = 0x02;
constexpr unsigned CapacityShift = 2;
constexpr std::uint8_t CapacityMask = 0x03;
} // namespace FormatFlags

// The capacity's high part, by its code in the flags.
namespace CapacityHigh {
constexpr std::uint8_t None = 0;
constexpr std::uint8_t Above4GiB = 1; // 2^32 more: a capacity that a 32-bit cut would shrink
constexpr std::uint8_t AllHigh = 2;   // every bit from 16 up
constexpr std::uint8_t AllOnes = 3;
constexpr std::uint64_t LowBits = 0xFFFF;
constexpr std::uint64_t FourGiB = std::uint64_t{1} << 32;
} // namespace CapacityHigh

namespace SlotHead {
constexpr std::uint8_t LengthMask = 0x1F;
constexpr unsigned MisalignShift = 5;
constexpr std::size_t MaxMisalign = 7;
} // namespace SlotHead

constexpr std::size_t SlotValueBytes = 8;
constexpr std::size_t GuidBytes = 16;
// Far more than an input holds (libFuzzer's -max_len), and within the image's room for it.
constexpr std::size_t MaxFormatBytes = 4096;

enum class SlotUse { Value, Text8, Text16, Guid };

bool MayStartWidth(char C) {
  return C == ' ' || C == '\t' || C == '-' || C == '+' || (C >= '0' && C <= '9');
}

bool IsNumberConversion(char C) {
  return C == 'd' || C == 'i' || C == 'x' || C == 'X' || C == 'p';
}

// The slots a format takes, in order, as the engine walks it: "%%" takes none; a conversion reads
// an optional '0', then a width ("*" takes a slot, or blanks, a sign and digits), then its letter.
// An "l" goes before a number's letter only; a byte that is no conversion takes nothing and is
// read again as text, the "*" slot before it staying taken. Kept is the length of the format that
// takes at most MaxSlots: it ends before the conversion that would take one more.
struct FormatReading {
  std::vector<SlotUse> Uses;
  std::size_t Kept = 0;
};

FormatReading ReadFormat(std::string_view Format, std::size_t MaxSlots) {
  FormatReading Read;
  Read.Kept = Format.size();
  const auto At = [&](std::size_t Index) { return Index < Format.size() ? Format[Index] : '\0'; };
  std::size_t Next = 0;
  while (Next < Format.size()) {
    if (Format[Next] != '%') {
      ++Next;
      continue;
    }
    const std::size_t Start = Next;
    std::size_t Index = Next + 1;
    if (At(Index) == '%') {
      Next = Index + 1;
      continue;
    }
    std::vector<SlotUse> Takes;
    if (At(Index) == '0') {
      ++Index;
    }
    if (At(Index) == '*') {
      Takes.push_back(SlotUse::Value);
      ++Index;
    } else if (MayStartWidth(At(Index))) {
      while (At(Index) == ' ' || At(Index) == '\t') {
        ++Index;
      }
      Index += At(Index) == '-' ? 1 : 0;
      Index += At(Index) == '+' ? 1 : 0;
      while (At(Index) >= '0' && At(Index) <= '9') {
        ++Index;
      }
    }
    bool Converted = true;
    switch (char Letter = At(Index)) {
    case 's':
    case 'a':
      Takes.push_back(SlotUse::Text8);
      break;
    case 'S':
      Takes.push_back(SlotUse::Text16);
      break;
    case 'g':
    case 'G':
      Takes.push_back(SlotUse::Guid);
      break;
    case 'c':
    case 'r':
      Takes.push_back(SlotUse::Value);
      break;
    default:
      if (Letter == 'l') {
        Letter = At(++Index);
      }
      Converted = IsNumberConversion(Letter);
      if (Converted) {
        Takes.push_back(SlotUse::Value);
      }
      break;
    }
    if (Read.Uses.size() + Takes.size() > MaxSlots) {
      Read.Kept = Start;
      break;
    }
    Read.Uses.insert(Read.Uses.end(), Takes.begin(), Takes.end());
    Next = Converted ? Index + 1 : Index;
  }
  return Read;
}

std::uint64_t DecodeCapacity(std::uint8_t Flags, std::uint16_t Low) {
  switch ((Flags >> FormatFlags::CapacityShift) & FormatFlags::CapacityMask) {
  case CapacityHigh::Above4GiB:
    return CapacityHigh::FourGiB | Low;
  case CapacityHigh::AllHigh:
    return ~CapacityHigh::LowBits | Low;
  case CapacityHigh::AllOnes:
    return ~std::uint64_t{0};
  default:
    return Low;
  }
}

std::uint8_t CapacityCode(std::uint64_t Capacity) {
  if (Capacity == ~std::uint64_t{0}) {
    return CapacityHigh::AllOnes;
  }
  if ((Capacity & ~CapacityHigh::LowBits) == CapacityHigh::FourGiB) {
    return CapacityHigh::Above4GiB;
  }
  if ((Capacity & ~CapacityHigh::LowBits) == ~CapacityHigh::LowBits) {
    return CapacityHigh::AllHigh;
  }
  return CapacityHigh::None;
}

// A slot as the input gives it, before the format says what it is.
struct SlotBytes {
  std::vector<std::uint8_t> Bytes;
  std::size_t Misalign = 0;
};

runs::FormatArgument MakeSlot(const SlotBytes &Given, SlotUse Use) {
  runs::FormatArgument Slot;
  if (Use == SlotUse::Value) {
    for (std::size_t Byte = 0; Byte < std::min(Given.Bytes.size(), SlotValueBytes); ++Byte) {
      Slot.Value |= std::uint64_t{Given.Bytes[Byte]} << (8 * Byte);
    }
    return Slot;
  }
  std::vector<std::uint8_t> Bytes = Given.Bytes;
  if (Use == SlotUse::Text8) {
    Bytes.push_back(0);
  } else if (Use == SlotUse::Text16) {
    Bytes.resize((Bytes.size() + 1) / 2 * 2 + 2, 0);
  } else {
    Bytes.resize(GuidBytes, 0);
  }
  Slot.Bytes = std::move(Bytes);
  // 16-bit text is read a unit at a time, so it lies on a unit's boundary as a caller's does.
  Slot.Misalign = Use == SlotUse::Text16 ? Given.Misalign & ~std::size_t{1} : Given.Misalign;
  return Slot;
}

// --- The library target's scripts and delays ------------------------------------------------

namespace LibraryHead {
constexpr std::uint8_t Delay = 0x01;
constexpr std::uint8_t Driver = 0x02;
constexpr std::uint8_t Microseconds = 0x04;
} // namespace LibraryHead

// The driver's DelayMicroseconds takes its machine's 64-bit word; every other count is 32-bit.
bool WideCount(const runs::DelayCall &Call) {
  return Call.Microseconds && Call.Module == modules::ModuleId::BoardInitDxe;
}

std::vector<std::uint8_t> WithAnswers(Writer &Out, std::uint32_t TimerStart,
                                      std::span<const std::uint8_t> Answers) {
  Out.u32(TimerStart);
  Out.Bytes.insert(Out.Bytes.end(), Answers.begin(), Answers.end());
  return std::move(Out.Bytes);
}

} // namespace

BoardInput Decode(Target For, std::span<const std::uint8_t> Input) {
  Reader In(Input);
  BoardInput Made;
  Made.What = For == Target::Pei ? Run::Pei : Run::Dxe;
  DecodeBoard(In, Made.Settings);
  if (For == Target::Dxe) {
    DecodeFirmware(In, Made.Settings.Firmware);
  } else {
    DecodePresets(In, Made.Settings);
  }
  if (For == Target::Requests) {
    DecodeRequests(In, Made);
  }
  Made.Settings.MaxSteps = StepBudget;
  // Two runs are compared access by access; a register's name follows from its address.
  Made.Settings.NameRegisters = false;
  Made.Answers = In.rest();
  return Made;
}

std::vector<std::uint8_t> Encode(Target For, const comparison::Case &Each,
                                 std::span<const std::uint8_t> Answers) {
  Writer Out;
  EncodeBoard(Out, Each.Settings);
  if (For == Target::Dxe) {
    EncodeFirmware(Out, Each.Settings.Firmware);
  } else {
    EncodePresets(Out, Each.Settings);
  }
  if (For == Target::Requests) {
    EncodeRequests(Out, Each);
  }
  Out.Bytes.insert(Out.Bytes.end(), Answers.begin(), Answers.end());
  return Out.Bytes;
}

FormatInput DecodeFormat(std::span<const std::uint8_t> Input) {
  Reader In(Input);
  FormatInput Made;
  runs::FormatCall &Call = Made.Call;
  const std::uint8_t Flags = In.u8();
  Call.NullBuffer = (Flags & FormatFlags::NullBuffer) != 0;
  Call.NullFormat = (Flags & FormatFlags::NullFormat) != 0;
  Call.Capacity = DecodeCapacity(Flags, In.u16());
  std::vector<SlotBytes> Given(In.u8() % (runs::FormatSlots + 1));
  for (SlotBytes &Each : Given) {
    const std::uint8_t Head = In.u8();
    Each.Misalign = Head >> SlotHead::MisalignShift;
    Each.Bytes.resize(Head & SlotHead::LengthMask);
    for (std::uint8_t &Byte : Each.Bytes) {
      Byte = In.u8();
    }
  }
  const std::span<const std::uint8_t> Rest = In.rest();
  const auto End = std::find(Rest.begin(), Rest.end(), std::uint8_t{0});
  std::string Format(Rest.begin(), End);
  Format.resize(std::min(Format.size(), MaxFormatBytes));
  const FormatReading Read = ReadFormat(Format, runs::FormatSlots);
  Made.FormatCut = Format.size() - Read.Kept;
  Format.resize(Read.Kept);
  Call.Format = std::move(Format);
  const std::size_t Slots = std::max(Given.size(), Read.Uses.size());
  for (std::size_t Slot = 0; Slot < Slots; ++Slot) {
    Call.Arguments.push_back(MakeSlot(Slot < Given.size() ? Given[Slot] : SlotBytes{},
                                      Slot < Read.Uses.size() ? Read.Uses[Slot] : SlotUse::Value));
  }
  return Made;
}

std::vector<std::uint8_t> EncodeFormat(const runs::FormatCall &Call) {
  Writer Out;
  std::uint8_t Flags = Call.NullBuffer ? FormatFlags::NullBuffer : 0;
  Flags |= Call.NullFormat ? FormatFlags::NullFormat : 0;
  Flags |= static_cast<std::uint8_t>(CapacityCode(Call.Capacity) << FormatFlags::CapacityShift);
  Out.u8(Flags);
  Out.u16(static_cast<std::uint32_t>(Call.Capacity & CapacityHigh::LowBits));
  const std::size_t Count = std::min(Call.Arguments.size(), runs::FormatSlots);
  Out.u8(static_cast<std::uint32_t>(Count));
  for (std::size_t Slot = 0; Slot < Count; ++Slot) {
    const runs::FormatArgument &Each = Call.Arguments[Slot];
    std::vector<std::uint8_t> Bytes;
    if (Each.Bytes) {
      Bytes.assign(Each.Bytes->begin(),
                   Each.Bytes->begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(
                                             Each.Bytes->size(), SlotHead::LengthMask)));
    } else {
      for (std::uint64_t Value = Each.Value; Value != 0; Value >>= 8) {
        Bytes.push_back(static_cast<std::uint8_t>(Value));
      }
    }
    const std::size_t Misalign = Each.Bytes ? std::min(Each.Misalign, SlotHead::MaxMisalign) : 0;
    Out.u8(static_cast<std::uint32_t>(Bytes.size() | Misalign << SlotHead::MisalignShift));
    Out.Bytes.insert(Out.Bytes.end(), Bytes.begin(), Bytes.end());
  }
  const std::string_view Format(Call.Format.c_str());
  Out.Bytes.insert(Out.Bytes.end(), Format.begin(), Format.end());
  return Out.Bytes;
}

LibraryInput DecodeLibrary(std::span<const std::uint8_t> Input) {
  Reader In(Input);
  LibraryInput Made;
  const std::uint8_t Head = In.u8();
  Made.Delay = (Head & LibraryHead::Delay) != 0;
  if (Made.Delay) {
    Made.Call.Module = (Head & LibraryHead::Driver) != 0 ? modules::ModuleId::BoardInitDxe
                                                         : modules::ModuleId::BoardInitPei;
    Made.Call.Microseconds = (Head & LibraryHead::Microseconds) != 0;
    Made.Call.Count = WideCount(Made.Call) ? In.u64() : In.u32();
  } else {
    Made.Rows.resize(In.u8() % (MaxScriptRows + 1));
    for (sim::ScriptTableRow &Row : Made.Rows) {
      Row.Port = In.u16();
      Row.AndMask = In.u8();
      Row.OrValue = In.u8();
    }
  }
  Made.Settings.PmTimerStart = In.u32();
  Made.Settings.MaxSteps = StepBudget;
  Made.Settings.NameRegisters = false;
  Made.Answers = In.rest();
  return Made;
}

std::vector<std::uint8_t> EncodeLibrary(const comparison::ScriptCase &Each) {
  Writer Out;
  const std::size_t Count = std::min(Each.Rows.size(), MaxScriptRows);
  Out.u8(0);
  Out.u8(static_cast<std::uint32_t>(Count));
  for (std::size_t Index = 0; Index < Count; ++Index) {
    Out.u16(Each.Rows[Index].Port);
    Out.u8(Each.Rows[Index].AndMask);
    Out.u8(Each.Rows[Index].OrValue);
  }
  return WithAnswers(Out, 0, Each.Answers);
}

std::vector<std::uint8_t> EncodeLibrary(const comparison::DelayCase &Each) {
  Writer Out;
  std::uint8_t Head = LibraryHead::Delay;
  Head |= Each.Call.Module == modules::ModuleId::BoardInitDxe ? LibraryHead::Driver : 0;
  Head |= Each.Call.Microseconds ? LibraryHead::Microseconds : 0;
  Out.u8(Head);
  if (WideCount(Each.Call)) {
    Out.u64(Each.Call.Count);
  } else {
    Out.u32(static_cast<std::uint32_t>(Each.Call.Count));
  }
  return WithAnswers(Out, Each.TimerStart, Each.Answers);
}

std::size_t InputLimit(Target For) {
  return For == Target::Library ? MaxLibraryInputBytes : MaxInputBytes;
}

std::vector<comparison::Case> SeedCases(Target For) {
  // The input layout holds no table rows: a case that gives the module tables of its own would
  // be the input of the module's own tables, under another name.
  if (For == Target::Format || For == Target::Library) {
    return {};
  }
  std::vector<comparison::Case> Cases = comparison::Cases(TargetRow(For).Runs);
  std::erase_if(Cases,
                [](const comparison::Case &Each) { return Each.Settings.Tables.replaces(); });
  return Cases;
}

const char *TargetProgram(Target For) {
  return TargetRow(For).Program;
}

std::string SeedFileName(std::string Name) {
  for (char &Character : Name) {
    const auto Byte = static_cast<unsigned char>(Character);
    Character = std::isalnum(Byte) ? static_cast<char>(std::tolower(Byte)) : '-';
  }
  return Name;
}

std::vector<Seed> Seeds(Target For) {
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> Inputs;
  if (For == Target::Format) {
    for (const comparison::FormatCase &Each : comparison::FormatComparisonCases()) {
      Inputs.emplace_back(Each.Name, EncodeFormat(Each.Call));
    }
  }
  if (For == Target::Library) {
    for (const comparison::ScriptCase &Each : comparison::ScriptCases()) {
      if (Each.Rows.size() <= MaxScriptRows) {
        Inputs.emplace_back(Each.Name, EncodeLibrary(Each));
      }
    }
    for (const comparison::DelayCase &Each : comparison::DelayCases()) {
      if (std::vector<std::uint8_t> Bytes = EncodeLibrary(Each);
          Bytes.size() <= MaxLibraryInputBytes) {
        Inputs.emplace_back(Each.Name, std::move(Bytes));
      }
    }
  }
  for (const comparison::Case &Each : SeedCases(For)) {
    Inputs.emplace_back(Each.Name, Encode(For, Each));
  }
  std::vector<Seed> Made;
  for (auto &Input : Inputs) {
    const auto Same = std::find_if(Made.begin(), Made.end(), [&](const Seed &Earlier) {
      return Earlier.Bytes == Input.second;
    });
    if (Same != Made.end()) {
      Same->Cases.push_back(Input.first);
    } else {
      Made.push_back({SeedFileName(Input.first), std::move(Input.second), {Input.first}});
    }
  }
  return Made;
}

} // namespace fuzzruns
