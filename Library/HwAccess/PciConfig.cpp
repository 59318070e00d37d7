// PCI configuration access, written once over the primitives for every target.
#include "PciConfig.h"

namespace {

bool IsExtendedRegister(std::uint32_t Address) {
  return (Address & PciAddressEncoding::RegisterFieldMask) >=
         PciAddressEncoding::ExtendedRegisterStart;
}

PhysicalAddress EcamAddress(std::uint32_t Address) {
  return PciExpressBaseAddress + Address;
}

// The legacy port frame: interrupts masked and the address latch saved around the data access, so
// an interrupt handler that uses the same ports neither interleaves nor finds its latch changed.
struct PortFrame {
  std::uintptr_t Flags;
  std::uint32_t SavedAddress;
};

PortFrame OpenPortFrame(std::uint32_t Address) {
  PortFrame Frame;
  Frame.Flags = ReadFlags();
  DisableInterrupts();
  Frame.SavedAddress = PortRead32(PciPort::Address);
  PortWrite32(PciPort::Address, PciAddressEncoding::Enable |
                                    ((Address >> PciAddressEncoding::BusDeviceFunctionShift) &
                                     PciAddressEncoding::BusDeviceFunctionMask) |
                                    (Address & PciAddressEncoding::RegisterMask));
  return Frame;
}

void ClosePortFrame(const PortFrame &Frame) {
  PortWrite32(PciPort::Address, Frame.SavedAddress);
  if ((Frame.Flags & CpuFlags::InterruptEnable) != 0) {
    EnableInterrupts();
  } else {
    DisableInterrupts();
  }
}

std::uint16_t DataPort16(std::uint32_t Address) {
  return static_cast<std::uint16_t>(PciPort::Data +
                                    (Address & PciAddressEncoding::DataByteSelectMask));
}

} // namespace

std::uint16_t PciCfgRead16(std::uint32_t Address) {
  if (IsExtendedRegister(Address)) {
    return MmioRead16(EcamAddress(Address));
  }
  const PortFrame Frame = OpenPortFrame(Address);
  const std::uint16_t Value = PortRead16(DataPort16(Address));
  ClosePortFrame(Frame);
  return Value;
}

std::uint16_t PciCfgWrite16(std::uint32_t Address, std::uint16_t Value) {
  if (IsExtendedRegister(Address)) {
    MmioWrite16(EcamAddress(Address), Value);
    return Value;
  }
  const PortFrame Frame = OpenPortFrame(Address);
  PortWrite16(DataPort16(Address), Value);
  ClosePortFrame(Frame);
  return Value;
}

std::uint32_t PciCfgRead32(std::uint32_t Address) {
  if (IsExtendedRegister(Address)) {
    return MmioRead32(EcamAddress(Address));
  }
  const PortFrame Frame = OpenPortFrame(Address);
  const std::uint32_t Value = PortRead32(PciPort::Data);
  ClosePortFrame(Frame);
  return Value;
}

std::uint32_t PciCfgWrite32(std::uint32_t Address, std::uint32_t Value) {
  if (IsExtendedRegister(Address)) {
    MmioWrite32(EcamAddress(Address), Value);
    return Value;
  }
  const PortFrame Frame = OpenPortFrame(Address);
  PortWrite32(PciPort::Data, Value);
  ClosePortFrame(Frame);
  return Value;
}
