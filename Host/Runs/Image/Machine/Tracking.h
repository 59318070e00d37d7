// How a machine follows the image's instructions, chosen when it is built:
// - full: every instruction of the image is hooked, so the machine knows each one's address, the
//   calls in progress and the deepest stack;
// - lean: only the image's blocks are hooked, counted whole, and the few instructions the machine
//   must see (the processor events, the functions it annotates) one by one: several times faster,
//   for the many runs of the comparison and the fuzz targets.
#pragma once

#include "Coverage.h"
#include "Disassembly.h"
#include "EmulatorCore.h"
#include "Images.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

namespace imagerun {

// The machine as its tracking sees it.
class Stepper {
public:
  virtual EmulatorCore &core() = 0;
  virtual bool running() const = 0;
  // Counts Count instructions about to run; false when that stopped the run (it spun).
  virtual bool count(std::uint64_t Count) = 0;
  // Takes back Count instructions counted that will not run.
  virtual void uncount(std::uint64_t Count) = 0;
  // The instruction of Size bytes at Address, before it runs, the stack pointer at Sp: what the
  // machine does there. True when it answered a processor event and stepped over it.
  virtual bool step(std::uint64_t Address, std::uint64_t Size, std::uint64_t Sp) = 0;
  // Lean: each block of the image the run enters, before it runs.
  virtual void entered(std::uint64_t Address) = 0;
  // Called in a handler: keeps the exception being handled and stops the run, which rethrows it
  // once the emulator has stopped (nothing may unwind through the emulator's C frames).
  virtual void fail() = 0;

protected:
  ~Stepper() = default;
};

// The image's code as the tracking needs it.
struct TrackedCode {
  std::uint64_t Base = 0; // the image's first byte
  std::uint64_t Span = 0; // bytes, a whole number of pages
  // The image's bytes at Base as placed, and the stretches of its code.
  std::span<const std::uint8_t> Bytes = {};
  std::span<const CodeStretch> Stretches = {};
  std::uint64_t ExitTrap = 0; // nothing reads or writes it
};

class InstructionTracking {
public:
  virtual ~InstructionTracking() = default;

  // Address is an instruction the machine must see; in full tracking every instruction is.
  virtual void watch(std::uint64_t Address) = 0;
  // Forgets the last run (what was learnt of the code stays).
  virtual void restart();
  // A run starts with the machine's own call, its return address at StackPointer.
  virtual void beginRun(std::uint64_t StackPointer);
  // The instruction being executed; lean, between watched instructions, the last one of the block.
  std::uint64_t pc() const { return Pc_; }
  // Where the processor stands after a fault: the faulting instruction.
  virtual std::uint64_t faultAt() const = 0;
  // The instruction making the access the board is handling. Lean, the emulator keeps the program
  // counter exact at a device window's access; at a port access it stands at the block's start.
  virtual std::uint64_t accessAt() const = 0;
  // A port access starts and ends: lean tracking finds its instruction in the block.
  virtual void portAccessBegins() {}
  virtual void portAccessEnds() {}
  // Whether the instruction of a refused data access is known when the access is refused; lean,
  // only once the emulator has stopped on it.
  virtual bool exactAtAccess() const = 0;
  // The return addresses of the calls in progress inside the image, outermost first (the machine's
  // own call left out); empty when calls are not followed.
  virtual std::vector<std::uint64_t> returnAddresses() const { return {}; }
  // The innermost of them; 0 when no call is in progress or calls are not followed.
  virtual std::uint64_t innermostReturn() const { return 0; }
  // The deepest instruction (0: not followed) and the calls in progress there, each caller's call
  // instruction first, the deepest instruction last.
  virtual std::uint64_t deepest() const { return 0; }
  virtual std::vector<std::uint64_t> deepestChain() const { return {}; }

  // Every instruction that runs is told to Covered (nullptr: none).
  void coverWith(Coverage *Covered) { Covered_ = Covered; }

  static std::unique_ptr<InstructionTracking> Make(Tracking Follow, Stepper &Machine,
                                                   const TrackedCode &Code);

protected:
  explicit InstructionTracking(Stepper &Machine) : Machine_(Machine) {}
  Stepper &Machine_;
  std::uint64_t Pc_ = 0;
  Coverage *Covered_ = nullptr;
};

class FullTracking final : public InstructionTracking {
public:
  FullTracking(Stepper &Machine, const TrackedCode &Code);
  void watch(std::uint64_t) override {}
  void restart() override;
  void beginRun(std::uint64_t StackPointer) override;
  std::uint64_t faultAt() const override { return Pc_; }
  std::uint64_t accessAt() const override { return Pc_; }
  bool exactAtAccess() const override { return true; }
  std::vector<std::uint64_t> returnAddresses() const override;
  std::uint64_t innermostReturn() const override {
    return Frames_.size() > 1 ? Frames_.back().ReturnAddress : 0;
  }
  std::uint64_t deepest() const override { return DeepestPc_; }
  std::vector<std::uint64_t> deepestChain() const override { return DeepestChain_; }

private:
  static void OnCode(uc_engine *Engine, std::uint64_t Address, std::uint32_t Size, void *Self);
  void code(std::uint64_t Address, std::uint64_t Size);
  void trackCalls(std::uint64_t Address, std::uint64_t Sp);

  // The calls in progress, as the instructions show them: a call is an instruction after which
  // execution goes elsewhere with the address of the next instruction pushed; it returns once the
  // stack pointer rises above that slot. The machine's own call is the first.
  struct Frame {
    std::uint64_t Slot;          // where its return address lies
    std::uint64_t ReturnAddress; // in its caller
  };
  std::vector<Frame> Frames_;
  std::uint64_t LastPc_ = 0, LastSize_ = 0, LastSp_ = 0;
  std::uint64_t LowestSp_ = ~std::uint64_t{0};
  std::uint64_t DeepestPc_ = 0;
  std::vector<std::uint64_t> DeepestChain_;
};

class LeanTracking final : public InstructionTracking {
public:
  LeanTracking(Stepper &Machine, const TrackedCode &Code);
  void watch(std::uint64_t Address) override;
  void restart() override;
  std::uint64_t faultAt() const override;
  // At a port access, the block's next port instruction; else where the emulator stands, exact
  // at a device window's access.
  std::uint64_t accessAt() const override { return InPort_ ? PortAt_ : faultAt(); }
  void portAccessBegins() override;
  void portAccessEnds() override { InPort_ = false; }
  bool exactAtAccess() const override { return false; }

private:
  static void OnBlock(uc_engine *Engine, std::uint64_t Address, std::uint32_t Size, void *Self);
  static void OnWatched(uc_engine *Engine, std::uint64_t Address, std::uint32_t Size, void *Self);
  static void OnPlaced(uc_engine *Engine, uc_mem_type Type, std::uint64_t Address, int Size,
                       std::int64_t Value, void *Self);
  void block(std::uint64_t Address, std::uint64_t Size);
  void watched(std::uint64_t Address, std::uint64_t Size);
  void watchEvents(const TrackedCode &Code);
  // What the machine knows of a block: the offsets of its instructions, and of its port
  // instructions (the emulator names a port access by the block's start, not its instruction).
  struct BlockCode {
    std::vector<std::uint16_t> Starts;
    std::vector<std::uint16_t> Ports;
  };
  // The block at Address, Size bytes long, first decoded.
  const BlockCode &blockCode(std::uint64_t Address, std::uint64_t Size);

  formats::InstructionLengths Lengths_;
  // The blocks seen, their instruction offsets by address and size, kept across runs as the
  // translated code is; the last ones found again by their address; the block running.
  std::unordered_map<std::uint64_t, BlockCode> Blocks_;
  struct RecentBlock {
    std::uint64_t Key = ~std::uint64_t{0};
    const BlockCode *Code = nullptr;
  };
  std::array<RecentBlock, 1024> Recent_{};
  const BlockCode *Block_ = nullptr;
  std::uint64_t BlockAddress_ = 0;
  // The port accesses the block running has made, and the instruction of the one in progress.
  std::size_t PortsMade_ = 0;
  bool InPort_ = false;
  std::uint64_t PortAt_ = 0;
};

} // namespace imagerun
