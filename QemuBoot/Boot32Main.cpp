// The 32-bit part: entered by the multiboot loader in flat protected mode with interrupts off.
// Sets up what the modules expect of the platform, runs the PEI phase, then hands over to the
// 64-bit part.
#include "Console.h"
#include "Handoff.h"
#include "Multiboot.h"
#include "PageTables.h"
#include "PeiPhase.h"
#include "Platform.h"

#include <cstddef>

extern "C" [[noreturn]] void EnterLongMode(std::uint32_t PageMapRoot,
                                           const LongModeHandoff *Handoff);
// First byte after the boot program, the 64-bit part included (set by the linker script).
extern "C" const char BootProgramEnd[];
extern "C" [[noreturn]] void Boot32Main(std::uint32_t LoaderMagic, const MultibootInfo *Info);

namespace {

// Module order on the loader's command line.
namespace ModuleSlot {
inline constexpr std::uint32_t BoardInitPei = 0;
inline constexpr std::uint32_t BoardInitDxe = 1;
inline constexpr std::uint32_t Count = 2;
} // namespace ModuleSlot

// Kernel command-line word that selects the second DXE configuration.
constexpr const char TimerHobAndSmmWord[] = "timer-hob-smm";

bool IsWordEnd(char Character) {
  return Character == '\0' || Character == ' ';
}

bool CommandLineHasWord(const char *Line, const char *Word) {
  while (*Line != '\0') {
    const char *Candidate = Line;
    std::size_t Index = 0;
    while (Word[Index] != '\0' && Candidate[Index] == Word[Index]) {
      ++Index;
    }
    if (Word[Index] == '\0' && IsWordEnd(Candidate[Index])) {
      return true;
    }
    while (!IsWordEnd(*Line)) {
      ++Line;
    }
    while (*Line == ' ') {
      ++Line;
    }
  }
  return false;
}

LongModeHandoff Handoff;

} // namespace

void Boot32Main(std::uint32_t LoaderMagic, const MultibootInfo *Info) {
  ConsoleInit();
  if (LoaderMagic != Multiboot::LoaderMagic) {
    FailAndExit("boot", "not started by a multiboot loader");
  }
  constexpr std::uint32_t Required = Multiboot::InfoMemory | Multiboot::InfoModules;
  if ((Info->Flags & Required) != Required || Info->ModuleCount < ModuleSlot::Count) {
    FailAndExit("boot", "expected the modules BoardInitPei.efi and BoardInitDxe.efi");
  }
  const auto *Modules = reinterpret_cast<const MultibootModule *>(Info->ModuleList);
  std::uint32_t FreeStart = reinterpret_cast<std::uintptr_t>(BootProgramEnd);
  for (std::uint32_t Index = 0; Index < Info->ModuleCount; ++Index) {
    if (Modules[Index].End < Modules[Index].Start) {
      FailAndExit("boot", "a module ends before it starts");
    }
    FreeStart = Modules[Index].End > FreeStart ? Modules[Index].End : FreeStart;
  }
  const std::uint32_t FreeEnd = Multiboot::UpperMemoryStart + Info->MemoryUpperKiB * Multiboot::KiB;

  MaskLegacyInterrupts();
  EnablePmTimer();

  const MultibootModule &Pei = Modules[ModuleSlot::BoardInitPei];
  const bool PeiPassed = RunPeiPhase(Pei.Start, Pei.End - Pei.Start, FreeStart, FreeEnd);

  const MultibootModule &Dxe = Modules[ModuleSlot::BoardInitDxe];
  const bool WantsSmm =
      (Info->Flags & Multiboot::InfoCommandLine) != 0 &&
      CommandLineHasWord(reinterpret_cast<const char *>(Info->CommandLine), TimerHobAndSmmWord);
  Handoff.DxeFile = Dxe.Start;
  Handoff.DxeFileSize = Dxe.End - Dxe.Start;
  Handoff.FreeMemoryStart = FreeStart;
  Handoff.FreeMemoryEnd = FreeEnd;
  Handoff.Configuration = WantsSmm ? DxeConfiguration::TimerHobAndSmm : DxeConfiguration::Plain;
  Handoff.EarlierChecksPassed = PeiPassed ? 1 : 0;
  EnterLongMode(BuildIdentityMap(), &Handoff);
}
