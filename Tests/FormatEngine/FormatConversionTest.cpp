#include "FormatHarness.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

namespace {

using FormatHarness::Expand;

struct Row {
  const char *Format;
  std::string Got;
  std::string Want;
};

void ExpectRows(std::initializer_list<Row> Rows) {
  for (const Row &Case : Rows) {
    EXPECT_EQ(Case.Got, Case.Want) << "format \"" << Case.Format << "\"";
  }
}

template <typename... Args> Row Case(std::string Want, const char *Format, Args... Arguments) {
  return {Format, Expand(Format, Arguments...), std::move(Want)};
}

constexpr std::int64_t MostNegative64 = -0x7FFFFFFFFFFFFFFF - 1;

TEST(FormatEngineConversion, Numbers) {
  ExpectRows({
      Case("0", "%d", 0),
      Case("000", "%03d", 0),
      Case("  -42", "%5d", -42),
      Case("00-42", "%05d", -42),
      Case("-42", "%2d", -42),
      Case("-1", "%d", -1),
      Case("-2147483648", "%i", -0x7FFFFFFF - 1),
      Case("ffffffff", "%x", -1),
      Case("FFFFFFFF", "%X", -1),
      Case("ffffffffffffffff", "%lx", -1LL),
      Case("-9223372036854775808", "%ld", MostNegative64),
      Case("18446744073", "%ld", 18446744073LL),
      Case("9 10 99 100 1000 100000", "%d %d %d %d %d %d", 9, 10, 99, 100, 1000, 100000),
      Case("10000000000 4294967296", "%ld %ld", 10000000000LL, 4294967296LL),
      Case("DEADBEEFCAFEF00D", "%lX", 0xDEADBEEFCAFEF00DULL),
      Case("7fffffff", "%x", 0x7FFFFFFF),
      Case("FFFF", "%p", 0xFFFFULL),
      Case("FFFFFFFF00000000", "%p", 0xFFFFFFFF00000000ULL),
      Case("ABCDEF0123", "%lp", 0xABCDEF0123ULL),
      Case("000000ff", "%0*x", 8, 255),
      Case("   42", "% 5d", 42),
      Case("   42", "% \t5d", 42),
      Case("   42", "%+5d", 42),
      Case("0042", "%0+4d", 42),
  });
}

// A 32-bit conversion takes the low four bytes of its 8-byte slot, and the next conversion the
// next slot, whatever the caller put there.
TEST(FormatEngineConversion, ArgumentSlots) {
  ExpectRows({
      Case("5 -1", "%d %d", 0x0000000500000005ULL, 0xFFFFFFFFFFFFFFFFULL),
      Case("10", "%x", 0xFFFFFFFF00000010ULL),
      Case("1 2 3", "%d %ld %d", 1, 2LL, 3),
      Case("ab7", "%*s%d", 10, "ab", 7),
      Case("q7", "%*q%d", 9, 7),
      // "l" qualifies numbers only: "%ls" prints "s" and leaves the slot to the next conversion.
      Case("s7", "%ls%d", 7),
  });
}

TEST(FormatEngineConversion, UnmatchedCharactersArePlainText) {
  ExpectRows({
      Case("q", "%5q"),
      Case("s", "%ls"),
      Case("r", "%lr"),
      Case("ld", "%lld"),
      Case("u", "%u"),
      Case("%", "%%"),
      Case("100%", "100%%"),
      Case("", "%"),
      Case("abc", "abc%"),
      Case("abc", "abc%0"),
      Case("7", "%5%d", 7),
      Case("-5d", "%--5d"),
      Case("-5d", "%+-5d"),
  });
}

TEST(FormatEngineConversion, TextAndCharactersIgnoreFlagAndWidth) {
  constexpr char16_t Wide[] = {0x0141, 0x0042, 0x4300, 0x0043, 0x0000, 0x0044, 0};
  ExpectRows({
      Case("ab", "%05s", "ab"),
      Case("ascii", "%a", "ascii"),
      Case("", "%s", ""),
      Case("x", "%5c", 'x'),
      Case("A", "%c", 0x141),
      Case("EFI_SUCCESS", "%020r", 0ULL),
  });
  // Each unit gives its low byte, a zero low byte included; the first all-zero unit ends it.
  const FormatHarness::Result Got = FormatHarness::Bounded(0, "%S", Wide);
  EXPECT_EQ(Got.Text, std::string("AB\0C", 4));
}

TEST(FormatEngineConversion, Guids) {
  constexpr std::uint8_t Guid[16] = {0xF6, 0x54, 0xCA, 0x3F, 0xA2, 0xE1, 0x20, 0x4B,
                                     0xBE, 0x76, 0x92, 0x6B, 0x4B, 0x48, 0xBF, 0xAA};
  // The reference needs no alignment.
  std::uint8_t Unaligned[17] = {};
  std::copy(Guid, Guid + 16, Unaligned + 1);
  constexpr std::uint8_t Zero[16] = {};
  ExpectRows({
      Case("3fca54f6-e1a2-4b20-be76-926b4b48bfaa", "%g", Guid),
      Case("3FCA54F6-E1A2-4B20-BE76-926B4B48BFAA", "%G", Guid),
      Case("3fca54f6-e1a2-4b20-be76-926b4b48bfaa", "%g", Unaligned + 1),
      Case("00000000-0000-0000-0000-000000000000", "%40g", Zero),
      Case("3FCA54F6-E1A2-4B20-BE76-926B4B48BFAA", "%040G", Guid),
      Case("[3FCA54F6-E1A2-4B20-BE76-926B4B48BFAA] 9", "[%G] %d", Guid, 9),
  });
}

TEST(FormatEngineConversion, StatusValues) {
  ExpectRows({
      Case("EFI_SUCCESS", "%r", 0ULL),
      Case("EFI_NOT_FOUND", "%r", 0x800000000000000EULL),
      Case("EFI_REQUEST_UNLOAD_IMAGE", "%r", 0xE000000000000001ULL),
      Case("Status Code(22)", "%r", 0x8000000000000022ULL),
      Case("Status Code(0)", "%r", 0x8000000000000000ULL),
      Case("Status Code(5)", "%r", 5ULL),
      Case("Status Code(AB)", "%r", 0x40000000000000ABULL),
      Case("Status Code(FFFFFFFF)", "%r", 0x80000000FFFFFFFFULL),
      Case("EFI_UNSUPPORTED then 3", "%r then %d", 0x8000000000000003ULL, 3),
  });
}

} // namespace
