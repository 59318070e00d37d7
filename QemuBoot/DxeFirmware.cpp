#include "DxeFirmware.h"

#include "Console.h"

#include <cstddef>

namespace {

// Room for the stand-in's tables and HOB list in either configuration.
constexpr std::size_t StandInMemorySize = 4096;

alignas(8) std::uint8_t StandInMemory[StandInMemorySize];
standin::Firmware TheFirmware;

EFI_STATUS EFIAPI InSmm(const EFI_SMM_BASE2_PROTOCOL *This, BOOLEAN *InSmram) {
  const standin::InSmmAnswer Answer =
      standin::InSmm(TheFirmware, reinterpret_cast<std::uintptr_t>(This), InSmram != nullptr);
  if (Answer.InSmramWritten) {
    *InSmram = Answer.InSmram;
  }
  return Answer.Status;
}

EFI_STATUS EFIAPI LocateProtocol(const EFI_GUID *Protocol, void *Registration, void **Interface) {
  const standin::LocateAnswer Answer =
      standin::LocateProtocol(TheFirmware, Protocol, Registration != nullptr, Interface != nullptr);
  if (Answer.InterfaceWritten) {
    *Interface = reinterpret_cast<void *>(static_cast<std::uintptr_t>(Answer.Interface));
  }
  return Answer.Status;
}

// Every boot service but LocateProtocol: the driver has no business calling them.
EFI_STATUS EFIAPI UnexpectedBootService() {
  FailAndExit("BoardInitDxe.efi", "called a boot service other than LocateProtocol");
}

standin::Settings SettingsFor(DxeConfiguration Configuration) {
  standin::Settings Settings;
  if (Configuration == DxeConfiguration::TimerHobAndSmm) {
    Settings.TimerHob = true;
    Settings.Smm = standin::SmmMode::Outside; // a boot-service driver runs outside SMM
  }
  return Settings;
}

} // namespace

EFI_SYSTEM_TABLE *BuildDxeFirmware(DxeConfiguration Configuration) {
  const standin::ServiceAddresses Services{reinterpret_cast<std::uintptr_t>(LocateProtocol),
                                           reinterpret_cast<std::uintptr_t>(InSmm),
                                           reinterpret_cast<std::uintptr_t>(UnexpectedBootService)};
  if (!standin::Build(TheFirmware, SettingsFor(Configuration), StandInMemory, StandInMemorySize,
                      reinterpret_cast<std::uintptr_t>(StandInMemory), Services)) {
    FailAndExit("QemuBoot", "the DXE stand-in does not fit its memory");
  }
  return reinterpret_cast<EFI_SYSTEM_TABLE *>(static_cast<std::uintptr_t>(TheFirmware.SystemTable));
}

const standin::Calls &DxeCallsSoFar() {
  return TheFirmware.Counted;
}
