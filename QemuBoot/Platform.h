// The little of a platform firmware's early work that the modules rely on, on the emulated q35
// machine: ACPI PM timer decode, masked legacy interrupt controllers, and config-space reads of
// the LPC bridge for the boot program's own checks.
#pragma once

#include <cstdint>

namespace LpcBridgeRegister {
inline constexpr std::uint8_t PmBase = 0x40;
inline constexpr std::uint8_t AcpiControl = 0x44;
} // namespace LpcBridgeRegister

// Configuration access widths, in bytes.
namespace ConfigWidth {
inline constexpr unsigned Byte = 1;
inline constexpr unsigned Word = 2;
inline constexpr unsigned Dword = 4;
} // namespace ConfigWidth

void MaskLegacyInterrupts();
// Moves the ACPI I/O block to 0x1800 so the PM timer counts at 0x1808; fails the run if it
// does not count.
void EnablePmTimer();

std::uint32_t LpcConfigRead(std::uint8_t Register, unsigned Bytes);
void LpcConfigWrite(std::uint8_t Register, unsigned Bytes, std::uint32_t Value);
