#include "BoardInitDxe/StatusCodeName.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::uint64_t Warning = 0;
constexpr std::uint64_t PiWarning = 0x2000000000000000;
constexpr std::uint64_t Error = 0x8000000000000000;
constexpr std::uint64_t PiError = 0xA000000000000000;
constexpr std::uint64_t OemError = 0xC000000000000000;
constexpr std::uint64_t OemBitOnly = 0x4000000000000000;
constexpr std::uint64_t AllClassBits = 0xE000000000000000;

struct NameCase {
  std::uint64_t Status;
  const char *Name; // null: no name
};

// Every named code, and the first unnamed value on each side of every class.
constexpr NameCase NameCases[] = {
    {0, "EFI_SUCCESS"},
    {Warning + 1, "EFI_WARN_UNKNOWN_GLYPH"},
    {Warning + 2, "EFI_WARN_DELETE_FAILURE"},
    {Warning + 3, "EFI_WARN_WRITE_FAILURE"},
    {Warning + 4, "EFI_WARN_BUFFER_TOO_SMALL"},
    {Warning + 5, nullptr},
    {0x1FFFFFFFFFFFFFFF, nullptr},
    {OemBitOnly, nullptr},
    {OemBitOnly + 1, nullptr},
    {PiWarning + 0, "EFI_WARN_INTERRUPT_SOURCE_PENDING"},
    {PiWarning + 1, "EFI_WARN_INTERRUPT_SOURCE_QUIESCED"},
    {PiWarning + 2, nullptr},
    {PiWarning + OemBitOnly + 1, "EFI_WARN_INTERRUPT_SOURCE_QUIESCED"},
    {Error + 0, nullptr},
    {Error + 1, "EFI_LOAD_ERROR"},
    {Error + 2, "EFI_INVALID_PARAMETER"},
    {Error + 3, "EFI_UNSUPPORTED"},
    {Error + 4, "EFI_BAD_BUFFER_SIZE"},
    {Error + 5, "EFI_BUFFER_TOO_SMALL"},
    {Error + 6, "EFI_NOT_READY"},
    {Error + 7, "EFI_DEVICE_ERROR"},
    {Error + 8, "EFI_WRITE_PROTECTED"},
    {Error + 9, "EFI_OUT_OF_RESOURCES"},
    {Error + 10, "EFI_VOLUME_CORRUPTED"},
    {Error + 11, "EFI_VOLUME_FULL"},
    {Error + 12, "EFI_NO_MEDIA"},
    {Error + 13, "EFI_MEDIA_CHANGED"},
    {Error + 14, "EFI_NOT_FOUND"},
    {Error + 15, "EFI_ACCESS_DENIED"},
    {Error + 16, "EFI_NO_RESPONSE"},
    {Error + 17, "EFI_NO_MAPPING"},
    {Error + 18, "EFI_TIMEOUT"},
    {Error + 19, "EFI_NOT_STARTED"},
    {Error + 20, "EFI_ALREADY_STARTED"},
    {Error + 21, "EFI_ABORTED"},
    {Error + 22, "EFI_ICMP_ERROR"},
    {Error + 23, "EFI_TFTP_ERROR"},
    {Error + 24, "EFI_PROTOCOL_ERROR"},
    {Error + 25, "EFI_INCOMPATIBLE_VERSION"},
    {Error + 26, "EFI_SECURITY_VIOLATION"},
    {Error + 27, "EFI_CRC_ERROR"},
    {Error + 28, "EFI_END_OF_MEDIA"},
    {Error + 29, "EFI_UNDEFINED_29"},
    {Error + 30, "EFI_UNDEFINED_30"},
    {Error + 31, "EFI_END_OF_FILE"},
    {Error + 32, "EFI_INVALID_LANGUAGE"},
    {Error + 33, "EFI_COMPROMISED_DATA"},
    {Error + 34, nullptr},
    {Error + 0xFFFFFFFF, nullptr},
    {PiError + 0, "EFI_INTERRUPT_PENDING"},
    {PiError + 1, "EFI_REQUEST_UNLOAD_IMAGE"},
    {PiError + 2, "EFI_NOT_AVAILABLE_YET"},
    {PiError + 3, nullptr},
    // All three class bits: a PI error, not an OEM error.
    {AllClassBits + 0, "EFI_INTERRUPT_PENDING"},
    {AllClassBits + 1, "EFI_REQUEST_UNLOAD_IMAGE"},
    {AllClassBits + 3, nullptr},
    {OemError + 0, nullptr},
    {OemError + 1, "EFI_DBE_EOF"},
    {OemError + 2, "EFI_DBE_BOF"},
    {OemError + 3, nullptr},
    {~0ULL, nullptr},
};

TEST(StatusCodeName, NamesEveryClassAndCode) {
  for (const NameCase &Case : NameCases) {
    const char *Name = GetStatusCodeName(Case.Status);
    if (Case.Name == nullptr) {
      EXPECT_EQ(Name, nullptr) << std::hex << Case.Status << " gave " << Name;
    } else {
      ASSERT_NE(Name, nullptr) << std::hex << Case.Status;
      EXPECT_STREQ(Name, Case.Name) << std::hex << Case.Status;
    }
  }
}

// Names stand in zero-filled fixed-width rows, so neighbouring codes lie one row width apart.
TEST(StatusCodeName, RowsHaveTheirClassWidth) {
  struct RowCase {
    std::uint64_t FirstStatus;
    unsigned Rows;
    std::ptrdiff_t Width;
  };
  constexpr RowCase Rows[] = {{Warning + 1, 4, 26},
                              {PiWarning, 2, 35},
                              {PiError, 3, 25},
                              {OemError + 1, 2, 25},
                              {Error + 1, 33, 25}};
  for (const RowCase &Table : Rows) {
    const char *First = GetStatusCodeName(Table.FirstStatus);
    for (unsigned Row = 0; Row < Table.Rows; ++Row) {
      const char *Name = GetStatusCodeName(Table.FirstStatus + Row);
      EXPECT_EQ(Name - First, Row * Table.Width) << std::hex << Table.FirstStatus + Row;
      for (std::ptrdiff_t Fill = std::strlen(Name); Fill < Table.Width; ++Fill) {
        EXPECT_EQ(Name[Fill], '\0') << std::hex << Table.FirstStatus + Row << " byte " << Fill;
      }
    }
  }
}

} // namespace
