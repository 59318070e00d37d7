#include "DxeStartup.h"

#include "DxeGuids.h"
#include "DxeModuleData.h"
#include "HobList.h"
#include "SpiPeripheral.h"
#include "TimerStartup.h"

namespace {

// Without the SMM Base2 protocol the driver cannot be in SMM, and the flag stays false.
void DetectSmm() {
  if (gDxeModuleData.SmmBase2 == nullptr) {
    const EFI_STATUS Status = gDxeModuleData.BootServices->LocateProtocol(
        &DxeGuid::SmmBase2Protocol, nullptr, reinterpret_cast<void **>(&gDxeModuleData.SmmBase2));
    if (EfiIsError(Status)) {
      return;
    }
  }
  // A success that hands back no interface leaves nothing to ask.
  if (gDxeModuleData.SmmBase2 == nullptr) {
    return;
  }
  (void)gDxeModuleData.SmmBase2->InSmm(gDxeModuleData.SmmBase2, &gDxeModuleData.InSmm);
}

} // namespace

void DxeStartup(EFI_SYSTEM_TABLE *SystemTable) {
  gDxeModuleData.SystemTable = SystemTable;
  gDxeModuleData.BootServices = SystemTable->BootServices;
  (void)GetHobList();
  TimerStartup(GetHobList());
  // The same bring-up as in the PEI phase: it starts from any controller state, so repeating it
  // leaves the peripheral set up whatever happened to it since.
  if (SpiPeripheralPresent()) {
    SpiPeripheralBringUp();
  }
  DetectSmm();
}
