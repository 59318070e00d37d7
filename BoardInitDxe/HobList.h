// The hand-off block list the PEI phase left in memory, found through the configuration table.
#pragma once

#include "Uefi/Uefi.h"

// The HOB list, or null when the configuration table has no entry for it. A found list is
// cached; while none is found, every call scans the table again.
void *GetHobList();

// True when the list holds a GUID-extension HOB named Guid before its end. A null list holds
// nothing; a HOB shorter than the HOB header ends the walk like the end HOB.
bool HobListHasGuidHob(const void *HobList, const EFI_GUID &Guid);
