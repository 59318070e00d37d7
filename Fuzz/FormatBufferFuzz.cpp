// Fuzz target: the format engine over arbitrary format text, capacity and argument slots.
//
// Input: byte 0 mode flags, bytes 1-2 capacity, then either 16 text lengths (pointer mode) or
// 16 eight-byte slot values (integer mode), then the format text (up to its first NUL).
//
// A va_list cannot be made from data, so every call passes the same 16 slots, and the target
// keeps the format within them: each "%" takes at most two slots (a "*" width and the
// conversion's own; an unmatched byte that is rescanned as a new "%" counts as a "%" of its
// own), so at most eight "%" are kept. In pointer mode every slot points at a target-owned text
// that ends with zero bytes both as 8-bit and as 16-bit text and holds at least the 16 bytes of a
// GUID, so any conversion may consume any slot. In integer mode the slots are data and the
// conversions that dereference (s a S g G) are taken out of the format.
#include "BoardInitDxe/FormatBuffer.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t SlotCount = 16;
constexpr std::size_t MaxPercentSigns = SlotCount / 2;
constexpr std::size_t GuardBytes = 32;
constexpr std::uint8_t Untouched = 0xA5;
constexpr std::uint64_t RejectedCall = ~0ULL;
// The reference run: every other run must give a prefix of its text.
constexpr std::size_t ReferenceCapacity = 4096;
constexpr std::size_t MaxBoundedCapacity = 700;
constexpr std::size_t MaxTextLength = 40;
// Room for a GUID and, after any text, the zero bytes that end it as 8-bit and 16-bit text.
constexpr std::size_t MinTextBuffer = 16;
constexpr std::size_t TextTerminator = 3;

namespace Mode {
constexpr std::uint8_t Pointers = 1u << 0;
constexpr std::uint8_t Unlimited = 1u << 1;       // capacity 0
constexpr std::uint8_t AllOnesCapacity = 1u << 2; // capacity 2^64 - 1, as good as unlimited
} // namespace Mode

namespace TextShape {
constexpr std::uint8_t HighByte = 1u << 7; // one byte above 0x7F
constexpr std::uint8_t EarlyNul = 1u << 6; // the 8-bit text ends before the 16-bit text
} // namespace TextShape

[[noreturn]] void Finding(const char *What) {
  std::fprintf(stderr, "FormatBufferFuzz: %s\n", What);
  std::abort();
}

void Expect(bool Holds, const char *What) {
  if (!Holds) {
    Finding(What);
  }
}

// Reads the input front to back; missing bytes read as zero.
struct Reader {
  const std::uint8_t *Data;
  std::size_t Size;
  std::size_t At = 0;
  std::uint8_t byte() { return At < Size ? Data[At++] : 0; }
  std::uint64_t bytes(unsigned Count) {
    std::uint64_t Value = 0;
    for (unsigned Index = 0; Index < Count; ++Index) {
      Value |= std::uint64_t{byte()} << (8 * Index);
    }
    return Value;
  }
};

// True when Count bytes from From all still hold the untouched pattern. Compared with memcmp
// against a run of the pattern, not byte by byte: a byte loop in this file is instrumented, and
// its per-byte comparison hooks over the 4 KiB reference buffer were half of every execution.
bool AllUntouched(const std::uint8_t *From, std::size_t Count) {
  static const auto Pattern = [] {
    std::array<std::uint8_t, GuardBytes + ReferenceCapacity + GuardBytes> Bytes{};
    Bytes.fill(Untouched);
    return Bytes;
  }();
  for (std::size_t Done = 0; Done < Count;) {
    const std::size_t Step = std::min(Count - Done, Pattern.size());
    if (std::memcmp(From + Done, Pattern.data(), Step) != 0) {
      return false;
    }
    Done += Step;
  }
  return true;
}

// A buffer with guard bytes on both sides; the engine may write only inside.
class GuardedBuffer {
public:
  explicit GuardedBuffer(std::size_t Size)
      : Size_(Size), Bytes_(GuardBytes + Size + GuardBytes, Untouched) {}
  char *data() { return reinterpret_cast<char *>(Bytes_.data() + GuardBytes); }
  std::size_t size() const { return Size_; }
  bool guardsIntact() const {
    return AllUntouched(Bytes_.data(), GuardBytes) &&
           AllUntouched(Bytes_.data() + GuardBytes + Size_, GuardBytes);
  }
  bool untouchedFrom(std::size_t Offset) const {
    return Offset <= Size_ && AllUntouched(Bytes_.data() + GuardBytes + Offset, Size_ - Offset);
  }

private:
  std::size_t Size_;
  std::vector<std::uint8_t> Bytes_;
};

using Slots = std::uint64_t[SlotCount];

std::uint64_t Format(char *Buffer, std::uint64_t Capacity, const char *Text, const Slots &S) {
  return FormatBuffer(Buffer, Capacity, Text, S[0], S[1], S[2], S[3], S[4], S[5], S[6], S[7], S[8],
                      S[9], S[10], S[11], S[12], S[13], S[14], S[15]);
}

// The checks every accepted call must pass: the result fits, the NUL ends it, and nothing past
// the NUL (guards included) was touched.
void CheckOutput(const GuardedBuffer &Buffer, std::uint64_t Result, std::uint64_t Capacity,
                 const char *Text) {
  Expect(Buffer.guardsIntact(), "a byte outside the buffer was written");
  Expect(Result != RejectedCall, "a valid call was rejected");
  Expect(Result < Capacity, "the result exceeds capacity - 1");
  Expect(Text[Result] == '\0', "the text is not NUL-terminated at the result");
  Expect(Buffer.untouchedFrom(Result + 1), "a byte past the NUL was written");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  Reader In{Data, Size};
  const std::uint8_t Flags = In.byte();
  const std::uint64_t CapacityRaw = In.bytes(2);
  const bool Unbounded = (Flags & (Mode::Unlimited | Mode::AllOnesCapacity)) != 0;
  const std::uint64_t Capacity = (Flags & Mode::Unlimited) != 0 ? 0
                                 : (Flags & Mode::AllOnesCapacity) != 0
                                     ? ~0ULL
                                     : 1 + CapacityRaw % MaxBoundedCapacity;

  Slots Arguments{};
  std::vector<std::vector<std::uint8_t>> Texts;
  Texts.reserve(SlotCount);
  const bool Pointers = (Flags & Mode::Pointers) != 0;
  if (Pointers) {
    for (std::size_t Slot = 0; Slot < SlotCount; ++Slot) {
      const std::uint8_t Shape = In.byte();
      const std::size_t Length = Shape % MaxTextLength;
      std::vector<std::uint8_t> Text(std::max(Length + TextTerminator, MinTextBuffer), 0);
      for (std::size_t Index = 0; Index < Length; ++Index) {
        Text[Index] = static_cast<std::uint8_t>(' ' + (Slot * 31 + Index * 7 + Shape) % 0x5F);
      }
      if ((Shape & TextShape::HighByte) != 0 && Length > 0) {
        Text[Length - 1] |= 0x80;
      }
      if ((Shape & TextShape::EarlyNul) != 0 && Length > 1) {
        Text[Length / 2] = 0;
      }
      Texts.push_back(std::move(Text));
    }
    for (std::size_t Slot = 0; Slot < SlotCount; ++Slot) {
      Arguments[Slot] = reinterpret_cast<std::uintptr_t>(Texts[Slot].data());
    }
  } else {
    for (std::uint64_t &Slot : Arguments) {
      Slot = In.bytes(8);
    }
  }

  // The format: the rest of the input up to its first NUL, cut before the ninth "%", in an
  // allocation that ends with its NUL so that reading past it is caught.
  std::vector<char> Chosen;
  Chosen.reserve(Size);
  std::size_t Percents = 0;
  while (In.At < In.Size) {
    char C = static_cast<char>(In.byte());
    if (C == '\0' || (C == '%' && ++Percents > MaxPercentSigns)) {
      break;
    }
    if (!Pointers) {
      // Same shapes, no dereference: the text conversions become number conversions.
      switch (C) {
      case 's':
        C = 'd';
        break;
      case 'a':
        C = 'i';
        break;
      case 'S':
        C = 'X';
        break;
      case 'g':
        C = 'x';
        break;
      case 'G':
        C = 'p';
        break;
      default:
        break;
      }
    }
    Chosen.push_back(C);
  }
  const std::size_t FormatLength = Chosen.size();
  const auto Text = std::make_unique<char[]>(FormatLength + 1);
  std::copy(Chosen.begin(), Chosen.end(), Text.get());
  Text[FormatLength] = '\0';

  // Rejected calls: nothing written.
  {
    GuardedBuffer Buffer(MaxBoundedCapacity);
    Expect(Format(nullptr, Capacity, Text.get(), Arguments) == RejectedCall,
           "a null buffer was not rejected");
    Expect(Format(Buffer.data(), Capacity, nullptr, Arguments) == RejectedCall,
           "a null format was not rejected");
    Expect(Buffer.untouchedFrom(0) && Buffer.guardsIntact(), "a rejected call wrote");
  }

  GuardedBuffer Reference(ReferenceCapacity);
  const std::uint64_t Full = Format(Reference.data(), ReferenceCapacity, Text.get(), Arguments);
  CheckOutput(Reference, Full, ReferenceCapacity, Reference.data());
  const bool Complete = Full + 1 < ReferenceCapacity;

  if (Unbounded) {
    // By contract the caller keeps an unbounded result within its buffer; only texts that the
    // reference run shows to be shorter are run, into a buffer of exactly their size.
    if (!Complete) {
      return -1;
    }
    GuardedBuffer Buffer(Full + 1);
    const std::uint64_t Result = Format(Buffer.data(), Capacity, Text.get(), Arguments);
    CheckOutput(Buffer, Result, Full + 1, Buffer.data());
    Expect(Result == Full, "an unbounded call gave another length");
    Expect(std::memcmp(Buffer.data(), Reference.data(), Full) == 0,
           "an unbounded call gave another text");
    return 0;
  }

  // Bytes are counted one by one, so a capacity cuts the reference text where the room ends.
  GuardedBuffer Buffer(Capacity);
  const std::uint64_t Result = Format(Buffer.data(), Capacity, Text.get(), Arguments);
  CheckOutput(Buffer, Result, Capacity, Buffer.data());
  Expect(Result == std::min<std::uint64_t>(Full, Capacity - 1),
         "the truncated length is not the bytes that fitted");
  Expect(std::memcmp(Buffer.data(), Reference.data(), Result) == 0,
         "the truncated text is not a prefix of the full text");
  return 0;
}
