// The x86 instructions whose effect belongs to the board's processor model rather than to the
// emulator: interrupt flag changes, flags reads, pause and time-stamp reads. The runner answers
// them from sim::Board and steps over them, so the trace and the values the module sees are the
// board's, exactly as on the host build.
#pragma once

#include <cstdint>
#include <iterator>

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

// The processor's exception vectors, by name, for fault reports; the others are "interrupt".
inline const char *ExceptionName(std::uint32_t Vector) {
  static constexpr const char *Names[] = {"divide error",
                                          "debug exception",
                                          nullptr,
                                          "breakpoint",
                                          "overflow",
                                          "bound range exceeded",
                                          "invalid opcode",
                                          "device not available",
                                          "double fault",
                                          nullptr,
                                          "invalid TSS",
                                          "segment not present",
                                          "stack-segment fault",
                                          "general protection fault",
                                          "page fault",
                                          nullptr,
                                          "x87 floating-point error",
                                          "alignment check",
                                          "machine check",
                                          "SIMD floating-point exception"};
  const char *Name = Vector < std::size(Names) ? Names[Vector] : nullptr;
  return Name != nullptr ? Name : "interrupt";
}

} // namespace imagerun::x86
