#include "BoardMachine.h"

#include "Disassembly.h"
#include "EmulatedMachine.h"
#include "Machine/FaultReport.h"
#include "Machine/ProcessorEvents.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace imagerun {

BoardMachine::BoardMachine(sim::Board &Target, const MachineSetup &Setup)
    : Board_(&Target), Setup_(Setup), Core_(Setup.Mode), CallerSp_(stackTop()) {
  const bool Lean = Setup.Follow == Tracking::Lean;
  // RAM: readable and writable, never executable. Lean, each access to the stack is answered
  // from the machine's own bytes by a call: the emulator spends far longer on a store into its RAM
  // (looking for translated code to drop) than on a call.
  Core_.mapRam(Setup.StackBase, Setup.StackSize, UC_PROT_READ | UC_PROT_WRITE, Lean);
  paintStack();
  Core_.keepStart();
  Core_.mapDeviceWindows(*this);
  Tracking_ = InstructionTracking::Make(
      Setup.Follow, *this,
      {Setup.ImageBase, Setup.ImageSpan, Setup.Code, Setup.Stretches, Setup.ExitTrap});
  Core_.hook(UC_HOOK_INSN, reinterpret_cast<void *>(OnIn), this, 1, 0, "hook in", UC_X86_INS_IN);
  Core_.hook(UC_HOOK_INSN, reinterpret_cast<void *>(OnOut), this, 1, 0, "hook out", UC_X86_INS_OUT);
  Core_.hook(UC_HOOK_MEM_INVALID, reinterpret_cast<void *>(OnInvalid), this, 1, 0,
             "hook invalid accesses");
  Core_.hook(UC_HOOK_INTR, reinterpret_cast<void *>(OnInterrupt), this, 1, 0, "hook exceptions");
}

void BoardMachine::paintStack() {
  std::fill_n(Core_.ramBytes(Setup_.StackBase, Setup_.StackSize), Setup_.StackSize,
              machine::StackPaint);
}

void BoardMachine::restart(sim::Board &Target) {
  Board_ = &Target;
  Core_.restoreStart();
  paintStack();
  Stop_ = Stop::None;
  Breach_.reset();
  Error_ = nullptr;
  Instructions_ = 0;
  SinceAccess_ = 0;
  CallerSp_ = stackTop();
  Tracking_->restart();
  Refused_.reset();
  Fault_.reset();
}

bool BoardMachine::count(std::uint64_t Count) {
  Instructions_ += Count;
  SinceAccess_ += Count;
  if (SinceAccess_ > runs::InstructionsWithoutAccess) {
    stop(Stop::Spin);
    return false;
  }
  return true;
}

void BoardMachine::debugWith(Debugger *Debug) {
  if (Debug != nullptr && Setup_.Follow == Tracking::Lean) {
    throw std::logic_error("a debugger needs a machine that follows every instruction");
  }
  Debugger_ = Debug;
}

bool BoardMachine::step(std::uint64_t Address, std::uint64_t Size, std::uint64_t Sp) {
  if (Debugger_ != nullptr) {
    Debugger_->instruction(Core_, Address);
    // The debugger may have moved the processor on: the instruction now due runs next.
    if (reg(programCounter()) != Address) {
      return false;
    }
  }
  if (!instruction(Address, Sp) || Stop_ != Stop::None) {
    return false;
  }
  return Size <= ProcessorEventBytes && processorEvent(Address, Size);
}

sim::AccessSite BoardMachine::siteOf(std::uint64_t Address, std::uint64_t Return) const {
  sim::AccessSite Site;
  Site.Address = Address;
  Site.At = functionAt(Address);
  if (const std::optional<formats::SourceLine> Line = lineAt(Address)) {
    Site.File = Line->File;
    Site.Line = Line->Line;
  }
  // Every access is made by a hardware-access primitive: the function that wanted it is the one
  // the primitive returns to. Only full tracking follows the calls.
  if (Return != 0) {
    const std::string Caller = functionAt(Return);
    Site.Caller = Caller.substr(0, Caller.find('+'));
  }
  return Site;
}

const sim::AccessSite *BoardMachine::accessSite() {
  const std::uint64_t Address = Tracking_->accessAt();
  const std::uint64_t Return = Tracking_->innermostReturn();
  const auto [Found, New] = Sites_.try_emplace({Address, Return});
  if (New) {
    Found->second = siteOf(Address, Return);
  }
  return &Found->second;
}

void BoardMachine::keepFault(std::uint64_t Address) {
  if (Stop_ != Stop::None || Fault_) {
    return;
  }
  runs::ImageFacts::Fault Fault;
  Fault.At = siteOf(Address, Tracking_->innermostReturn());
  Fault.RegisterBytes = static_cast<unsigned>(Core_.slotSize());
  for (const NamedRegister &Each : FaultRegisters(wide())) {
    Fault.Registers.emplace_back(Each.Name, reg(Each.Id));
  }
  // The instruction's bytes, as many of them as can be read.
  std::array<std::uint8_t, LongestInstruction> Bytes{};
  std::size_t Readable = Bytes.size();
  while (Readable != 0 && !readRam(Address, Bytes.data(), Readable)) {
    --Readable;
  }
  if (Readable != 0) {
    const formats::CodeDecoder Decoder(static_cast<unsigned>(Core_.slotSize()));
    const formats::Instruction Decoded =
        Decoder.decode(std::vector<std::uint8_t>(Bytes.begin(), Bytes.begin() + Readable), Address);
    Fault.Instruction =
        Decoded.Operands.empty() ? Decoded.Mnemonic : Decoded.Mnemonic + " " + Decoded.Operands;
  }
  Fault_ = std::move(Fault);
  if (Debugger_ != nullptr) {
    Debugger_->faulted(Core_, Address, "CPU fault");
  }
}

void BoardMachine::stop(Stop Why) {
  if (Stop_ == Stop::None) {
    Stop_ = Why;
  }
  uc_emu_stop(engine());
}

void BoardMachine::breach(std::string Message) {
  if (Stop_ == Stop::None) {
    Breach_ = std::move(Message);
  }
  stop(Stop::Breach);
}

void BoardMachine::fail() {
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
  Tracking_->beginRun(StackPointer);
  const uc_err Result = uc_emu_start(engine(), Address, Setup_.ExitTrap, 0, 0);
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
    keepFault(Tracking_->faultAt());
    breach(std::string("CPU fault: ") +
           (Result == UC_ERR_INSN_INVALID ? "invalid opcode" : uc_strerror(Result)) + " at " +
           describe(Tracking_->faultAt()));
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
  if (const std::uint8_t *Bytes = Core_.ramBytes(Setup_.StackBase, Setup_.StackSize)) {
    const std::uint8_t *Painted =
        std::find_if(Bytes, Bytes + Setup_.StackSize,
                     [](std::uint8_t Byte) { return Byte != machine::StackPaint; });
    const std::uint64_t LowestAddress =
        Setup_.StackBase + static_cast<std::uint64_t>(Painted - Bytes);
    Facts.StackHighWater =
        LowestAddress < CallerSp_ ? static_cast<std::uint32_t>(CallerSp_ - LowestAddress) : 0;
  }
  const std::uint64_t Deepest = Tracking_->deepest();
  Facts.StackDeepestIn = Deepest == 0 ? std::string() : functionAt(Deepest);
  for (const std::uint64_t Position : Tracking_->deepestChain()) {
    // The function's name, without the offset of the position in it.
    std::string Name = functionAt(Position);
    Name = Name.substr(0, Name.rfind("+0x"));
    Facts.StackChain.push_back(std::move(Name));
  }
  Facts.Instructions = Instructions_;
  Facts.SpunWithoutAccess = Stop_ == Stop::Spin;
  Facts.Breach = Breach_;
  if (hung()) {
    const std::uint64_t At = Tracking_->pc();
    Facts.StoppedAt = siteOf(At, Tracking_->innermostReturn());
    for (const std::uint64_t Return : Tracking_->returnAddresses()) {
      Facts.StoppedChain.push_back(functionAt(Return));
    }
    Facts.StoppedChain.push_back(Facts.StoppedAt->At);
  }
  Facts.Faulted = Fault_;
  return Facts;
}

bool BoardMachine::processorEvent(std::uint64_t Address, std::uint64_t Size) {
  std::array<std::uint8_t, ProcessorEventBytes> Bytes{};
  const std::span<const std::uint8_t> Fixed = Setup_.FixedCode;
  if (Address >= Setup_.ImageBase && Address - Setup_.ImageBase + Size <= Fixed.size()) {
    std::copy_n(Fixed.begin() + static_cast<std::ptrdiff_t>(Address - Setup_.ImageBase), Size,
                Bytes.begin());
  } else if (!readRam(Address, Bytes.data(), Size)) {
    return false;
  }
  const ProcessorEvent *Event = ProcessorEventAt(std::span(Bytes).first(Size), Size);
  if (Event == nullptr) {
    return false;
  }
  const auto StepOver = [&] {
    setReg(programCounter(), Address + Event->Length);
    return true;
  };
  switch (Event->Kind) {
  case ProcessorEventKind::Cli:
    return access([&] { Board_->disableInterrupts(); }) && StepOver();
  case ProcessorEventKind::Sti:
    return access([&] { Board_->enableInterrupts(); }) && StepOver();
  case ProcessorEventKind::Pushf: {
    // The flags go on the stack at the processor's width: 4 bytes in 32-bit mode, 8 in 64-bit.
    std::uint64_t Flags = 0;
    if (!access([&] { Flags = Board_->readFlags(); })) {
      return false;
    }
    const std::uint64_t Sp = reg(stackPointer()) - Core_.slotSize();
    if (!writeRam(Sp, &Flags, Core_.slotSize())) {
      keepFault(Address);
      breach("CPU fault: pushf below the stack, at " + describe(Address));
      return false;
    }
    setReg(stackPointer(), Sp);
    return StepOver();
  }
  case ProcessorEventKind::Pause:
    return access([&] { Board_->pause(); }) && StepOver();
  case ProcessorEventKind::Rdtsc: {
    std::uint64_t Count = 0;
    if (!access([&] { Count = Board_->readTimeStampCounter(); })) {
      return false;
    }
    // Both halves zero-extended, as the processor writes them in either mode.
    setReg(accumulator(), static_cast<std::uint32_t>(Count));
    setReg(wide() ? UC_X86_REG_RDX : UC_X86_REG_EDX, static_cast<std::uint32_t>(Count >> 32));
    return StepOver();
  }
  }
  return false;
}

bool BoardMachine::invalid(uc_mem_type Type, std::uint64_t Address, int Size) {
  if (Stop_ != Stop::None) {
    return false;
  }
  // A fetch names the instruction that branched there; an access, the instruction that made it.
  // Followed lean, that instruction is known only once the emulator has stopped on the fault.
  const bool Fetch = Type == UC_MEM_FETCH_UNMAPPED || Type == UC_MEM_FETCH_PROT;
  if (!Tracking_->exactAtAccess() && !Fetch) {
    if (!Refused_) {
      Refused_ = RefusedAccess{Type, Address, Size};
    }
    return false;
  }
  refused(Type, Address, Size, describe(pc()));
  return false;
}

void BoardMachine::refused(uc_mem_type Type, std::uint64_t Address, int Size,
                           const std::string &Where) {
  if (!namedInvalid(Type, Address, ByteCount(Size), Where)) {
    const bool Fetch = Type == UC_MEM_FETCH_UNMAPPED || Type == UC_MEM_FETCH_PROT;
    keepFault(Fetch ? Tracking_->pc() : Tracking_->faultAt());
    breach(RefusedAccessText(Type, Address, Size, Where, {Setup_.StackBase, Setup_.StackSize}));
  }
}

std::uint32_t BoardMachine::deviceRead(std::uint64_t Address, unsigned Size) {
  std::uint32_t Value = 0;
  access([&] { Value = Board_->memRead(Address, Size); });
  return Value;
}

void BoardMachine::deviceWrite(std::uint64_t Address, unsigned Size, std::uint32_t Value) {
  access([&] { Board_->memWrite(Address, Size, Value); });
}

std::uint32_t BoardMachine::OnIn(uc_engine *, std::uint32_t Port, int Size, void *Self) {
  auto &Machine = *static_cast<BoardMachine *>(Self);
  std::uint32_t Value = 0;
  Machine.Tracking_->portAccessBegins();
  Machine.access([&] {
    Value = Machine.Board_->portRead(static_cast<std::uint16_t>(Port), static_cast<unsigned>(Size));
  });
  Machine.Tracking_->portAccessEnds();
  return Value;
}

void BoardMachine::OnOut(uc_engine *, std::uint32_t Port, int Size, std::uint32_t Value,
                         void *Self) {
  auto &Machine = *static_cast<BoardMachine *>(Self);
  Machine.Tracking_->portAccessBegins();
  Machine.access([&] {
    Machine.Board_->portWrite(static_cast<std::uint16_t>(Port), static_cast<unsigned>(Size), Value);
  });
  Machine.Tracking_->portAccessEnds();
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
      Machine.keepFault(Machine.Tracking_->faultAt());
      Machine.breach(std::string("CPU fault: ") + ExceptionName(Vector) + " (vector " +
                     std::to_string(Vector) + ") at " +
                     Machine.describe(Machine.Tracking_->faultAt()));
    });
  }
  uc_emu_stop(Machine.engine());
}

} // namespace imagerun
