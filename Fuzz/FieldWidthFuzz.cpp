// Fuzz target: the width reader against a plain model of its rules, on arbitrary text.
//
// Model: blanks and tabs are skipped; a "-" then a "+" are each taken once, in that order;
// digits accumulate modulo 2^32 and after each one the running value is tested (reaching
// 0x80000000 saturates a positive width, exceeding it a negative one); saturation sticks. The
// text sits in an allocation that ends with its NUL, so a read past it is caught.
#include "BoardInitDxe/FormatInternal.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct Width {
  std::int32_t Value;
  std::size_t End; // index of the first byte not consumed
};

Width Model(const char *Text) {
  std::size_t At = 0;
  while (Text[At] == ' ' || Text[At] == '\t') {
    ++At;
  }
  const bool Negative = Text[At] == '-';
  At += Negative ? 1 : 0;
  At += Text[At] == '+' ? 1 : 0;
  std::uint64_t Running = 0; // kept below 2^32 by hand
  bool Saturated = false;
  while (Text[At] >= '0' && Text[At] <= '9') {
    Running = (Running * 10 + static_cast<std::uint64_t>(Text[At] - '0')) % (1ULL << 32);
    Saturated = Saturated || (Negative ? Running > 0x80000000ULL : Running >= 0x80000000ULL);
    ++At;
  }
  std::int64_t Value;
  if (Saturated) {
    Value = Negative ? -0x80000000LL : 0x7FFFFFFFLL;
  } else {
    // Unsaturated: at most 2^31 after "-", below 2^31 otherwise, so the sign fits 32 bits.
    Value = Negative ? -static_cast<std::int64_t>(Running) : static_cast<std::int64_t>(Running);
  }
  return {static_cast<std::int32_t>(Value), At};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  const std::size_t Length = strnlen(reinterpret_cast<const char *>(Data), Size);
  const auto Text = std::make_unique<char[]>(Length + 1);
  std::memcpy(Text.get(), Data, Length);
  Text[Length] = '\0';

  const char *End = nullptr;
  const std::int32_t Value = ParseFieldWidth(Text.get(), &End);
  const Width Expected = Model(Text.get());
  if (End != Text.get() + Expected.End || Value != Expected.Value) {
    std::fprintf(stderr,
                 "FieldWidthFuzz: \"%s\" read as %d ending at %td, model %d ending at %zu\n",
                 Text.get(), Value, End - Text.get(), Expected.Value, Expected.End);
    std::abort();
  }
  return 0;
}
