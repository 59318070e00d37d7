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

// Each class's names in code order without gaps, from its first code on.
namespace Successes {
constexpr std::uint64_t First = 0;
constexpr const char *Names[] = {"EFI_SUCCESS"};
} // namespace Successes

namespace Warnings {
constexpr std::uint64_t First = 1;
constexpr const char *Names[] = {
    "EFI_WARN_UNKNOWN_GLYPH",
    "EFI_WARN_DELETE_FAILURE",
    "EFI_WARN_WRITE_FAILURE",
    "EFI_WARN_BUFFER_TOO_SMALL",
};
} // namespace Warnings

namespace PiWarnings {
constexpr std::uint64_t First = 0;
constexpr const char *Names[] = {
    "EFI_WARN_INTERRUPT_SOURCE_PENDING",
    "EFI_WARN_INTERRUPT_SOURCE_QUIESCED",
};
} // namespace PiWarnings

namespace PiErrors {
constexpr std::uint64_t First = 0;
constexpr const char *Names[] = {
    "EFI_INTERRUPT_PENDING",
    "EFI_REQUEST_UNLOAD_IMAGE",
    "EFI_NOT_AVAILABLE_YET",
};
} // namespace PiErrors

namespace OemErrors {
constexpr std::uint64_t First = 1;
constexpr const char *Names[] = {
    "EFI_DBE_EOF",
    "EFI_DBE_BOF",
};
} // namespace OemErrors

namespace Errors {
constexpr std::uint64_t First = 1;
constexpr const char *Names[] = {
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
} // namespace Errors

// The lists above are read only at compile time. The image carries every name once, NUL-terminated,
// one straight after another in one pool, and beside it each name's offset in the pool: no row
// padding, and still one table read to find a name.
struct NameList {
  const char *const *Names;
  std::size_t Count;
};

template <std::size_t N> constexpr NameList List(const char *const (&Names)[N]) {
  return {Names, N};
}

// In pool order; a class's first name follows the names of the classes before it.
constexpr NameList Classes[] = {List(Successes::Names),  List(Warnings::Names),
                                List(PiWarnings::Names), List(PiErrors::Names),
                                List(OemErrors::Names),  List(Errors::Names)};
enum ClassIndex : std::size_t {
  SuccessClass,
  WarningClass,
  PiWarningClass,
  PiErrorClass,
  OemErrorClass,
  ErrorClass,
  ClassCount
};
static_assert(sizeof Classes / sizeof Classes[0] == ClassCount);

constexpr std::size_t Length(const char *Text) {
  std::size_t Length = 0;
  while (Text[Length] != '\0') {
    ++Length;
  }
  return Length;
}

// Offset-table index of each class's first name, and past the last class the number of names.
constexpr std::size_t FirstIndex(std::size_t Class) {
  std::size_t Index = 0;
  for (std::size_t Before = 0; Before < Class; ++Before) {
    Index += Classes[Before].Count;
  }
  return Index;
}

constexpr std::size_t PoolBytes() {
  std::size_t Bytes = 0;
  for (const NameList &Class : Classes) {
    for (std::size_t Name = 0; Name < Class.Count; ++Name) {
      Bytes += Length(Class.Names[Name]) + 1;
    }
  }
  return Bytes;
}

constexpr std::size_t NameCount = FirstIndex(ClassCount);

struct NamePool {
  std::uint16_t Offsets[NameCount];
  char Text[PoolBytes()];
};
static_assert(PoolBytes() <= 0xFFFF, "every offset fits its 16 bits");

constexpr NamePool MakePool() {
  NamePool Pool{};
  std::size_t Index = 0;
  std::size_t At = 0;
  for (const NameList &Class : Classes) {
    for (std::size_t Name = 0; Name < Class.Count; ++Name) {
      Pool.Offsets[Index++] = static_cast<std::uint16_t>(At);
      for (const char *Text = Class.Names[Name]; *Text != '\0'; ++Text) {
        Pool.Text[At++] = *Text;
      }
      Pool.Text[At++] = '\0';
    }
  }
  return Pool;
}

constexpr NamePool Pool = MakePool();

// The name of Code in the class whose names start at table index First, or null when the class
// has none for it.
const char *NameIn(std::size_t First, std::size_t Count, std::uint64_t FirstCode,
                   std::uint64_t Code) {
  const std::uint64_t Row = Code - FirstCode; // below the first code wraps to a huge row: no name
  return Row < Count ? Pool.Text + Pool.Offsets[First + Row] : nullptr;
}

template <std::size_t Class> const char *NameOf(std::uint64_t FirstCode, std::uint64_t Code) {
  constexpr std::size_t First = FirstIndex(Class);
  constexpr std::size_t Count = Classes[Class].Count;
  return NameIn(First, Count, FirstCode, Code);
}

} // namespace

const char *GetStatusCodeName(std::uint64_t Status) {
  using namespace StatusBits;
  if (Status == 0) {
    return NameOf<SuccessClass>(Successes::First, Status);
  }
  const std::uint64_t Code = Status & CodeMask;
  if ((Status & Error) == 0) {
    if ((Status & Pi) != 0) {
      return NameOf<PiWarningClass>(PiWarnings::First, Code);
    }
    // The whole value, not the code: with the OEM bit set it is far above the named warnings.
    return NameOf<WarningClass>(Warnings::First, Status);
  }
  // A PI error whatever the OEM bit holds.
  if ((Status & Pi) != 0) {
    return NameOf<PiErrorClass>(PiErrors::First, Code);
  }
  if ((Status & Oem) != 0) {
    return NameOf<OemErrorClass>(OemErrors::First, Code);
  }
  return NameOf<ErrorClass>(Errors::First, Code);
}
