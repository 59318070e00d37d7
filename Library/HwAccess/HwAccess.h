// Hardware-access primitives: the one seam between board logic and the machine.
//
// Two backends implement these functions and the link picks one: Library/HwAccess/X86 issues the
// real instructions for the firmware images; SimBoard drives the simulated board on the host.
// Everything else in the firmware reaches hardware only through these calls.
#pragma once

#include <cstdint>

// The firmware libraries' own functions take their first three arguments in EAX, EDX and ECX on
// IA-32 instead of on the stack: every call site is shorter and leaves no stack to clean up, which
// counts in a module run from flash. The x86-64 convention passes them in registers already.
// Functions called from outside the firmware's own code (the module entries, and the functions a
// module exports to its callers) keep the platform's convention.
#if defined(__i386__)
#define BOARD_REGCALL __attribute__((regparm(3)))
#else
#define BOARD_REGCALL
#endif

// A physical address. Always an integer: the backend decides how it reaches memory.
using PhysicalAddress = std::uintptr_t;

BOARD_REGCALL std::uint8_t PortRead8(std::uint16_t Port);
BOARD_REGCALL std::uint16_t PortRead16(std::uint16_t Port);
BOARD_REGCALL std::uint32_t PortRead32(std::uint16_t Port);
BOARD_REGCALL void PortWrite8(std::uint16_t Port, std::uint8_t Value);
BOARD_REGCALL void PortWrite16(std::uint16_t Port, std::uint16_t Value);
BOARD_REGCALL void PortWrite32(std::uint16_t Port, std::uint32_t Value);

// Each call is exactly one uncached access of its width: never merged, split or reordered.
BOARD_REGCALL std::uint16_t MmioRead16(PhysicalAddress Address);
BOARD_REGCALL std::uint32_t MmioRead32(PhysicalAddress Address);
BOARD_REGCALL void MmioWrite16(PhysicalAddress Address, std::uint16_t Value);
BOARD_REGCALL void MmioWrite32(PhysicalAddress Address, std::uint32_t Value);

BOARD_REGCALL std::uintptr_t ReadFlags();
BOARD_REGCALL void DisableInterrupts();
BOARD_REGCALL void EnableInterrupts();
BOARD_REGCALL void CpuPause();
BOARD_REGCALL std::uint64_t ReadTimeStampCounter();

namespace CpuFlags {
inline constexpr std::uintptr_t InterruptEnable = std::uintptr_t{1} << 9;
} // namespace CpuFlags
