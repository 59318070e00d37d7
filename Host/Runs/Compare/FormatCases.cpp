#include "FormatCases.h"

#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>

namespace comparison {
namespace {

using runs::FormatArgument;

FormatArgument N(std::int64_t Value) {
  return {static_cast<std::uint64_t>(Value), std::nullopt, 0};
}
FormatArgument N(std::uint64_t Value) {
  return {Value, std::nullopt, 0};
}
FormatArgument N(int Value) {
  return N(std::int64_t{Value});
}
FormatArgument N(long long Value) {
  return N(static_cast<std::int64_t>(Value));
}
FormatArgument N(unsigned long long Value) {
  return N(static_cast<std::uint64_t>(Value));
}
FormatArgument N(char Value) {
  return N(std::int64_t{Value});
}
// 8-bit text with its NUL.
FormatArgument T(const char *Text) {
  std::vector<std::uint8_t> Bytes(Text, Text + std::char_traits<char>::length(Text) + 1);
  return {0, std::move(Bytes), 0};
}
// 16-bit text, each unit low byte first, with its zero unit.
FormatArgument W(std::initializer_list<std::uint16_t> Units) {
  std::vector<std::uint8_t> Bytes;
  for (const std::uint16_t Unit : Units) {
    Bytes.push_back(static_cast<std::uint8_t>(Unit & 0xFF));
    Bytes.push_back(static_cast<std::uint8_t>(Unit >> 8));
  }
  return {0, std::move(Bytes), 0};
}
constexpr std::size_t GuidBytes = 16;
using GuidData = std::uint8_t[GuidBytes];
FormatArgument G(const GuidData &Guid, std::size_t Misalign = 0) {
  return {0, std::vector<std::uint8_t>(std::begin(Guid), std::end(Guid)), Misalign};
}

constexpr std::int64_t MostNegative64 = -0x7FFFFFFFFFFFFFFF - 1;
constexpr GuidData Guid = {0xF6, 0x54, 0xCA, 0x3F, 0xA2, 0xE1, 0x20, 0x4B,
                           0xBE, 0x76, 0x92, 0x6B, 0x4B, 0x48, 0xBF, 0xAA};
constexpr GuidData ZeroGuid = {};

struct Row {
  std::string Want;
  std::string Format;
  std::vector<FormatArgument> Arguments;
};

Row R(std::string Want, std::string Format, std::vector<FormatArgument> Arguments) {
  return {std::move(Want), std::move(Format), std::move(Arguments)};
}

std::vector<Row> Rows() {
  return {
      R("0", "%d", {N(0)}),
      R("000", "%03d", {N(0)}),
      R("  -42", "%5d", {N(-42)}),
      R("00-42", "%05d", {N(-42)}),
      R("-42", "%2d", {N(-42)}),
      R("-1", "%d", {N(-1)}),
      R("-2147483648", "%i", {N(-0x7FFFFFFF - 1)}),
      R("ffffffff", "%x", {N(-1)}),
      R("FFFFFFFF", "%X", {N(-1)}),
      R("ffffffffffffffff", "%lx", {N(-1LL)}),
      R("-9223372036854775808", "%ld", {N(MostNegative64)}),
      R("18446744073", "%ld", {N(18446744073LL)}),
      R("9 10 99 100 1000 100000", "%d %d %d %d %d %d",
        {N(9), N(10), N(99), N(100), N(1000), N(100000)}),
      R("10000000000 4294967296", "%ld %ld", {N(10000000000LL), N(4294967296LL)}),
      R("DEADBEEFCAFEF00D", "%lX", {N(0xDEADBEEFCAFEF00DULL)}),
      R("7fffffff", "%x", {N(0x7FFFFFFF)}),
      R("FFFF", "%p", {N(0xFFFFULL)}),
      R("FFFFFFFF00000000", "%p", {N(0xFFFFFFFF00000000ULL)}),
      R("ABCDEF0123", "%lp", {N(0xABCDEF0123ULL)}),
      R("000000ff", "%0*x", {N(8), N(255)}),
      R("   42", "% 5d", {N(42)}),
      R("   42", "% \t5d", {N(42)}),
      R("   42", "%+5d", {N(42)}),
      R("0042", "%0+4d", {N(42)}),
      R("5 -1", "%d %d", {N(0x0000000500000005ULL), N(0xFFFFFFFFFFFFFFFFULL)}),
      R("10", "%x", {N(0xFFFFFFFF00000010ULL)}),
      R("1 2 3", "%d %ld %d", {N(1), N(2LL), N(3)}),
      R("ab7", "%*s%d", {N(10), T("ab"), N(7)}),
      R("q7", "%*q%d", {N(9), N(7)}),
      R("s7", "%ls%d", {N(7)}),
      R("q", "%5q", {}),
      R("s", "%ls", {}),
      R("r", "%lr", {}),
      R("ld", "%lld", {}),
      R("u", "%u", {}),
      R("%", "%%", {}),
      R("100%", "100%%", {}),
      R("", "%", {}),
      R("abc", "abc%", {}),
      R("abc", "abc%0", {}),
      R("7", "%5%d", {N(7)}),
      R("-5d", "%--5d", {}),
      R("-5d", "%+-5d", {}),
      R("ab", "%05s", {T("ab")}),
      R("ascii", "%a", {T("ascii")}),
      R("", "%s", {T("")}),
      R("x", "%5c", {N('x')}),
      R("A", "%c", {N(0x141)}),
      R("EFI_SUCCESS", "%020r", {N(0ULL)}),
      R("3fca54f6-e1a2-4b20-be76-926b4b48bfaa", "%g", {G(Guid)}),
      R("3FCA54F6-E1A2-4B20-BE76-926B4B48BFAA", "%G", {G(Guid)}),
      R("3fca54f6-e1a2-4b20-be76-926b4b48bfaa", "%g", {G(Guid, 1)}),
      R("00000000-0000-0000-0000-000000000000", "%40g", {G(ZeroGuid)}),
      R("3FCA54F6-E1A2-4B20-BE76-926B4B48BFAA", "%040G", {G(Guid)}),
      R("[3FCA54F6-E1A2-4B20-BE76-926B4B48BFAA] 9", "[%G] %d", {G(Guid), N(9)}),
      R("EFI_SUCCESS", "%r", {N(0ULL)}),
      R("EFI_NOT_FOUND", "%r", {N(0x800000000000000EULL)}),
      R("EFI_REQUEST_UNLOAD_IMAGE", "%r", {N(0xE000000000000001ULL)}),
      R("Status Code(22)", "%r", {N(0x8000000000000022ULL)}),
      R("Status Code(0)", "%r", {N(0x8000000000000000ULL)}),
      R("Status Code(5)", "%r", {N(5ULL)}),
      R("Status Code(AB)", "%r", {N(0x40000000000000ABULL)}),
      R("Status Code(FFFFFFFF)", "%r", {N(0x80000000FFFFFFFFULL)}),
      R("EFI_UNSUPPORTED then 3", "%r then %d", {N(0x8000000000000003ULL), N(3)}),
      // Each 16-bit unit gives its low byte, a zero low byte included; the first all-zero unit
      // ends it.
      R(std::string("AB\0C", 4), "%S", {W({0x0141, 0x0042, 0x4300, 0x0043, 0x0000, 0x0044, 0})}),
  };
}

// The status classes: success and warnings, errors (the high bit), the image-unload codes (the
// next two bits set too), the OEM bit alone and with the error bit (OEM errors), and the PI bit
// alone (PI warnings).
constexpr std::uint64_t ErrorBit = 0x8000000000000000ULL;
constexpr std::uint64_t UnloadBits = 0xE000000000000000ULL;
constexpr std::uint64_t ReservedBit = 0x4000000000000000ULL;
constexpr std::uint64_t OemErrorBits = 0xC000000000000000ULL;
constexpr std::uint64_t PiWarningBit = 0x2000000000000000ULL;
constexpr std::uint64_t CodesPerClass = 48;

} // namespace

const std::vector<FormatCase> &FormatRows() {
  static const std::vector<FormatCase> Table = [] {
    std::vector<FormatCase> Cases;
    for (Row &Each : Rows()) {
      Cases.push_back({"format " + std::to_string(Cases.size() + 1) + " \"" + Each.Format + "\"",
                       {Each.Format, 0, std::move(Each.Arguments), false, false},
                       std::move(Each.Want)});
    }
    return Cases;
  }();
  return Table;
}

std::vector<FormatCase> FormatComparisonCases() {
  std::vector<FormatCase> Cases;
  for (const FormatCase &Each : FormatRows()) {
    Cases.push_back(Each);
  }
  const auto Cut = [&Cases](const FormatCase &Each, std::uint64_t Capacity) {
    FormatCase Limited = Each;
    Limited.Call.Capacity = Capacity;
    Limited.Name += ", capacity " + std::to_string(Capacity);
    Cases.push_back(std::move(Limited));
  };
  for (const FormatCase &Each : FormatRows()) {
    if (Each.Want.size() >= 2) {
      Cut(Each, Each.Want.size() / 2 + 1);
    }
  }
  // The limit's two edges: the text and its NUL exactly filling the buffer, and one byte short.
  for (const FormatCase &Each : FormatRows()) {
    if (!Each.Want.empty()) {
      Cut(Each, Each.Want.size() + 1);
      Cut(Each, Each.Want.size());
    }
  }
  FormatCase NullBuffer{"format with a null buffer", {"text", 8, {}, true, false}, ""};
  FormatCase NullFormat{"format with a null format", {"", 8, {}, false, true}, ""};
  Cases.push_back(std::move(NullBuffer));
  Cases.push_back(std::move(NullFormat));
  return Cases;
}

std::vector<std::uint64_t> StatusNameCases() {
  std::vector<std::uint64_t> Values;
  for (const std::uint64_t Class :
       {std::uint64_t{0}, ErrorBit, UnloadBits, ReservedBit, OemErrorBits, PiWarningBit}) {
    for (std::uint64_t Code = 0; Code < CodesPerClass; ++Code) {
      Values.push_back(Class | Code);
    }
  }
  Values.push_back(~std::uint64_t{0});
  return Values;
}

} // namespace comparison
