// The emulator under a machine: the engine in one processor mode, the memory it runs on (RAM the
// machine backs itself, and the board's device windows, taken from the board's address map), the
// registers at the processor's width, the hooks, and the registers as built, put back for each new
// run. Nothing here knows of the board or the module.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace imagerun {

enum class CpuMode { Bits32, Bits64 };

// Where the device windows' accesses go: the board, at the access's physical address.
class DeviceBus {
public:
  virtual std::uint32_t deviceRead(std::uint64_t Address, unsigned Size) = 0;
  virtual void deviceWrite(std::uint64_t Address, unsigned Size, std::uint32_t Value) = 0;

protected:
  ~DeviceBus() = default;
};

class EmulatorCore {
public:
  explicit EmulatorCore(CpuMode Mode);
  EmulatorCore(const EmulatorCore &) = delete;
  EmulatorCore &operator=(const EmulatorCore &) = delete;

  uc_engine *engine() const { return Engine_; }
  bool wide() const { return Mode_ == CpuMode::Bits64; }
  // Throws a runtime_error naming What when Error is one.
  void check(uc_err Error, const char *What) const;

  // Registers at the processor's width: EAX, ESP, EIP in 32-bit mode; RAX, RSP, RIP in 64-bit.
  std::uint64_t reg(int Register) const;
  void setReg(int Register, std::uint64_t Value);
  int accumulator() const { return wide() ? UC_X86_REG_RAX : UC_X86_REG_EAX; }
  int stackPointer() const { return wide() ? UC_X86_REG_RSP : UC_X86_REG_ESP; }
  int programCounter() const { return wide() ? UC_X86_REG_RIP : UC_X86_REG_EIP; }
  // A pushed return address or flags word.
  std::uint64_t slotSize() const { return wide() ? 8 : 4; }

  // Maps RAM backed by the machine's own memory: the emulator uses it in place, and readRam and
  // writeRam reach it without the emulator, whose every write looks for translated code to drop.
  // Answered: each access of the emulated code is a call instead, cheaper than the emulator's own
  // store for memory that is written often and never holds code (the stack).
  void mapRam(std::uint64_t Base, std::uint64_t Size, std::uint32_t Permissions,
              bool Answered = false);
  // The bytes the machine backs for [Address, Address + Size); nullptr when it backs none there.
  std::uint8_t *ramBytes(std::uint64_t Address, std::size_t Size) const;
  // Bytes of emulated memory, directly where the machine backs them; false when any is unmapped.
  bool readRam(std::uint64_t Address, void *Into, std::size_t Size) const;
  // The same for a write; into executable RAM through the emulator, so that code translated from
  // it is dropped.
  bool writeRam(std::uint64_t Address, const void *From, std::size_t Size);
  // Every memory window of the board's address map, each access answered by Bus.
  void mapDeviceWindows(DeviceBus &Bus);

  // A hook of Type over [Begin, End] (Begin > End: everywhere); Instruction for UC_HOOK_INSN.
  void hook(int Type, void *Callback, void *Data, std::uint64_t Begin, std::uint64_t End,
            const char *What, int Instruction = 0);

  // Keeps the registers as they are now; restoreStart puts them back.
  void keepStart();
  void restoreStart();

private:
  struct HostRam {
    std::uint64_t Base;
    std::uint64_t Size;
    bool Executable;
    std::unique_ptr<std::uint8_t, void (*)(void *)> Bytes;
  };
  struct Window {
    DeviceBus *Bus;
    std::uint64_t Base;
  };
  const HostRam *ramAt(std::uint64_t Address, std::size_t Size) const;

  static std::uint64_t OnRamRead(uc_engine *Engine, std::uint64_t Offset, unsigned Size,
                                 void *Bytes);
  static void OnRamWrite(uc_engine *Engine, std::uint64_t Offset, unsigned Size,
                         std::uint64_t Value, void *Bytes);
  static std::uint64_t OnDeviceRead(uc_engine *Engine, std::uint64_t Offset, unsigned Size,
                                    void *Window);
  static void OnDeviceWrite(uc_engine *Engine, std::uint64_t Offset, unsigned Size,
                            std::uint64_t Value, void *Window);

  CpuMode Mode_;
  // Closes the emulator however the machine ends, a constructor that threw included.
  std::unique_ptr<uc_engine, uc_err (*)(uc_engine *)> Emulator_;
  uc_engine *const Engine_;
  std::unique_ptr<uc_context, uc_err (*)(uc_context *)> Start_;
  std::vector<HostRam> Ram_;
  std::vector<Window> Windows_;
};

} // namespace imagerun
