#include "IoDecode.h"

#include "DecodeRequest.h"
#include "DecodeTarget.h"
#include "GenericIoRange.h"
#include "LpcBridgeRegs.h"
#include "PchPcrMirrors.h"
#include "PciConfig.h"

namespace {

// The change one request makes: and-mask and bits for the I/O Decode Ranges register and for
// the target's I/O Enables register. Defaults change nothing.
struct DecodeChange {
  std::uint16_t DecodeMask = KeepAll16;
  std::uint16_t DecodeBits = 0;
  std::uint16_t EnableMask = KeepAll16;
  std::uint16_t EnableBits = 0;
};

// Each decode target's I/O Enables register, indexed by decode target.
struct EnablesRegisterTable {
  Register16 ByTarget[DecodeTarget::Count];
};

constexpr EnablesRegisterTable MakeEnablesRegisters() {
  EnablesRegisterTable Table{};
  Table.ByTarget[DecodeTarget::Lpc] = LpcBridge::Reg::IoEnables;
  Table.ByTarget[DecodeTarget::EspiCs1] = LpcBridge::Reg::EspiCs1IoEnables;
  Table.ByTarget[DecodeTarget::EspiCs2] = LpcBridge::Reg::EspiCs2IoEnables;
  Table.ByTarget[DecodeTarget::EspiCs3] = LpcBridge::Reg::EspiCs3IoEnables;
  return Table;
}

constexpr EnablesRegisterTable EnablesRegisters = MakeEnablesRegisters();

// A fixed decoder whose base is one of a list of ports: the port's position in the list goes into
// the decoder's range field, and one enable bit turns the decoder on or, for port 0, off.
struct ListedDecoder {
  const std::uint16_t *Ports;
  std::uint8_t PortCount;
  std::uint8_t RangeShift;
  std::uint16_t RangeMask; // the range field in place
  std::uint16_t Enable;
};

template <std::size_t N>
constexpr ListedDecoder Listed(const std::uint16_t (&Ports)[N], RegisterField Range,
                               std::uint16_t Enable) {
  return {Ports, static_cast<std::uint8_t>(N), static_cast<std::uint8_t>(FieldShift(Range)),
          static_cast<std::uint16_t>(FieldMask(Range)), Enable};
}

constexpr ListedDecoder FloppyDecoder =
    Listed(IoDecodePorts::Floppy, IoDecodeRanges::Floppy, IoEnables::Floppy);
constexpr ListedDecoder ParallelDecoder =
    Listed(IoDecodePorts::Parallel, IoDecodeRanges::Parallel, IoEnables::Parallel);
constexpr ListedDecoder ComADecoder =
    Listed(IoDecodePorts::Serial, IoDecodeRanges::ComA, IoEnables::ComA);
constexpr ListedDecoder ComBDecoder =
    Listed(IoDecodePorts::Serial, IoDecodeRanges::ComB, IoEnables::ComB);

Pei::Status ClassifyListed(const ListedDecoder &Decoder, std::uint16_t Port, DecodeChange &Change) {
  if (Port == DecodeOffPort) {
    Change.EnableMask = KeepAllBut16(Decoder.Enable);
    return Pei::EFI_SUCCESS;
  }
  const std::uint32_t Position = PortPosition(Decoder.Ports, Decoder.PortCount, Port);
  if (Position == Decoder.PortCount) {
    return Pei::EFI_UNSUPPORTED;
  }
  Change.DecodeMask = KeepAllBut16(Decoder.RangeMask);
  Change.DecodeBits = static_cast<std::uint16_t>(Position << Decoder.RangeShift);
  Change.EnableBits = Decoder.Enable;
  return Pei::EFI_SUCCESS;
}

Pei::Status ClassifyKeyboard(std::uint16_t Port, DecodeChange &Change) {
  // The keyboard controller has fixed ports; any non-zero port just turns it on.
  if (Port == DecodeOffPort) {
    Change.EnableMask = KeepAllBut16(IoEnables::Keyboard);
  } else {
    Change.EnableBits = IoEnables::Keyboard;
  }
  return Pei::EFI_SUCCESS;
}

bool IsStandardSerial(std::uint16_t Port) {
  constexpr std::uint32_t Count =
      sizeof(IoDecodePorts::StandardSerial) / sizeof(IoDecodePorts::StandardSerial[0]);
  return PortPosition(IoDecodePorts::StandardSerial, Count, Port) < Count;
}

// The four standard COM ports: 0x3F8 and 0x3E8 on the COM decoders, 0x2F8 and 0x2E8 through the
// 256-byte window at 0x200.
Pei::Status ClassifyStandardSerial(DecodeChange &Change) {
  // The window always goes to the primary target; a refusal leaves the COM decoders to work.
  SetGenericIoRange(IoDecodePorts::StandardSerialWindow, GenericIoSizeWord::FullWindow);
  Change.DecodeMask =
      KeepAllBut16(FieldMask(IoDecodeRanges::ComA) | FieldMask(IoDecodeRanges::ComB));
  constexpr std::uint16_t Bits = static_cast<std::uint16_t>(
      FieldValue(IoDecodeRanges::ComA,
                 PortPosition(IoDecodePorts::Serial, IoDecodePorts::StandardComA)) |
      FieldValue(IoDecodeRanges::ComB,
                 PortPosition(IoDecodePorts::Serial, IoDecodePorts::StandardComB)));
  Change.DecodeBits = Bits;
  Change.EnableBits = IoEnables::ComA | IoEnables::ComB;
  return Pei::EFI_SUCCESS;
}

Pei::Status ClassifyGamePort(std::uint16_t Port, DecodeChange &Change) {
  switch (Port) {
  case DecodeOffPort:
    Change.EnableMask = KeepAllBut16(IoEnables::GamePort200 | IoEnables::GamePort208);
    return Pei::EFI_SUCCESS;
  case IoDecodePorts::GamePort200:
    Change.EnableBits = IoEnables::GamePort200;
    return Pei::EFI_SUCCESS;
  case IoDecodePorts::GamePort208:
    Change.EnableBits = IoEnables::GamePort208;
    return Pei::EFI_SUCCESS;
  default:
    return Pei::EFI_UNSUPPORTED;
  }
}

Pei::Status ClassifyOther(std::uint16_t Port, std::uint8_t Size, std::uint32_t Target,
                          DecodeChange &Change) {
  if (Port == DecodeOffPort) {
    // Without a device there is nothing to turn off.
    return Pei::EFI_UNSUPPORTED;
  }
  if (Port == IoDecodePorts::SuperIo2E) {
    Change.EnableBits = IoEnables::SuperIo2E;
  } else if (Port == IoDecodePorts::SuperIo4E) {
    Change.EnableBits = IoEnables::SuperIo4E;
  } else if (Port >= IoDecodePorts::EmbeddedControllerFirst &&
             Port <= IoDecodePorts::EmbeddedControllerLast) {
    Change.EnableBits = IoEnables::EmbeddedController;
  } else {
    // No fixed decoder: a generic window. A refused window is not the request's failure; the
    // enables of the target are still brought up to date.
    SetGenericIoRange(
        Port, static_cast<std::uint16_t>(FieldValue(GenericIoSizeWord::DecodeTarget, Target) |
                                         FieldValue(GenericIoSizeWord::Size, Size)));
  }
  return Pei::EFI_SUCCESS;
}

// Maps the device type and port onto the decode fields. A refusal here comes before any register
// is touched. Not everything here is free of side effects: the standard-serial and generic-window
// rows open their window now, ahead of the decode and enable registers, and a decode target
// beyond the chip selects is refused only later, after the decode register and its mirror.
Pei::Status Classify(std::uint16_t Port, std::uint8_t Size, std::uint32_t DeviceType,
                     std::uint32_t Target, DecodeChange &Change) {
  const ListedDecoder *Decoder;
  switch (DeviceType) {
  case DecodeDevice::Floppy:
    Decoder = &FloppyDecoder;
    break;
  case DecodeDevice::Serial:
    if (Size != SerialSelector::ComA && Size != SerialSelector::ComB) {
      return Pei::EFI_UNSUPPORTED;
    }
    if (IsStandardSerial(Port)) {
      return ClassifyStandardSerial(Change);
    }
    Decoder = Size == SerialSelector::ComB ? &ComBDecoder : &ComADecoder;
    break;
  case DecodeDevice::Parallel:
    Decoder = &ParallelDecoder;
    break;
  case DecodeDevice::GamePort:
    return ClassifyGamePort(Port, Change);
  case DecodeDevice::Other:
    return ClassifyOther(Port, Size, Target, Change);
  default:
    if (DeviceType >= DecodeDevice::KeyboardFirst && DeviceType <= DecodeDevice::KeyboardLast) {
      return ClassifyKeyboard(Port, Change);
    }
    return Pei::EFI_UNSUPPORTED;
  }
  return ClassifyListed(*Decoder, Port, Change);
}

// Each register is combined with its own content, so a mirror that has drifted keeps its own
// other bits.
void ModifyConfig16(Register16 Register, std::uint16_t AndMask, std::uint16_t OrBits) {
  ModifyRegister<PciCfgRead16, PciCfgWrite16>(LpcBridge::ConfigAddress(Register.Offset), AndMask,
                                              OrBits);
}

void ModifyMirror16(Register16 Mirror, std::uint16_t AndMask, std::uint16_t OrBits) {
  ModifyRegister<MmioRead16, MmioWrite16>(PchPcr::MirrorAddress(Mirror.Offset), AndMask, OrBits);
}

} // namespace

Pei::Status SetIoDecode(std::uint16_t Port, std::uint8_t Size, std::uint32_t Attributes) {
  const std::uint32_t DeviceType = FieldGet(DecodeAttributes::DeviceType, Attributes);
  const std::uint32_t Target = FieldGet(DecodeAttributes::DecodeTarget, Attributes);

  DecodeChange Change;
  const Pei::Status Classified = Classify(Port, Size, DeviceType, Target, Change);
  if (Classified != Pei::EFI_SUCCESS) {
    return Classified;
  }

  // One I/O Decode Ranges register serves every target, so it is written before the target is
  // known to exist: a target beyond the chip selects is refused after this write.
  ModifyConfig16(LpcBridge::Reg::IoDecodeRanges, Change.DecodeMask, Change.DecodeBits);
  ModifyMirror16(PchPcr::Mirror::IoDecodeRanges, Change.DecodeMask, Change.DecodeBits);

  if (Target >= DecodeTarget::Count) {
    return Pei::EFI_UNSUPPORTED;
  }
  const std::uint32_t EnablesAddress =
      LpcBridge::ConfigAddress(EnablesRegisters.ByTarget[Target].Offset);
  std::uint16_t Enables =
      MergeBits<std::uint16_t>(PciCfgRead16(EnablesAddress), Change.EnableMask, Change.EnableBits);
  if (Target != DecodeTarget::Lpc) {
    // A chip select's enables and the primary enables are kept as one union: the primary
    // register receives what the chip select now decodes, and the chip select keeps everything
    // the primary register already decodes.
    const std::uint32_t PrimaryAddress = LpcBridge::ConfigAddress(LpcBridge::Reg::IoEnables.Offset);
    Enables = static_cast<std::uint16_t>(Enables | PciCfgRead16(PrimaryAddress));
    PciCfgWrite16(PrimaryAddress, Enables);
  }
  PciCfgWrite16(EnablesAddress, Enables);
  // The one enables mirror takes the request's own change, not the union.
  ModifyMirror16(PchPcr::Mirror::IoEnables, Change.EnableMask, Change.EnableBits);
  return Pei::EFI_SUCCESS;
}
