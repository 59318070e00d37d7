// One emulated IA-32 machine around the early-init image: the image mapped as flash at its base,
// the painted stack, the PEI services table, and every port, device-window access and processor
// event of the image routed to one sim::Board. Calls into the image are made as the PEI core
// makes them (cdecl, arguments on the stack, return to an address the machine controls), and
// every call of SetIoDecode and SetGenericIoRange inside the image is annotated on the board as
// the host build annotates it.
#pragma once

#include "Board.h"
#include "EmulatedMachine.h"
#include "PeiImage.h"
#include "PeiImageRunner.h"

#include <unicorn/unicorn.h>

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace imagerun {

class PeiMachine {
public:
  PeiMachine(const PeiImage &Image, sim::Board &Target);
  PeiMachine(const PeiMachine &) = delete;
  PeiMachine &operator=(const PeiMachine &) = delete;

  // Calls the function at Address with 32-bit stack arguments and returns what it left in EAX;
  // nullopt when the run stopped instead (hung or breach; see below). Rethrows what a hook could
  // not pass through the emulator.
  std::optional<std::uint32_t> call(std::uint32_t Address,
                                    std::initializer_list<std::uint32_t> Arguments);

  bool hung() const { return Stop_ == Stop::StepBudget || Stop_ == Stop::Spin; }
  bool spunWithoutAccess() const { return Stop_ == Stop::Spin; }
  const std::optional<std::string> &breach() const { return Breach_; }
  std::uint64_t instructions() const { return Instructions_; }
  // Bytes of stack written below the stack pointer of the deepest call's caller, return address
  // included, read off the paint.
  std::uint32_t stackHighWater() const;
  // The function that ran when the stack pointer was lowest.
  std::string deepestFunction() const;

private:
  enum class Stop { None, StepBudget, Spin, Breach, Error };
  struct PendingReturn {
    std::uint32_t Function;      // its first instruction
    std::size_t Call;            // board handle
    std::uint32_t ReturnAddress; // where the caller resumes
    std::uint32_t EntryEsp;      // the stack pointer at the function's first instruction
  };
  struct MmioWindow {
    PeiMachine *Machine;
    std::uint64_t Base;
  };

  void check(uc_err Error, const char *What) const;
  std::uint32_t reg(int Register) const;
  void setReg(int Register, std::uint32_t Value);
  void stop(Stop Why);
  void breach(std::string Message);
  // Runs an access of the board; false (and the run stopping) when it threw.
  template <typename Access> bool board(Access &&Body);
  void enterCall(const char *Name, std::vector<std::uint64_t> Arguments, std::string Text,
                 std::uint32_t Esp);
  void returnCalls(std::uint32_t Address, std::uint32_t Esp);
  bool processorEvent(std::uint64_t Address);

  static void OnCode(uc_engine *Engine, std::uint64_t Address, std::uint32_t Size, void *Self);
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

  void code(std::uint64_t Address);
  bool invalid(uc_mem_type Type, std::uint64_t Address, int Size);

  // Closes the emulator however the machine ends, a constructor that threw included.
  struct Emulator {
    uc_engine *Engine = nullptr;
    Emulator();
    ~Emulator();
    Emulator(const Emulator &) = delete;
    Emulator &operator=(const Emulator &) = delete;
  };

  const PeiImage &Image_;
  sim::Board &Board_;
  Emulator Emulator_;
  uc_engine *const Engine_ = Emulator_.Engine;
  std::vector<MmioWindow> Windows_;
  std::vector<PendingReturn> Pending_;
  Stop Stop_ = Stop::None;
  std::optional<std::string> Breach_;
  std::exception_ptr Error_;
  std::uint64_t Instructions_ = 0;
  std::uint64_t SinceAccess_ = 0;
  std::uint32_t Pc_ = 0; // the instruction being executed
  std::uint32_t LowestEsp_ = ~std::uint32_t{0};
  std::uint32_t DeepestPc_ = 0;
  // The stack pointer of the runner's calls before the return address goes on: the arguments
  // above it are the caller's, everything below the module's.
  std::uint32_t CallerEsp_ = machine::StackTop;
};

} // namespace imagerun
