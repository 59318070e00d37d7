#include "Tracking.h"

#include <iterator>

namespace imagerun {

void InstructionTracking::restart() {
  Pc_ = 0;
}

void InstructionTracking::beginRun(std::uint64_t) {}

std::unique_ptr<InstructionTracking> InstructionTracking::Make(Tracking Follow, Stepper &Machine,
                                                               const TrackedCode &Code) {
  if (Follow == Tracking::Lean) {
    return std::make_unique<LeanTracking>(Machine, Code);
  }
  return std::make_unique<FullTracking>(Machine, Code);
}

FullTracking::FullTracking(Stepper &Machine, const TrackedCode &Code)
    : InstructionTracking(Machine) {
  Machine.core().hook(UC_HOOK_CODE, reinterpret_cast<void *>(OnCode), this, Code.Base,
                      Code.Base + Code.Span - 1, "hook the image's instructions");
}

void FullTracking::restart() {
  InstructionTracking::restart();
  Frames_.clear();
  LastPc_ = LastSize_ = LastSp_ = 0;
  LowestSp_ = ~std::uint64_t{0};
  DeepestPc_ = 0;
  DeepestChain_.clear();
}

void FullTracking::beginRun(std::uint64_t StackPointer) {
  Frames_.assign(1, {StackPointer, 0});
  LastSize_ = 0;
}

std::vector<std::uint64_t> FullTracking::returnAddresses() const {
  std::vector<std::uint64_t> Addresses;
  for (auto Each = Frames_.size() > 1 ? std::next(Frames_.begin()) : Frames_.end();
       Each != Frames_.end(); ++Each) {
    Addresses.push_back(Each->ReturnAddress);
  }
  return Addresses;
}

void FullTracking::trackCalls(std::uint64_t Address, std::uint64_t Sp) {
  while (Frames_.size() > 1 && Sp > Frames_.back().Slot) {
    Frames_.pop_back();
  }
  const std::uint64_t Next = LastPc_ + LastSize_;
  const std::uint64_t Slot = Machine_.core().slotSize();
  if (LastSize_ != 0 && Address != Next && Sp + Slot == LastSp_) {
    std::uint64_t Pushed = 0;
    if (Machine_.core().readRam(Sp, &Pushed, Slot) && Pushed == Next) {
      Frames_.push_back({Sp, Next});
    }
  }
  LastPc_ = Address;
  LastSp_ = Sp;
}

void FullTracking::code(std::uint64_t Address, std::uint64_t Size) {
  if (!Machine_.running()) {
    // The rest of a translated block may still run after a stop: it reaches the board no more.
    uc_emu_stop(Machine_.core().engine());
    return;
  }
  if (!Machine_.count(1)) {
    return;
  }
  Pc_ = Address;
  if (Covered_ != nullptr) {
    Covered_->executed(Address);
  }
  const std::uint64_t Sp = Machine_.core().reg(Machine_.core().stackPointer());
  trackCalls(Address, Sp);
  LastSize_ = Size;
  if (Sp < LowestSp_) {
    LowestSp_ = Sp;
    DeepestPc_ = Address;
    // Each caller is where its call instruction lies, the byte before the return address.
    DeepestChain_.clear();
    for (const std::uint64_t Return : returnAddresses()) {
      DeepestChain_.push_back(Return - 1);
    }
    DeepestChain_.push_back(Address);
  }
  Machine_.step(Address, Size, Sp);
}

void FullTracking::OnCode(uc_engine *, std::uint64_t Address, std::uint32_t Size, void *Self) {
  auto &Tracking = *static_cast<FullTracking *>(Self);
  try {
    Tracking.code(Address, Size);
  } catch (...) {
    Tracking.Machine_.fail();
  }
}

} // namespace imagerun
