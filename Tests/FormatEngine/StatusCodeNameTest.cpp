#include "BoardInitDxe/StatusCodeName.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint64_t Warning = 0;
constexpr std::uint64_t PiWarning = 0x2000000000000000;
constexpr std::uint64_t Error = 0x8000000000000000;
constexpr std::uint64_t PiError = 0xA000000000000000;
constexpr std::uint64_t OemError = 0xC000000000000000;
constexpr std::uint64_t OemBitOnly = 0x4000000000000000;
constexpr std::uint64_t AllClassBits = 0xE000000000000000;

// Each class's names in code order from its first code.
struct ClassNames {
  std::uint64_t FirstStatus;
  std::vector<const char *> Names;
};

const ClassNames NamedClasses[] = {
    {0, {"EFI_SUCCESS"}},
    {Warning + 1,
     {"EFI_WARN_UNKNOWN_GLYPH", "EFI_WARN_DELETE_FAILURE", "EFI_WARN_WRITE_FAILURE",
      "EFI_WARN_BUFFER_TOO_SMALL"}},
    {PiWarning, {"EFI_WARN_INTERRUPT_SOURCE_PENDING", "EFI_WARN_INTERRUPT_SOURCE_QUIESCED"}},
    {PiError, {"EFI_INTERRUPT_PENDING", "EFI_REQUEST_UNLOAD_IMAGE", "EFI_NOT_AVAILABLE_YET"}},
    // All three class bits: a PI error, not an OEM error.
    {AllClassBits, {"EFI_INTERRUPT_PENDING", "EFI_REQUEST_UNLOAD_IMAGE", "EFI_NOT_AVAILABLE_YET"}},
    {OemError + 1, {"EFI_DBE_EOF", "EFI_DBE_BOF"}},
    {Error + 1, {"EFI_LOAD_ERROR",           "EFI_INVALID_PARAMETER",  "EFI_UNSUPPORTED",
                 "EFI_BAD_BUFFER_SIZE",      "EFI_BUFFER_TOO_SMALL",   "EFI_NOT_READY",
                 "EFI_DEVICE_ERROR",         "EFI_WRITE_PROTECTED",    "EFI_OUT_OF_RESOURCES",
                 "EFI_VOLUME_CORRUPTED",     "EFI_VOLUME_FULL",        "EFI_NO_MEDIA",
                 "EFI_MEDIA_CHANGED",        "EFI_NOT_FOUND",          "EFI_ACCESS_DENIED",
                 "EFI_NO_RESPONSE",          "EFI_NO_MAPPING",         "EFI_TIMEOUT",
                 "EFI_NOT_STARTED",          "EFI_ALREADY_STARTED",    "EFI_ABORTED",
                 "EFI_ICMP_ERROR",           "EFI_TFTP_ERROR",         "EFI_PROTOCOL_ERROR",
                 "EFI_INCOMPATIBLE_VERSION", "EFI_SECURITY_VIOLATION", "EFI_CRC_ERROR",
                 "EFI_END_OF_MEDIA",         "EFI_UNDEFINED_29",       "EFI_UNDEFINED_30",
                 "EFI_END_OF_FILE",          "EFI_INVALID_LANGUAGE",   "EFI_COMPROMISED_DATA"}},
};

// The unnamed values just outside each class's named codes, and the classless OEM-bit values.
constexpr std::uint64_t Unnamed[] = {
    Warning + 5, 0x1FFFFFFFFFFFFFFF, OemBitOnly,  OemBitOnly + 1,   PiWarning + 2, Error,
    Error + 34,  Error + 0xFFFFFFFF, PiError + 3, AllClassBits + 3, OemError,      OemError + 3,
    ~0ULL};

TEST(FormatEngineStatusNames, NamesEveryClassAndCode) {
  for (const ClassNames &Class : NamedClasses) {
    for (std::size_t Code = 0; Code < Class.Names.size(); ++Code) {
      const char *Name = GetStatusCodeName(Class.FirstStatus + Code);
      ASSERT_NE(Name, nullptr) << std::hex << Class.FirstStatus + Code;
      EXPECT_STREQ(Name, Class.Names[Code]) << std::hex << Class.FirstStatus + Code;
    }
  }
  // Bit 62 is not looked at for a PI warning either.
  EXPECT_STREQ(GetStatusCodeName(PiWarning + OemBitOnly + 1), "EFI_WARN_INTERRUPT_SOURCE_QUIESCED");
}

TEST(FormatEngineStatusNames, ValuesOutsideTheNamedCodesHaveNoName) {
  for (const std::uint64_t Status : Unnamed) {
    EXPECT_EQ(GetStatusCodeName(Status), nullptr) << std::hex << Status;
  }
}

// Each class's names stand in zero-filled rows of one width, in code order without gaps, so the
// names of neighbouring codes lie one row width apart; "EFI_SUCCESS" is a string of its own.
TEST(FormatEngineStatusNames, NamesStandInFixedWidthZeroFilledRows) {
  struct RowCase {
    std::uint64_t FirstStatus;
    unsigned Rows;
    std::ptrdiff_t Width;
  };
  constexpr RowCase Tables[] = {{Warning + 1, 4, 26},
                                {PiWarning, 2, 35},
                                {PiError, 3, 25},
                                {OemError + 1, 2, 25},
                                {Error + 1, 33, 25}};
  const char *const Success = GetStatusCodeName(0);
  for (const RowCase &Table : Tables) {
    const char *const First = GetStatusCodeName(Table.FirstStatus);
    for (unsigned Row = 0; Row < Table.Rows; ++Row) {
      const char *const Name = GetStatusCodeName(Table.FirstStatus + Row);
      EXPECT_EQ(Name - First, Row * Table.Width) << std::hex << Table.FirstStatus + Row;
      for (std::ptrdiff_t Fill = std::strlen(Name); Fill < Table.Width; ++Fill) {
        EXPECT_EQ(Name[Fill], '\0') << std::hex << Table.FirstStatus + Row << " byte " << Fill;
      }
    }
    const std::uintptr_t Begin = reinterpret_cast<std::uintptr_t>(First);
    const std::uintptr_t End = Begin + Table.Rows * Table.Width;
    const std::uintptr_t At = reinterpret_cast<std::uintptr_t>(Success);
    EXPECT_FALSE(At >= Begin && At < End)
        << "EFI_SUCCESS inside the table at " << std::hex << Table.FirstStatus;
  }
}

} // namespace
