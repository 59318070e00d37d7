#include "Platform.h"

#include "Console.h"
#include "HwAccess.h"

namespace LegacyPic {
// Interrupt mask registers of the master and slave 8259: a set bit masks that line.
inline constexpr std::uint16_t MasterMask = 0x21;
inline constexpr std::uint16_t SlaveMask = 0xA1;
inline constexpr std::uint8_t AllMasked = 0xFF;
} // namespace LegacyPic

namespace PciConfigPort {
inline constexpr std::uint16_t Address = 0x0CF8;
inline constexpr std::uint16_t Data = 0x0CFC;
inline constexpr std::uint32_t Enable = 0x80000000;
inline constexpr unsigned DeviceShift = 11;
inline constexpr unsigned FunctionShift = 8;
inline constexpr std::uint32_t RegisterMask = 0xFC;
inline constexpr std::uint32_t ByteLaneMask = 0x3;
} // namespace PciConfigPort

namespace LpcBridge {
// Bus 0, device 31, function 0 on q35 (the ICH9 LPC bridge).
inline constexpr std::uint32_t Device = 31;
inline constexpr std::uint32_t Function = 0;
} // namespace LpcBridge

namespace AcpiIo {
// PMBASE value: I/O space indicator in bit 0, block at 0x1800; the PM timer is at offset 8.
inline constexpr std::uint32_t PmBaseValue = 0x00001801;
inline constexpr std::uint32_t AcpiEnable = 1u << 7;
inline constexpr std::uint16_t PmTimer = 0x1808;
inline constexpr std::uint32_t PmTimerMask = 0x00FFFFFF;
inline constexpr std::uint32_t Undecoded = 0xFFFFFFFF;
// Reads to wait for one tick: the emulated timer advances at 3.58 MHz of virtual time.
inline constexpr unsigned TickWaitReads = 1000000;
} // namespace AcpiIo

void MaskLegacyInterrupts() {
  PortWrite8(LegacyPic::MasterMask, LegacyPic::AllMasked);
  PortWrite8(LegacyPic::SlaveMask, LegacyPic::AllMasked);
}

namespace {

std::uint16_t SelectRegister(std::uint8_t Register) {
  PortWrite32(PciConfigPort::Address, PciConfigPort::Enable |
                                          LpcBridge::Device << PciConfigPort::DeviceShift |
                                          LpcBridge::Function << PciConfigPort::FunctionShift |
                                          (Register & PciConfigPort::RegisterMask));
  return static_cast<std::uint16_t>(PciConfigPort::Data + (Register & PciConfigPort::ByteLaneMask));
}

} // namespace

std::uint32_t LpcConfigRead(std::uint8_t Register, unsigned Bytes) {
  const std::uint16_t Port = SelectRegister(Register);
  switch (Bytes) {
  case ConfigWidth::Byte:
    return PortRead8(Port);
  case ConfigWidth::Word:
    return PortRead16(Port);
  default:
    return PortRead32(Port);
  }
}

void LpcConfigWrite(std::uint8_t Register, unsigned Bytes, std::uint32_t Value) {
  const std::uint16_t Port = SelectRegister(Register);
  switch (Bytes) {
  case ConfigWidth::Byte:
    PortWrite8(Port, static_cast<std::uint8_t>(Value));
    break;
  case ConfigWidth::Word:
    PortWrite16(Port, static_cast<std::uint16_t>(Value));
    break;
  default:
    PortWrite32(Port, Value);
    break;
  }
}

void EnablePmTimer() {
  LpcConfigWrite(LpcBridgeRegister::PmBase, ConfigWidth::Dword, AcpiIo::PmBaseValue);
  LpcConfigWrite(LpcBridgeRegister::AcpiControl, ConfigWidth::Byte,
                 LpcConfigRead(LpcBridgeRegister::AcpiControl, ConfigWidth::Byte) |
                     AcpiIo::AcpiEnable);
  const std::uint32_t First = PortRead32(AcpiIo::PmTimer);
  if (First == AcpiIo::Undecoded) {
    FailAndExit("PM timer", "port 0x1808 reads all ones, the ACPI I/O block is not decoded");
  }
  for (unsigned Read = 0; Read < AcpiIo::TickWaitReads; ++Read) {
    if (((PortRead32(AcpiIo::PmTimer) ^ First) & AcpiIo::PmTimerMask) != 0) {
      ConsoleWrite("QemuBoot: PM timer counting at port 0x1808\n");
      return;
    }
  }
  FailAndExit("PM timer", "port 0x1808 does not count");
}
