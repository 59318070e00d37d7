#include "BoardMachine.h"

#include "EmulatedMachine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <stdexcept>

namespace imagerun {
namespace {

// The x86 instructions whose effect belongs to the board's processor model rather than to the
// emulator: interrupt flag changes, flags reads, pause and time-stamp reads. The runner answers
// them from sim::Board and steps over them, so the trace and the values the module sees are the
// board's, exactly as on the host build.
namespace x86 {
constexpr std::uint8_t Cli = 0xFA;
constexpr std::uint8_t Sti = 0xFB;
constexpr std::uint8_t Pushf = 0x9C;
// pause is rep nop.
constexpr std::uint8_t RepPrefix = 0xF3;
constexpr std::uint8_t Nop = 0x90;
// rdtsc is 0F 31.
constexpr std::uint8_t TwoByteEscape = 0x0F;
constexpr std::uint8_t Rdtsc = 0x31;

constexpr unsigned OneByte = 1;
constexpr unsigned TwoBytes = 2;

// The processor's exception vectors, by name, for fault reports; the others are "interrupt".
const char *ExceptionName(std::uint32_t Vector) {
  static constexpr const char *Names[] = {"divide error",
                                          "debug exception",
                                          nullptr,
                                          "breakpoint",
                                          "overflow",
                                          "bound range exceeded",
                                          "invalid opcode",
                                          "device not available",
                                          "double fault",
                                          nullptr,
                                          "invalid TSS",
                                          "segment not present",
                                          "stack-segment fault",
                                          "general protection fault",
                                          "page fault",
                                          nullptr,
                                          "x87 floating-point error",
                                          "alignment check",
                                          "machine check",
                                          "SIMD floating-point exception"};
  const char *Name = Vector < std::size(Names) ? Names[Vector] : nullptr;
  return Name != nullptr ? Name : "interrupt";
}
} // namespace x86

// The longest processor event: two bytes.
constexpr std::size_t EventBytes = 2;

// Whether the instruction of Length bytes that Bytes starts with is a processor event: what
// processorEvent answers.
bool IsProcessorEvent(std::span<const std::uint8_t> Bytes, std::size_t Length) {
  if (Length == 0 || Length > EventBytes || Bytes.size() < Length) {
    return false;
  }
  const std::uint8_t First = Bytes[0];
  const std::uint8_t Second = Length == x86::TwoBytes ? Bytes[1] : 0;
  return First == x86::Cli || First == x86::Sti || First == x86::Pushf ||
         (First == x86::RepPrefix && Second == x86::Nop) ||
         (First == x86::TwoByteEscape && Second == x86::Rdtsc);
}

// A block's key: its address (below 2^48) and its length in bytes.
constexpr unsigned BlockSizeShift = 48;
// The blocks last seen are found by the low bits of their address, mixed with the next ones.
constexpr unsigned RecentBits = 10;

uc_engine *OpenEmulator(CpuMode Mode) {
  uc_engine *Engine = nullptr;
  const uc_err Error =
      uc_open(UC_ARCH_X86, Mode == CpuMode::Bits64 ? UC_MODE_64 : UC_MODE_32, &Engine);
  if (Error != UC_ERR_OK) {
    throw std::runtime_error(std::string("emulator: cannot open: ") + uc_strerror(Error));
  }
  return Engine;
}

} // namespace

BoardMachine::BoardMachine(sim::Board &Target, const MachineSetup &Setup)
    : Board_(&Target), Setup_(Setup), Emulator_(OpenEmulator(Setup.Mode), uc_close),
      Start_(nullptr, uc_context_free), CallerSp_(stackTop()) {
  using namespace machine;
  // RAM: readable and writable, never executable. Lean, each access to the stack is answered
  // from the machine's own bytes by a call: the emulator spends far longer on a store into its RAM
  // (looking for translated code to drop) than on a call.
  mapRam(Setup.StackBase, Setup.StackSize, UC_PROT_READ | UC_PROT_WRITE, lean());
  paintStack();
  uc_context *Start = nullptr;
  check(uc_context_alloc(Engine_, &Start), "keep the registers");
  Start_.reset(Start);
  check(uc_context_save(Engine_, Start), "keep the registers");

  Windows_.reserve(DeviceWindows.size());
  for (const DeviceWindow &Window : DeviceWindows) {
    Windows_.push_back({this, Window.Base});
    check(uc_mmio_map(Engine_, Window.Base, Window.Size, OnMmioRead, &Windows_.back(), OnMmioWrite,
                      &Windows_.back()),
          "map a device window");
  }

  uc_hook Hook;
  if (lean()) {
    Lengths_ = std::make_unique<formats::InstructionLengths>(wide() ? 8 : 4);
    check(uc_hook_add(Engine_, &Hook, UC_HOOK_BLOCK, reinterpret_cast<void *>(OnBlock), this,
                      Setup.ImageBase, Setup.ImageBase + Setup.ImageSpan - 1),
          "hook the image's blocks");
    // The emulator keeps the program counter exact at every data access only while an access
    // hook exists: this one watches the exit trap, which nothing reads or writes, so that a
    // refused access names its own instruction.
    check(uc_hook_add(Engine_, &Hook, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE,
                      reinterpret_cast<void *>(OnPlaced), this, Setup.ExitTrap, Setup.ExitTrap),
          "hook the accesses");
    watchEvents();
  } else {
    check(uc_hook_add(Engine_, &Hook, UC_HOOK_CODE, reinterpret_cast<void *>(OnCode), this,
                      Setup.ImageBase, Setup.ImageBase + Setup.ImageSpan - 1),
          "hook the image's instructions");
  }
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

void BoardMachine::paintStack() {
  const HostRam *Stack = ramAt(Setup_.StackBase, Setup_.StackSize);
  std::fill_n(Stack->Bytes.get(), Setup_.StackSize, machine::StackPaint);
}

void BoardMachine::mapRam(std::uint64_t Base, std::uint64_t Size, std::uint32_t Permissions,
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

const BoardMachine::HostRam *BoardMachine::ramAt(std::uint64_t Address, std::size_t Size) const {
  for (const HostRam &Each : Ram_) {
    if (Address >= Each.Base && Address - Each.Base <= Each.Size &&
        Size <= Each.Size - (Address - Each.Base)) {
      return &Each;
    }
  }
  return nullptr;
}

bool BoardMachine::readRam(std::uint64_t Address, void *Into, std::size_t Size) const {
  if (const HostRam *Ram = ramAt(Address, Size)) {
    std::memcpy(Into, Ram->Bytes.get() + (Address - Ram->Base), Size);
    return true;
  }
  return uc_mem_read(Engine_, Address, Into, Size) == UC_ERR_OK;
}

bool BoardMachine::writeRam(std::uint64_t Address, const void *From, std::size_t Size) {
  if (const HostRam *Ram = ramAt(Address, Size); Ram != nullptr && !Ram->Executable) {
    std::memcpy(Ram->Bytes.get() + (Address - Ram->Base), From, Size);
    return true;
  }
  return uc_mem_write(Engine_, Address, From, Size) == UC_ERR_OK;
}

void BoardMachine::restart(sim::Board &Target) {
  Board_ = &Target;
  check(uc_context_restore(Engine_, Start_.get()), "put back the registers");
  paintStack();
  Stop_ = Stop::None;
  Breach_.reset();
  Error_ = nullptr;
  Instructions_ = 0;
  SinceAccess_ = 0;
  Pc_ = 0;
  LowestSp_ = ~std::uint64_t{0};
  DeepestPc_ = 0;
  Frames_.clear();
  LastPc_ = LastSize_ = LastSp_ = 0;
  DeepestChain_.clear();
  CallerSp_ = stackTop();
  Block_ = nullptr;
  BlockAddress_ = 0;
  Refused_.reset();
}

void BoardMachine::watch(std::uint64_t Address) {
  if (!lean()) {
    return;
  }
  uc_hook Hook;
  check(uc_hook_add(Engine_, &Hook, UC_HOOK_CODE, reinterpret_cast<void *>(OnCode), this, Address,
                    Address),
        "hook an instruction");
}

// Every processor event of the image's code, found by walking each stretch instruction by
// instruction from its start: only instruction starts count, never bytes inside a longer one.
void BoardMachine::watchEvents() {
  const std::span<const std::uint8_t> Code = Setup_.Code;
  for (const CodeStretch &Stretch : Setup_.Stretches) {
    if (Stretch.Start < Setup_.ImageBase || Stretch.End - Setup_.ImageBase > Code.size()) {
      continue;
    }
    std::uint64_t Address = Stretch.Start;
    while (Address < Stretch.End) {
      const std::span<const std::uint8_t> Rest =
          Code.subspan(Address - Setup_.ImageBase, Stretch.End - Address);
      const std::size_t Length = (*Lengths_)(Rest);
      if (Length == 0) {
        // Not an instruction (padding, or data among the code): nothing the processor runs here
        // is counted on; the walk goes on from the next byte.
        ++Address;
        continue;
      }
      if (IsProcessorEvent(Rest, Length)) {
        watch(Address);
      }
      Address += Length;
    }
  }
}

const std::vector<std::uint16_t> &BoardMachine::blockStarts(std::uint64_t Address,
                                                            std::uint64_t Size) {
  const std::uint64_t Key = Address | (Size << BlockSizeShift);
  RecentBlock &Recent = Recent_[(Address ^ (Address >> RecentBits)) % Recent_.size()];
  if (Recent.Key == Key) {
    return *Recent.Starts;
  }
  const auto [Found, New] = Blocks_.try_emplace(Key);
  std::vector<std::uint16_t> &Starts = Found->second;
  if (New) {
    std::vector<std::uint8_t> Bytes(Size);
    if (Size != 0 && readRam(Address, Bytes.data(), Size)) {
      std::size_t Offset = 0;
      while (Offset < Size) {
        Starts.push_back(static_cast<std::uint16_t>(Offset));
        const std::size_t Length = (*Lengths_)(std::span(Bytes).subspan(Offset));
        if (Length == 0) {
          break;
        }
        Offset += Length;
      }
    }
    if (Starts.empty()) {
      Starts.push_back(0);
    }
  }
  Recent = {Key, &Starts};
  return Starts;
}

// Lean: a block of the image, counted whole before it runs. The machine stands at its last
// instruction until a watched one runs: the branch that leaves the block, which is what a fault
// of fetching the next instruction (or a firmware service entered) names.
void BoardMachine::block(std::uint64_t Address, std::uint64_t Size) {
  if (Stop_ != Stop::None) {
    uc_emu_stop(Engine_);
    return;
  }
  Block_ = &blockStarts(Address, Size);
  BlockAddress_ = Address;
  Pc_ = Address + Block_->back();
  Instructions_ += Block_->size();
  SinceAccess_ += Block_->size();
  if (SinceAccess_ > runs::InstructionsWithoutAccess) {
    stop(Stop::Spin);
    return;
  }
  entered(Address);
}

// Lean: an instruction the machine must see. A processor event stepped over leaves the rest of
// its block to run as a block of its own: its instructions were counted with this one.
void BoardMachine::watched(std::uint64_t Address, std::uint64_t Size) {
  const std::uint64_t Standing = Pc_;
  Pc_ = Address;
  if (instruction(Address, reg(stackPointer())) && Stop_ == Stop::None && Size <= EventBytes &&
      processorEvent(Address) && Block_ != nullptr && Address >= BlockAddress_) {
    const auto Here = std::find(Block_->begin(), Block_->end(), Address - BlockAddress_);
    if (Here != Block_->end()) {
      Instructions_ -= static_cast<std::uint64_t>(std::distance(Here, Block_->end()) - 1);
    }
  }
  Pc_ = Standing;
}

std::string BoardMachine::accessingFunction() const {
  // Every access is made by a hardware-access primitive: the function that wanted it is the one
  // the primitive returns to. Only full tracking follows the calls.
  if (lean() || Frames_.size() < 2) {
    return "";
  }
  const std::string At = functionAt(Frames_.back().ReturnAddress);
  return At.substr(0, At.find('+'));
}

std::uint64_t BoardMachine::faultAt() const {
  return lean() ? reg(programCounter()) : Pc_;
}

void BoardMachine::check(uc_err Error, const char *What) const {
  if (Error != UC_ERR_OK) {
    throw std::runtime_error(std::string("emulator: cannot ") + What + ": " + uc_strerror(Error));
  }
}

std::uint64_t BoardMachine::reg(int Register) const {
  // A 32-bit register fills the low half.
  std::uint64_t Value = 0;
  uc_reg_read(Engine_, Register, &Value);
  return Value;
}

void BoardMachine::setReg(int Register, std::uint64_t Value) {
  uc_reg_write(Engine_, Register, &Value);
}

void BoardMachine::stop(Stop Why) {
  if (Stop_ == Stop::None) {
    Stop_ = Why;
  }
  uc_emu_stop(Engine_);
}

void BoardMachine::breach(std::string Message) {
  if (Stop_ == Stop::None) {
    Breach_ = std::move(Message);
  }
  stop(Stop::Breach);
}

void BoardMachine::keepError() {
  Error_ = std::current_exception();
  stop(Stop::Error);
}

bool BoardMachine::run(std::uint64_t Address, std::uint64_t StackPointer,
                       std::uint64_t CallerStackPointer) {
  if (Stop_ != Stop::None) {
    return false;
  }
  CallerSp_ = std::min(CallerSp_, CallerStackPointer);
  setReg(stackPointer(), StackPointer);
  Frames_.assign(1, {StackPointer, Setup_.ExitTrap});
  LastSize_ = 0;
  const uc_err Result = uc_emu_start(Engine_, Address, Setup_.ExitTrap, 0, 0);
  if (Refused_) {
    // The processor stands at the instruction whose access was refused.
    const RefusedAccess Access = *Refused_;
    Refused_.reset();
    if (Stop_ == Stop::None) {
      refused(Access.Type, Access.Address, Access.Size, describe(reg(programCounter())));
    }
  }
  if (Stop_ == Stop::Error) {
    std::rethrow_exception(Error_);
  }
  if (Stop_ != Stop::None) {
    return false;
  }
  if (Result != UC_ERR_OK) {
    breach(std::string("CPU fault: ") +
           (Result == UC_ERR_INSN_INVALID ? "invalid opcode" : uc_strerror(Result)) + " at " +
           describe(faultAt()));
    return false;
  }
  if (reg(programCounter()) != Setup_.ExitTrap) {
    breach("the image stopped the processor at " + describe(reg(programCounter())) +
           " instead of returning");
    return false;
  }
  return true;
}

runs::ImageFacts BoardMachine::facts() const {
  runs::ImageFacts Facts;
  if (const HostRam *Stack = ramAt(Setup_.StackBase, Setup_.StackSize)) {
    const std::uint8_t *Bytes = Stack->Bytes.get();
    const std::uint8_t *Painted =
        std::find_if(Bytes, Bytes + Setup_.StackSize,
                     [](std::uint8_t Byte) { return Byte != machine::StackPaint; });
    const std::uint64_t LowestAddress =
        Setup_.StackBase + static_cast<std::uint64_t>(Painted - Bytes);
    Facts.StackHighWater =
        LowestAddress < CallerSp_ ? static_cast<std::uint32_t>(CallerSp_ - LowestAddress) : 0;
  }
  Facts.StackDeepestIn = DeepestPc_ == 0 ? std::string() : functionAt(DeepestPc_);
  for (const std::uint64_t Position : DeepestChain_) {
    // The function's name, without the offset of the position in it.
    std::string Name = functionAt(Position);
    Name = Name.substr(0, Name.rfind("+0x"));
    Facts.StackChain.push_back(std::move(Name));
  }
  Facts.Instructions = Instructions_;
  Facts.SpunWithoutAccess = Stop_ == Stop::Spin;
  Facts.Breach = Breach_;
  return Facts;
}

// The processor events of the board's CPU model: answered by the board, then stepped over. Returns
// false when the instruction is not one of them (or the board stopped the run).
bool BoardMachine::processorEvent(std::uint64_t Address) {
  std::uint8_t Bytes[EventBytes] = {};
  const std::span<const std::uint8_t> Fixed = Setup_.FixedCode;
  if (Address >= Setup_.ImageBase && Address - Setup_.ImageBase + EventBytes <= Fixed.size()) {
    std::copy_n(Fixed.begin() + static_cast<std::ptrdiff_t>(Address - Setup_.ImageBase), EventBytes,
                Bytes);
  } else if (!readRam(Address, Bytes, EventBytes) && !readRam(Address, Bytes, 1)) {
    return false;
  }
  const std::uint8_t First = Bytes[0];
  const std::uint8_t Second = Bytes[1];
  const auto Step = [&](unsigned Length) {
    setReg(programCounter(), Address + Length);
    return true;
  };
  switch (First) {
  case x86::Cli:
    return access([&] { Board_->disableInterrupts(); }) && Step(x86::OneByte);
  case x86::Sti:
    return access([&] { Board_->enableInterrupts(); }) && Step(x86::OneByte);
  case x86::Pushf: {
    // The flags go on the stack at the processor's width: 4 bytes in 32-bit mode, 8 in 64-bit.
    std::uint64_t Flags = 0;
    if (!access([&] { Flags = Board_->readFlags(); })) {
      return false;
    }
    const std::uint64_t Sp = reg(stackPointer()) - slotSize();
    if (!writeRam(Sp, &Flags, slotSize())) {
      breach("CPU fault: pushf below the stack, at " + describe(Address));
      return false;
    }
    setReg(stackPointer(), Sp);
    return Step(x86::OneByte);
  }
  case x86::RepPrefix:
    if (Second == x86::Nop) {
      return access([&] { Board_->pause(); }) && Step(x86::TwoBytes);
    }
    return false;
  case x86::TwoByteEscape:
    if (Second == x86::Rdtsc) {
      std::uint64_t Count = 0;
      if (!access([&] { Count = Board_->readTimeStampCounter(); })) {
        return false;
      }
      // Both halves zero-extended, as the processor writes them in either mode.
      setReg(accumulator(), static_cast<std::uint32_t>(Count));
      setReg(wide() ? UC_X86_REG_RDX : UC_X86_REG_EDX, static_cast<std::uint32_t>(Count >> 32));
      return Step(x86::TwoBytes);
    }
    return false;
  default:
    return false;
  }
}

void BoardMachine::trackCalls(std::uint64_t Address, std::uint64_t Sp) {
  while (Frames_.size() > 1 && Sp > Frames_.back().Slot) {
    Frames_.pop_back();
  }
  const std::uint64_t Next = LastPc_ + LastSize_;
  if (LastSize_ != 0 && Address != Next && Sp + slotSize() == LastSp_) {
    std::uint64_t Pushed = 0;
    if (readRam(Sp, &Pushed, slotSize()) && Pushed == Next) {
      Frames_.push_back({Sp, Next});
    }
  }
  LastPc_ = Address;
  LastSp_ = Sp;
}

void BoardMachine::code(std::uint64_t Address, std::uint64_t Size) {
  if (Stop_ != Stop::None) {
    // The rest of a translated block may still run after a stop: it reaches the board no more.
    uc_emu_stop(Engine_);
    return;
  }
  if (lean()) {
    watched(Address, Size);
    return;
  }
  ++Instructions_;
  Pc_ = Address;
  if (++SinceAccess_ > runs::InstructionsWithoutAccess) {
    stop(Stop::Spin);
    return;
  }
  const std::uint64_t Sp = reg(stackPointer());
  trackCalls(Address, Sp);
  LastSize_ = Size;
  if (Sp < LowestSp_) {
    LowestSp_ = Sp;
    DeepestPc_ = Pc_;
    // Each caller is where its call instruction lies, the byte before the return address.
    DeepestChain_.clear();
    for (auto Each = std::next(Frames_.begin()); Each != Frames_.end(); ++Each) {
      DeepestChain_.push_back(Each->ReturnAddress - 1);
    }
    DeepestChain_.push_back(Address);
  }
  if (!instruction(Address, Sp) || Stop_ != Stop::None) {
    return;
  }
  // Every processor event is one or two bytes long; a longer instruction is none of them.
  if (Size <= EventBytes) {
    processorEvent(Address);
  }
}

bool BoardMachine::invalid(uc_mem_type Type, std::uint64_t Address, int Size) {
  if (Stop_ != Stop::None) {
    return false;
  }
  // A fetch names the instruction that branched there; an access, the instruction that made it.
  // Followed lean, that instruction is known only once the emulator has stopped on the fault.
  const bool Fetch = Type == UC_MEM_FETCH_UNMAPPED || Type == UC_MEM_FETCH_PROT;
  if (lean() && !Fetch) {
    if (!Refused_) {
      Refused_ = RefusedAccess{Type, Address, Size};
    }
    return false;
  }
  refused(Type, Address, Size, describe(Pc_));
  return false;
}

void BoardMachine::refused(uc_mem_type Type, std::uint64_t Address, int Size,
                           const std::string &Where) {
  const std::string Bytes = std::to_string(Size) + (Size == 1 ? " byte" : " bytes");
  if (namedInvalid(Type, Address, Bytes, Where)) {
    return;
  }
  const bool Read = Type == UC_MEM_READ_UNMAPPED;
  switch (Type) {
  case UC_MEM_FETCH_UNMAPPED:
    breach("CPU fault: instruction fetch at " + HexText(Address) +
           ", outside anything mapped, after " + Where);
    break;
  case UC_MEM_WRITE_PROT:
    breach("CPU fault: write of " + Bytes + " at " + HexText(Address) + ", read-only, at " + Where);
    break;
  case UC_MEM_FETCH_PROT:
    breach("CPU fault: instruction fetch at " + HexText(Address) + ", not executable, after " +
           Where);
    break;
  case UC_MEM_READ_UNMAPPED:
  case UC_MEM_WRITE_UNMAPPED:
    if (Address < Setup_.StackBase && Setup_.StackBase - Address <= machine::PageSize) {
      breach("CPU fault: stack overflow: " + std::string(Read ? "read" : "write") + " of " + Bytes +
             " at " + HexText(Address) + ", below the " + std::to_string(Setup_.StackSize) +
             "-byte stack, at " + Where);
    } else {
      breach(std::string("CPU fault: ") + (Read ? "read" : "write") + " of " + Bytes + " at " +
             HexText(Address) + ", outside anything mapped, at " + Where);
    }
    break;
  default:
    breach("CPU fault: access of " + Bytes + " at " + HexText(Address) + " refused, at " + Where);
    break;
  }
}

void BoardMachine::OnCode(uc_engine *, std::uint64_t Address, std::uint32_t Size, void *Self) {
  auto &Machine = *static_cast<BoardMachine *>(Self);
  Machine.guarded([&] { Machine.code(Address, Size); });
}

namespace {

// One access of Width bytes, little-endian as the host is: a copy of a constant size, which the
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

std::uint64_t BoardMachine::OnRamRead(uc_engine *, std::uint64_t Offset, unsigned Size,
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

void BoardMachine::OnRamWrite(uc_engine *, std::uint64_t Offset, unsigned Size, std::uint64_t Value,
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

void BoardMachine::OnPlaced(uc_engine *, uc_mem_type, std::uint64_t, int, std::int64_t, void *) {}

void BoardMachine::OnBlock(uc_engine *, std::uint64_t Address, std::uint32_t Size, void *Self) {
  auto &Machine = *static_cast<BoardMachine *>(Self);
  Machine.guarded([&] { Machine.block(Address, Size); });
}

std::uint32_t BoardMachine::OnIn(uc_engine *, std::uint32_t Port, int Size, void *Self) {
  auto &Machine = *static_cast<BoardMachine *>(Self);
  std::uint32_t Value = 0;
  Machine.access([&] {
    Value = Machine.Board_->portRead(static_cast<std::uint16_t>(Port), static_cast<unsigned>(Size));
  });
  return Value;
}

void BoardMachine::OnOut(uc_engine *, std::uint32_t Port, int Size, std::uint32_t Value,
                         void *Self) {
  auto &Machine = *static_cast<BoardMachine *>(Self);
  Machine.access([&] {
    Machine.Board_->portWrite(static_cast<std::uint16_t>(Port), static_cast<unsigned>(Size), Value);
  });
}

std::uint64_t BoardMachine::OnMmioRead(uc_engine *, std::uint64_t Offset, unsigned Size,
                                       void *Window) {
  const auto &Where = *static_cast<MmioWindow *>(Window);
  std::uint32_t Value = 0;
  Where.Machine->access([&] { Value = Where.Machine->Board_->memRead(Where.Base + Offset, Size); });
  return Value;
}

void BoardMachine::OnMmioWrite(uc_engine *, std::uint64_t Offset, unsigned Size,
                               std::uint64_t Value, void *Window) {
  const auto &Where = *static_cast<MmioWindow *>(Window);
  Where.Machine->access([&] {
    Where.Machine->Board_->memWrite(Where.Base + Offset, Size, static_cast<std::uint32_t>(Value));
  });
}

bool BoardMachine::OnInvalid(uc_engine *, uc_mem_type Type, std::uint64_t Address, int Size,
                             std::int64_t, void *Self) {
  auto &Machine = *static_cast<BoardMachine *>(Self);
  bool Handled = false;
  Machine.guarded([&] { Handled = Machine.invalid(Type, Address, Size); });
  return Handled;
}

void BoardMachine::OnInterrupt(uc_engine *, std::uint32_t Vector, void *Self) {
  auto &Machine = *static_cast<BoardMachine *>(Self);
  if (Machine.Stop_ == Stop::None) {
    Machine.guarded([&] {
      Machine.breach(std::string("CPU fault: ") + x86::ExceptionName(Vector) + " (vector " +
                     std::to_string(Vector) + ") at " + Machine.describe(Machine.faultAt()));
    });
  }
  uc_emu_stop(Machine.Engine_);
}

} // namespace imagerun
