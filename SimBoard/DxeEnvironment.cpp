#include "DxeEnvironment.h"

#include "Board.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

DxeEnvironment *Active = nullptr;

constexpr std::uint64_t SystemTableSignature = 0x5453595320494249;  // "IBI SYST"
constexpr std::uint64_t BootServicesSignature = 0x56524553544F4F42; // "BOOTSERV"
constexpr std::uint32_t SystemTableRevision = (2u << 16) | 70;      // UEFI 2.7
constexpr std::uint32_t HandoffHobVersion = 0x0009;
constexpr std::size_t HobAlignment = 8;
constexpr std::size_t GuidHobPayload = 8; // bytes after the name; nobody reads them

bool SameGuid(const EFI_GUID &Left, const EFI_GUID &Right) {
  return std::memcmp(&Left, &Right, sizeof(EFI_GUID)) == 0;
}

// The driver's statuses are 64 bits wide.
constexpr unsigned StatusBits = 64;

DxeEnvironment &ActiveEnvironment() {
  if (Active == nullptr) {
    std::fprintf(stderr, "DXE environment: firmware service called with no environment\n");
    std::abort();
  }
  return *Active;
}

// Appends one HOB to a byte image of the list, padded to the HOB alignment.
void AppendHob(std::vector<std::uint8_t> &Bytes, const void *Hob, std::size_t Size) {
  const auto *First = static_cast<const std::uint8_t *>(Hob);
  Bytes.insert(Bytes.end(), First, First + Size);
  Bytes.resize((Bytes.size() + HobAlignment - 1) / HobAlignment * HobAlignment, 0);
}

void AppendGuidHob(std::vector<std::uint8_t> &Bytes, const EFI_GUID &Name) {
  struct {
    EFI_HOB_GUID_TYPE Hob;
    std::uint64_t Payload;
  } Hob{};
  Hob.Hob.Header.HobType = EFI_HOB_TYPE_GUID_EXTENSION;
  Hob.Hob.Header.HobLength = sizeof(EFI_HOB_GUID_TYPE) + GuidHobPayload;
  Hob.Hob.Name = Name;
  AppendHob(Bytes, &Hob, Hob.Hob.Header.HobLength);
}

} // namespace

std::string GuidText(const EFI_GUID &Guid) {
  char Text[40];
  std::snprintf(Text, sizeof Text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", Guid.Data1,
                Guid.Data2, Guid.Data3, Guid.Data4[0], Guid.Data4[1], Guid.Data4[2], Guid.Data4[3],
                Guid.Data4[4], Guid.Data4[5], Guid.Data4[6], Guid.Data4[7]);
  return Text;
}

DxeEnvironment::DxeEnvironment(const DxeEnvironmentSettings &Settings) : Settings_(Settings) {
  if (Active != nullptr) {
    std::fprintf(stderr, "DXE environment: one is already active\n");
    std::abort();
  }
  Active = this;
  buildHobList();

  BootServices_.Hdr.Signature = BootServicesSignature;
  BootServices_.Hdr.Revision = SystemTableRevision;
  BootServices_.Hdr.HeaderSize = sizeof(EFI_BOOT_SERVICES);
  BootServices_.LocateProtocol = &DxeEnvironment::LocateProtocolEntry;
  SmmBase2_.InSmm = &DxeEnvironment::InSmmEntry;

  ConfigurationTable_[0] = {Acpi20TableGuid, AcpiTable_.data()};
  ConfigurationTable_[1] = {HobListGuid, HobList_.data()};
  SystemTable_.Hdr.Signature = SystemTableSignature;
  SystemTable_.Hdr.Revision = SystemTableRevision;
  SystemTable_.Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  SystemTable_.BootServices = &BootServices_;
  SystemTable_.NumberOfTableEntries = Settings_.HobListInConfigTable ? 2 : 1;
  SystemTable_.ConfigurationTable = ConfigurationTable_.data();
}

DxeEnvironment::~DxeEnvironment() {
  Active = nullptr;
}

void DxeEnvironment::buildHobList() {
  std::vector<std::uint8_t> Bytes;
  EFI_HOB_HANDOFF_INFO_TABLE Handoff{};
  Handoff.Header.HobType = EFI_HOB_TYPE_HANDOFF;
  Handoff.Header.HobLength = sizeof(Handoff);
  Handoff.Version = HandoffHobVersion;
  AppendHob(Bytes, &Handoff, sizeof(Handoff));
  AppendGuidHob(Bytes, UnrelatedHobGuid);
  if (Settings_.ExtraHob) {
    // The header alone: a length below 8 still occupies the header's bytes here.
    const std::size_t Size = std::max<std::size_t>(Settings_.ExtraHob->Length, HobAlignment);
    std::vector<std::uint8_t> Hob(Size, 0);
    const EFI_HOB_GENERIC_HEADER Header{Settings_.ExtraHob->Type, Settings_.ExtraHob->Length, 0};
    std::memcpy(Hob.data(), &Header, sizeof(Header));
    AppendHob(Bytes, Hob.data(), Hob.size());
  }
  if (Settings_.TimerHob) {
    AppendGuidHob(Bytes, TimerHobGuid);
  }
  const std::size_t EndOffset = Bytes.size();
  const EFI_HOB_GENERIC_HEADER End{EFI_HOB_TYPE_END_OF_HOB_LIST, sizeof(End), 0};
  AppendHob(Bytes, &End, sizeof(End));

  // The list ends exactly with the end HOB, so any read past it is a read outside the storage.
  HobList_.assign(Bytes.size() / sizeof(std::uint64_t), 0);
  std::memcpy(HobList_.data(), Bytes.data(), Bytes.size());
  const auto Base = reinterpret_cast<std::uintptr_t>(HobList_.data());
  Handoff.EfiMemoryBottom = Base;
  Handoff.EfiFreeMemoryBottom = Base + Bytes.size();
  Handoff.EfiFreeMemoryTop = Base + Bytes.size();
  Handoff.EfiMemoryTop = Base + Bytes.size();
  Handoff.EfiEndOfHobList = Base + EndOffset;
  std::memcpy(HobList_.data(), &Handoff, sizeof(Handoff));
}

EFI_STATUS EFIAPI DxeEnvironment::LocateProtocolEntry(const EFI_GUID *Protocol, void *Registration,
                                                      void **Interface) {
  return ActiveEnvironment().locateProtocol(Protocol, Registration, Interface);
}

EFI_STATUS EFIAPI DxeEnvironment::InSmmEntry(const EFI_SMM_BASE2_PROTOCOL *This, BOOLEAN *InSmram) {
  return ActiveEnvironment().inSmm(This, InSmram);
}

EFI_STATUS DxeEnvironment::locateProtocol(const EFI_GUID *Protocol, void *Registration,
                                          void **Interface) {
  ++LocateProtocolCalls_;
  EFI_STATUS Status = EFI_NOT_FOUND;
  if (Protocol == nullptr || Interface == nullptr) {
    Status = EFI_INVALID_PARAMETER;
  } else if (SameGuid(*Protocol, SmmBase2ProtocolGuid) && Settings_.Smm != SmmMode::Absent) {
    *Interface = Settings_.Smm == SmmMode::NullInterface ? nullptr : &SmmBase2_;
    Status = EFI_SUCCESS;
  }
  // Pointers are named, never printed: the trace must not depend on where memory lies.
  const std::string Arguments = (Protocol == nullptr ? "NULL" : GuidText(*Protocol)) + ", " +
                                (Registration == nullptr ? "NULL" : "Registration") + ", " +
                                (Interface == nullptr ? "NULL" : "Interface");
  std::string Outcome = FormatStatus(Status, StatusBits);
  if (Status == EFI_SUCCESS && Settings_.Smm == SmmMode::NullInterface) {
    Outcome += "; hands back NULL";
  }
  BoundBoard().serviceCall("LocateProtocol", Arguments, Status, Outcome);
  return Status;
}

EFI_STATUS DxeEnvironment::inSmm(const EFI_SMM_BASE2_PROTOCOL *This, BOOLEAN *InSmram) {
  ++InSmmCalls_;
  const std::string Arguments = std::string(This == &SmmBase2_ ? "SmmBase2"
                                            : This == nullptr  ? "NULL"
                                                               : "This") +
                                ", " + (InSmram == nullptr ? "NULL" : "InSmram");
  if (This != &SmmBase2_ || InSmram == nullptr) {
    BoundBoard().serviceCall("InSmm", Arguments, EFI_INVALID_PARAMETER,
                             FormatStatus(EFI_INVALID_PARAMETER, StatusBits));
    return EFI_INVALID_PARAMETER;
  }
  const bool Inside = Settings_.Smm == SmmMode::Inside;
  *InSmram = Inside ? 1 : 0;
  BoundBoard().serviceCall("InSmm", Arguments, EFI_SUCCESS,
                           FormatStatus(EFI_SUCCESS, StatusBits) + "; stores " +
                               (Inside ? "TRUE" : "FALSE"));
  return EFI_SUCCESS;
}

} // namespace sim
