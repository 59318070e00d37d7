// Division of a 64-bit value by a 32-bit one with the processor's 32-bit divide instruction.
//
// IA-32 has no 64-bit divide: a plain 64-bit '/' makes the compiler call a general 64-by-64-bit
// helper, far larger than the two divides this division needs. The high word is divided first;
// its remainder, below the divisor, then forms the upper half of the second dividend, so the
// second quotient fits 32 bits and the divide cannot fault. DIV r/m32 (EDX:EAX by a 32-bit
// operand) is the same instruction in 32-bit and 64-bit mode, so the host build runs this code
// as the images do.
#pragma once

#include <cstdint>

// The exact quotient, all 64 bits of it. Divisor must not be 0.
[[gnu::always_inline]] inline std::uint64_t DivideU64ByU32(std::uint64_t Dividend,
                                                           std::uint32_t Divisor) {
  const std::uint32_t High = static_cast<std::uint32_t>(Dividend >> 32);
  std::uint32_t Remainder = High % Divisor;
  std::uint32_t QuotientLow = static_cast<std::uint32_t>(Dividend);
  __asm__("divl %[Divisor]" : "+a"(QuotientLow), "+d"(Remainder) : [Divisor] "r"(Divisor) : "cc");
  return std::uint64_t{High / Divisor} << 32 | QuotientLow;
}
