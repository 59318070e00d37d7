#include "DxeFirmware.h"

#include "Console.h"
#include "Crc32.h"

#include <cstddef>

namespace {

constexpr EFI_GUID HobListGuid = {
    0x7739F24C, 0x93D7, 0x11D4, {0x9A, 0x3A, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
constexpr EFI_GUID TimerHobGuid = {
    0x3FCA54F6, 0xE1A2, 0x4B20, {0xBE, 0x76, 0x92, 0x6B, 0x4B, 0x48, 0xBF, 0xAA}};
constexpr EFI_GUID SmmBase2Guid = {
    0xF4CCBFB7, 0xF6E0, 0x47FD, {0x9D, 0xD4, 0x10, 0xA8, 0xF1, 0x50, 0xC1, 0x91}};
// Another table ahead of the HOB list, so the driver has to search rather than take entry 0
// (the ACPI 2.0 table GUID; nothing behind it is read).
constexpr EFI_GUID AcpiTableGuid = {
    0x8868E871, 0xE4F1, 0x11D3, {0xBC, 0x22, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81}};

namespace TableHeader {
inline constexpr std::uint64_t SystemTableSignature = 0x5453595320494249;  // "IBI SYST"
inline constexpr std::uint64_t BootServicesSignature = 0x56524553544F4F42; // "BOOTSERV"
inline constexpr std::uint32_t Revision = (2u << 16) | 70u;                // UEFI 2.70
} // namespace TableHeader

namespace HobValues {
inline constexpr std::uint32_t HandoffVersion = 0x0009;
inline constexpr std::uint32_t BootWithFullConfiguration = 0;
} // namespace HobValues

// The list in the order the driver walks it: PHIT, then in the second configuration the timer
// GUID HOB, then the end.
struct HobList {
  EFI_HOB_HANDOFF_INFO_TABLE Handoff;
  EFI_HOB_GUID_TYPE TimerHob;
  EFI_HOB_GENERIC_HEADER End;
};

constexpr std::size_t ConfigurationEntries = 2;

struct Firmware {
  EFI_SYSTEM_TABLE SystemTable;
  EFI_BOOT_SERVICES BootServices;
  EFI_CONFIGURATION_TABLE ConfigurationTable[ConfigurationEntries];
  alignas(8) HobList Hobs;
  EFI_SMM_BASE2_PROTOCOL SmmBase2;
  bool SmmBase2Installed;
  DxeCalls Calls;
};

Firmware TheFirmware;

bool SameGuid(const EFI_GUID &Left, const EFI_GUID &Right) {
  const auto *A = reinterpret_cast<const std::uint8_t *>(&Left);
  const auto *B = reinterpret_cast<const std::uint8_t *>(&Right);
  for (std::size_t Index = 0; Index < sizeof(EFI_GUID); ++Index) {
    if (A[Index] != B[Index]) {
      return false;
    }
  }
  return true;
}

EFI_STATUS EFIAPI InSmm(const EFI_SMM_BASE2_PROTOCOL *This, BOOLEAN *InSmram) {
  ++TheFirmware.Calls.InSmm;
  TheFirmware.Calls.InSmmThisWasProtocol = This == &TheFirmware.SmmBase2;
  *InSmram = 0; // a boot-service driver runs outside SMM
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI LocateProtocol(const EFI_GUID *Protocol, void *Registration, void **Interface) {
  ++TheFirmware.Calls.LocateProtocol;
  if (Protocol == nullptr || Registration != nullptr || Interface == nullptr) {
    ++TheFirmware.Calls.LocateProtocolMisuses;
    return EFI_INVALID_PARAMETER;
  }
  const bool IsSmmBase2 = SameGuid(*Protocol, SmmBase2Guid);
  TheFirmware.Calls.SmmBase2Lookups += IsSmmBase2 ? 1 : 0;
  if (IsSmmBase2 && TheFirmware.SmmBase2Installed) {
    *Interface = &TheFirmware.SmmBase2;
    return EFI_SUCCESS;
  }
  *Interface = nullptr;
  return EFI_NOT_FOUND;
}

// Every boot service but LocateProtocol: the driver has no business calling them.
EFI_STATUS EFIAPI UnexpectedBootService() {
  FailAndExit("BoardInitDxe.efi", "called a boot service other than LocateProtocol");
}

void BuildHobList(HobList &Hobs, bool WithTimerHob, std::uint64_t MemoryBottom,
                  std::uint64_t MemoryTop) {
  EFI_HOB_GENERIC_HEADER *End = WithTimerHob ? &Hobs.End : &Hobs.TimerHob.Header;
  Hobs.Handoff.Header = {EFI_HOB_TYPE_HANDOFF, sizeof(EFI_HOB_HANDOFF_INFO_TABLE), 0};
  Hobs.Handoff.Version = HobValues::HandoffVersion;
  Hobs.Handoff.BootMode = HobValues::BootWithFullConfiguration;
  Hobs.Handoff.EfiMemoryTop = MemoryTop;
  Hobs.Handoff.EfiMemoryBottom = MemoryBottom;
  Hobs.Handoff.EfiFreeMemoryTop = MemoryTop;
  Hobs.Handoff.EfiFreeMemoryBottom = MemoryBottom;
  Hobs.Handoff.EfiEndOfHobList = reinterpret_cast<std::uintptr_t>(End);
  if (WithTimerHob) {
    Hobs.TimerHob.Header = {EFI_HOB_TYPE_GUID_EXTENSION, sizeof(EFI_HOB_GUID_TYPE), 0};
    Hobs.TimerHob.Name = TimerHobGuid;
  }
  *End = {EFI_HOB_TYPE_END_OF_HOB_LIST, sizeof(EFI_HOB_GENERIC_HEADER), 0};
}

template <typename Table> void SealHeader(Table &Contents, std::uint64_t Signature) {
  Contents.Hdr.Signature = Signature;
  Contents.Hdr.Revision = TableHeader::Revision;
  Contents.Hdr.HeaderSize = sizeof(Table);
  Contents.Hdr.CRC32 = 0;
  Contents.Hdr.CRC32 = Crc32(&Contents, sizeof(Table));
}

} // namespace

EFI_SYSTEM_TABLE *BuildDxeFirmware(DxeConfiguration Configuration, std::uint64_t MemoryBottom,
                                   std::uint64_t MemoryTop) {
  Firmware &F = TheFirmware;
  const bool Full = Configuration == DxeConfiguration::TimerHobAndSmm;
  BuildHobList(F.Hobs, Full, MemoryBottom, MemoryTop);
  F.SmmBase2Installed = Full;
  F.SmmBase2.InSmm = InSmm;

  for (void *&Slot : F.BootServices.ServicesBeforeLocateProtocol) {
    Slot = reinterpret_cast<void *>(UnexpectedBootService);
  }
  for (void *&Slot : F.BootServices.ServicesAfterLocateProtocol) {
    Slot = reinterpret_cast<void *>(UnexpectedBootService);
  }
  F.BootServices.LocateProtocol = LocateProtocol;
  SealHeader(F.BootServices, TableHeader::BootServicesSignature);

  F.ConfigurationTable[0] = {AcpiTableGuid, nullptr};
  F.ConfigurationTable[1] = {HobListGuid, &F.Hobs};
  F.SystemTable.BootServices = &F.BootServices;
  F.SystemTable.NumberOfTableEntries = ConfigurationEntries;
  F.SystemTable.ConfigurationTable = F.ConfigurationTable;
  SealHeader(F.SystemTable, TableHeader::SystemTableSignature);
  return &F.SystemTable;
}

const DxeCalls &DxeCallsSoFar() {
  return TheFirmware.Calls;
}
