// The driver's module data: written once by the start-up, then left resident with the image.
#pragma once

#include "Uefi/Uefi.h"

// Zero while the image is freshly loaded; nothing ever frees or resets it in firmware. The host
// tests zero it between runs, as a fresh load would.
struct DxeModuleData {
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_BOOT_SERVICES *BootServices;
  void *HobList;                    // cached by GetHobList()
  EFI_SMM_BASE2_PROTOCOL *SmmBase2; // cached by the SMM detection
  BOOLEAN InSmm;
};

extern DxeModuleData gDxeModuleData;
