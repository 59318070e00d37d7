#include "FuzzInput.h"

#include "BoardLpcBridge.h"
#include "BoardPcr.h"

#include <algorithm>
#include <cctype>
#include <iterator>

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

std::vector<comparison::Case> SeedCases(Target For) {
  // The input layout holds no table rows: a case that gives the module tables of its own would
  // be the input of the module's own tables, under another name.
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
  std::vector<Seed> Made;
  for (const comparison::Case &Each : SeedCases(For)) {
    std::vector<std::uint8_t> Bytes = Encode(For, Each);
    const auto Same = std::find_if(Made.begin(), Made.end(),
                                   [&](const Seed &Earlier) { return Earlier.Bytes == Bytes; });
    if (Same != Made.end()) {
      Same->Cases.push_back(Each.Name);
    } else {
      Made.push_back({SeedFileName(Each.Name), std::move(Bytes), {Each.Name}});
    }
  }
  return Made;
}

} // namespace fuzzruns
