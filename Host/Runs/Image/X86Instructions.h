// The x86 instructions whose effect belongs to the board's processor model rather than to the
// emulator: interrupt flag changes, flags reads, pause and time-stamp reads. The runner answers
// them from sim::Board and steps over them, so the trace and the values the module sees are the
// board's, exactly as on the host build.
#pragma once

#include <cstdint>

namespace imagerun::x86 {

inline constexpr std::uint8_t Cli = 0xFA;
inline constexpr std::uint8_t Sti = 0xFB;
inline constexpr std::uint8_t Pushf = 0x9C;
// pause is rep nop.
inline constexpr std::uint8_t RepPrefix = 0xF3;
inline constexpr std::uint8_t Nop = 0x90;
// rdtsc is 0F 31.
inline constexpr std::uint8_t TwoByteEscape = 0x0F;
inline constexpr std::uint8_t Rdtsc = 0x31;

inline constexpr unsigned OneByte = 1;
inline constexpr unsigned TwoBytes = 2;

// The processor's exception vectors, by name, for fault reports.
inline const char *ExceptionName(std::uint32_t Vector) {
  switch (Vector) {
  case 0:
    return "divide error";
  case 1:
    return "debug exception";
  case 3:
    return "breakpoint";
  case 4:
    return "overflow";
  case 5:
    return "bound range exceeded";
  case 6:
    return "invalid opcode";
  case 7:
    return "device not available";
  case 8:
    return "double fault";
  case 10:
    return "invalid TSS";
  case 11:
    return "segment not present";
  case 12:
    return "stack-segment fault";
  case 13:
    return "general protection fault";
  case 14:
    return "page fault";
  case 16:
    return "x87 floating-point error";
  case 17:
    return "alignment check";
  case 18:
    return "machine check";
  case 19:
    return "SIMD floating-point exception";
  default:
    return "interrupt";
  }
}

} // namespace imagerun::x86
