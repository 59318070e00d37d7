#include "Tracking.h"

#include "ProcessorEvents.h"

#include <algorithm>
#include <iterator>

namespace imagerun {
namespace {

// A block's key: its address (below 2^48) and its length in bytes.
constexpr unsigned BlockSizeShift = 48;
// The blocks last seen are found by the low bits of their address, mixed with the next ones.
constexpr unsigned RecentBits = 10;

} // namespace

LeanTracking::LeanTracking(Stepper &Machine, const TrackedCode &Code)
    : InstructionTracking(Machine), Lengths_(Machine.core().wide() ? 8 : 4) {
  EmulatorCore &Core = Machine.core();
  Core.hook(UC_HOOK_BLOCK, reinterpret_cast<void *>(OnBlock), this, Code.Base,
            Code.Base + Code.Span - 1, "hook the image's blocks");
  // The emulator keeps the program counter exact at every data access only while an access hook
  // exists: this one watches the exit trap, which nothing reads or writes, so that a refused
  // access names its own instruction.
  Core.hook(UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE, reinterpret_cast<void *>(OnPlaced), this,
            Code.ExitTrap, Code.ExitTrap, "hook the accesses");
  watchEvents(Code);
}

void LeanTracking::restart() {
  InstructionTracking::restart();
  Block_ = nullptr;
  BlockAddress_ = 0;
  PortsMade_ = 0;
  InPort_ = false;
}

std::uint64_t LeanTracking::faultAt() const {
  return Machine_.core().reg(Machine_.core().programCounter());
}

void LeanTracking::watch(std::uint64_t Address) {
  Machine_.core().hook(UC_HOOK_CODE, reinterpret_cast<void *>(OnWatched), this, Address, Address,
                       "hook an instruction");
}

// Every processor event of the image's code, found by walking each stretch instruction by
// instruction from its start: only instruction starts count, never bytes inside a longer one.
void LeanTracking::watchEvents(const TrackedCode &Code) {
  for (const CodeStretch &Stretch : Code.Stretches) {
    if (Stretch.Start < Code.Base || Stretch.End - Code.Base > Code.Bytes.size()) {
      continue;
    }
    std::uint64_t Address = Stretch.Start;
    while (Address < Stretch.End) {
      const std::span<const std::uint8_t> Rest =
          Code.Bytes.subspan(Address - Code.Base, Stretch.End - Address);
      const std::size_t Length = Lengths_(Rest);
      if (Length == 0) {
        // Not an instruction (padding, or data among the code): nothing the processor runs here
        // is counted on; the walk goes on from the next byte.
        ++Address;
        continue;
      }
      if (ProcessorEventAt(Rest, Length) != nullptr) {
        watch(Address);
      }
      Address += Length;
    }
  }
}

const LeanTracking::BlockCode &LeanTracking::blockCode(std::uint64_t Address, std::uint64_t Size) {
  const std::uint64_t Key = Address | (Size << BlockSizeShift);
  RecentBlock &Recent = Recent_[(Address ^ (Address >> RecentBits)) % Recent_.size()];
  if (Recent.Key == Key) {
    return *Recent.Code;
  }
  const auto [Found, New] = Blocks_.try_emplace(Key);
  BlockCode &Code = Found->second;
  if (New) {
    std::vector<std::uint8_t> Bytes(Size);
    if (Size != 0 && Machine_.core().readRam(Address, Bytes.data(), Size)) {
      std::size_t Offset = 0;
      while (Offset < Size) {
        Code.Starts.push_back(static_cast<std::uint16_t>(Offset));
        const formats::InstructionShape Shape = Lengths_.shape(std::span(Bytes).subspan(Offset));
        if (Shape.Length == 0) {
          break;
        }
        if (Shape.Port) {
          Code.Ports.push_back(static_cast<std::uint16_t>(Offset));
        }
        Offset += Shape.Length;
      }
    }
    if (Code.Starts.empty()) {
      Code.Starts.push_back(0);
    }
  }
  Recent = {Key, &Code};
  return Code;
}

void LeanTracking::portAccessBegins() {
  InPort_ = true;
  PortAt_ = Block_ != nullptr && PortsMade_ < Block_->Ports.size()
                ? BlockAddress_ + Block_->Ports[PortsMade_]
                : faultAt();
  ++PortsMade_;
}

// A block of the image, counted whole before it runs. The machine stands at its last instruction
// until a watched one runs: the branch that leaves the block, which is what a fault of fetching
// the next instruction (or a firmware service entered) names.
void LeanTracking::block(std::uint64_t Address, std::uint64_t Size) {
  if (!Machine_.running()) {
    uc_emu_stop(Machine_.core().engine());
    return;
  }
  Block_ = &blockCode(Address, Size);
  BlockAddress_ = Address;
  PortsMade_ = 0;
  Pc_ = Address + Block_->Starts.back();
  if (!Machine_.count(Block_->Starts.size())) {
    return;
  }
  if (Covered_ != nullptr) {
    for (const std::uint16_t Start : Block_->Starts) {
      Covered_->executed(Address + Start);
    }
  }
  Machine_.entered(Address);
}

// An instruction the machine must see. A processor event stepped over leaves the rest of its
// block to run as a block of its own: its instructions were counted with this one.
void LeanTracking::watched(std::uint64_t Address, std::uint64_t Size) {
  if (!Machine_.running()) {
    uc_emu_stop(Machine_.core().engine());
    return;
  }
  const std::uint64_t Standing = Pc_;
  Pc_ = Address;
  const std::uint64_t Sp = Machine_.core().reg(Machine_.core().stackPointer());
  if (Machine_.step(Address, Size, Sp) && Block_ != nullptr && Address >= BlockAddress_) {
    const std::vector<std::uint16_t> &Starts = Block_->Starts;
    const auto Here = std::find(Starts.begin(), Starts.end(), Address - BlockAddress_);
    if (Here != Starts.end()) {
      Machine_.uncount(static_cast<std::uint64_t>(std::distance(Here, Starts.end()) - 1));
    }
  }
  Pc_ = Standing;
}

void LeanTracking::OnBlock(uc_engine *, std::uint64_t Address, std::uint32_t Size, void *Self) {
  auto &Tracking = *static_cast<LeanTracking *>(Self);
  try {
    Tracking.block(Address, Size);
  } catch (...) {
    Tracking.Machine_.fail();
  }
}

void LeanTracking::OnWatched(uc_engine *, std::uint64_t Address, std::uint32_t Size, void *Self) {
  auto &Tracking = *static_cast<LeanTracking *>(Self);
  try {
    Tracking.watched(Address, Size);
  } catch (...) {
    Tracking.Machine_.fail();
  }
}

void LeanTracking::OnPlaced(uc_engine *, uc_mem_type, std::uint64_t, int, std::int64_t, void *) {}

} // namespace imagerun
