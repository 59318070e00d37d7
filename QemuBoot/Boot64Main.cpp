// The 64-bit part: loads BoardInitDxe.efi away from its preferred base, calls it as the DXE
// dispatcher does with the stand-in system table, checks what it asked of the firmware, and ends
// the run with the verdict of both phases.
#include "Console.h"
#include "DxeFirmware.h"
#include "Handoff.h"
#include "HwAccess.h"
#include "Pe/PeFormat.h"
#include "PeImage.h"
#include "PhaseMarker.h"
#include "Placement.h"
#include "Uefi/Uefi.h"

extern "C" [[noreturn]] void Boot64Main(const LongModeHandoff *Handoff);

namespace {

constexpr const char *ModuleName = "BoardInitDxe.efi";

using DxeDriverEntry = EFI_STATUS(EFIAPI *)(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// The driver does not use its image handle; any distinct non-null value will do.
std::uint8_t ImageHandleToken;

std::uint8_t *LoadDriver(const LongModeHandoff &Handoff, std::uint32_t &EntryRva) {
  PeImage Layout = {};
  RequirePe(ModuleName,
            PeParse({reinterpret_cast<const std::uint8_t *>(std::uintptr_t{Handoff.DxeFile}),
                     Handoff.DxeFileSize},
                    Layout));
  RequirePe(ModuleName, PeCheckMachine(Layout, PeMachine::X64));
  const std::uint64_t Base = Layout.ImageBase == ImagePlacement::BoardInitDxe
                                 ? ImagePlacement::BoardInitDxeAlternative
                                 : ImagePlacement::BoardInitDxe;
  std::uint8_t *Image =
      PlaceModule(ModuleName, Layout, Base, Handoff.FreeMemoryStart, Handoff.FreeMemoryEnd);
  ConsoleWrite("QemuBoot: BoardInitDxe.efi placed at ");
  ConsoleWriteHex(Base, HexWidth::Address);
  ConsoleWrite(", away from its preferred base, and relocated\n");
  EntryRva = Layout.EntryPointRva;
  return Image;
}

bool CheckCalls(DxeConfiguration Configuration) {
  const standin::Calls &Calls = DxeCallsSoFar();
  bool Passed = CheckValue("LocateProtocol calls", Calls.LocateProtocol, 1, HexWidth::Count);
  Passed &= CheckValue("SMM Base2 lookups", Calls.SmmBase2Lookups, 1, HexWidth::Count);
  Passed &= CheckValue("LocateProtocol calls with a registration key or no interface pointer",
                       Calls.LocateProtocolMisuses, 0, HexWidth::Count);
  if (Configuration == DxeConfiguration::TimerHobAndSmm) {
    Passed &= CheckValue("InSmm calls", Calls.InSmm, 1, HexWidth::Count);
    Passed &= CheckTrue("InSmm was given its protocol instance", Calls.InSmmThisWasProtocol);
  } else {
    Passed &= CheckValue("InSmm calls", Calls.InSmm, 0, HexWidth::Count);
  }
  return Passed;
}

} // namespace

void Boot64Main(const LongModeHandoff *Handoff) {
  ConsoleWrite("QemuBoot: long mode entered\n");
  std::uint32_t EntryRva = 0;
  std::uint8_t *Image = LoadDriver(*Handoff, EntryRva);
  const DxeConfiguration Configuration = Handoff->Configuration;
  ConsoleWrite(Configuration == DxeConfiguration::TimerHobAndSmm
                   ? "QemuBoot: DXE configuration: timer GUID HOB present, SMM Base2 installed\n"
                   : "QemuBoot: DXE configuration: no timer GUID HOB, no SMM Base2\n");
  EFI_SYSTEM_TABLE *SystemTable = BuildDxeFirmware(Configuration);

  const std::uintptr_t FlagsBefore = ReadFlags();
  const auto Entry = reinterpret_cast<DxeDriverEntry>(Image + EntryRva);
  MarkPhase(PhaseMarker::DxeStart);
  const EFI_STATUS Status = Entry(&ImageHandleToken, SystemTable);
  MarkPhase(PhaseMarker::DxeEnd);
  const std::uintptr_t FlagsAfter = ReadFlags();

  bool Passed = CheckValue("BoardInitDxe entry status", Status, EFI_SUCCESS, HexWidth::Status64);
  Passed &= CheckTrue("BoardInitDxe left the interrupt flag as it found it",
                      ((FlagsBefore ^ FlagsAfter) & CpuFlags::InterruptEnable) == 0);
  Passed &= CheckCalls(Configuration);
  ExitEmulator(Passed && Handoff->EarlierChecksPassed != 0);
}
