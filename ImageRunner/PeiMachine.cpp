#include "PeiMachine.h"

#include "PeiRun.h"
#include "PeiServicesTable.h"
#include "X86Instructions.h"

#include <sstream>
#include <stdexcept>

namespace imagerun {
namespace {

using namespace machine;

// The module's statuses are 32 bits wide.
constexpr unsigned StatusBits = 32;
constexpr std::uint32_t StackSlot = 4;

std::string Hex(std::uint64_t Value) {
  std::ostringstream Out;
  Out << "0x" << std::uppercase << std::hex << Value;
  return Out.str();
}

const char *ServiceAt(std::uint64_t Address) {
  if (Address < ServiceTrapBase || (Address - ServiceTrapBase) % ServiceTrapStride != 0) {
    return nullptr;
  }
  const std::uint64_t Index = (Address - ServiceTrapBase) / ServiceTrapStride;
  return Index < pei::ServiceNames.size() ? pei::ServiceNames[Index] : nullptr;
}

} // namespace

PeiMachine::Emulator::Emulator() {
  const uc_err Error = uc_open(UC_ARCH_X86, UC_MODE_32, &Engine);
  if (Error != UC_ERR_OK) {
    throw std::runtime_error(std::string("emulator: cannot open: ") + uc_strerror(Error));
  }
}

PeiMachine::Emulator::~Emulator() {
  uc_close(Engine);
}

PeiMachine::PeiMachine(const PeiImage &Image, sim::Board &Target) : Image_(Image), Board_(Target) {
  // Flash: readable and executable, never writable.
  const std::uint64_t Flash = PageRoundUp(Image.Size);
  check(uc_mem_map(Engine_, Image.Base, Flash, UC_PROT_READ | UC_PROT_EXEC), "map the image");
  check(uc_mem_write(Engine_, Image.Base, Image.Bytes.data(), Image.Bytes.size()),
        "place the image");
  // RAM: readable and writable, never executable.
  check(uc_mem_map(Engine_, StackBase, StackSize, UC_PROT_READ | UC_PROT_WRITE), "map the stack");
  const std::vector<std::uint8_t> Paint(StackSize, StackPaint);
  check(uc_mem_write(Engine_, StackBase, Paint.data(), Paint.size()), "paint the stack");
  check(uc_mem_map(Engine_, ServicesPage, PageSize, UC_PROT_READ | UC_PROT_WRITE),
        "map the PEI services table");
  const std::vector<std::uint8_t> Table = pei::TableBytes(ServiceTrapBase, ServiceTrapStride);
  check(uc_mem_write(Engine_, ServicesTable, Table.data(), Table.size()),
        "write the PEI services table");
  const std::uint32_t TableAddress = ServicesTable;
  check(uc_mem_write(Engine_, ServicesPointer, &TableAddress, sizeof TableAddress),
        "write the PEI services pointer");

  Windows_.reserve(DeviceWindows.size());
  for (const DeviceWindow &Window : DeviceWindows) {
    Windows_.push_back({this, Window.Base});
    check(uc_mmio_map(Engine_, Window.Base, Window.Size, OnMmioRead, &Windows_.back(), OnMmioWrite,
                      &Windows_.back()),
          "map a device window");
  }

  uc_hook Hook;
  check(uc_hook_add(Engine_, &Hook, UC_HOOK_CODE, reinterpret_cast<void *>(OnCode), this,
                    Image.Base, Image.Base + Flash - 1),
        "hook the image's instructions");
  check(uc_hook_add(Engine_, &Hook, UC_HOOK_INSN, reinterpret_cast<void *>(OnIn), this, 1, 0,
                    UC_X86_INS_IN),
        "hook in");
  check(uc_hook_add(Engine_, &Hook, UC_HOOK_INSN, reinterpret_cast<void *>(OnOut), this, 1, 0,
                    UC_X86_INS_OUT),
        "hook out");
  check(uc_hook_add(Engine_, &Hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void *>(OnInvalid), this,
                    1, 0),
        "hook invalid accesses");
  check(
      uc_hook_add(Engine_, &Hook, UC_HOOK_INTR, reinterpret_cast<void *>(OnInterrupt), this, 1, 0),
      "hook exceptions");
}

void PeiMachine::check(uc_err Error, const char *What) const {
  if (Error != UC_ERR_OK) {
    throw std::runtime_error(std::string("emulator: cannot ") + What + ": " + uc_strerror(Error));
  }
}

std::uint32_t PeiMachine::reg(int Register) const {
  std::uint32_t Value = 0;
  uc_reg_read(Engine_, Register, &Value);
  return Value;
}

void PeiMachine::setReg(int Register, std::uint32_t Value) {
  uc_reg_write(Engine_, Register, &Value);
}

void PeiMachine::stop(Stop Why) {
  if (Stop_ == Stop::None) {
    Stop_ = Why;
  }
  uc_emu_stop(Engine_);
}

void PeiMachine::breach(std::string Message) {
  if (Stop_ == Stop::None) {
    Breach_ = std::move(Message);
  }
  stop(Stop::Breach);
}

template <typename Access> bool PeiMachine::board(Access &&Body) {
  try {
    Body();
    SinceAccess_ = 0;
    return true;
  } catch (const sim::StepBudgetExceeded &) {
    stop(Stop::StepBudget);
  } catch (...) {
    // Nothing may unwind through the emulator's C frames: kept, and rethrown by call().
    Error_ = std::current_exception();
    stop(Stop::Error);
  }
  return false;
}

std::optional<std::uint32_t> PeiMachine::call(std::uint32_t Address,
                                              std::initializer_list<std::uint32_t> Arguments) {
  if (Stop_ != Stop::None) {
    return std::nullopt;
  }
  // cdecl: the arguments right to left above the return address.
  std::vector<std::uint32_t> Frame{ExitTrap};
  Frame.insert(Frame.end(), Arguments.begin(), Arguments.end());
  const std::uint32_t Esp = StackTop - static_cast<std::uint32_t>(Frame.size()) * StackSlot;
  CallerEsp_ = std::min(CallerEsp_, Esp + StackSlot);
  check(uc_mem_write(Engine_, Esp, Frame.data(), Frame.size() * StackSlot), "push the arguments");
  setReg(UC_X86_REG_ESP, Esp);
  const uc_err Result = uc_emu_start(Engine_, Address, ExitTrap, 0, 0);
  if (Stop_ == Stop::Error) {
    std::rethrow_exception(Error_);
  }
  if (Stop_ != Stop::None) {
    return std::nullopt;
  }
  if (Result != UC_ERR_OK) {
    breach(std::string("CPU fault: ") +
           (Result == UC_ERR_INSN_INVALID ? "invalid opcode" : uc_strerror(Result)) + " at " +
           Image_.describe(Pc_));
    return std::nullopt;
  }
  if (reg(UC_X86_REG_EIP) != ExitTrap) {
    breach("the image stopped the processor at " + Image_.describe(reg(UC_X86_REG_EIP)) +
           " instead of returning");
    return std::nullopt;
  }
  const std::uint32_t Eax = reg(UC_X86_REG_EAX);
  // The runner's own call of an annotated function returns here, not to an address in the image.
  while (!Pending_.empty() && Pending_.back().ReturnAddress == ExitTrap) {
    Board_.returnCall(Pending_.back().Call, Eax, sim::FormatStatus(Eax, StatusBits));
    Pending_.pop_back();
  }
  return Eax;
}

std::uint32_t PeiMachine::stackHighWater() const {
  std::vector<std::uint8_t> Stack(StackSize);
  if (uc_mem_read(Engine_, StackBase, Stack.data(), Stack.size()) != UC_ERR_OK) {
    return 0;
  }
  std::uint32_t Lowest = 0;
  while (Lowest < StackSize && Stack[Lowest] == StackPaint) {
    ++Lowest;
  }
  const std::uint32_t LowestAddress = StackBase + Lowest;
  return LowestAddress < CallerEsp_ ? CallerEsp_ - LowestAddress : 0;
}

std::string PeiMachine::deepestFunction() const {
  return DeepestPc_ == 0 ? std::string() : Image_.Map.describe(DeepestPc_);
}

void PeiMachine::enterCall(const char *Name, std::vector<std::uint64_t> Arguments, std::string Text,
                           std::uint32_t Esp) {
  std::uint32_t ReturnAddress = 0;
  if (uc_mem_read(Engine_, Esp, &ReturnAddress, sizeof ReturnAddress) != UC_ERR_OK) {
    breach("CPU fault: the return address of the call at " + Image_.describe(Pc_) +
           " lies outside the stack");
    return;
  }
  const std::size_t Call = Board_.enterCall(Name, std::move(Arguments), std::move(Text));
  Pending_.push_back({Pc_, Call, ReturnAddress, Esp});
}

void PeiMachine::returnCalls(std::uint32_t Address, std::uint32_t Esp) {
  // A call has returned when its caller resumes with the return address popped.
  while (!Pending_.empty() && Pending_.back().ReturnAddress == Address &&
         Esp > Pending_.back().EntryEsp) {
    const std::uint32_t Eax = reg(UC_X86_REG_EAX);
    Board_.returnCall(Pending_.back().Call, Eax, sim::FormatStatus(Eax, StatusBits));
    Pending_.pop_back();
  }
}

// The processor events of the board's CPU model: answered by the board, then stepped over.
// Returns false when the instruction is not one of them (or the board stopped the run).
bool PeiMachine::processorEvent(std::uint64_t Address) {
  const std::uint64_t Offset = Address - Image_.Base;
  const std::uint8_t First = Image_.Bytes[Offset];
  const std::uint8_t Second = Offset + 1 < Image_.Bytes.size() ? Image_.Bytes[Offset + 1] : 0;
  const auto Step = [&](unsigned Length) {
    setReg(UC_X86_REG_EIP, static_cast<std::uint32_t>(Address + Length));
    return true;
  };
  switch (First) {
  case x86::Cli:
    return board([&] { Board_.disableInterrupts(); }) && Step(x86::OneByte);
  case x86::Sti:
    return board([&] { Board_.enableInterrupts(); }) && Step(x86::OneByte);
  case x86::Pushf: {
    std::uint32_t Flags = 0;
    if (!board([&] { Flags = static_cast<std::uint32_t>(Board_.readFlags()); })) {
      return false;
    }
    const std::uint32_t Esp = reg(UC_X86_REG_ESP) - StackSlot;
    if (uc_mem_write(Engine_, Esp, &Flags, sizeof Flags) != UC_ERR_OK) {
      breach("CPU fault: pushf below the stack, at " + Image_.describe(Address));
      return false;
    }
    setReg(UC_X86_REG_ESP, Esp);
    return Step(x86::OneByte);
  }
  case x86::RepPrefix:
    if (Second == x86::Nop) {
      return board([&] { Board_.pause(); }) && Step(x86::TwoBytes);
    }
    return false;
  case x86::TwoByteEscape:
    if (Second == x86::Rdtsc) {
      std::uint64_t Count = 0;
      if (!board([&] { Count = Board_.readTimeStampCounter(); })) {
        return false;
      }
      setReg(UC_X86_REG_EAX, static_cast<std::uint32_t>(Count));
      setReg(UC_X86_REG_EDX, static_cast<std::uint32_t>(Count >> 32));
      return Step(x86::TwoBytes);
    }
    return false;
  default:
    return false;
  }
}

void PeiMachine::code(std::uint64_t Address) {
  if (Stop_ != Stop::None) {
    // The rest of a translated block may still run after a stop: it reaches the board no more.
    uc_emu_stop(Engine_);
    return;
  }
  ++Instructions_;
  Pc_ = static_cast<std::uint32_t>(Address);
  if (++SinceAccess_ > InstructionsWithoutAccess) {
    stop(Stop::Spin);
    return;
  }
  const std::uint32_t Esp = reg(UC_X86_REG_ESP);
  if (Esp < LowestEsp_) {
    LowestEsp_ = Esp;
    DeepestPc_ = Pc_;
  }
  returnCalls(Pc_, Esp);
  // A jump back to a function's first instruction with the same stack is no new call.
  const bool Reentered =
      !Pending_.empty() && Pending_.back().Function == Pc_ && Pending_.back().EntryEsp == Esp;
  if ((Pc_ == Image_.SetIoDecode || Pc_ == Image_.SetGenericIoRange) && !Reentered) {
    // cdecl: return address at the stack pointer, the arguments above it, each in a 32-bit slot
    // of which the callee reads the parameter's own width.
    const bool Decode = Pc_ == Image_.SetIoDecode;
    std::uint32_t Slots[3] = {};
    const std::size_t Count = Decode ? 3 : 2;
    if (uc_mem_read(Engine_, Esp + StackSlot, Slots, Count * StackSlot) != UC_ERR_OK) {
      breach("CPU fault: the arguments of the call at " + Image_.describe(Pc_) +
             " lie outside the stack");
      return;
    }
    const auto Port = static_cast<std::uint16_t>(Slots[0]);
    if (Decode) {
      const auto Size = static_cast<std::uint8_t>(Slots[1]);
      const std::uint32_t Attributes = Slots[2];
      enterCall("SetIoDecode", {Port, Size, Attributes},
                sim::DecodeRequestText(Port, Size, Attributes), Esp);
    } else {
      const auto SizeWord = static_cast<std::uint16_t>(Slots[1]);
      enterCall("SetGenericIoRange", {Port, SizeWord}, sim::WindowRequestText(Port, SizeWord), Esp);
    }
  }
  processorEvent(Address);
}

bool PeiMachine::invalid(uc_mem_type Type, std::uint64_t Address, int Size) {
  if (Stop_ != Stop::None) {
    return false;
  }
  const std::string Where = Image_.describe(Pc_);
  const char *Service = ServiceAt(Address);
  const std::string Bytes = std::to_string(Size) + (Size == 1 ? " byte" : " bytes");
  switch (Type) {
  case UC_MEM_FETCH_UNMAPPED:
    if (Service != nullptr) {
      breach(std::string("the image called the PEI service ") + Service + " from " + Where +
             "; the module may call no PEI service");
    } else {
      breach("CPU fault: instruction fetch at " + Hex(Address) +
             ", outside anything mapped, after " + Where);
    }
    break;
  case UC_MEM_WRITE_PROT:
    if (Image_.contains(Address)) {
      breach("the image wrote " + Bytes + " at " + Image_.describe(Address) +
             " inside itself from " + Where + ": it executes in place from flash, which is not " +
             "writable");
    } else {
      breach("CPU fault: write of " + Bytes + " at " + Hex(Address) + ", read-only, at " + Where);
    }
    break;
  case UC_MEM_FETCH_PROT:
    breach("CPU fault: instruction fetch at " + Hex(Address) + ", not executable, after " + Where);
    break;
  case UC_MEM_READ_UNMAPPED:
  case UC_MEM_WRITE_UNMAPPED:
    if (Address < StackBase && StackBase - Address <= PageSize) {
      breach("CPU fault: stack overflow: " +
             std::string(Type == UC_MEM_READ_UNMAPPED ? "read" : "write") + " of " + Bytes +
             " at " + Hex(Address) + ", below the " + std::to_string(StackSize) +
             "-byte stack, at " + Where);
    } else if (Service != nullptr) {
      breach(std::string("the image read the PEI service ") + Service + "'s entry from " + Where +
             "; the module may use no PEI service");
    } else {
      breach(std::string("CPU fault: ") + (Type == UC_MEM_READ_UNMAPPED ? "read" : "write") +
             " of " + Bytes + " at " + Hex(Address) + ", outside anything mapped, at " + Where);
    }
    break;
  default:
    breach("CPU fault: access of " + Bytes + " at " + Hex(Address) + " refused, at " + Where);
    break;
  }
  return false;
}

void PeiMachine::OnCode(uc_engine *, std::uint64_t Address, std::uint32_t, void *Self) {
  auto &Machine = *static_cast<PeiMachine *>(Self);
  try {
    Machine.code(Address);
  } catch (...) {
    Machine.Error_ = std::current_exception();
    Machine.stop(Stop::Error);
  }
}

std::uint32_t PeiMachine::OnIn(uc_engine *, std::uint32_t Port, int Size, void *Self) {
  auto &Machine = *static_cast<PeiMachine *>(Self);
  std::uint32_t Value = 0;
  if (Machine.Stop_ == Stop::None) {
    Machine.board([&] {
      Value =
          Machine.Board_.portRead(static_cast<std::uint16_t>(Port), static_cast<unsigned>(Size));
    });
  }
  return Value;
}

void PeiMachine::OnOut(uc_engine *, std::uint32_t Port, int Size, std::uint32_t Value, void *Self) {
  auto &Machine = *static_cast<PeiMachine *>(Self);
  if (Machine.Stop_ == Stop::None) {
    Machine.board([&] {
      Machine.Board_.portWrite(static_cast<std::uint16_t>(Port), static_cast<unsigned>(Size),
                               Value);
    });
  }
}

std::uint64_t PeiMachine::OnMmioRead(uc_engine *, std::uint64_t Offset, unsigned Size,
                                     void *Window) {
  const auto &Where = *static_cast<MmioWindow *>(Window);
  PeiMachine &Machine = *Where.Machine;
  std::uint32_t Value = 0;
  if (Machine.Stop_ == Stop::None) {
    Machine.board([&] { Value = Machine.Board_.memRead(Where.Base + Offset, Size); });
  }
  return Value;
}

void PeiMachine::OnMmioWrite(uc_engine *, std::uint64_t Offset, unsigned Size, std::uint64_t Value,
                             void *Window) {
  const auto &Where = *static_cast<MmioWindow *>(Window);
  PeiMachine &Machine = *Where.Machine;
  if (Machine.Stop_ == Stop::None) {
    Machine.board([&] {
      Machine.Board_.memWrite(Where.Base + Offset, Size, static_cast<std::uint32_t>(Value));
    });
  }
}

bool PeiMachine::OnInvalid(uc_engine *, uc_mem_type Type, std::uint64_t Address, int Size,
                           std::int64_t, void *Self) {
  return static_cast<PeiMachine *>(Self)->invalid(Type, Address, Size);
}

void PeiMachine::OnInterrupt(uc_engine *, std::uint32_t Vector, void *Self) {
  auto &Machine = *static_cast<PeiMachine *>(Self);
  if (Machine.Stop_ == Stop::None) {
    Machine.breach(std::string("CPU fault: ") + x86::ExceptionName(Vector) + " (vector " +
                   std::to_string(Vector) + ") at " + Machine.Image_.describe(Machine.Pc_));
  }
  uc_emu_stop(Machine.Engine_);
}

} // namespace imagerun
