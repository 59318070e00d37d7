#include "EmulatorCore.h"

#include "EmulatedMachine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace imagerun {
namespace {

uc_engine *OpenEmulator(CpuMode Mode) {
  uc_engine *Engine = nullptr;
  const uc_err Error =
      uc_open(UC_ARCH_X86, Mode == CpuMode::Bits64 ? UC_MODE_64 : UC_MODE_32, &Engine);
  if (Error != UC_ERR_OK) {
    throw std::runtime_error(std::string("emulator: cannot open: ") + uc_strerror(Error));
  }
  return Engine;
}

// One access of Size bytes, little-endian as the host is: a copy of a constant size, which the
// compiler makes a single move rather than a call.
template <typename Word> std::uint64_t Load(const std::uint8_t *At) {
  Word Value;
  std::memcpy(&Value, At, sizeof Value);
  return Value;
}
template <typename Word> void Store(std::uint8_t *At, std::uint64_t Value) {
  const auto Narrow = static_cast<Word>(Value);
  std::memcpy(At, &Narrow, sizeof Narrow);
}

} // namespace

EmulatorCore::EmulatorCore(CpuMode Mode)
    : Mode_(Mode), Emulator_(OpenEmulator(Mode), uc_close), Engine_(Emulator_.get()),
      Start_(nullptr, uc_context_free) {}

void EmulatorCore::check(uc_err Error, const char *What) const {
  if (Error != UC_ERR_OK) {
    throw std::runtime_error(std::string("emulator: cannot ") + What + ": " + uc_strerror(Error));
  }
}

std::uint64_t EmulatorCore::reg(int Register) const {
  // A 32-bit register fills the low half.
  std::uint64_t Value = 0;
  uc_reg_read(Engine_, Register, &Value);
  return Value;
}

void EmulatorCore::setReg(int Register, std::uint64_t Value) {
  uc_reg_write(Engine_, Register, &Value);
}

void EmulatorCore::mapRam(std::uint64_t Base, std::uint64_t Size, std::uint32_t Permissions,
                          bool Answered) {
  auto *Bytes = static_cast<std::uint8_t *>(std::aligned_alloc(machine::PageSize, Size));
  if (Bytes == nullptr) {
    throw std::bad_alloc();
  }
  std::fill_n(Bytes, Size, std::uint8_t{0});
  Ram_.push_back({Base, Size, (Permissions & UC_PROT_EXEC) != 0, {Bytes, std::free}});
  if (Answered) {
    check(uc_mmio_map(Engine_, Base, Size, OnRamRead, Bytes, OnRamWrite, Bytes), "map RAM");
  } else {
    check(uc_mem_map_ptr(Engine_, Base, Size, Permissions, Bytes), "map RAM");
  }
}

const EmulatorCore::HostRam *EmulatorCore::ramAt(std::uint64_t Address, std::size_t Size) const {
  for (const HostRam &Each : Ram_) {
    if (Address >= Each.Base && Address - Each.Base <= Each.Size &&
        Size <= Each.Size - (Address - Each.Base)) {
      return &Each;
    }
  }
  return nullptr;
}

std::uint8_t *EmulatorCore::ramBytes(std::uint64_t Address, std::size_t Size) const {
  const HostRam *Ram = ramAt(Address, Size);
  return Ram == nullptr ? nullptr : Ram->Bytes.get() + (Address - Ram->Base);
}

bool EmulatorCore::readRam(std::uint64_t Address, void *Into, std::size_t Size) const {
  if (const std::uint8_t *Bytes = ramBytes(Address, Size)) {
    std::memcpy(Into, Bytes, Size);
    return true;
  }
  return uc_mem_read(Engine_, Address, Into, Size) == UC_ERR_OK;
}

bool EmulatorCore::writeRam(std::uint64_t Address, const void *From, std::size_t Size) {
  if (const HostRam *Ram = ramAt(Address, Size); Ram != nullptr && !Ram->Executable) {
    std::memcpy(Ram->Bytes.get() + (Address - Ram->Base), From, Size);
    return true;
  }
  return uc_mem_write(Engine_, Address, From, Size) == UC_ERR_OK;
}

void EmulatorCore::mapDeviceWindows(DeviceBus &Bus) {
  Windows_.reserve(machine::DeviceWindows.size());
  for (const machine::DeviceWindow &Each : machine::DeviceWindows) {
    Windows_.push_back({&Bus, Each.Base});
    check(uc_mmio_map(Engine_, Each.Base, Each.Size, OnDeviceRead, &Windows_.back(), OnDeviceWrite,
                      &Windows_.back()),
          "map a device window");
  }
}

void EmulatorCore::hook(int Type, void *Callback, void *Data, std::uint64_t Begin,
                        std::uint64_t End, const char *What, int Instruction) {
  uc_hook Handle;
  if (Type == UC_HOOK_INSN) {
    check(uc_hook_add(Engine_, &Handle, Type, Callback, Data, Begin, End, Instruction), What);
  } else {
    check(uc_hook_add(Engine_, &Handle, Type, Callback, Data, Begin, End), What);
  }
}

void EmulatorCore::keepStart() {
  uc_context *Start = nullptr;
  check(uc_context_alloc(Engine_, &Start), "keep the registers");
  Start_.reset(Start);
  check(uc_context_save(Engine_, Start), "keep the registers");
}

void EmulatorCore::restoreStart() {
  check(uc_context_restore(Engine_, Start_.get()), "put back the registers");
}

std::uint64_t EmulatorCore::OnRamRead(uc_engine *, std::uint64_t Offset, unsigned Size,
                                      void *Bytes) {
  const std::uint8_t *At = static_cast<const std::uint8_t *>(Bytes) + Offset;
  switch (Size) {
  case 1:
    return *At;
  case 2:
    return Load<std::uint16_t>(At);
  case 4:
    return Load<std::uint32_t>(At);
  default:
    return Load<std::uint64_t>(At);
  }
}

void EmulatorCore::OnRamWrite(uc_engine *, std::uint64_t Offset, unsigned Size, std::uint64_t Value,
                              void *Bytes) {
  std::uint8_t *At = static_cast<std::uint8_t *>(Bytes) + Offset;
  switch (Size) {
  case 1:
    *At = static_cast<std::uint8_t>(Value);
    break;
  case 2:
    Store<std::uint16_t>(At, Value);
    break;
  case 4:
    Store<std::uint32_t>(At, Value);
    break;
  default:
    Store<std::uint64_t>(At, Value);
    break;
  }
}

std::uint64_t EmulatorCore::OnDeviceRead(uc_engine *, std::uint64_t Offset, unsigned Size,
                                         void *Where) {
  const auto &Window = *static_cast<const struct Window *>(Where);
  return Window.Bus->deviceRead(Window.Base + Offset, Size);
}

void EmulatorCore::OnDeviceWrite(uc_engine *, std::uint64_t Offset, unsigned Size,
                                 std::uint64_t Value, void *Where) {
  const auto &Window = *static_cast<const struct Window *>(Where);
  Window.Bus->deviceWrite(Window.Base + Offset, Size, static_cast<std::uint32_t>(Value));
}

} // namespace imagerun
