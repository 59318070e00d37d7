// Entry of the board's early initialisation module, called once by the PEI core.
#pragma once

#include "Uefi/Uefi.h"

// Brings up the SPI peripheral when its controller answers, opens the legacy I/O decoding from
// the decode table and runs the Super I/O script. Neither argument is used; always returns 0.
extern "C" EFI_STATUS EFIAPI BoardInitPeiEntry(EFI_PEI_FILE_HANDLE FileHandle,
                                               const EFI_PEI_SERVICES **PeiServices);
