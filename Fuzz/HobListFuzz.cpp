// Fuzz target: the configuration-table scan for the HOB list and the walk of a HOB list, over
// arbitrary bytes in buffers the target owns and that end where the data ends.
//
// Input: byte 0 the number of configuration-table entries (0-4), then 24 bytes per entry (GUID,
// table pointer), then the HOB bytes. The target pads the HOB bytes with zeros to a multiple of
// 8 and appends an end HOB, so the list ends exactly at the end of its allocation.
//
// What the walk can and cannot know. The configuration table hands over a pointer and no
// length, so the walk cannot know where the list's memory ends: a HOB whose length steps past
// the end of the list sends it into memory nobody described, and no check inside the walk can
// tell that from a valid next HOB. What it can know is the header itself: a length below 8 would
// leave it standing on the same HOB, and it ends the walk there; a GUID-extension HOB too short
// for its name is not read past its end. Lists whose HOB lengths step outside the list, or to a
// position that is not 8-byte aligned (every HOB length is a multiple of 8 in a list the PEI
// phase built), are therefore outside the contract and rejected by the target, with a model walk
// that decides this before the real one runs. Everything else must stay inside the allocation
// (ASan), end (the fuzzer's -timeout) and give the model's answer.
#include "BoardInitDxe/DxeGuids.h"
#include "BoardInitDxe/DxeModuleData.h"
#include "BoardInitDxe/HobList.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t MaxTableEntries = 4;
constexpr std::size_t HobHeaderBytes = sizeof(EFI_HOB_GENERIC_HEADER);
constexpr std::size_t GuidHobBytes = sizeof(EFI_HOB_GUID_TYPE);
constexpr std::size_t NameOffset = offsetof(EFI_HOB_GUID_TYPE, Name);

[[noreturn]] void Finding(const char *What) {
  std::fprintf(stderr, "HobListFuzz: %s\n", What);
  std::abort();
}

std::uint16_t Read16(const std::uint8_t *Bytes) {
  return static_cast<std::uint16_t>(Bytes[0] | Bytes[1] << 8);
}

enum class WalkVerdict { Found, NotFound, OutsideContract };

// The same walk over byte offsets, with the contract checked at each step.
WalkVerdict ModelWalk(const std::uint8_t *List, std::size_t Size, const EFI_GUID &Name) {
  std::size_t At = 0;
  for (;;) {
    const std::uint16_t Type = Read16(List + At);
    const std::uint16_t Length = Read16(List + At + 2);
    if (Type == EFI_HOB_TYPE_END_OF_HOB_LIST || Length < HobHeaderBytes) {
      return WalkVerdict::NotFound;
    }
    if (Length % HobHeaderBytes != 0 || At + Length + HobHeaderBytes > Size) {
      return WalkVerdict::OutsideContract;
    }
    if (Type == EFI_HOB_TYPE_GUID_EXTENSION && Length >= GuidHobBytes &&
        std::memcmp(List + At + NameOffset, &Name, sizeof(EFI_GUID)) == 0) {
      return WalkVerdict::Found;
    }
    At += Length;
  }
}

void CheckTableScan(const std::uint8_t *Data, std::size_t Entries) {
  const auto Table = std::make_unique<EFI_CONFIGURATION_TABLE[]>(Entries);
  void *Expected = nullptr;
  bool Matched = false;
  for (std::size_t Index = 0; Index < Entries; ++Index) {
    std::memcpy(&Table[Index].VendorGuid, Data + Index * sizeof(EFI_CONFIGURATION_TABLE),
                sizeof(EFI_GUID));
    std::uintptr_t Pointer;
    std::memcpy(&Pointer, Data + Index * sizeof(EFI_CONFIGURATION_TABLE) + sizeof(EFI_GUID),
                sizeof Pointer);
    Table[Index].VendorTable = reinterpret_cast<void *>(Pointer);
    if (!Matched && std::memcmp(&Table[Index].VendorGuid, &DxeGuid::HobList, 16) == 0) {
      Matched = true;
      Expected = Table[Index].VendorTable;
    }
  }

  EFI_SYSTEM_TABLE SystemTable{};
  SystemTable.NumberOfTableEntries = Entries;
  SystemTable.ConfigurationTable = Table.get();
  gDxeModuleData = {};
  gDxeModuleData.SystemTable = &SystemTable;
  if (GetHobList() != Expected) {
    Finding("the scan did not return the first HOB-list entry");
  }
  if (Expected != nullptr) {
    // A found list is cached: the second call must not look at the table again.
    SystemTable.ConfigurationTable = nullptr;
    SystemTable.NumberOfTableEntries = ~std::uintptr_t{0};
  }
  if (GetHobList() != Expected) {
    Finding("the second call returned another list");
  }
  gDxeModuleData = {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  if (Size == 0) {
    return 0;
  }
  const std::size_t Entries = std::min<std::size_t>(Data[0] % (MaxTableEntries + 1),
                                                    (Size - 1) / sizeof(EFI_CONFIGURATION_TABLE));
  CheckTableScan(Data + 1, Entries);

  const std::uint8_t *Hobs = Data + 1 + Entries * sizeof(EFI_CONFIGURATION_TABLE);
  const std::size_t HobBytes = Size - 1 - Entries * sizeof(EFI_CONFIGURATION_TABLE);
  const std::size_t Padded = (HobBytes + HobHeaderBytes - 1) / HobHeaderBytes * HobHeaderBytes;
  const std::size_t ListSize = Padded + HobHeaderBytes;
  const auto List = std::make_unique<std::uint8_t[]>(ListSize); // zero-filled
  std::memcpy(List.get(), Hobs, HobBytes);
  const EFI_HOB_GENERIC_HEADER End{EFI_HOB_TYPE_END_OF_HOB_LIST, HobHeaderBytes, 0};
  std::memcpy(List.get() + Padded, &End, sizeof End);

  const WalkVerdict Verdict = ModelWalk(List.get(), ListSize, DxeGuid::TimerCalibrated);
  if (Verdict == WalkVerdict::OutsideContract) {
    return -1;
  }
  if (HobListHasGuidHob(List.get(), DxeGuid::TimerCalibrated) != (Verdict == WalkVerdict::Found)) {
    Finding("the walk and the model disagree");
  }
  if (HobListHasGuidHob(nullptr, DxeGuid::TimerCalibrated)) {
    Finding("a null list holds a HOB");
  }
  return 0;
}
