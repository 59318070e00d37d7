#include "BoardInitDxe/StatusCodeName.h"

#include <cstddef>

namespace {

// Class bits of a 64-bit UEFI status value.
namespace StatusBits {
constexpr std::uint64_t Error = 1ULL << 63;
constexpr std::uint64_t Oem = 1ULL << 62;
constexpr std::uint64_t Pi = 1ULL << 61;
constexpr std::uint64_t CodeMask = Pi - 1;
} // namespace StatusBits

// Each class's names stand in fixed-width rows, zero-filled, in code order without gaps, so a
// code's row lies (code - first code) * width bytes into its table.
namespace WarningRows {
constexpr std::uint64_t First = 1;
constexpr char Names[4][26] = {
    "EFI_WARN_UNKNOWN_GLYPH",
    "EFI_WARN_DELETE_FAILURE",
    "EFI_WARN_WRITE_FAILURE",
    "EFI_WARN_BUFFER_TOO_SMALL",
};
} // namespace WarningRows

namespace PiWarningRows {
constexpr std::uint64_t First = 0;
constexpr char Names[2][35] = {
    "EFI_WARN_INTERRUPT_SOURCE_PENDING",
    "EFI_WARN_INTERRUPT_SOURCE_QUIESCED",
};
} // namespace PiWarningRows

namespace PiErrorRows {
constexpr std::uint64_t First = 0;
constexpr char Names[3][25] = {
    "EFI_INTERRUPT_PENDING",
    "EFI_REQUEST_UNLOAD_IMAGE",
    "EFI_NOT_AVAILABLE_YET",
};
} // namespace PiErrorRows

// Rows as wide as the error table's.
namespace OemErrorRows {
constexpr std::uint64_t First = 1;
constexpr char Names[2][25] = {
    "EFI_DBE_EOF",
    "EFI_DBE_BOF",
};
} // namespace OemErrorRows

namespace ErrorRows {
constexpr std::uint64_t First = 1;
constexpr char Names[33][25] = {
    "EFI_LOAD_ERROR",           "EFI_INVALID_PARAMETER",  "EFI_UNSUPPORTED",
    "EFI_BAD_BUFFER_SIZE",      "EFI_BUFFER_TOO_SMALL",   "EFI_NOT_READY",
    "EFI_DEVICE_ERROR",         "EFI_WRITE_PROTECTED",    "EFI_OUT_OF_RESOURCES",
    "EFI_VOLUME_CORRUPTED",     "EFI_VOLUME_FULL",        "EFI_NO_MEDIA",
    "EFI_MEDIA_CHANGED",        "EFI_NOT_FOUND",          "EFI_ACCESS_DENIED",
    "EFI_NO_RESPONSE",          "EFI_NO_MAPPING",         "EFI_TIMEOUT",
    "EFI_NOT_STARTED",          "EFI_ALREADY_STARTED",    "EFI_ABORTED",
    "EFI_ICMP_ERROR",           "EFI_TFTP_ERROR",         "EFI_PROTOCOL_ERROR",
    "EFI_INCOMPATIBLE_VERSION", "EFI_SECURITY_VIOLATION", "EFI_CRC_ERROR",
    "EFI_END_OF_MEDIA",         "EFI_UNDEFINED_29",       "EFI_UNDEFINED_30",
    "EFI_END_OF_FILE",          "EFI_INVALID_LANGUAGE",   "EFI_COMPROMISED_DATA",
};
} // namespace ErrorRows

constexpr char SuccessName[] = "EFI_SUCCESS";

// Length of the longest name plus its terminator: the narrowest row that holds every name.
template <std::size_t Rows, std::size_t Width>
constexpr std::size_t NarrowestRow(const char (&Table)[Rows][Width]) {
  std::size_t Longest = 0;
  for (std::size_t Row = 0; Row < Rows; ++Row) {
    std::size_t Length = 0;
    while (Length < Width && Table[Row][Length] != '\0') {
      ++Length;
    }
    Longest = Length > Longest ? Length : Longest;
  }
  return Longest + 1;
}

static_assert(NarrowestRow(WarningRows::Names) == sizeof WarningRows::Names[0]);
static_assert(NarrowestRow(PiWarningRows::Names) == sizeof PiWarningRows::Names[0]);
static_assert(NarrowestRow(PiErrorRows::Names) == sizeof PiErrorRows::Names[0]);
static_assert(NarrowestRow(ErrorRows::Names) == sizeof ErrorRows::Names[0]);
static_assert(sizeof OemErrorRows::Names[0] == sizeof ErrorRows::Names[0]);
static_assert(NarrowestRow(OemErrorRows::Names) <= sizeof OemErrorRows::Names[0]);

// The row of Code, or null when the table has none for it.
template <std::size_t Rows, std::size_t Width>
const char *RowOf(const char (&Table)[Rows][Width], std::uint64_t First, std::uint64_t Code) {
  const std::uint64_t Row = Code - First; // below First wraps to a huge row: no name
  return Row < Rows ? Table[Row] : nullptr;
}

} // namespace

const char *GetStatusCodeName(std::uint64_t Status) {
  using namespace StatusBits;
  if (Status == 0) {
    return SuccessName;
  }
  const std::uint64_t Code = Status & CodeMask;
  if ((Status & Error) == 0) {
    if ((Status & Pi) != 0) {
      return RowOf(PiWarningRows::Names, PiWarningRows::First, Code);
    }
    // The whole value, not the code: with the OEM bit set it is far above the named warnings.
    return RowOf(WarningRows::Names, WarningRows::First, Status);
  }
  // A PI error whatever the OEM bit holds.
  if ((Status & Pi) != 0) {
    return RowOf(PiErrorRows::Names, PiErrorRows::First, Code);
  }
  if ((Status & Oem) != 0) {
    return RowOf(OemErrorRows::Names, OemErrorRows::First, Code);
  }
  return RowOf(ErrorRows::Names, ErrorRows::First, Code);
}
