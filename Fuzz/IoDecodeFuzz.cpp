// Fuzz target: SetIoDecode and SetGenericIoRange on the simulated board, from arbitrary register
// states and requests.
//
// Input: one flags byte, the initial values of the bridge's decode, enable and generic-window
// registers and of their mirrors, then up to eight requests (kind byte; decode: port, size,
// attributes; window: port, size word).
//
// Checked for every request, from the trace and the register files:
// - the status is one the operation may return, and the one the reference model gives;
// - a refused request writes nothing (no configuration data and no memory write);
// - every bridge register written has its mirror written after it, at the same width, and the
//   two writes are one read-modify-write: for each bit, one of keep, set or clear explains the
//   register's change and the mirror's change alike (on a chip select the enables register also
//   takes the primary register's bits, and the primary register the same value);
// - a generic window value never has bit 1, 16, 17 or 24 to 31 set;
// - the address latch at 0xCF8 and the interrupt flag are as before;
// - the registers end as the model says, and no other register of either window is written.
#include "Board.h"
#include "GenericIoRange.h"
#include "HwAccess.h"
#include "IoDecode.h"
#include "IoDecodeModel.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::size_t MaxRequests = 8;
constexpr std::uint64_t EcamBridge = 0xE0000000 + 0xF8000;
constexpr std::uint64_t PcrBase = 0xFD880000;
constexpr std::uint32_t WindowForbiddenBits = 0xFF030002;

namespace InputFlags {
constexpr std::uint8_t MirrorsEqualRegisters = 1u << 0;
constexpr std::uint8_t InterruptsMasked = 1u << 1;
} // namespace InputFlags

[[noreturn]] void Finding(const char *What, std::size_t Request) {
  std::fprintf(stderr, "IoDecodeFuzz: request %zu: %s\n", Request, What);
  std::abort();
}

struct Reader {
  const std::uint8_t *Data;
  std::size_t Size;
  std::size_t At = 0;
  bool more() const { return At < Size; }
  std::uint32_t bytes(unsigned Count) {
    std::uint32_t Value = 0;
    for (unsigned Index = 0; Index < Count; ++Index) {
      Value |= std::uint32_t{At < Size ? Data[At++] : std::uint8_t{0}} << (8 * Index);
    }
    return Value;
  }
};

// Reading the board's registers is the board's side, like the board itself: left out of the
// coverage the fuzzer steers by, and out of the per-comparison hooks that cost more than the reads.
__attribute__((no_sanitize("coverage"))) model::Registers ReadBoard(const sim::Board &Board) {
  model::Registers State;
  State.Decode = Board.lpcConfig().read16(model::DecodeOffset);
  State.DecodeMirror = Board.pcr().read16(model::DecodeMirrorOffset);
  for (unsigned Index = 0; Index < model::EnableRegisters; ++Index) {
    State.Enables[Index] = Board.lpcConfig().read16(model::EnablesOffset[Index]);
  }
  State.EnablesMirror = Board.pcr().read16(model::EnablesMirrorOffset);
  for (unsigned Index = 0; Index < model::GenericSlots; ++Index) {
    State.Generic[Index] = Board.lpcConfig().read32(model::GenericOffset[Index]);
    State.GenericMirror[Index] = Board.pcr().read32(model::GenericMirrorOffset[Index]);
  }
  return State;
}

// One board serves the whole campaign: building a board for each input allocates and clears its
// 64 KiB private-configuration window, which cost more than the input's run. The board is reset
// to the default board when the input is done (the board cannot be copied: its devices refer to
// each other), and the input's
// register values are written in as a scenario's presets would write them.
class CampaignBoard {
public:
  explicit CampaignBoard(const model::Registers &State);
  ~CampaignBoard() { board().reset(Unnamed()); }
  CampaignBoard(const CampaignBoard &) = delete;
  CampaignBoard &operator=(const CampaignBoard &) = delete;
  static sim::Board &board() {
    static sim::Board Board(Unnamed());
    return Board;
  }

private:
  // The checks read accesses by address; naming each register as text would take a quarter of
  // the run.
  static sim::Scenario Unnamed() {
    sim::Scenario Settings;
    Settings.NameRegisters = false;
    return Settings;
  }
};

CampaignBoard::CampaignBoard(const model::Registers &State) {
  sim::Board &Board = board();
  sim::RegisterSpace &Bridge = Board.lpcConfig();
  sim::RegisterSpace &Mirrors = Board.pcr();
  Bridge.write(model::DecodeOffset, 2, State.Decode);
  Mirrors.write(model::DecodeMirrorOffset, 2, State.DecodeMirror);
  for (unsigned Index = 0; Index < model::EnableRegisters; ++Index) {
    Bridge.write(model::EnablesOffset[Index], 2, State.Enables[Index]);
  }
  Mirrors.write(model::EnablesMirrorOffset, 2, State.EnablesMirror);
  for (unsigned Index = 0; Index < model::GenericSlots; ++Index) {
    Bridge.write(model::GenericOffset[Index], 4, State.Generic[Index]);
    Mirrors.write(model::GenericMirrorOffset[Index], 4, State.GenericMirror[Index]);
  }
}

// One register write as the hardware saw it: bridge configuration (through the ports or the
// enhanced window) or private-configuration window.
struct Write {
  bool Bridge;
  std::uint32_t Offset;
  unsigned Width;
  std::uint32_t Value;
  std::size_t Order;
};

struct RequestAccesses {
  std::vector<Write> Writes;
  bool ForeignWrite = false; // a port or memory write that is neither of the two
};

// Fills Result (kept across requests so that its storage is reused).
void Collect(const std::vector<sim::TraceRecord> &Trace, std::size_t From, std::uint32_t Latch,
             RequestAccesses &Result) {
  Result.Writes.clear();
  Result.ForeignWrite = false;
  for (std::size_t Index = From; Index < Trace.size(); ++Index) {
    const sim::TraceRecord &Record = Trace[Index];
    if (Record.Kind == sim::AccessKind::PortOut) {
      if (Record.Address == 0xCF8 && Record.Width == 4) {
        Latch = static_cast<std::uint32_t>(Record.Value);
      } else if (Record.Address >= 0xCFC && Record.Address < 0xD00 &&
                 (Latch & 0x80FFFF00) == 0x8000F800) {
        Result.Writes.push_back(
            {true, (Latch & 0xFC) + static_cast<std::uint32_t>(Record.Address - 0xCFC),
             Record.Width, static_cast<std::uint32_t>(Record.Value), Index});
      } else {
        Result.ForeignWrite = true;
      }
    } else if (Record.Kind == sim::AccessKind::MemWrite) {
      const auto Value = static_cast<std::uint32_t>(Record.Value);
      if (Record.Address >= EcamBridge && Record.Address < EcamBridge + 0x1000) {
        Result.Writes.push_back({true, static_cast<std::uint32_t>(Record.Address - EcamBridge),
                                 Record.Width, Value, Index});
      } else if (Record.Address >= PcrBase && Record.Address < PcrBase + 0x10000) {
        Result.Writes.push_back({false, static_cast<std::uint32_t>(Record.Address - PcrBase),
                                 Record.Width, Value, Index});
      } else {
        Result.ForeignWrite = true;
      }
    }
  }
}

// The writes to one register: how many, and the first of them.
struct WritesFound {
  std::size_t Count = 0;
  Write First{};
};

WritesFound WritesTo(const RequestAccesses &Accesses, bool Bridge, std::uint32_t Offset) {
  WritesFound Found;
  for (const Write &Each : Accesses.Writes) {
    if (Each.Bridge == Bridge && Each.Offset == Offset) {
      if (Found.Count++ == 0) {
        Found.First = Each;
      }
    }
  }
  return Found;
}

bool IsDecodeRegister(const Write &Each) {
  if (!Each.Bridge) {
    return Each.Offset == model::DecodeMirrorOffset || Each.Offset == model::EnablesMirrorOffset;
  }
  bool Enables = false;
  for (const std::uint32_t Offset : model::EnablesOffset) {
    Enables = Enables || Each.Offset == Offset;
  }
  return Enables || Each.Offset == model::DecodeOffset;
}

// True when one and-mask and one set of or-bits explain both changes: per bit, keep, set or
// clear. Union bits are forced on in the register whatever the operation did.
bool OneChange(std::uint32_t RegisterOld, std::uint32_t RegisterNew, std::uint32_t MirrorOld,
               std::uint32_t MirrorNew, std::uint32_t Union, unsigned Width) {
  for (unsigned Bit = 0; Bit < 8 * Width; ++Bit) {
    const auto At = [Bit](std::uint32_t Value) { return (Value >> Bit) & 1u; };
    bool Explained = false;
    for (int Operation = 0; Operation < 3 && !Explained; ++Operation) {
      const auto Apply = [Operation](std::uint32_t Old) {
        return Operation == 0 ? Old : Operation == 1 ? 1u : 0u;
      };
      const bool RegisterFits =
          At(Union) != 0 ? At(RegisterNew) == 1 : Apply(At(RegisterOld)) == At(RegisterNew);
      Explained = RegisterFits && Apply(At(MirrorOld)) == At(MirrorNew);
    }
    if (!Explained) {
      return false;
    }
  }
  return true;
}

// A register and its mirror, written together or not at all.
void CheckPair(const RequestAccesses &Accesses, std::uint32_t Register, std::uint32_t Mirror,
               unsigned Width, std::uint32_t RegisterOld, std::uint32_t MirrorOld,
               std::uint32_t Union, std::size_t Request) {
  const WritesFound RegisterWrites = WritesTo(Accesses, true, Register);
  const WritesFound MirrorWrites = WritesTo(Accesses, false, Mirror);
  if (RegisterWrites.Count != MirrorWrites.Count || RegisterWrites.Count > 1) {
    Finding("a register and its mirror were not written once each together", Request);
  }
  if (RegisterWrites.Count == 0) {
    return;
  }
  const Write &R = RegisterWrites.First;
  const Write &M = MirrorWrites.First;
  if (R.Width != Width || M.Width != Width) {
    Finding("a register or mirror was written at another width", Request);
  }
  if (M.Order < R.Order) {
    Finding("a mirror was written before its register", Request);
  }
  if (!OneChange(RegisterOld, R.Value, MirrorOld, M.Value, Union, Width)) {
    Finding("a register and its mirror received different masks or bits", Request);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  Reader In{Data, Size};
  const std::uint32_t Flags = In.bytes(1);
  model::Registers State;
  State.Decode = static_cast<std::uint16_t>(In.bytes(2));
  for (std::uint16_t &Each : State.Enables) {
    Each = static_cast<std::uint16_t>(In.bytes(2));
  }
  for (std::uint32_t &Each : State.Generic) {
    Each = In.bytes(4);
  }
  if ((Flags & InputFlags::MirrorsEqualRegisters) != 0) {
    State.DecodeMirror = State.Decode;
    State.EnablesMirror = State.Enables[0];
    for (unsigned Index = 0; Index < model::GenericSlots; ++Index) {
      State.GenericMirror[Index] = State.Generic[Index];
    }
  } else {
    State.DecodeMirror = static_cast<std::uint16_t>(In.bytes(2));
    State.EnablesMirror = static_cast<std::uint16_t>(In.bytes(2));
    for (std::uint32_t &Each : State.GenericMirror) {
      Each = In.bytes(4);
    }
  }

  const CampaignBoard Preset(State);
  sim::Board &Board = CampaignBoard::board();
  if ((Flags & InputFlags::InterruptsMasked) != 0) {
    sim::RunOnBoard(Board, [] { DisableInterrupts(); });
  }

  // The registers as the board holds them before each request: read once here, then the state
  // each request was checked to end in.
  model::Registers Before = ReadBoard(Board);
  static RequestAccesses Accesses;
  for (std::size_t Request = 0; Request < MaxRequests && In.more(); ++Request) {
    const bool Window = (In.bytes(1) & 1) != 0;
    const auto Port = static_cast<std::uint16_t>(In.bytes(2));
    std::uint16_t SizeWord = 0;
    std::uint8_t DecodeSize = 0;
    std::uint32_t Attributes = 0;
    if (Window) {
      SizeWord = static_cast<std::uint16_t>(In.bytes(2));
    } else {
      DecodeSize = static_cast<std::uint8_t>(In.bytes(1));
      Attributes = In.bytes(4);
    }

    const std::size_t From = Board.trace().size();
    const std::uint32_t Latch = Board.pciLatch();
    const bool InterruptsOn = Board.interruptsEnabled();
    // The call's operands and result in one record, so that the body captures one reference and
    // fits in the run's function object without an allocation.
    struct {
      bool Window;
      std::uint16_t Port, SizeWord;
      std::uint8_t DecodeSize;
      std::uint32_t Attributes, Status;
    } Call{Window, Port, SizeWord, DecodeSize, Attributes, 0};
    const sim::RunOutcome Outcome = sim::RunOnBoard(Board, [&Call] {
      Call.Status = Call.Window ? SetGenericIoRange(Call.Port, Call.SizeWord)
                                : SetIoDecode(Call.Port, Call.DecodeSize, Call.Attributes);
    });
    const std::uint32_t Status = Call.Status;
    if (Outcome.Hung) {
      Finding("the request ran out of steps", Request);
    }

    model::Registers Expected = Before;
    bool Refused;
    std::uint32_t ExpectedStatus;
    if (Window) {
      ExpectedStatus = model::ApplyWindow(Expected, Port, SizeWord);
      Refused = ExpectedStatus != model::Success;
      if (Status != model::Success && Status != model::InvalidParameter &&
          Status != model::Unsupported && Status != model::OutOfResources) {
        Finding("SetGenericIoRange returned a status it may not return", Request);
      }
    } else {
      const model::DecodeResult Result = model::ApplyDecode(Expected, Port, DecodeSize, Attributes);
      ExpectedStatus = Result.Status;
      Refused = Result.Refused;
      if (Status != model::Success && Status != model::Unsupported) {
        Finding("SetIoDecode returned a status it may not return", Request);
      }
    }
    if (Status != ExpectedStatus) {
      Finding("the status differs from the model's", Request);
    }

    Collect(Board.trace(), From, Latch, Accesses);
    if (Accesses.ForeignWrite) {
      Finding("a write went outside the bridge and its mirrors", Request);
    }
    if (Refused && !Accesses.Writes.empty()) {
      Finding("a refused request wrote", Request);
    }
    if (Board.pciLatch() != Latch || Board.interruptsEnabled() != InterruptsOn) {
      Finding("the address latch or the interrupt flag was not put back", Request);
    }

    CheckPair(Accesses, model::DecodeOffset, model::DecodeMirrorOffset, 2, Before.Decode,
              Before.DecodeMirror, 0, Request);
    // The enables register of the request's target; on a chip select it also takes the
    // primary register's bits, and the primary register the same value.
    const unsigned Target = (Attributes >> 8) & 0xF;
    if (!Window && Target < model::EnableRegisters) {
      const std::uint32_t Union = Target == 0 ? 0 : Before.Enables[0];
      CheckPair(Accesses, model::EnablesOffset[Target], model::EnablesMirrorOffset, 2,
                Before.Enables[Target], Before.EnablesMirror, Union, Request);
      if (Target != 0) {
        const WritesFound Primary = WritesTo(Accesses, true, model::EnablesOffset[0]);
        const WritesFound Own = WritesTo(Accesses, true, model::EnablesOffset[Target]);
        if (Primary.Count != Own.Count ||
            (Own.Count != 0 && Primary.First.Value != Own.First.Value)) {
          Finding("the primary enables did not receive the chip select's value", Request);
        }
      }
    }
    for (unsigned Slot = 0; Slot < model::GenericSlots; ++Slot) {
      // A window is written whole: mask 0, so register and mirror receive the same value.
      CheckPair(Accesses, model::GenericOffset[Slot], model::GenericMirrorOffset[Slot], 4, 0, 0, 0,
                Request);
    }
    // The register files change only through these writes, so a write elsewhere is the only
    // way another register could change.
    for (const Write &Each : Accesses.Writes) {
      bool IsWindow = false;
      for (unsigned Slot = 0; Slot < model::GenericSlots; ++Slot) {
        IsWindow = IsWindow || (Each.Bridge ? Each.Offset == model::GenericOffset[Slot]
                                            : Each.Offset == model::GenericMirrorOffset[Slot]);
      }
      if (IsWindow && (Each.Value & WindowForbiddenBits) != 0) {
        Finding("a window value has bit 1, 16, 17 or 24-31 set", Request);
      }
      if (!IsWindow && !IsDecodeRegister(Each)) {
        Finding("a register outside the decode registers and their mirrors was written", Request);
      }
    }

    const model::Registers After = ReadBoard(Board);
    if (!(After == Expected)) {
      Finding("the registers differ from the model's", Request);
    }
    Before = After;
  }

  return 0;
}
