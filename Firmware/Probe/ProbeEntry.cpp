// Link probe: pulls every shared library routine into a tiny image per target, so a missing
// run-time helper or an unwanted section shows up before the real modules exist.
#include "PciConfig.h"
#include "PmTimer.h"
#include "SpiPeripheral.h"
#include "Uefi/Uefi.h"

extern "C" EFI_STATUS EFIAPI ProbeEntry(void *, void *) {
  if (SpiPeripheralPresent()) {
    SpiPeripheralBringUp();
  }
  const std::uint32_t BridgeId = PciCfgRead32(PciAddress(0, 31, 0, 0));
  PciCfgWrite16(PciAddress(0, 31, 0, 0x82), PciCfgRead16(PciAddress(0, 31, 0, 0x82)));
  PciCfgWrite32(PciAddress(0, 31, 0, 0x204), BridgeId);
  DelayMicroseconds(10);
  PmTimerDelayTicks(ReadTimeStampCounter() & 0xFF);
  return 0;
}
