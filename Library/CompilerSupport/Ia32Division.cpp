// 64-bit unsigned division on IA-32. Clang lowers a 64-bit '/' or '%' on i686-windows to calls of
// the Microsoft run-time helpers __aulldiv and __aullrem: both operands on the stack, callee pops
// them (stdcall), result in EDX:EAX. Binary long division needs only 32-bit instructions.
#include <cstdint>

namespace {

struct QuotientRemainder {
  std::uint64_t Quotient;
  std::uint64_t Remainder;
};

QuotientRemainder DivideU64(std::uint64_t Dividend, std::uint64_t Divisor) {
  QuotientRemainder Result = {0, 0};
  if (Divisor == 0) {
    return Result; // The hardware would fault; firmware never divides by zero.
  }
  for (int Bit = 63; Bit >= 0; --Bit) {
    Result.Remainder = (Result.Remainder << 1) | ((Dividend >> Bit) & 1);
    if (Result.Remainder >= Divisor) {
      Result.Remainder -= Divisor;
      Result.Quotient |= std::uint64_t{1} << Bit;
    }
  }
  return Result;
}

} // namespace

extern "C" __attribute__((stdcall)) std::uint64_t
Aulldiv(std::uint64_t Dividend, std::uint64_t Divisor) __asm__("__aulldiv");
extern "C" __attribute__((stdcall)) std::uint64_t
Aullrem(std::uint64_t Dividend, std::uint64_t Divisor) __asm__("__aullrem");

extern "C" __attribute__((stdcall)) std::uint64_t Aulldiv(std::uint64_t Dividend,
                                                          std::uint64_t Divisor) {
  return DivideU64(Dividend, Divisor).Quotient;
}

extern "C" __attribute__((stdcall)) std::uint64_t Aullrem(std::uint64_t Dividend,
                                                          std::uint64_t Divisor) {
  return DivideU64(Dividend, Divisor).Remainder;
}
