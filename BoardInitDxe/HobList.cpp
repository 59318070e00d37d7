#include "HobList.h"

#include "DxeGuids.h"
#include "DxeModuleData.h"

#include <cstdint>

void *GetHobList() {
  if (gDxeModuleData.HobList != nullptr) {
    return gDxeModuleData.HobList;
  }
  const EFI_SYSTEM_TABLE *SystemTable = gDxeModuleData.SystemTable;
  for (std::uintptr_t Index = 0; Index < SystemTable->NumberOfTableEntries; ++Index) {
    const EFI_CONFIGURATION_TABLE &Entry = SystemTable->ConfigurationTable[Index];
    if (GuidEquals(Entry.VendorGuid, DxeGuid::HobList)) {
      gDxeModuleData.HobList = Entry.VendorTable;
      return Entry.VendorTable;
    }
  }
  return nullptr;
}

bool HobListHasGuidHob(const void *HobList, const EFI_GUID &Guid) {
  if (HobList == nullptr) {
    return false;
  }
  const auto *Hob = static_cast<const std::uint8_t *>(HobList);
  for (;;) {
    const auto *Header = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(Hob);
    // A length below the header would leave the walk standing on the same HOB forever.
    if (Header->HobType == EFI_HOB_TYPE_END_OF_HOB_LIST ||
        Header->HobLength < sizeof(EFI_HOB_GENERIC_HEADER)) {
      return false;
    }
    // A GUID-extension HOB too short to hold its name is not read past its end.
    if (Header->HobType == EFI_HOB_TYPE_GUID_EXTENSION &&
        Header->HobLength >= sizeof(EFI_HOB_GUID_TYPE) &&
        GuidEquals(reinterpret_cast<const EFI_HOB_GUID_TYPE *>(Hob)->Name, Guid)) {
      return true;
    }
    Hob += Header->HobLength;
  }
}
