// Entry of the setup-init driver, called once by the DXE dispatcher.
#pragma once

#include "Uefi/Uefi.h"

// Runs the start-up, prints the start and result lines on the serial port and returns success.
// The image handle is not used.
extern "C" EFI_STATUS EFIAPI BoardInitDxeEntry(EFI_HANDLE ImageHandle,
                                               EFI_SYSTEM_TABLE *SystemTable);
