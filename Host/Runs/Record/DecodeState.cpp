#include "DecodeState.h"

#include "BoardLpcBridge.h"
#include "BoardPcr.h"
#include "DecodeRequest.h"
#include "DecodeTarget.h"

#include <span>

namespace runs {
namespace {

namespace Bridge = sim::hw::LpcBridge;

} // namespace

std::uint32_t RangeMask(Bridge::RangeField Field) {
  return ((1u << (Field.High - Field.Low + 1)) - 1) << Field.Low;
}

std::uint32_t RangeGet(Bridge::RangeField Field, std::uint16_t Value) {
  return (Value & RangeMask(Field)) >> Field.Low;
}

std::string DescribeTarget(std::uint32_t Target) {
  if (Target == DecodeTarget::Lpc) {
    return "LPC";
  }
  if (Target < DecodeTarget::Count) {
    return "eSPI CS" + std::to_string(Target);
  }
  return "target " + std::to_string(Target) + " (unknown)";
}

DecodeState ReadDecodeState(const sim::BoardState &Board) {
  namespace Pcr = sim::hw::Pcr;
  const sim::RegisterSpace &Lpc = Board.lpcConfig();
  const sim::RegisterSpace &Mirrors = Board.pcr();
  DecodeState State;
  State.IoDecodeRanges = Lpc.read16(Bridge::IoDecodeRanges);
  State.IoDecodeRangesMirror = Mirrors.read16(Pcr::IoDecodeRangesMirror);
  State.IoEnables = Lpc.read16(Bridge::IoEnables);
  State.IoEnablesMirror = Mirrors.read16(Pcr::IoEnablesMirror);
  for (std::size_t ChipSelect = 0; ChipSelect < State.EspiIoEnables.size(); ++ChipSelect) {
    State.EspiIoEnables[ChipSelect] = Lpc.read16(Bridge::ChipSelectIoEnables[ChipSelect]);
  }
  for (const Bridge::SlotBank &Bank : Bridge::SlotBanks) {
    for (unsigned Slot = 0; Slot < Bank.Count; ++Slot) {
      const std::uint32_t Offset = Bridge::GenericIoRangeStride * Slot;
      State.Windows.push_back(
          {sim::SlotName(static_cast<unsigned>(&Bank - Bridge::SlotBanks.data()), Slot),
           Lpc.read32(Bank.FirstRegister + Offset), Mirrors.read32(Bank.FirstMirror + Offset)});
    }
  }
  return State;
}

std::string DescribeDecodeRanges(std::uint16_t Value, std::uint16_t Enables) {
  std::string Text;
  for (const RangeDevice &Each : RangeDevices) {
    const std::uint32_t Index = RangeGet(Each.Field, Value);
    Text += (Text.empty() ? "" : ", ") + std::string(Each.Name) + " " +
            (Index < Each.Ports.size() ? sim::HexText(Each.Ports[Index], 3)
                                       : "reserved (" + std::to_string(Index) + ")") +
            ((Enables & Each.Enable) != 0 ? "" : " (off)");
  }
  return Text;
}

std::string DescribeEnables(std::uint16_t Value) {
  struct Named {
    std::uint16_t Bit;
    const char *Name;
  };
  static constexpr Named Bits[] = {
      {Bridge::Enable::ComA, "COM A"},
      {Bridge::Enable::ComB, "COM B"},
      {Bridge::Enable::Parallel, "parallel"},
      {Bridge::Enable::Floppy, "floppy"},
      {Bridge::Enable::GamePort200, "game port 0x200"},
      {Bridge::Enable::GamePort208, "game port 0x208"},
      {Bridge::Enable::Keyboard, "keyboard 0x60/0x64"},
      {Bridge::Enable::EmbeddedController, "EC 0x62/0x66"},
      {Bridge::Enable::SuperIo2E, "config 0x2E/0x2F"},
      {Bridge::Enable::SuperIo4E, "config 0x4E/0x4F"},
  };
  std::string Text;
  std::uint16_t Known = 0;
  for (const Named &Each : Bits) {
    Known |= Each.Bit;
    if ((Value & Each.Bit) != 0) {
      Text += (Text.empty() ? "" : ", ") + std::string(Each.Name);
    }
  }
  if ((Value & ~Known) != 0) {
    Text += (Text.empty() ? "" : ", ") + std::string("other bits ") +
            sim::HexText(static_cast<std::uint32_t>(Value & ~Known), 4);
  }
  return Text.empty() ? "none" : Text;
}

std::string DescribeWindow(std::uint32_t Value) {
  std::string Text = "free";
  namespace Range = Bridge::GenericRange;
  if (const auto Ports = WindowPorts(Value)) {
    Text = sim::HexText(Ports->First, 4) + "-" + sim::HexText(Ports->Last, 4);
  }
  const std::uint32_t Reserved =
      Value & ~(Range::AddressMaskField | Range::BaseMask | Range::Enable);
  if (Reserved != 0) {
    Text += ", reserved bits " + sim::HexText(Reserved, 8) + " set";
  }
  return Text;
}

std::uint16_t ReservedDecodeRangeBits(std::uint16_t Value) {
  std::uint32_t Known = 0;
  for (const RangeDevice &Each : RangeDevices) {
    Known |= RangeMask(Each.Field);
  }
  return static_cast<std::uint16_t>(Value & ~Known);
}

std::string DescribeDecodeRequest(std::uint16_t Port, std::uint8_t Size, std::uint32_t Attributes) {
  const std::uint32_t Type = FieldGet(DecodeAttributes::DeviceType, Attributes);
  const std::uint32_t Target = FieldGet(DecodeAttributes::DecodeTarget, Attributes);
  const bool Serial = Type == DecodeDevice::Serial;
  const std::string Device =
      Type == DecodeDevice::Floppy ? "floppy"
      : Type >= DecodeDevice::KeyboardFirst && Type <= DecodeDevice::KeyboardLast
          ? "keyboard controller"
      : Serial && Size == SerialSelector::ComA ? "serial COM A"
      : Serial && Size == SerialSelector::ComB ? "serial COM B"
      : Serial                         ? "serial, selector " + sim::HexText(Size, 2) + " (unknown)"
      : Type == DecodeDevice::Parallel ? "parallel"
      : Type == DecodeDevice::GamePort ? "game port"
      : Type == DecodeDevice::Other    ? "other"
                                       : "device type " + sim::HexText(Type, 2) + " (unknown)";
  return Device + (Port == DecodeOffPort ? " off" : " at " + sim::HexText(Port, 4)) + " on " +
         DescribeTarget(Target);
}

} // namespace runs
