#include "FormatHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace {

using FormatHarness::Bounded;

constexpr std::uint64_t AllOnes = ~0ULL;

// {8868E871-E4F1-11D3-BC22-0080C73C8881} in its stored byte order.
constexpr std::uint8_t AcpiGuid[16] = {0x71, 0xE8, 0x68, 0x88, 0xF1, 0xE4, 0xD3, 0x11,
                                       0xBC, 0x22, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81};
constexpr char16_t WideText[] = u"wide";

struct TruncationCase {
  const char *Kind;
  std::string Full;
  std::function<FormatHarness::Result(std::uint64_t Capacity)> Format;
};

// Each kind of output sits between literal bytes so that the cut falls before, inside and after
// it; every capacity must give exactly the bytes that fit.
const TruncationCase TruncationCases[] = {
    {"literal", "0123456789", [](std::uint64_t C) { return Bounded(C, "0123456789"); }},
    {"string", "<abc>", [](std::uint64_t C) { return Bounded(C, "<%s>", "abc"); }},
    {"16-bit string", "<wide>", [](std::uint64_t C) { return Bounded(C, "<%S>", WideText); }},
    {"guid", "<8868e871-e4f1-11d3-bc22-0080c73c8881>",
     [](std::uint64_t C) { return Bounded(C, "<%g>", AcpiGuid); }},
    {"upper guid", "<8868E871-E4F1-11D3-BC22-0080C73C8881>",
     [](std::uint64_t C) { return Bounded(C, "<%G>", AcpiGuid); }},
    {"status name", "<EFI_NOT_FOUND>",
     [](std::uint64_t C) { return Bounded(C, "<%r>", 0x800000000000000EULL); }},
    {"status fallback", "<Status Code(22)>",
     [](std::uint64_t C) { return Bounded(C, "<%r>", 0x8000000000000022ULL); }},
    {"pad and digits", "<0000beef>", [](std::uint64_t C) { return Bounded(C, "<%08x>", 0xBEEF); }},
    {"blank pad and sign", "<  -42>", [](std::uint64_t C) { return Bounded(C, "<%5d>", -42); }},
    {"characters", "ab", [](std::uint64_t C) { return Bounded(C, "%c%c", 'a', 'b'); }},
    {"percent", "a%b", [](std::uint64_t C) { return Bounded(C, "a%%b"); }},
};

TEST(FormatEngineCapacity, EveryCapacityKeepsTheBytesThatFit) {
  for (const TruncationCase &Case : TruncationCases) {
    for (std::uint64_t Capacity = 1; Capacity <= Case.Full.size() + 2; ++Capacity) {
      const std::string Fits = Case.Full.substr(0, Capacity - 1);
      const FormatHarness::Result Got = Case.Format(Capacity);
      EXPECT_EQ(Got.Text, Fits) << Case.Kind << ", capacity " << Capacity;
      EXPECT_EQ(Got.Count, Fits.size()) << Case.Kind << ", capacity " << Capacity;
    }
    EXPECT_EQ(Case.Format(0).Text, Case.Full) << Case.Kind << " without a limit";
  }
}

TEST(FormatEngineCapacity, NullBufferOrFormatIsRejectedWithoutWriting) {
  char Buffer[8] = {'u', 'n', 't', 'o', 'u', 'c', 'h', 'd'};
  EXPECT_EQ(FormatBuffer(nullptr, 8, "text"), AllOnes);
  EXPECT_EQ(FormatBuffer(Buffer, 8, nullptr), AllOnes);
  EXPECT_EQ(FormatBuffer(Buffer, 0, nullptr), AllOnes);
  EXPECT_EQ(std::string(Buffer, sizeof Buffer), "untouchd");
}

TEST(FormatEngineCapacity, CapacityOneGivesAnEmptyTextWhateverTheFormat) {
  // The argument is never read: a null string reference would fault.
  EXPECT_EQ(Bounded(1, "%s", static_cast<const char *>(nullptr)).Count, 0U);
  EXPECT_EQ(Bounded(1, "").Count, 0U);
}

TEST(FormatEngineCapacity, TruncationLeavesTheRestOfTheFormatAndArgumentsUnread) {
  // Exactly four format bytes and no terminator: reading a fifth is caught by the sanitizer.
  const auto Format = std::make_unique<char[]>(4);
  std::copy_n("abcd", 4, Format.get());
  char Buffer[5];
  EXPECT_EQ(FormatBuffer(Buffer, 5, Format.get()), 4U);
  EXPECT_STREQ(Buffer, "abcd");

  const FormatHarness::Result Cut = Bounded(5, "abcdefghij%s", static_cast<const char *>(nullptr));
  EXPECT_EQ(Cut.Text, "abcd");
  EXPECT_EQ(Cut.Count, 4U);
}

// A negative width is a huge unsigned count: it pads until the room ends.
TEST(FormatEngineCapacity, NegativeWidthPadsToTheEndOfTheRoom) {
  EXPECT_EQ(Bounded(8, "%-3d", 5).Text, "       ");
  EXPECT_EQ(Bounded(6, "%0*x", -1, 5).Text, "00000");
  EXPECT_EQ(Bounded(4, "%*d", 0x7FFFFFFF, 5).Text, "   ");
}

} // namespace
