#include "BoardInitDxe/FormatInternal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

struct TextCase {
  std::uint64_t Value;
  std::uint32_t Base;
  std::uint8_t Wide;
  const char *Reversed; // least significant digit first, as written
};

constexpr TextCase TextCases[] = {{0, 10, 0, "0"},
                                  {0, 16, 1, "0"},
                                  {7, 10, 0, "7"},
                                  {1234567890, 10, 0, "0987654321"},
                                  {0x1234ABCD, 16, 0, "dcba4321"},
                                  {static_cast<std::uint64_t>(-42), 10, 0, "24-"},
                                  {static_cast<std::uint64_t>(-42), 10, 1, "24-"},
                                  {0x8000000000000000, 10, 1, "8085774586302733229-"},
                                  {0x7FFFFFFFFFFFFFFF, 10, 1, "7085774586302733229"},
                                  {4294967296, 10, 0, "6927694924"},
                                  {1200000000000000003, 10, 1, "3000000000000000021"},
                                  {~0ULL, 16, 1, "ffffffffffffffff"},
                                  {~0ULL, 16, 0, "ffffffff"},
                                  {0xFFFFFFFF80000000, 16, 0, "00000008"},
                                  // Not negative: used unchanged even without the wide flag.
                                  {0x100000000, 16, 0, "000000001"}};

TEST(FormatEngineValueToText, WritesDigitsLeastSignificantFirst) {
  for (const TextCase &Case : TextCases) {
    char Text[32];
    std::memset(Text, 'X', sizeof Text);
    const std::uint32_t Last = ValueToText(Case.Value, Text, Case.Base, Case.Wide);
    const std::string Want = Case.Reversed;
    EXPECT_EQ(Last, Want.size() - 1) << Want;
    EXPECT_EQ(std::string(Text, Want.size()), Want);
    EXPECT_EQ(Text[Want.size()], '\0') << Want;
    EXPECT_EQ(Text[Want.size() + 1], 'X') << Want;
  }
}

struct WidthCase {
  const char *Text;
  std::int32_t Width;
  std::ptrdiff_t Consumed;
};

constexpr std::int32_t Saturated = 0x7FFFFFFF;
constexpr std::int32_t NegativeSaturated = -0x7FFFFFFF - 1;

constexpr WidthCase WidthCases[] = {
    {"", 0, 0},
    {" \t ", 0, 3},
    {"x", 0, 0},
    {"5d", 5, 1},
    {"  \t12x", 12, 5},
    {"007s", 7, 3},
    {"+7", 7, 2},
    {"-7", -7, 2},
    {"-+7", -7, 3},
    {"+-7", 0, 1},
    {"--7", 0, 1},
    {"-x", 0, 1},
    {"2147483647", 0x7FFFFFFF, 10},
    {"2147483648", Saturated, 10},
    {"3000000000d", Saturated, 10},
    {"21474836480", Saturated, 11}, // stays saturated though the running value wraps to 0
    {"4294967296", 0, 10},          // wraps to 0 without ever reaching 0x80000000
    {"-2147483648", NegativeSaturated, 11},
    {"-2147483647", -0x7FFFFFFF, 11},
    {"-2147483649", NegativeSaturated, 11},
    {"-4294967295", NegativeSaturated, 11}};

TEST(FormatEngineFieldWidth, ReadsSignDigitsAndSaturates) {
  for (const WidthCase &Case : WidthCases) {
    const char *End = nullptr;
    EXPECT_EQ(ParseFieldWidth(Case.Text, &End), Case.Width) << '"' << Case.Text << '"';
    EXPECT_EQ(End - Case.Text, Case.Consumed) << '"' << Case.Text << '"';
  }
}

} // namespace
