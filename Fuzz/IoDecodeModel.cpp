#include "IoDecodeModel.h"

namespace model {
namespace {

struct Change {
  std::uint16_t DecodeMask = 0xFFFF;
  std::uint16_t DecodeBits = 0;
  std::uint16_t EnableMask = 0xFFFF;
  std::uint16_t EnableBits = 0;
};

constexpr std::uint16_t Apply(std::uint16_t Old, std::uint16_t Mask, std::uint16_t Bits) {
  return static_cast<std::uint16_t>((Old & Mask) | Bits);
}

// Index of Port in List, or -1.
template <unsigned N> int Find(const std::uint16_t (&List)[N], std::uint16_t Port) {
  for (unsigned Index = 0; Index < N; ++Index) {
    if (List[Index] == Port) {
      return static_cast<int>(Index);
    }
  }
  return -1;
}

constexpr std::uint16_t FloppyList[] = {0x3F0, 0x370};
constexpr std::uint16_t ParallelList[] = {0x378, 0x278, 0x3BC};
constexpr std::uint16_t SerialList[] = {0x3F8, 0x2F8, 0x220, 0x228, 0x238, 0x2E8, 0x338, 0x3E8};

// The decode table's rows, one device type at a time; false for a refusal.
bool Classify(Registers &State, std::uint16_t Port, std::uint8_t Size, unsigned Type,
              unsigned Target, Change &C) {
  switch (Type) {
  case 1: {
    if (Port == 0) {
      C.EnableMask = 0xFFF7;
      return true;
    }
    const int I = Find(FloppyList, Port);
    if (I < 0) {
      return false;
    }
    C.DecodeMask = 0xEFFF;
    C.DecodeBits = static_cast<std::uint16_t>(I * 0x1000);
    C.EnableBits = 0x0008;
    return true;
  }
  case 2:
  case 3:
  case 4:
  case 5:
    if (Port == 0) {
      C.EnableMask = 0xFBFF;
    } else {
      C.EnableBits = 0x0400;
    }
    return true;
  case 6: {
    if (Size > 1) {
      return false;
    }
    if (Port == 0) {
      C.EnableMask = Size == 0 ? 0xFFFE : 0xFFFD;
      return true;
    }
    if (Port == 0x3F8 || Port == 0x3E8 || Port == 0x2F8 || Port == 0x2E8) {
      (void)ApplyWindow(State, 0x200, 0x0100);
      C.DecodeMask = 0xFF88;
      C.DecodeBits = 0x0070;
      C.EnableBits = 0x0003;
      return true;
    }
    const int I = Find(SerialList, Port);
    if (I < 0) {
      return false;
    }
    if (Size == 0) {
      C.DecodeMask = 0xFFF8;
      C.DecodeBits = static_cast<std::uint16_t>(I);
      C.EnableBits = 0x0001;
    } else {
      C.DecodeMask = 0xFF8F;
      C.DecodeBits = static_cast<std::uint16_t>(I * 0x10);
      C.EnableBits = 0x0002;
    }
    return true;
  }
  case 7: {
    if (Port == 0) {
      C.EnableMask = 0xFFFB;
      return true;
    }
    const int I = Find(ParallelList, Port);
    if (I < 0) {
      return false;
    }
    C.DecodeMask = 0xFCFF;
    C.DecodeBits = static_cast<std::uint16_t>(I * 0x100);
    C.EnableBits = 0x0004;
    return true;
  }
  case 8:
    if (Port == 0) {
      C.EnableMask = 0xFCFF;
    } else if (Port == 0x200) {
      C.EnableBits = 0x0100;
    } else if (Port == 0x208) {
      C.EnableBits = 0x0200;
    } else {
      return false;
    }
    return true;
  case 0xFF:
    if (Port == 0) {
      return false;
    }
    if (Port == 0x2E) {
      C.EnableBits = 0x1000;
    } else if (Port == 0x4E) {
      C.EnableBits = 0x2000;
    } else if (Port >= 0x62 && Port <= 0x66) {
      C.EnableBits = 0x0800;
    } else {
      (void)ApplyWindow(State, Port, static_cast<std::uint16_t>(Size | (Target << 8)));
    }
    return true;
  default:
    return false;
  }
}

} // namespace

std::uint32_t ApplyWindow(Registers &State, std::uint16_t Port, std::uint16_t SizeWord) {
  if (SizeWord == 0x0100) {
    SizeWord = 0x00FF;
  }
  unsigned Size = SizeWord & 0xFF;
  const unsigned Target = (SizeWord >> 8) & 0xF;
  if (Size == 0) {
    return InvalidParameter;
  }
  if (Size < 4) {
    Size = 4;
  }
  unsigned First;
  unsigned Count;
  if (Target == 0) {
    First = 0;
    Count = 4;
  } else if (Target <= 3) {
    First = 3 + Target;
    Count = 1;
  } else {
    return Unsupported;
  }
  unsigned Slot = First + Count;
  for (unsigned Index = First; Index < First + Count; ++Index) {
    const std::uint32_t Value = State.Generic[Index];
    if ((Value & 1) == 0 || (Value & 0xFFFC) == Port) {
      Slot = Index;
      break;
    }
  }
  if (Slot == First + Count) {
    return OutOfResources;
  }
  unsigned Bits = 0;
  while ((Size >> Bits) != 0) {
    ++Bits;
  }
  const bool PowerOfTwo = (Size & (Size - 1)) == 0;
  const std::uint32_t Mask = (1u << (PowerOfTwo ? Bits - 1 : Bits)) - 1;
  const std::uint32_t Value = (Port & ~Mask & 0xFFFF) | ((Mask & 0xFFFC) << 16) | 1;
  State.Generic[Slot] = Value;
  State.GenericMirror[Slot] = Value;
  return Success;
}

DecodeResult ApplyDecode(Registers &State, std::uint16_t Port, std::uint8_t Size,
                         std::uint32_t Attributes) {
  const unsigned Type = Attributes & 0xFF;
  const unsigned Target = (Attributes >> 8) & 0xF;
  Change C;
  if (!Classify(State, Port, Size, Type, Target, C)) {
    return {Unsupported, true};
  }
  State.Decode = Apply(State.Decode, C.DecodeMask, C.DecodeBits);
  State.DecodeMirror = Apply(State.DecodeMirror, C.DecodeMask, C.DecodeBits);
  if (Target > 3) {
    return {Unsupported, false};
  }
  std::uint16_t Value = Apply(State.Enables[Target], C.EnableMask, C.EnableBits);
  if (Target != 0) {
    Value = static_cast<std::uint16_t>(Value | State.Enables[0]);
    State.Enables[0] = Value;
  }
  State.Enables[Target] = Value;
  State.EnablesMirror = Apply(State.EnablesMirror, C.EnableMask, C.EnableBits);
  return {Success, false};
}

} // namespace model
