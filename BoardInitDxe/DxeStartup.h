// What the driver prepares before its body runs: its view of the firmware, the timers, the SPI
// peripheral and whether it runs in SMM.
#pragma once

#include "Uefi/Uefi.h"

void DxeStartup(EFI_SYSTEM_TABLE *SystemTable);
