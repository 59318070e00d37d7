#include "DxeEnvironment.h"

#include "DxeServiceCalls.h"

#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {

DxeEnvironment *Active = nullptr;

DxeEnvironment &ActiveEnvironment() {
  if (Active == nullptr) {
    std::fprintf(stderr, "DXE environment: firmware service called with no environment\n");
    std::abort();
  }
  return *Active;
}

} // namespace

DxeEnvironment::DxeEnvironment(const DxeEnvironmentSettings &Settings) {
  if (Active != nullptr) {
    std::fprintf(stderr, "DXE environment: one is already active\n");
    std::abort();
  }
  Active = this;
  const std::size_t Size = standin::MemorySize(Settings);
  Memory_.assign(Size / sizeof(std::uint64_t), 0);
  const standin::ServiceAddresses Services{reinterpret_cast<std::uintptr_t>(&LocateProtocolEntry),
                                           reinterpret_cast<std::uintptr_t>(&InSmmEntry),
                                           reinterpret_cast<std::uintptr_t>(&UnexpectedEntry)};
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
