#include "GenericIoRange.h"

#include "DecodeTarget.h"
#include "LpcBridgeRegs.h"
#include "PchPcrMirrors.h"
#include "PciConfig.h"

namespace {

// Register and mirror offsets both lie within 64 KiB, so 16 bits hold them.
struct SlotBank {
  std::uint16_t FirstRegister;
  std::uint16_t FirstMirror;
  std::uint32_t Count;
};

constexpr std::uint32_t PrimarySlots = LpcBridge::PrimaryGenericIoRanges;
constexpr std::uint32_t ChipSelectSlots = LpcBridge::ChipSelectGenericIoRanges;

// Indexed by decode target. The hardware slots are the only record of which windows exist.
struct SlotBankTable {
  SlotBank ByTarget[DecodeTarget::Count];
};

constexpr SlotBankTable MakeSlotBanks() {
  SlotBankTable Table{};
  Table.ByTarget[DecodeTarget::Lpc] = {LpcBridge::Reg::GenericIoRange1.Offset,
                                       PchPcr::Mirror::GenericIoRange1.Offset, PrimarySlots};
  Table.ByTarget[DecodeTarget::EspiCs1] = {LpcBridge::Reg::EspiCs1GenericIoRange.Offset,
                                           PchPcr::Mirror::EspiCs1GenericIoRange.Offset,
                                           ChipSelectSlots};
  Table.ByTarget[DecodeTarget::EspiCs2] = {LpcBridge::Reg::EspiCs2GenericIoRange.Offset,
                                           PchPcr::Mirror::EspiCs2GenericIoRange.Offset,
                                           ChipSelectSlots};
  Table.ByTarget[DecodeTarget::EspiCs3] = {LpcBridge::Reg::EspiCs3GenericIoRange.Offset,
                                           PchPcr::Mirror::EspiCs3GenericIoRange.Offset,
                                           ChipSelectSlots};
  return Table;
}

constexpr SlotBankTable SlotBanks = MakeSlotBanks();

constexpr std::uint32_t NoSlot = ~std::uint32_t{0};

// A slot is usable when it is free or already holds a window based exactly at Port.
std::uint32_t FindSlot(const SlotBank &Bank, std::uint16_t Port) {
  for (std::uint32_t Slot = 0; Slot < Bank.Count; ++Slot) {
    const std::uint32_t Value = PciCfgRead32(
        LpcBridge::ConfigAddress(Bank.FirstRegister + Slot * LpcBridge::GenericIoRangeStride));
    if ((Value & GenericIoRange::Enable) == 0 ||
        (Value & FieldMask(GenericIoRange::Base)) == Port) {
      return Slot;
    }
  }
  return NoSlot;
}

// Windows are powers of two aligned to their size; the returned mask is (window size - 1).
std::uint32_t WindowMask(std::uint32_t Size) {
  std::uint32_t Mask = GenericIoRange::MinimumWindow - 1;
  while (Mask < Size - 1) {
    Mask = Mask << 1 | 1;
  }
  return Mask;
}

} // namespace

Pei::Status SetGenericIoRange(std::uint16_t Port, std::uint16_t SizeWord) {
  if (SizeWord == GenericIoSizeWord::FullWindow) {
    SizeWord = GenericIoSizeWord::FullWindowAsSize;
  }
  std::uint32_t Size = FieldGet(GenericIoSizeWord::Size, SizeWord);
  const std::uint32_t Target = FieldGet(GenericIoSizeWord::DecodeTarget, SizeWord);
  if (Size == 0) {
    return Pei::EFI_INVALID_PARAMETER;
  }
  if (Size < GenericIoRange::MinimumWindow) {
    Size = GenericIoRange::MinimumWindow;
  }
  if (Target >= DecodeTarget::Count) {
    return Pei::EFI_UNSUPPORTED;
  }
  const SlotBank &Bank = SlotBanks.ByTarget[Target];
  const std::uint32_t Slot = FindSlot(Bank, Port);
  if (Slot == NoSlot) {
    return Pei::EFI_OUT_OF_RESOURCES;
  }

  const std::uint32_t Mask = WindowMask(Size);
  // Like the base, the address-mask field starts at port-address bit 2.
  const std::uint32_t Value =
      (Port & ~Mask & FieldMask(GenericIoRange::Base)) |
      FieldValue(GenericIoRange::AddressMask, Mask >> FieldShift(GenericIoRange::Base)) |
      GenericIoRange::Enable;
  const std::uint32_t SlotOffset = Slot * LpcBridge::GenericIoRangeStride;
  PciCfgWrite32(LpcBridge::ConfigAddress(Bank.FirstRegister + SlotOffset), Value);
  MmioWrite32(PchPcr::MirrorAddress(Bank.FirstMirror + SlotOffset), Value);
  return Pei::EFI_SUCCESS;
}
