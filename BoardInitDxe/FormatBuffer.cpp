#include "BoardInitDxe/FormatBuffer.h"

#include "BoardInitDxe/FormatInternal.h"
#include "BoardInitDxe/StatusCodeName.h"

#include <cstddef>

namespace {

constexpr std::uint64_t RejectedCall = ~0ULL;

// GUIDs and status values are expanded by a nested call at the current output position.
constexpr char GuidFormat[] = "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x";
constexpr char StatusNameFormat[] = "%s";
constexpr char StatusFallbackFormat[] = "%s(%X)";
constexpr char StatusFallbackText[] = "Status Code";

// One number's text: at most a sign and the 19 digits of 2^63, and the NUL.
constexpr std::size_t NumberScratchSize = 32;

constexpr std::uint64_t Low32Bits = 0xFFFFFFFFULL;
constexpr std::uint32_t DecimalBase = 10;
constexpr std::uint32_t HexBase = 16;

// The output position and the bytes that may still be written before the terminating NUL, that
// is the remaining capacity less one. Without a capacity limit it starts at 2^64 - 1 and never
// runs out in practice. Every writer stops the moment it reaches 0, so the text is cut exactly
// where the room ended.
struct Output {
  char *Next;
  std::uint64_t Room;
};

constexpr char ToUpper(char C) {
  return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C;
}

// Copies Text up to its NUL (or, for format text, its next "%") and returns where it stopped.
// Text is read one byte at a time and never past the byte that ends it: the caller's text may
// end at the last byte of mapped memory.
template <bool StopAtPercent> constexpr bool EndsRun(char C) {
  return C == '\0' || (StopAtPercent && C == '%');
}

template <bool StopAtPercent> const char *CopyRun(Output &Out, const char *Text) {
  char *const Next = Out.Next;
  const std::uint64_t Room = Out.Room;
  // The room is tested before each read: a truncated run reads nothing past its last byte.
  std::uint64_t Copied = 0;
  for (; Copied < Room; ++Copied) {
    const char C = Text[Copied];
    if (EndsRun<StopAtPercent>(C)) {
      break;
    }
    Next[Copied] = C;
  }
  Out.Next = Next + Copied;
  Out.Room = Room - Copied;
  return Text + Copied;
}

// 16-bit text reaches the 8-bit console as the low byte of each unit.
void PutWideText(Output &Out, const std::uint16_t *Text) {
  char *Next = Out.Next;
  std::uint64_t Room = Out.Room;
  for (std::uint16_t Unit = *Text; Unit != 0; Unit = *++Text) {
    *Next++ = static_cast<char>(Unit);
    if (--Room == 0) {
      break;
    }
  }
  Out.Next = Next;
  Out.Room = Room;
}

void PutRepeated(Output &Out, char C, std::uint32_t Count) {
  const std::uint64_t Fits = Count < Out.Room ? Count : Out.Room;
  char *Next = Out.Next;
  for (std::uint64_t Index = 0; Index < Fits; ++Index) {
    Next[Index] = C;
  }
  Out.Next = Next + Fits;
  Out.Room -= Fits;
}

// Pads to Width (an unsigned count: a negative width pads until the room ends), then writes the
// digits. ValueToText leaves them least significant first, so they are read back to front.
void PutNumber(Output &Out, std::uint64_t Value, std::uint32_t Base, bool Wide, bool Upper,
               char Pad, std::uint32_t Width) {
  char Scratch[NumberScratchSize];
  const std::uint32_t Length = ValueToText(Value, Scratch, Base, Wide ? 1 : 0) + 1;
  if (Length < Width) {
    PutRepeated(Out, Pad, Width - Length);
    if (Out.Room == 0) {
      return;
    }
  }
  // All the digits that fit, in one bounded pass.
  const std::uint32_t Fits = Out.Room < Length ? static_cast<std::uint32_t>(Out.Room) : Length;
  char *Next = Out.Next;
  for (std::uint32_t Index = 0; Index < Fits; ++Index) {
    const char C = Scratch[Length - 1 - Index];
    Next[Index] = Upper ? ToUpper(C) : C;
  }
  Out.Next = Next + Fits;
  Out.Room -= Fits;
}

// The nested call gets the remaining capacity (room + 1; 0 again when there is no limit) and
// obeys the same rule, so the text ends exactly where byte-by-byte writing would have ended it.
void Advance(Output &Out, std::uint64_t Written) {
  Out.Next += Written;
  Out.Room -= Written;
}

// The GUID's multi-byte fields are stored little-endian; the bytes are read one by one so the
// reference needs no alignment.
void PutGuid(Output &Out, const std::uint8_t *Guid, bool Upper) {
  const unsigned Data1 =
      Guid[0] | Guid[1] << 8 | Guid[2] << 16 | static_cast<unsigned>(Guid[3]) << 24;
  const unsigned Data2 = Guid[4] | Guid[5] << 8;
  const unsigned Data3 = Guid[6] | Guid[7] << 8;
  const std::uint64_t Written =
      FormatBuffer(Out.Next, Out.Room + 1, GuidFormat, Data1, Data2, Data3, unsigned{Guid[8]},
                   unsigned{Guid[9]}, unsigned{Guid[10]}, unsigned{Guid[11]}, unsigned{Guid[12]},
                   unsigned{Guid[13]}, unsigned{Guid[14]}, unsigned{Guid[15]});
  if (Upper) {
    for (std::uint64_t Index = 0; Index < Written; ++Index) {
      Out.Next[Index] = ToUpper(Out.Next[Index]);
    }
  }
  Advance(Out, Written);
}

// A status without a name prints the low 32 bits of its value.
void PutStatus(Output &Out, std::uint64_t Status) {
  const char *Name = GetStatusCodeName(Status);
  const std::uint64_t Written =
      Name != nullptr ? FormatBuffer(Out.Next, Out.Room + 1, StatusNameFormat, Name)
                      : FormatBuffer(Out.Next, Out.Room + 1, StatusFallbackFormat,
                                     StatusFallbackText, static_cast<unsigned>(Status & Low32Bits));
  Advance(Out, Written);
}

// Every argument takes one 8-byte slot: 64-bit reads take the whole slot, 32-bit reads its low
// four bytes, on either calling convention.
std::uint32_t ReadSlot32(va_list *Arguments) {
  return va_arg(*Arguments, unsigned);
}
std::uint64_t ReadSlot64(va_list *Arguments) {
  return va_arg(*Arguments, std::uint64_t);
}

// Only these bytes can begin a width; any other byte leaves the width reader with nothing to
// consume, so the call is skipped for the common case of a bare conversion.
constexpr bool MayStartWidth(char C) {
  return C == ' ' || C == '\t' || C == '-' || C == '+' || (C >= '0' && C <= '9');
}

// Expands Format while room remains; the caller writes the NUL where Out stops.
void Expand(Output &Out, const char *Format, va_list *Arguments) {
  for (;;) {
    char C = *Format;
    if (C == '\0') {
      return;
    }
    if (C != '%') {
      Format = CopyRun<true>(Out, Format);
      if (Out.Room == 0) {
        return;
      }
      continue;
    }

    C = *++Format;
    if (C == '%') {
      *Out.Next++ = '%';
      ++Format;
      if (--Out.Room == 0) {
        return;
      }
      continue;
    }

    // Flag and width are read for every conversion, though only numbers use them.
    char Pad = ' ';
    if (C == '0') {
      Pad = '0';
      C = *++Format;
    }
    std::uint32_t Width;
    if (C == '*') {
      Width = ReadSlot32(Arguments);
      ++Format;
    } else if (MayStartWidth(C)) {
      Width = static_cast<std::uint32_t>(ParseFieldWidth(Format, &Format));
    } else {
      Width = 0; // what the width reader gives for text without blanks, sign or digits
    }

    C = *Format;
    switch (C) {
    case 's':
    case 'a':
      CopyRun<false>(Out, va_arg(*Arguments, const char *));
      break;
    case 'S':
      PutWideText(Out, va_arg(*Arguments, const std::uint16_t *));
      break;
    case 'c':
      *Out.Next++ = static_cast<char>(ReadSlot32(Arguments));
      --Out.Room;
      break;
    case 'g':
    case 'G':
      PutGuid(Out, va_arg(*Arguments, const std::uint8_t *), C == 'G');
      break;
    case 'r':
      PutStatus(Out, ReadSlot64(Arguments));
      break;
    default: {
      bool Long = false;
      if (C == 'l') {
        Long = true;
        C = *++Format;
      }
      std::uint32_t Base = HexBase;
      bool Upper = false;
      if (C == 'd' || C == 'i') {
        Base = DecimalBase;
      } else if (C == 'X') {
        Upper = true;
      } else if (C == 'p') {
        // A pointer-sized value: always the whole slot, printed as the full 64-bit value.
        Upper = true;
        Long = true;
      } else if (C != 'x') {
        // Not a conversion: nothing is written and this byte is read again as plain text. A
        // slot taken by "*" and a consumed "l" stay taken.
        continue;
      }
      const std::uint64_t Value = Long ? ReadSlot64(Arguments)
                                       : static_cast<std::uint64_t>(static_cast<std::int64_t>(
                                             static_cast<std::int32_t>(ReadSlot32(Arguments))));
      PutNumber(Out, Value, Base, Long, Upper, Pad, Width);
      break;
    }
    }
    ++Format;
    if (Out.Room == 0) {
      return;
    }
  }
}

} // namespace

std::uint32_t ValueToText(std::uint64_t Value, char *Text, std::uint32_t Base, std::uint8_t Wide) {
  if (Base != HexBase) {
    Base = DecimalBase; // the formatter asks for 10 or 16 only
  }
  const bool Negative = static_cast<std::int64_t>(Value) < 0;
  std::uint64_t Magnitude = Value;
  if (Negative) {
    if (Base == DecimalBase) {
      // Two's-complement negation read unsigned: the most negative value gives 2^63.
      Magnitude = 0 - Value;
    } else if (Wide == 0) {
      // A sign-extended 32-bit value prints as the 32-bit pattern it came from.
      Magnitude = Value & Low32Bits;
    }
  }
  // One unsigned division by the base per digit, least significant digit first. The formatter
  // feeds a 115200-baud UART, so the speed of this loop never shows.
  std::uint32_t Position = 0;
  do {
    const std::uint32_t Digit = static_cast<std::uint32_t>(Magnitude % Base);
    Magnitude /= Base;
    Text[Position++] =
        static_cast<char>(Digit < DecimalBase ? '0' + Digit : 'a' + (Digit - DecimalBase));
  } while (Magnitude != 0);
  if (Negative && Base == DecimalBase) {
    Text[Position++] = '-';
  }
  Text[Position] = '\0';
  return Position - 1;
}

std::int32_t ParseFieldWidth(const char *Text, const char **End) {
  constexpr std::uint32_t PositiveLimit = 0x80000000U; // reaching it saturates
  constexpr std::uint32_t NegativeLimit = 0x80000000U; // exceeding it saturates
  constexpr std::int32_t PositiveSaturated = 0x7FFFFFFF;
  constexpr std::int32_t NegativeSaturated = -0x7FFFFFFF - 1;

  while (*Text == ' ' || *Text == '\t') {
    ++Text;
  }
  bool Negative = false;
  if (*Text == '-') {
    Negative = true;
    ++Text;
  }
  if (*Text == '+') {
    ++Text;
  }
  // The running value wraps modulo 2^32; only the test after each digit catches overflow.
  std::uint32_t Value = 0;
  bool Saturated = false;
  for (char C = *Text; C >= '0' && C <= '9'; C = *++Text) {
    Value = Value * DecimalBase + static_cast<std::uint32_t>(C - '0');
    if (!Saturated) {
      Saturated = Negative ? Value > NegativeLimit : Value >= PositiveLimit;
    }
  }
  *End = Text;
  if (Saturated) {
    return Negative ? NegativeSaturated : PositiveSaturated;
  }
  return static_cast<std::int32_t>(Negative ? 0U - Value : Value);
}

std::uint64_t FormatBufferV(char *Buffer, std::uint64_t Capacity, const char *Format,
                            va_list Arguments) {
  if (Buffer == nullptr || Format == nullptr) {
    return RejectedCall;
  }
  Output Out{Buffer, Capacity - 1};
  if (Out.Room != 0) {
    // A local copy, passed by address: on the host ABI va_list is an array that cannot be handed
    // on by value and keep its position.
    va_list Slots;
    va_copy(Slots, Arguments);
    Expand(Out, Format, &Slots);
    va_end(Slots);
  }
  *Out.Next = '\0';
  return static_cast<std::uint64_t>(Out.Next - Buffer);
}

std::uint64_t FormatBuffer(char *Buffer, std::uint64_t Capacity, const char *Format, ...) {
  va_list Arguments;
  va_start(Arguments, Format);
  const std::uint64_t Written = FormatBufferV(Buffer, Capacity, Format, Arguments);
  va_end(Arguments);
  return Written;
}
