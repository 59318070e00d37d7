// The emulated machines around the shipped images. What they share, whatever mode the processor
// runs in: an emulator core, every port, device-window and processor-event access routed to one
// sim::Board, the painted stack, the instruction count and spin backstop, the tracking chosen at
// construction, and the ways a run stops (hung, a broken rule, or an exception a hook must not
// pass through the emulator's C frames). Each module's machine adds its memory, its firmware
// around the image and how its caller calls.
#pragma once

#include "Board.h"
#include "Images.h"
#include "Machine/Debugger.h"
#include "Machine/EmulatorCore.h"
#include "Machine/Tracking.h"
#include "ModuleRuns.h"

#include <unicorn/unicorn.h>

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace imagerun {

struct MachineSetup {
  CpuMode Mode = CpuMode::Bits32;
  std::uint64_t StackBase = 0; // the painted stack; nothing is mapped below it
  std::uint64_t StackSize = 0;
  std::uint64_t ExitTrap = 0;  // the return address of the machine's calls: the run ends there
  std::uint64_t ImageBase = 0; // the image's instructions, hooked one by one (lean: by block)
  std::uint64_t ImageSpan = 0; // bytes, a whole number of pages
  // The image's bytes at ImageBase when nothing can write them (flash): the processor events are
  // read from here rather than through the emulator. Empty when the image lies in RAM.
  std::span<const std::uint8_t> FixedCode = {};
  Tracking Follow = Tracking::Full;
  // The image's bytes at ImageBase as placed, and the stretches of its code: lean tracking walks
  // them once for the processor events.
  std::span<const std::uint8_t> Code = {};
  std::span<const CodeStretch> Stretches = {};
};

class BoardMachine : private Stepper, private DeviceBus {
public:
  BoardMachine(const BoardMachine &) = delete;
  BoardMachine &operator=(const BoardMachine &) = delete;
  virtual ~BoardMachine() = default;

  bool hung() const { return Stop_ == Stop::StepBudget || Stop_ == Stop::Spin; }
  // The run's facts; the stack high-water mark is read off the paint: the bytes written below the
  // stack pointer of the deepest call's caller, return address included.
  runs::ImageFacts facts() const;
  // Where the access the board is handling is made: its instruction, the function and source
  // line, and the function that called the primitive making it. Valid while the machine lives.
  const sim::AccessSite *accessSite();
  // Debug, when given, sees every instruction of the image before it runs (full tracking only:
  // a lean machine refuses one) and every CPU fault; nullptr for none.
  void debugWith(Debugger *Debug);
  // Every instruction of the image that runs is told to Covered (nullptr: none).
  void coverWith(Coverage *Covered) { Tracking_->coverWith(Covered); }

protected:
  enum class Stop { None, StepBudget, Spin, Breach, Error };

  BoardMachine(sim::Board &Target, const MachineSetup &Setup);

  // "0xFFF00390 (SetIoDecode+0xC)" for an address in the image.
  virtual std::string describe(std::uint64_t Address) const = 0;
  // "SetIoDecode+0xC".
  virtual std::string functionAt(std::uint64_t Address) const = 0;
  // The source line of the instruction at Address; nullopt without debug information.
  virtual std::optional<formats::SourceLine> lineAt(std::uint64_t Address) const = 0;
  // Each instruction of the image the machine sees, before it executes and before the processor
  // events; false when the machine stopped the run.
  virtual bool instruction(std::uint64_t /*Address*/, std::uint64_t /*StackPointer*/) {
    return true;
  }
  // Lean: each block of the image the run enters, before it executes.
  void entered(std::uint64_t /*Address*/) override {}
  // Lean: Address is an instruction the machine must see (instruction() is called for it); in
  // full tracking every instruction is.
  void watch(std::uint64_t Address) { Tracking_->watch(Address); }
  // A refused access the machine names itself (a firmware service's entry, its own flash); false
  // leaves it to be reported as a CPU fault.
  virtual bool namedInvalid(uc_mem_type /*Type*/, std::uint64_t /*Address*/,
                            const std::string & /*Bytes*/, const std::string & /*Where*/) {
    return false;
  }

  EmulatorCore &core() override { return Core_; }
  const EmulatorCore &core() const { return Core_; }
  uc_engine *engine() const { return Core_.engine(); }
  void mapRam(std::uint64_t Base, std::uint64_t Size, std::uint32_t Permissions,
              bool Answered = false) {
    Core_.mapRam(Base, Size, Permissions, Answered);
  }
  bool readRam(std::uint64_t Address, void *Into, std::size_t Size) const {
    return Core_.readRam(Address, Into, Size);
  }
  bool writeRam(std::uint64_t Address, const void *From, std::size_t Size) {
    return Core_.writeRam(Address, From, Size);
  }
  sim::Board &target() const { return *Board_; }
  void check(uc_err Error, const char *What) const { Core_.check(Error, What); }
  std::uint64_t reg(int Register) const { return Core_.reg(Register); }
  void setReg(int Register, std::uint64_t Value) { Core_.setReg(Register, Value); }
  bool wide() const { return Core_.wide(); }
  int accumulator() const { return Core_.accumulator(); }
  int stackPointer() const { return Core_.stackPointer(); }
  int programCounter() const { return Core_.programCounter(); }
  std::uint64_t stackTop() const { return Setup_.StackBase + Setup_.StackSize; }
  std::uint64_t pc() const { return Tracking_->pc(); }
  Stop stopped() const { return Stop_; }

  void stop(Stop Why);
  void breach(std::string Message);
  // Runs an access of the board unless the run has stopped; false when it has, or (the run
  // stopping) when the access threw.
  template <typename Access> bool access(Access &&Body) {
    if (Stop_ != Stop::None) {
      return false;
    }
    try {
      Body();
      SinceAccess_ = 0;
      return true;
    } catch (const sim::StepBudgetExceeded &) {
      stop(Stop::StepBudget);
    } catch (...) {
      fail();
    }
    return false;
  }
  // Runs the body of a hook: nothing may unwind through the emulator's C frames, so an exception is
  // kept and rethrown by run().
  template <typename Body> void guarded(Body &&Hook) {
    try {
      Hook();
    } catch (...) {
      fail();
    }
  }
  // Runs the image from Address with the stack pointer at StackPointer until it reaches the exit
  // trap; CallerStackPointer is the stack pointer before the return address went on, where the
  // image's stack use starts. False when the run stopped instead (hung or breach); rethrows what a
  // hook could not pass through the emulator.
  bool run(std::uint64_t Address, std::uint64_t StackPointer, std::uint64_t CallerStackPointer);
  // Puts the machine back as it was built, for a new run on Target: the registers, the painted
  // stack and everything the machine knows of the last run. The emulator, its mappings and the
  // code it has translated stay; each machine puts back its own writable memory besides.
  void restart(sim::Board &Target);

private:
  // Stepper.
  bool running() const override { return Stop_ == Stop::None; }
  bool count(std::uint64_t Count) override;
  void uncount(std::uint64_t Count) override { Instructions_ -= Count; }
  bool step(std::uint64_t Address, std::uint64_t Size, std::uint64_t Sp) override;
  void fail() override;
  // DeviceBus.
  std::uint32_t deviceRead(std::uint64_t Address, unsigned Size) override;
  void deviceWrite(std::uint64_t Address, unsigned Size, std::uint32_t Value) override;

  // The processor event of Size bytes at Address, answered by the board, then stepped over;
  // false when the instruction is none (or the board stopped the run).
  bool processorEvent(std::uint64_t Address, std::uint64_t Size);
  bool invalid(uc_mem_type Type, std::uint64_t Address, int Size);
  // The site of the instruction at Address, with Return the return address of the innermost call.
  sim::AccessSite siteOf(std::uint64_t Address, std::uint64_t Return) const;
  // Keeps the registers and the instruction at Address for the report of a CPU fault.
  void keepFault(std::uint64_t Address);
  // Breaks the run for an access of Size bytes at Address the memory refused, at Where.
  void refused(uc_mem_type Type, std::uint64_t Address, int Size, const std::string &Where);
  void paintStack();

  static std::uint32_t OnIn(uc_engine *Engine, std::uint32_t Port, int Size, void *Self);
  static void OnOut(uc_engine *Engine, std::uint32_t Port, int Size, std::uint32_t Value,
                    void *Self);
  static bool OnInvalid(uc_engine *Engine, uc_mem_type Type, std::uint64_t Address, int Size,
                        std::int64_t Value, void *Self);
  static void OnInterrupt(uc_engine *Engine, std::uint32_t Vector, void *Self);

  sim::Board *Board_;
  const MachineSetup Setup_;
  EmulatorCore Core_;
  std::unique_ptr<InstructionTracking> Tracking_;
  Stop Stop_ = Stop::None;
  std::optional<std::string> Breach_;
  std::exception_ptr Error_;
  std::uint64_t Instructions_ = 0;
  std::uint64_t SinceAccess_ = 0;
  // The stack pointer of the machine's calls before the return address goes on: everything below it
  // is the image's.
  std::uint64_t CallerSp_;
  // An access refused in the run whose instruction is known only once the emulator has stopped on
  // it (lean tracking), reported then.
  struct RefusedAccess {
    uc_mem_type Type;
    std::uint64_t Address;
    int Size;
  };
  std::optional<RefusedAccess> Refused_;
  // The sites of the accesses, by instruction and the return address of the innermost call.
  std::map<std::pair<std::uint64_t, std::uint64_t>, sim::AccessSite> Sites_;
  std::optional<runs::ImageFacts::Fault> Fault_;
  Debugger *Debugger_ = nullptr;
};

} // namespace imagerun
