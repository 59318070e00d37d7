#include "DecodeState.h"

#include "DecodeRequest.h"
#include "DecodeTarget.h"
#include "GenericIoRangeRegs.h"
#include "IoDecodePortLists.h"
#include "IoDecodeRegs.h"
#include "LpcBridgeRegs.h"
#include "PchPcrMirrors.h"

#include <cstdio>

namespace boardsim {
namespace {

template <std::size_t N> std::string ListPort(const std::uint16_t (&List)[N], std::uint32_t Index) {
  return Index < N ? sim::HexText(List[Index], 3) : "reserved (" + std::to_string(Index) + ")";
}

} // namespace

DecodeState ReadDecodeState(const sim::Board &Board) {
  namespace Reg = LpcBridge::Reg;
  namespace Mirror = PchPcr::Mirror;
  const sim::RegisterSpace &Lpc = Board.lpcConfig();
  const sim::RegisterSpace &Pcr = Board.pcr();
  DecodeState State;
  State.IoDecodeRanges = Lpc.read16(Reg::IoDecodeRanges);
  State.IoDecodeRangesMirror = Pcr.read16(Mirror::IoDecodeRanges);
  State.IoEnables = Lpc.read16(Reg::IoEnables);
  State.IoEnablesMirror = Pcr.read16(Mirror::IoEnables);
  State.EspiIoEnables = {Lpc.read16(Reg::EspiCs1IoEnables), Lpc.read16(Reg::EspiCs2IoEnables),
                         Lpc.read16(Reg::EspiCs3IoEnables)};
  constexpr unsigned LpcSlots = 4;
  for (unsigned Slot = 0; Slot < LpcSlots; ++Slot) {
    State.Windows.push_back(
        {"LPC range " + std::to_string(Slot + 1),
         Lpc.read32(Reg::GenericIoRange1 + LpcBridge::GenericIoRangeStride * Slot),
         Pcr.read32(Mirror::GenericIoRange1 + LpcBridge::GenericIoRangeStride * Slot)});
  }
  const std::uint32_t EspiRanges[] = {Reg::EspiCs1GenericIoRange, Reg::EspiCs2GenericIoRange,
                                      Reg::EspiCs3GenericIoRange};
  const std::uint32_t EspiMirrors[] = {Mirror::EspiCs1GenericIoRange, Mirror::EspiCs2GenericIoRange,
                                       Mirror::EspiCs3GenericIoRange};
  for (unsigned ChipSelect = 0; ChipSelect < 3; ++ChipSelect) {
    State.Windows.push_back({"eSPI CS" + std::to_string(ChipSelect + 1),
                             Lpc.read32(EspiRanges[ChipSelect]),
                             Pcr.read32(EspiMirrors[ChipSelect])});
  }
  return State;
}

std::string DescribeDecodeRanges(std::uint16_t Value, std::uint16_t Enables) {
  auto Device = [&](const char *Name, std::string Port, std::uint16_t Enable) {
    return Name + (" " + Port) + ((Enables & Enable) != 0 ? "" : " (off)");
  };
  return Device("COM A", ListPort(IoDecodePorts::Serial, FieldGet(IoDecodeRanges::ComA, Value)),
                IoEnables::ComA) +
         ", " +
         Device("COM B", ListPort(IoDecodePorts::Serial, FieldGet(IoDecodeRanges::ComB, Value)),
                IoEnables::ComB) +
         ", " +
         Device("parallel",
                ListPort(IoDecodePorts::Parallel, FieldGet(IoDecodeRanges::Parallel, Value)),
                IoEnables::Parallel) +
         ", " +
         Device("floppy", ListPort(IoDecodePorts::Floppy, FieldGet(IoDecodeRanges::Floppy, Value)),
                IoEnables::Floppy);
}

std::string DescribeEnables(std::uint16_t Value) {
  struct Named {
    std::uint16_t Bit;
    const char *Name;
  };
  static constexpr Named Bits[] = {
      {IoEnables::ComA, "COM A"},
      {IoEnables::ComB, "COM B"},
      {IoEnables::Parallel, "parallel"},
      {IoEnables::Floppy, "floppy"},
      {IoEnables::GamePort200, "game port 0x200"},
      {IoEnables::GamePort208, "game port 0x208"},
      {IoEnables::Keyboard, "keyboard 0x60/0x64"},
      {IoEnables::EmbeddedController, "EC 0x62/0x66"},
      {IoEnables::SuperIo2E, "config 0x2E/0x2F"},
      {IoEnables::SuperIo4E, "config 0x4E/0x4F"},
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
  std::string Text;
  if ((Value & GenericIoRange::Enable) == 0) {
    Text = "free";
  } else {
    // The mask bits leave their address bits out of the compare: the window starts at the base
    // with those bits clear and ends with them (and the two implied low bits) set.
    const std::uint32_t Mask = FieldGet(GenericIoRange::AddressMask, Value) << 2;
    const std::uint32_t Base = Value & FieldMask(GenericIoRange::Base) & ~Mask;
    Text = sim::HexText(Base, 4) + "-" + sim::HexText(Base | Mask | 3, 4);
  }
  const std::uint32_t Reserved =
      Value & ~(FieldMask(GenericIoRange::AddressMask) | FieldMask(GenericIoRange::Base) |
                GenericIoRange::Enable);
  if (Reserved != 0) {
    Text += ", reserved bits " + sim::HexText(Reserved, 8) + " set";
  }
  return Text;
}

std::uint16_t ReservedDecodeRangeBits(std::uint16_t Value) {
  const std::uint32_t Known = FieldMask(IoDecodeRanges::ComA) | FieldMask(IoDecodeRanges::ComB) |
                              FieldMask(IoDecodeRanges::Parallel) |
                              FieldMask(IoDecodeRanges::Floppy);
  return static_cast<std::uint16_t>(Value & ~Known);
}

std::string DescribeDecodeRequest(std::uint16_t Port, std::uint8_t Size, std::uint32_t Attributes) {
  const std::uint32_t Type = FieldGet(DecodeAttributes::DeviceType, Attributes);
  const std::uint32_t Target = FieldGet(DecodeAttributes::DecodeTarget, Attributes);
  std::string Device;
  if (Type == DecodeDevice::Floppy) {
    Device = "floppy";
  } else if (Type >= DecodeDevice::KeyboardFirst && Type <= DecodeDevice::KeyboardLast) {
    Device = "keyboard controller";
  } else if (Type == DecodeDevice::Serial) {
    Device = Size == SerialSelector::ComA ? "serial COM A"
             : Size == SerialSelector::ComB
                 ? "serial COM B"
                 : "serial, selector " + sim::HexText(Size, 2) + " (unknown)";
  } else if (Type == DecodeDevice::Parallel) {
    Device = "parallel";
  } else if (Type == DecodeDevice::GamePort) {
    Device = "game port";
  } else if (Type == DecodeDevice::Other) {
    Device = "other";
  } else {
    Device = "device type " + sim::HexText(Type, 2) + " (unknown)";
  }
  return Device + (Port == DecodeOffPort ? " off" : " at " + sim::HexText(Port, 4)) + " on " +
         DescribeTarget(Target);
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

} // namespace boardsim
