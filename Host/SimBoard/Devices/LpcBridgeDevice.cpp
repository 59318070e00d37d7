#include "LpcBridgeDevice.h"

#include <algorithm>
#include <array>
#include <span>

namespace sim {
namespace {

namespace Bridge = hw::LpcBridge;

std::uint32_t FieldMask(Bridge::RangeField Field) {
  return ((1u << (Field.High - Field.Low + 1)) - 1) << Field.Low;
}

std::uint32_t FieldValue(Bridge::RangeField Field, std::uint16_t Value) {
  return (Value & FieldMask(Field)) >> Field.Low;
}

void AddSpans(std::vector<DecodedRange> &Ranges, std::uint16_t Base,
              std::span<const Bridge::PortSpan> Spans, unsigned Target, const std::string &By,
              bool Window) {
  for (const Bridge::PortSpan &Span : Spans) {
    Ranges.push_back({static_cast<std::uint16_t>(Base + Span.First),
                      static_cast<std::uint16_t>(Base + Span.Last), Target, By, Window});
  }
}

// Each target's I/O Enables register.
std::array<std::uint16_t, DecodeTargetCount> Enables(const RegisterSpace &Config) {
  std::array<std::uint16_t, DecodeTargetCount> Each{};
  Each[LpcTarget] = Config.read16(Bridge::IoEnables);
  for (std::size_t ChipSelect = 0; ChipSelect < Bridge::ChipSelectIoEnables.size(); ++ChipSelect) {
    Each[1 + ChipSelect] = Config.read16(Bridge::ChipSelectIoEnables[ChipSelect]);
  }
  return Each;
}

} // namespace

std::string TargetName(unsigned Target) {
  return Target == LpcTarget ? "LPC" : "eSPI CS" + std::to_string(Target);
}

std::string SlotName(unsigned Bank, unsigned Slot) {
  const Bridge::SlotBank &Each = Bridge::SlotBanks.at(Bank);
  return Each.Count == 1 ? Each.Name : Each.Name + (" " + std::to_string(Slot + 1));
}

std::optional<Bridge::PortSpan> WindowPorts(std::uint32_t Value) {
  namespace Range = Bridge::GenericRange;
  if ((Value & Range::Enable) == 0) {
    return std::nullopt;
  }
  // The mask bits leave their address bits out of the compare: the window starts at the base
  // with those bits clear and ends with them (and the two implied low bits) set.
  const std::uint32_t Mask = ((Value & Range::AddressMaskField) >> Range::AddressMaskShift)
                             << Range::AddressMaskPortShift;
  const std::uint32_t Base = Value & Range::BaseMask & ~Mask;
  const std::uint32_t ImpliedLowBits = (1u << Range::AddressMaskPortShift) - 1;
  return Bridge::PortSpan{static_cast<std::uint16_t>(Base),
                          static_cast<std::uint16_t>(Base | Mask | ImpliedLowBits)};
}

std::vector<DecodedRange> DecodedRanges(const RegisterSpace &Config) {
  std::vector<DecodedRange> Ranges;
  const auto TargetEnables = Enables(Config);
  const std::uint16_t DecodeRanges = Config.read16(Bridge::IoDecodeRanges);
  for (unsigned Target = 0; Target < TargetEnables.size(); ++Target) {
    for (const Bridge::RangeDevice &Device : Bridge::RangeDevices) {
      const std::uint32_t Index = FieldValue(Device.Field, DecodeRanges);
      if ((TargetEnables[Target] & Device.Enable) == 0 || Index >= Device.Ports.size()) {
        continue; // off, or a reserved field value that names no base
      }
      const std::uint16_t Base = Device.Ports[Index];
      const bool Short =
          Device.Ports.data() == Bridge::ParallelPorts && Base == Bridge::ParallelShortPort;
      AddSpans(Ranges, Base, Short ? Bridge::ParallelShortSpans : Device.Spans, Target,
               std::string(Device.Name) + " decoder", false);
    }
    for (const Bridge::FixedDecoder &Decoder : Bridge::FixedDecoders) {
      if ((TargetEnables[Target] & Decoder.Enable) != 0) {
        AddSpans(Ranges, 0, std::span(Decoder.Spans, Decoder.SpanCount), Target, Decoder.Name,
                 false);
      }
    }
  }
  for (unsigned Bank = 0; Bank < Bridge::SlotBanks.size(); ++Bank) {
    for (unsigned Slot = 0; Slot < Bridge::SlotBanks[Bank].Count; ++Slot) {
      const std::uint32_t Register = Config.read32(Bridge::SlotBanks[Bank].FirstRegister +
                                                   Bridge::GenericIoRangeStride * Slot);
      if (const auto Ports = WindowPorts(Register)) {
        Ranges.push_back({Ports->First, Ports->Last, Bank, SlotName(Bank, Slot) + " window", true});
      }
    }
  }
  std::stable_sort(Ranges.begin(), Ranges.end(), [](const DecodedRange &A, const DecodedRange &B) {
    return A.First != B.First ? A.First < B.First : A.Target < B.Target;
  });
  return Ranges;
}

const DecodedRange *ChosenRange(const std::vector<DecodedRange> &Ranges, std::uint16_t Port) {
  const DecodedRange *Best = nullptr;
  for (const DecodedRange &Range : Ranges) {
    const bool Holds = Port >= Range.First && Port <= Range.Last;
    if (Holds && (Best == nullptr || (Best->Window && !Range.Window) ||
                  (Best->Window == Range.Window && Range.Target < Best->Target))) {
      Best = &Range;
    }
  }
  return Best;
}

LpcBridgeModel::DecodeRegisters LpcBridgeModel::decodeRegisters() const {
  DecodeRegisters Values{};
  std::size_t Next = 0;
  Values[Next++] = Config_.read16(Bridge::IoDecodeRanges);
  Values[Next++] = Config_.read16(Bridge::IoEnables);
  for (const std::uint32_t Enables : Bridge::ChipSelectIoEnables) {
    Values[Next++] = Config_.read16(Enables);
  }
  for (const Bridge::SlotBank &Bank : Bridge::SlotBanks) {
    for (unsigned Slot = 0; Slot < Bank.Count; ++Slot) {
      Values[Next++] = Config_.read32(Bank.FirstRegister + Bridge::GenericIoRangeStride * Slot);
    }
  }
  return Values;
}

const std::vector<DecodedRange> &LpcBridgeModel::ranges() const {
  const DecodeRegisters Now = decodeRegisters();
  if (!CacheValid_ || Now != CachedFor_) {
    Cached_ = DecodedRanges(Config_);
    CachedFor_ = Now;
    CacheValid_ = true;
  }
  return Cached_;
}

Route LpcBridgeModel::route(std::uint16_t Port) const {
  const DecodedRange *Chosen = ChosenRange(ranges(), Port);
  return Chosen == nullptr ? Route{} : Route{true, Chosen->Target, Chosen->By};
}

std::optional<unsigned> LpcBridgeModel::targetOf(std::uint16_t Port) const {
  const DecodedRange *Chosen = ChosenRange(ranges(), Port);
  return Chosen == nullptr ? std::nullopt : std::optional<unsigned>(Chosen->Target);
}

std::string LpcBridgeModel::registerName(std::uint64_t Offset) {
  const auto Found =
      std::find_if(Bridge::Registers.begin(), Bridge::Registers.end(),
                   [&](const hw::NamedRegister &Each) { return Each.Offset == Offset; });
  return Found == Bridge::Registers.end() ? "" : Found->Name;
}

} // namespace sim
