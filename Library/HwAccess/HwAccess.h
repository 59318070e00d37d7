// Hardware-access primitives: the one seam between board logic and the machine.
//
// Two backends implement these functions and the link picks one: Library/HwAccess/X86 issues the
// real instructions for the firmware images; SimBoard drives the simulated board on the host.
// Everything else in the firmware reaches hardware only through these calls.
#pragma once

#include <cstdint>

// A physical address. Always an integer: the backend decides how it reaches memory.
using PhysicalAddress = std::uintptr_t;

std::uint8_t PortRead8(std::uint16_t Port);
std::uint16_t PortRead16(std::uint16_t Port);
std::uint32_t PortRead32(std::uint16_t Port);
void PortWrite8(std::uint16_t Port, std::uint8_t Value);
void PortWrite16(std::uint16_t Port, std::uint16_t Value);
void PortWrite32(std::uint16_t Port, std::uint32_t Value);

// Each call is exactly one uncached access of its width: never merged, split or reordered.
std::uint16_t MmioRead16(PhysicalAddress Address);
std::uint32_t MmioRead32(PhysicalAddress Address);
void MmioWrite16(PhysicalAddress Address, std::uint16_t Value);
void MmioWrite32(PhysicalAddress Address, std::uint32_t Value);

std::uintptr_t ReadFlags();
void DisableInterrupts();
void EnableInterrupts();
void CpuPause();
std::uint64_t ReadTimeStampCounter();

namespace CpuFlags {
inline constexpr std::uintptr_t InterruptEnable = std::uintptr_t{1} << 9;
} // namespace CpuFlags
