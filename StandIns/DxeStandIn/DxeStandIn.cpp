#include "DxeStandIn.h"

#include "Crc32.h"
#include "DxeStandInGuids.h"

namespace standin {
namespace {

namespace TableHeader {
inline constexpr std::uint64_t SystemTableSignature = 0x5453595320494249;  // "IBI SYST"
inline constexpr std::uint64_t BootServicesSignature = 0x56524553544F4F42; // "BOOTSERV"
inline constexpr std::uint32_t Revision = (2u << 16) | 70u;                // UEFI 2.70
} // namespace TableHeader

namespace HobValues {
inline constexpr std::uint32_t HandoffVersion = 0x0009;
inline constexpr std::uint32_t BootWithFullConfiguration = 0;
inline constexpr std::size_t Alignment = 8;
inline constexpr std::size_t GuidPayload = 8; // bytes after a GUID HOB's name; nobody reads them
} // namespace HobValues

// The configuration table holds the ACPI 2.0 entry ahead of the HOB list, so the driver has to
// search rather than take entry 0.
inline constexpr std::size_t ConfigurationEntries = 2;
inline constexpr std::size_t AcpiTableWords = 4; // what the ACPI entry points at; never read

// The tables, in this order, at the start of the memory; the HOB list follows them.
struct Tables {
  EFI_SYSTEM_TABLE SystemTable;
  EFI_BOOT_SERVICES BootServices;
  EFI_CONFIGURATION_TABLE ConfigurationTable[ConfigurationEntries];
  std::uint64_t AcpiTable[AcpiTableWords];
  EFI_SMM_BASE2_PROTOCOL SmmBase2;
};

constexpr std::size_t AlignUp(std::size_t Size) {
  return (Size + HobValues::Alignment - 1) / HobValues::Alignment * HobValues::Alignment;
}

constexpr std::size_t HobListOffset = AlignUp(sizeof(Tables));
constexpr std::size_t GuidHobSize = sizeof(EFI_HOB_GUID_TYPE) + HobValues::GuidPayload;

// A header-only HOB shorter than its header still occupies the header's bytes here.
std::size_t ExtraHobSize(const Settings &Configuration) {
  if (!Configuration.ExtraHob.Present) {
    return 0;
  }
  const std::size_t Length = Configuration.ExtraHob.Length;
  return AlignUp(Length < sizeof(EFI_HOB_GENERIC_HEADER) ? sizeof(EFI_HOB_GENERIC_HEADER) : Length);
}

std::size_t HobListSize(const Settings &Configuration) {
  return AlignUp(sizeof(EFI_HOB_HANDOFF_INFO_TABLE)) + GuidHobSize + ExtraHobSize(Configuration) +
         (Configuration.TimerHob ? GuidHobSize : 0) + AlignUp(sizeof(EFI_HOB_GENERIC_HEADER));
}

void CopyBytes(std::uint8_t *To, const void *From, std::size_t Size) {
  const auto *Bytes = static_cast<const std::uint8_t *>(From);
  for (std::size_t Index = 0; Index < Size; ++Index) {
    To[Index] = Bytes[Index];
  }
}

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

template <typename T> T *At(std::uint64_t Address) {
  return reinterpret_cast<T *>(static_cast<std::uintptr_t>(Address));
}

template <typename Table> void SealHeader(Table &Contents, std::uint64_t Signature) {
  Contents.Hdr.Signature = Signature;
  Contents.Hdr.Revision = TableHeader::Revision;
  Contents.Hdr.HeaderSize = sizeof(Table);
  Contents.Hdr.CRC32 = 0;
  Contents.Hdr.CRC32 = Crc32(&Contents, sizeof(Table));
}

// Writes the list at Memory (seen by the driver at Base); returns its size.
std::size_t BuildHobList(const Settings &Configuration, std::uint8_t *Memory, std::uint64_t Base) {
  std::size_t At = AlignUp(sizeof(EFI_HOB_HANDOFF_INFO_TABLE));
  auto AppendGuidHob = [&](const EFI_GUID &Name) {
    EFI_HOB_GUID_TYPE Hob{};
    Hob.Header = {EFI_HOB_TYPE_GUID_EXTENSION, static_cast<std::uint16_t>(GuidHobSize), 0};
    Hob.Name = Name;
    CopyBytes(Memory + At, &Hob, sizeof(Hob));
    At += GuidHobSize;
  };
  AppendGuidHob(Guid::UnrelatedHob);
  if (Configuration.ExtraHob.Present) {
    const EFI_HOB_GENERIC_HEADER Header{Configuration.ExtraHob.Type, Configuration.ExtraHob.Length,
                                        0};
    CopyBytes(Memory + At, &Header, sizeof(Header));
    At += ExtraHobSize(Configuration);
  }
  if (Configuration.TimerHob) {
    AppendGuidHob(Guid::TimerHob);
  }
  const std::size_t EndOffset = At;
  const EFI_HOB_GENERIC_HEADER End{EFI_HOB_TYPE_END_OF_HOB_LIST, sizeof(End), 0};
  CopyBytes(Memory + At, &End, sizeof(End));
  At += AlignUp(sizeof(End));

  // The list ends exactly with the end HOB, so any read past it is a read outside the memory.
  EFI_HOB_HANDOFF_INFO_TABLE Handoff{};
  Handoff.Header = {EFI_HOB_TYPE_HANDOFF, sizeof(Handoff), 0};
  Handoff.Version = HobValues::HandoffVersion;
  Handoff.BootMode = HobValues::BootWithFullConfiguration;
  Handoff.EfiMemoryBottom = Base;
  Handoff.EfiMemoryTop = Base + At;
  Handoff.EfiFreeMemoryBottom = Base + At;
  Handoff.EfiFreeMemoryTop = Base + At;
  Handoff.EfiEndOfHobList = Base + EndOffset;
  CopyBytes(Memory, &Handoff, sizeof(Handoff));
  return At;
}

} // namespace

std::size_t MemorySize(const Settings &Configuration) {
  return HobListOffset + HobListSize(Configuration);
}

bool Build(Firmware &Result, const Settings &Configuration, void *Memory, std::size_t Size,
           std::uint64_t Base, const ServiceAddresses &Services) {
  if (Size < MemorySize(Configuration)) {
    return false;
  }
  auto *Bytes = static_cast<std::uint8_t *>(Memory);
  for (std::size_t Index = 0; Index < Size; ++Index) {
    Bytes[Index] = 0;
  }
  Result = {};
  Result.Configuration = Configuration;
  Result.Base = Base;
  Result.SystemTable = Base + offsetof(Tables, SystemTable);
  Result.HobList = Base + HobListOffset;
  Result.SmmBase2 = Base + offsetof(Tables, SmmBase2);
  BuildHobList(Configuration, Bytes + HobListOffset, Result.HobList);

  Tables Built{};
  std::uint64_t Slot = 0;
  auto Unexpected = [&] {
    return At<void>(Services.Unexpected + Slot++ * Services.UnexpectedStride);
  };
  for (void *&Entry : Built.BootServices.ServicesBeforeLocateProtocol) {
    Entry = Unexpected();
  }
  ++Slot; // LocateProtocol's own
  for (void *&Entry : Built.BootServices.ServicesAfterLocateProtocol) {
    Entry = Unexpected();
  }
  Built.BootServices.LocateProtocol =
      reinterpret_cast<EFI_LOCATE_PROTOCOL>(static_cast<std::uintptr_t>(Services.LocateProtocol));
  SealHeader(Built.BootServices, TableHeader::BootServicesSignature);

  Built.SmmBase2.InSmm =
      reinterpret_cast<EFI_SMM_INSIDE_OUT2>(static_cast<std::uintptr_t>(Services.InSmm));
  Built.ConfigurationTable[0] = {Guid::Acpi20Table, At<void>(Base + offsetof(Tables, AcpiTable))};
  Built.ConfigurationTable[1] = {Guid::HobList, At<void>(Result.HobList)};
  Built.SystemTable.BootServices = At<EFI_BOOT_SERVICES>(Base + offsetof(Tables, BootServices));
  Built.SystemTable.NumberOfTableEntries =
      Configuration.HobListInConfigTable ? ConfigurationEntries : ConfigurationEntries - 1;
  Built.SystemTable.ConfigurationTable =
      At<EFI_CONFIGURATION_TABLE>(Base + offsetof(Tables, ConfigurationTable));
  SealHeader(Built.SystemTable, TableHeader::SystemTableSignature);
  CopyBytes(Bytes, &Built, sizeof(Built));
  return true;
}

LocateAnswer LocateProtocol(Firmware &State, const EFI_GUID *Protocol, bool RegistrationGiven,
                            bool InterfaceGiven) {
  ++State.Counted.LocateProtocol;
  LocateAnswer Answer;
  if (Protocol == nullptr || RegistrationGiven || !InterfaceGiven) {
    ++State.Counted.LocateProtocolMisuses;
    Answer.Status = EFI_INVALID_PARAMETER;
    return Answer;
  }
  const bool IsSmmBase2 = SameGuid(*Protocol, Guid::SmmBase2Protocol);
  State.Counted.SmmBase2Lookups += IsSmmBase2 ? 1 : 0;
  Answer.InterfaceWritten = true;
  if (IsSmmBase2 && State.Configuration.Smm != SmmMode::Absent) {
    Answer.Status = EFI_SUCCESS;
    Answer.Interface = State.Configuration.Smm == SmmMode::NullInterface ? 0 : State.SmmBase2;
  }
  return Answer;
}

InSmmAnswer InSmm(Firmware &State, std::uint64_t This, bool InSmramGiven) {
  ++State.Counted.InSmm;
  State.Counted.InSmmThisWasProtocol = This == State.SmmBase2;
  InSmmAnswer Answer;
  if (This != State.SmmBase2 || !InSmramGiven) {
    Answer.Status = EFI_INVALID_PARAMETER;
    return Answer;
  }
  Answer.InSmramWritten = true;
  Answer.InSmram = State.Configuration.Smm == SmmMode::Inside ? 1 : 0;
  return Answer;
}

} // namespace standin
