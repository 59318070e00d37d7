// The DXE environment of the boot program: the project's DXE firmware stand-in, built in the
// boot program's memory for one configuration, its services answered by the functions here.
#pragma once

#include "DxeStandIn.h"
#include "Handoff.h"
#include "Uefi/Uefi.h"

// Builds the tables for one configuration; returns the system table to pass to the driver.
EFI_SYSTEM_TABLE *BuildDxeFirmware(DxeConfiguration Configuration);
const standin::Calls &DxeCallsSoFar();
