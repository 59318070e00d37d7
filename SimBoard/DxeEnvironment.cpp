#include "DxeEnvironment.h"

#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {

DxeEnvironment *Active = nullptr;

// The driver's statuses are 64 bits wide.
constexpr unsigned StatusBits = 64;

DxeEnvironment &ActiveEnvironment() {
  if (Active == nullptr) {
    std::fprintf(stderr, "DXE environment: firmware service called with no environment\n");
    std::abort();
  }
  return *Active;
}

template <typename Function> std::uint64_t EntryAddress(Function Entry) {
  return reinterpret_cast<std::uintptr_t>(Entry);
}

} // namespace

std::string GuidText(const EFI_GUID &Guid) {
  char Text[40];
  std::snprintf(Text, sizeof Text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", Guid.Data1,
                Guid.Data2, Guid.Data3, Guid.Data4[0], Guid.Data4[1], Guid.Data4[2], Guid.Data4[3],
                Guid.Data4[4], Guid.Data4[5], Guid.Data4[6], Guid.Data4[7]);
  return Text;
}

void AnnotateLocateProtocol(Board &Target, const EFI_GUID *Protocol, bool RegistrationGiven,
                            bool InterfaceGiven, const standin::LocateAnswer &Answer) {
  // Pointers are named, never printed: the trace must not depend on where memory lies.
  const std::string Arguments = (Protocol == nullptr ? "NULL" : GuidText(*Protocol)) + ", " +
                                (RegistrationGiven ? "Registration" : "NULL") + ", " +
                                (InterfaceGiven ? "Interface" : "NULL");
  std::string Outcome = FormatStatus(Answer.Status, StatusBits);
  if (Answer.Status == EFI_SUCCESS && Answer.Interface == 0) {
    Outcome += "; hands back NULL";
  }
  Target.serviceCall("LocateProtocol", Arguments, Answer.Status, Outcome);
}

void AnnotateInSmm(Board &Target, const standin::Firmware &State, std::uint64_t This,
                   bool InSmramGiven, const standin::InSmmAnswer &Answer) {
  const std::string Arguments = std::string(This == State.SmmBase2 ? "SmmBase2"
                                            : This == 0            ? "NULL"
                                                                   : "This") +
                                ", " + (InSmramGiven ? "InSmram" : "NULL");
  std::string Outcome = FormatStatus(Answer.Status, StatusBits);
  if (Answer.InSmramWritten) {
    Outcome += std::string("; stores ") + (Answer.InSmram != 0 ? "TRUE" : "FALSE");
  }
  Target.serviceCall("InSmm", Arguments, Answer.Status, Outcome);
}

DxeEnvironment::DxeEnvironment(const DxeEnvironmentSettings &Settings) {
  if (Active != nullptr) {
    std::fprintf(stderr, "DXE environment: one is already active\n");
    std::abort();
  }
  Active = this;
  const std::size_t Size = standin::MemorySize(Settings);
  Memory_.assign(Size / sizeof(std::uint64_t), 0);
  const standin::ServiceAddresses Services{EntryAddress(&DxeEnvironment::LocateProtocolEntry),
                                           EntryAddress(&DxeEnvironment::InSmmEntry),
                                           EntryAddress(&DxeEnvironment::UnexpectedEntry)};
  if (!standin::Build(State_, Settings, Memory_.data(), Size,
                      reinterpret_cast<std::uintptr_t>(Memory_.data()), Services)) {
    std::fprintf(stderr, "DXE environment: the stand-in does not fit its memory\n");
    std::abort();
  }
}

DxeEnvironment::~DxeEnvironment() {
  Active = nullptr;
}

EFI_STATUS EFIAPI DxeEnvironment::LocateProtocolEntry(const EFI_GUID *Protocol, void *Registration,
                                                      void **Interface) {
  DxeEnvironment &Environment = ActiveEnvironment();
  const standin::LocateAnswer Answer = standin::LocateProtocol(
      Environment.State_, Protocol, Registration != nullptr, Interface != nullptr);
  if (Answer.InterfaceWritten) {
    *Interface = reinterpret_cast<void *>(static_cast<std::uintptr_t>(Answer.Interface));
  }
  AnnotateLocateProtocol(BoundBoard(), Protocol, Registration != nullptr, Interface != nullptr,
                         Answer);
  return Answer.Status;
}

EFI_STATUS EFIAPI DxeEnvironment::InSmmEntry(const EFI_SMM_BASE2_PROTOCOL *This, BOOLEAN *InSmram) {
  DxeEnvironment &Environment = ActiveEnvironment();
  const auto ThisAddress = reinterpret_cast<std::uintptr_t>(This);
  const standin::InSmmAnswer Answer =
      standin::InSmm(Environment.State_, ThisAddress, InSmram != nullptr);
  if (Answer.InSmramWritten) {
    *InSmram = Answer.InSmram;
  }
  AnnotateInSmm(BoundBoard(), Environment.State_, ThisAddress, InSmram != nullptr, Answer);
  return Answer.Status;
}

EFI_STATUS EFIAPI DxeEnvironment::UnexpectedEntry() {
  std::fprintf(stderr, "DXE environment: the driver called a boot service other than "
                       "LocateProtocol\n");
  std::abort();
}

} // namespace sim
