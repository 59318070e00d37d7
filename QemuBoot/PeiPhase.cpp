#include "PeiPhase.h"

#include "Console.h"
#include "Crc32.h"
#include "HwAccess.h"
#include "Pe/PeFormat.h"
#include "PeImage.h"
#include "PeiStandIn.h"
#include "PhaseMarker.h"
#include "Placement.h"
#include "Platform.h"
#include "Uefi/Uefi.h"

namespace {

constexpr const char *ModuleName = "BoardInitPei.efi";

using PeiModuleEntry = EFI_STATUS (*)(EFI_PEI_FILE_HANDLE FileHandle,
                                      const EFI_PEI_SERVICES **PeiServices);

// The module does not use the PEI services; should it call one, every service of the stand-in
// table leads here and ends the run with a message instead of jumping through garbage.
[[noreturn]] void UnexpectedPeiService() {
  FailAndExit(ModuleName, "called a PEI service, which this board's module never needs");
}

// The bridge registers the module programs: the I/O decode ranges and enables, and the four
// generic decode windows.
struct ReadBackRegister {
  std::uint8_t Offset;
  std::uint8_t Bytes;
  const char *Label;
};

constexpr ReadBackRegister ReadBackRegisters[] = {
    {0x80, ConfigWidth::Word, " 80="},  {0x82, ConfigWidth::Word, " 82="},
    {0x84, ConfigWidth::Dword, " 84="}, {0x88, ConfigWidth::Dword, " 88="},
    {0x8C, ConfigWidth::Dword, " 8C="}, {0x90, ConfigWidth::Dword, " 90="},
};

void PrintBridgeReadBack() {
  ConsoleWrite("QemuBoot: LPC bridge");
  for (const ReadBackRegister &Register : ReadBackRegisters) {
    ConsoleWrite(Register.Label);
    ConsoleWriteHex(LpcConfigRead(Register.Offset, Register.Bytes),
                    Register.Bytes * HexWidth::PerByte);
  }
  ConsoleWrite("\n");
}

} // namespace

bool RunPeiPhase(std::uint32_t File, std::uint32_t FileSize, std::uint32_t FreeStart,
                 std::uint32_t FreeEnd) {
  PeImage Layout = {};
  RequirePe(ModuleName, PeParse({reinterpret_cast<const std::uint8_t *>(File), FileSize}, Layout));
  RequirePe(ModuleName, PeCheckMachine(Layout, PeMachine::I386));
  RequirePe(ModuleName, PeCheckExecuteInPlace(Layout, nullptr));
  std::uint8_t *Image =
      PlaceModule(ModuleName, Layout, ImagePlacement::BoardInitPei, FreeStart, FreeEnd);
  ConsoleWrite("QemuBoot: BoardInitPei.efi placed at ");
  ConsoleWriteHex(ImagePlacement::BoardInitPei, HexWidth::Address);
  ConsoleWrite(" and relocated\n");

  alignas(8) std::uint8_t Services[standin::pei::TableSize];
  standin::pei::BuildServicesTable(
      Services, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(UnexpectedPeiService)),
      0);
  const auto *ServicesTable = reinterpret_cast<const EFI_PEI_SERVICES *>(Services);

  const std::uint32_t ChecksumBefore = Crc32(Image, Layout.SizeOfImage);
  const std::uintptr_t FlagsBefore = ReadFlags();
  const auto Entry = reinterpret_cast<PeiModuleEntry>(Image + Layout.EntryPointRva);
  MarkPhase(PhaseMarker::PeiStart);
  const EFI_STATUS Status = Entry(nullptr, &ServicesTable);
  MarkPhase(PhaseMarker::PeiEnd);
  const std::uintptr_t FlagsAfter = ReadFlags();
  const std::uint32_t ChecksumAfter = Crc32(Image, Layout.SizeOfImage);

  bool Passed = CheckValue("BoardInitPei entry status", Status, EFI_SUCCESS, HexWidth::Status32);
  Passed &= CheckTrue("BoardInitPei image unchanged by its run", ChecksumAfter == ChecksumBefore);
  Passed &= CheckTrue("BoardInitPei left the interrupt flag as it found it",
                      ((FlagsBefore ^ FlagsAfter) & CpuFlags::InterruptEnable) == 0);
  PrintBridgeReadBack();
  return Passed;
}
