// The emulated machines around the shipped images. What they share, whatever mode the processor
// runs in: the emulator, every port, device-window and processor-event access routed to one
// sim::Board, the painted stack, the instruction count and spin backstop, and the ways a run stops
// (hung, a broken rule, or an exception a hook must not pass through the emulator's C frames).
// Each module's machine adds its memory, its firmware around the image and how its caller calls.
#pragma once

#include "Board.h"
#include "Disassembly.h"
#include "DxeStandIn.h"
#include "Images.h"
#include "ModuleRuns.h"

#include <unicorn/unicorn.h>

#include <array>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace imagerun {

enum class CpuMode { Bits32, Bits64 };

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
  // Lean: the image's bytes at ImageBase as placed, and the stretches of its code, walked once
  // for the processor events.
  std::span<const std::uint8_t> Code = {};
  std::span<const CodeStretch> Stretches = {};
};

class BoardMachine {
public:
  BoardMachine(const BoardMachine &) = delete;
  BoardMachine &operator=(const BoardMachine &) = delete;
  virtual ~BoardMachine() = default;

  bool hung() const { return Stop_ == Stop::StepBudget || Stop_ == Stop::Spin; }
  // The run's facts; the stack high-water mark is read off the paint: the bytes written below the
  // stack pointer of the deepest call's caller, return address included.
  runs::ImageFacts facts() const;
  // The function that called the primitive making the access the board is handling:
  // "WaitStatusClear"; empty when the machine does not follow calls.
  std::string accessingFunction() const;

protected:
  enum class Stop { None, StepBudget, Spin, Breach, Error };

  BoardMachine(sim::Board &Target, const MachineSetup &Setup);

  // "0xFFF00390 (SetIoDecode+0xC)" for an address in the image.
  virtual std::string describe(std::uint64_t Address) const = 0;
  // "SetIoDecode+0xC".
  virtual std::string functionAt(std::uint64_t Address) const = 0;
  // Each instruction of the image, before it executes and before the processor events; false when
  // the machine stopped the run.
  virtual bool instruction(std::uint64_t /*Address*/, std::uint64_t /*StackPointer*/) {
    return true;
  }
  // Lean: each block of the image the run enters, before it executes.
  virtual void entered(std::uint64_t /*Address*/) {}
  // Lean: Address is an instruction the machine must see (instruction() is called for it); in
  // full tracking every instruction is.
  void watch(std::uint64_t Address);
  bool lean() const { return Setup_.Follow == Tracking::Lean; }
  // A refused access the machine names itself (a firmware service's entry, its own flash); false
  // leaves it to be reported as a CPU fault.
  virtual bool namedInvalid(uc_mem_type /*Type*/, std::uint64_t /*Address*/,
                            const std::string & /*Bytes*/, const std::string & /*Where*/) {
    return false;
  }

  uc_engine *engine() const { return Engine_; }
  // Maps RAM backed by the machine's own memory: the emulator uses it in place, and readRam and
  // writeRam reach it without the emulator, whose every write looks for translated code to drop.
  // Answered: each access of the emulated code is a call into the machine instead, cheaper than
  // the emulator's own store for memory that is written often and never holds code (the stack).
  void mapRam(std::uint64_t Base, std::uint64_t Size, std::uint32_t Permissions,
              bool Answered = false);
  // Bytes of emulated memory, directly where the machine backs them; false when any is unmapped.
  bool readRam(std::uint64_t Address, void *Into, std::size_t Size) const;
  // The same for a write; into executable RAM through the emulator, so that code translated from
  // it is dropped.
  bool writeRam(std::uint64_t Address, const void *From, std::size_t Size);
  sim::Board &target() const { return *Board_; }
  void check(uc_err Error, const char *What) const;
  // Registers at the processor's width: EAX, ESP, EIP in 32-bit mode; RAX, RSP, RIP in 64-bit.
  std::uint64_t reg(int Register) const;
  void setReg(int Register, std::uint64_t Value);
  bool wide() const { return Setup_.Mode == CpuMode::Bits64; }
  int accumulator() const { return wide() ? UC_X86_REG_RAX : UC_X86_REG_EAX; }
  int stackPointer() const { return wide() ? UC_X86_REG_RSP : UC_X86_REG_ESP; }
  int programCounter() const { return wide() ? UC_X86_REG_RIP : UC_X86_REG_EIP; }
  std::uint64_t slotSize() const { return wide() ? 8 : 4; }
  std::uint64_t stackTop() const { return Setup_.StackBase + Setup_.StackSize; }
  std::uint64_t pc() const { return Pc_; }
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
      keepError();
    }
    return false;
  }
  // Runs the body of a hook: nothing may unwind through the emulator's C frames, so an exception is
  // kept and rethrown by run().
  template <typename Body> void guarded(Body &&Hook) {
    try {
      Hook();
    } catch (...) {
      keepError();
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
  struct MmioWindow {
    BoardMachine *Machine;
    std::uint64_t Base;
  };
  struct HostRam {
    std::uint64_t Base;
    std::uint64_t Size;
    bool Executable;
    std::unique_ptr<std::uint8_t, void (*)(void *)> Bytes;
  };
  // The region of Ram_ holding [Address, Address + Size), or nullptr.
  const HostRam *ramAt(std::uint64_t Address, std::size_t Size) const;

  void keepError();
  bool processorEvent(std::uint64_t Address);
  void code(std::uint64_t Address, std::uint64_t Size);
  void trackCalls(std::uint64_t Address, std::uint64_t Sp);
  void watched(std::uint64_t Address, std::uint64_t Size);
  void block(std::uint64_t Address, std::uint64_t Size);
  void watchEvents();
  // The offsets of the instructions of the block at Address, Size bytes long, first decoded.
  const std::vector<std::uint16_t> &blockStarts(std::uint64_t Address, std::uint64_t Size);
  // Where the processor stands after a fault: the faulting instruction.
  std::uint64_t faultAt() const;
  bool invalid(uc_mem_type Type, std::uint64_t Address, int Size);
  // Breaks the run for an access of Size bytes at Address the memory refused, at Where.
  void refused(uc_mem_type Type, std::uint64_t Address, int Size, const std::string &Where);

  static void OnCode(uc_engine *Engine, std::uint64_t Address, std::uint32_t Size, void *Self);
  // RAM answered by calls: Bytes is the region's own memory.
  static std::uint64_t OnRamRead(uc_engine *Engine, std::uint64_t Offset, unsigned Size,
                                 void *Bytes);
  static void OnRamWrite(uc_engine *Engine, std::uint64_t Offset, unsigned Size,
                         std::uint64_t Value, void *Bytes);
  static void OnPlaced(uc_engine *Engine, uc_mem_type Type, std::uint64_t Address, int Size,
                       std::int64_t Value, void *Self);
  static void OnBlock(uc_engine *Engine, std::uint64_t Address, std::uint32_t Size, void *Self);
  static std::uint32_t OnIn(uc_engine *Engine, std::uint32_t Port, int Size, void *Self);
  static void OnOut(uc_engine *Engine, std::uint32_t Port, int Size, std::uint32_t Value,
                    void *Self);
  static std::uint64_t OnMmioRead(uc_engine *Engine, std::uint64_t Offset, unsigned Size,
                                  void *Window);
  static void OnMmioWrite(uc_engine *Engine, std::uint64_t Offset, unsigned Size,
                          std::uint64_t Value, void *Window);
  static bool OnInvalid(uc_engine *Engine, uc_mem_type Type, std::uint64_t Address, int Size,
                        std::int64_t Value, void *Self);
  static void OnInterrupt(uc_engine *Engine, std::uint32_t Vector, void *Self);

  void paintStack();

  sim::Board *Board_;
  const MachineSetup Setup_;
  // Closes the emulator however the machine ends, a constructor that threw included.
  std::unique_ptr<uc_engine, uc_err (*)(uc_engine *)> Emulator_;
  uc_engine *const Engine_ = Emulator_.get();
  // The registers as the machine was built, put back before every run but the first.
  std::unique_ptr<uc_context, uc_err (*)(uc_context *)> Start_;
  std::vector<MmioWindow> Windows_;
  std::vector<HostRam> Ram_;
  Stop Stop_ = Stop::None;
  std::optional<std::string> Breach_;
  std::exception_ptr Error_;
  std::uint64_t Instructions_ = 0;
  std::uint64_t SinceAccess_ = 0;
  std::uint64_t Pc_ = 0; // the instruction being executed
  std::uint64_t LowestSp_ = ~std::uint64_t{0};
  std::uint64_t DeepestPc_ = 0;
  // The calls in progress, as the instructions show them: a call is an instruction after which
  // execution goes elsewhere with the address of the next instruction pushed; it returns once the
  // stack pointer rises above that slot. The machine's own call is the first.
  struct Frame {
    std::uint64_t Slot;          // where its return address lies
    std::uint64_t ReturnAddress; // in its caller
  };
  std::vector<Frame> Frames_;
  std::uint64_t LastPc_ = 0, LastSize_ = 0, LastSp_ = 0;
  // The positions of the calls in progress at the lowest stack pointer, outermost first: each
  // caller's call instruction, then the deepest instruction.
  std::vector<std::uint64_t> DeepestChain_;
  // The stack pointer of the machine's calls before the return address goes on: everything below it
  // is the image's.
  std::uint64_t CallerSp_;
  // Lean: the instruction lengths for decoding blocks, the blocks seen (their instruction offsets
  // by address and size, kept across runs as the translated code is), and the block running.
  std::unique_ptr<formats::InstructionLengths> Lengths_;
  std::unordered_map<std::uint64_t, std::vector<std::uint16_t>> Blocks_;
  struct RecentBlock {
    std::uint64_t Key = ~std::uint64_t{0};
    const std::vector<std::uint16_t> *Starts = nullptr;
  };
  std::array<RecentBlock, 1024> Recent_{};
  const std::vector<std::uint16_t> *Block_ = nullptr;
  std::uint64_t BlockAddress_ = 0;
  // Lean: an access refused in the run, reported once the emulator has stopped on it.
  struct RefusedAccess {
    uc_mem_type Type;
    std::uint64_t Address;
    int Size;
  };
  std::optional<RefusedAccess> Refused_;
};

// The IA-32 machine around the early-init image, mapped as flash at its base, with the PEI services
// table. Calls into the image are made as the PEI core makes them (cdecl); every call of
// SetIoDecode and SetGenericIoRange inside it is annotated as the host build annotates it.
class PeiMachine : public BoardMachine {
public:
  // The board tables in flash are those of Target's scenario: the image's own, or the rows it
  // gives written over them (ImageRejected when they do not fill a table).
  PeiMachine(const PeiImage &Image, sim::Board &Target, Tracking Follow = Tracking::Full);
  // The machine as built, for a new run on Target (the image never writes its flash; only the
  // tables change, with the scenario's).
  void reuse(sim::Board &Target);

  // Calls the module's function with its arguments in 32-bit stack slots (cdecl) and returns what
  // it left in EAX; nullopt when the run stopped instead (hung or breach). Rethrows what a hook
  // could not pass through the emulator.
  std::optional<std::uint32_t> call(modules::Call Called,
                                    std::initializer_list<std::uint32_t> Arguments);

private:
  struct PendingReturn {
    std::uint32_t Function;      // its first instruction
    std::size_t Call;            // board handle
    std::uint32_t ReturnAddress; // where the caller resumes
    std::uint32_t EntryEsp;      // the stack pointer at the function's first instruction
  };

  std::string describe(std::uint64_t Address) const override;
  std::string functionAt(std::uint64_t Address) const override;
  bool instruction(std::uint64_t Address, std::uint64_t StackPointer) override;
  void entered(std::uint64_t Address) override;
  bool namedInvalid(uc_mem_type Type, std::uint64_t Address, const std::string &Bytes,
                    const std::string &Where) override;

  void writeServices();
  // Flash holds the image as loaded, with the rows of Target's scenario over its tables.
  void placeTables(const sim::Board &Target);
  void enterCall(sim::Operation Made, std::uint32_t Esp);
  void returnCalls(std::uint32_t Address, std::uint32_t Esp);

  const PeiImage &Image_;
  std::vector<PendingReturn> Pending_;
  bool TablesReplaced_ = false; // flash holds rows other than the image's own
};

// The x86-64 machine around the driver loaded in RAM, with the DXE firmware stand-in in emulated
// memory and a page of service entries answered by the stand-in's service logic. The entry is
// called as the DXE dispatcher calls it (Microsoft x64); every service call is annotated.
class DxeMachine : public BoardMachine {
public:
  // The stand-in is built with the board's scenario settings.
  DxeMachine(const DxeImage &Image, sim::Board &Target, Tracking Follow = Tracking::Full);
  // The machine as built, for a new run on Target: the image's memory as loaded and the firmware
  // stand-in rebuilt with Target's scenario settings.
  void reuse(sim::Board &Target);

  // Calls the driver's function with up to four register arguments (RCX, RDX, R8, R9: Microsoft
  // x64) and returns what it left in RAX; nullopt when the run stopped instead (hung or breach).
  // Rethrows what a hook could not pass through the emulator.
  std::optional<std::uint64_t> call(modules::Call Called,
                                    std::initializer_list<std::uint64_t> Arguments);

  std::uint64_t systemTable() const { return Firmware_.SystemTable; }
  const standin::Firmware &firmware() const { return Firmware_; }
  // Bytes of emulated memory; empty when any of them is not mapped.
  std::vector<std::uint8_t> read(std::uint64_t Address, std::size_t Size) const;

private:
  std::string describe(std::uint64_t Address) const override;
  std::string functionAt(std::uint64_t Address) const override;

  void buildFirmware();
  void restoreImage();
  void mapServices();
  void service(std::uint64_t Address);
  void locateProtocol();
  void inSmm();
  static void OnService(uc_engine *Engine, std::uint64_t Address, std::uint32_t Size, void *Self);

  const DxeImage &Image_;
  standin::Firmware Firmware_;
};

} // namespace imagerun
