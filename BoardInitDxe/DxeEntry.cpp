#include "DxeEntry.h"

#include "DxeStartup.h"
#include "SerialPrint.h"

extern "C" EFI_STATUS EFIAPI BoardInitDxeEntry(EFI_HANDLE ImageHandle,
                                               EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  DxeStartup(SystemTable);
  const EFI_STATUS Status = EFI_SUCCESS;
  SerialPrint("Zelk SetupInit Start\n");
  SerialPrint("Zelk SetupInit result = %r\n", Status);
  return Status;
}
