// PCI configuration access, written once over the primitives for every target.
#include "PciConfig.h"

namespace {

bool IsExtendedRegister(std::uint32_t Address) {
  return (Address & PciAddressEncoding::RegisterFieldMask) >=
         PciAddressEncoding::ExtendedRegisterStart;
}

// One access of the access's width and direction in the memory-mapped window.
std::uint32_t EcamAccess(std::uint32_t Address, PciAccess Access, std::uint32_t Value) {
  const PhysicalAddress Ecam = PciExpressBaseAddress + Address;
  switch (Access) {
  case PciAccess::Read16:
    return MmioRead16(Ecam);
  case PciAccess::Write16:
    MmioWrite16(Ecam, static_cast<std::uint16_t>(Value));
    return Value;
  case PciAccess::Read32:
    return MmioRead32(Ecam);
  case PciAccess::Write32:
    break;
  }
  MmioWrite32(Ecam, Value);
  return Value;
}

// A 16-bit access selects its half of the data dword by address bit 1; a dword access takes the
// whole data port.
std::uint32_t DataPortAccess(std::uint32_t Address, PciAccess Access, std::uint32_t Value) {
  const std::uint16_t HalfPort = static_cast<std::uint16_t>(
      PciPort::Data + (Address & PciAddressEncoding::DataByteSelectMask));
  switch (Access) {
  case PciAccess::Read16:
    return PortRead16(HalfPort);
  case PciAccess::Write16:
    PortWrite16(HalfPort, static_cast<std::uint16_t>(Value));
    return Value;
  case PciAccess::Read32:
    return PortRead32(PciPort::Data);
  case PciAccess::Write32:
    break;
  }
  PortWrite32(PciPort::Data, Value);
  return Value;
}

} // namespace

// Registers below 0x100 go through the legacy port frame: interrupts masked and the address latch
// saved around the data access, so an interrupt handler that uses the same ports neither
// interleaves nor finds its latch changed.
std::uint32_t PciCfgAccess(std::uint32_t Address, PciAccess Access, std::uint32_t Value) {
  if (IsExtendedRegister(Address)) {
    return EcamAccess(Address, Access, Value);
  }
  const std::uintptr_t Flags = ReadFlags();
  DisableInterrupts();
  const std::uint32_t SavedAddress = PortRead32(PciPort::Address);
  PortWrite32(PciPort::Address, PciAddressEncoding::Enable |
                                    ((Address >> PciAddressEncoding::BusDeviceFunctionShift) &
                                     PciAddressEncoding::BusDeviceFunctionMask) |
                                    (Address & PciAddressEncoding::RegisterMask));
  Value = DataPortAccess(Address, Access, Value);
  PortWrite32(PciPort::Address, SavedAddress);
  if ((Flags & CpuFlags::InterruptEnable) != 0) {
    EnableInterrupts();
  } else {
    DisableInterrupts();
  }
  return Value;
}
