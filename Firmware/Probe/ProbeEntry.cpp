// Link probe: pulls every shared library routine into a tiny image per target, so a missing
// run-time helper or an unwanted section shows up before the real modules exist.
#include "LpcBridgeRegs.h"
#include "PciConfig.h"
#include "PmTimer.h"
#include "SpiPeripheral.h"
#include "Uefi/Uefi.h"

extern "C" EFI_STATUS EFIAPI ProbeEntry(void *, void *) {
  if (SpiPeripheralPresent()) {
    SpiPeripheralBringUp();
  }
  // One register through the address and data ports, one through the enhanced window.
  const std::uint32_t BridgeId =
      PciCfgRead32(LpcBridge::ConfigAddress(LpcBridge::Reg::VendorDeviceId.Offset));
  const std::uint32_t Enables = LpcBridge::ConfigAddress(LpcBridge::Reg::IoEnables.Offset);
  PciCfgWrite16(Enables, PciCfgRead16(Enables));
  PciCfgWrite32(LpcBridge::ConfigAddress(LpcBridge::Reg::EspiCs2GenericIoRange.Offset), BridgeId);
  DelayMicroseconds(10);
  PmTimerDelayTicks(ReadTimeStampCounter() & 0xFF);
  return 0;
}
