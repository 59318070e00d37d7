#include "Board.h"

#include <algorithm>

namespace sim {
namespace {

namespace Bridge = hw::LpcBridge;
namespace Pcr = hw::Pcr;

void ApplyPresets(RegisterSpace &Space, const std::map<std::uint32_t, Preset> &Presets) {
  for (const auto &[Offset, Value] : Presets) {
    Space.write(Offset, Value.Width, Value.Value);
  }
}

// A window register: enable bit, base, and the address-mask field that widens it.
constexpr std::uint32_t Window(std::uint16_t Base, std::uint32_t MaskField) {
  return MaskField | Base | Bridge::GenericRange::Enable;
}
constexpr std::uint32_t FourBytes = 0x00000000;      // no address bit masked
constexpr std::uint32_t Whole256 = 0x00FC0000;       // port bits 7:2 masked
constexpr std::uint16_t ComAAt3F8ComBAt3E8 = 0x0070; // COM A list position 0, COM B position 7
constexpr std::uint16_t EarlyEnables =
    Bridge::Enable::ComA | Bridge::Enable::ComB | Bridge::Enable::Keyboard |
    Bridge::Enable::EmbeddedController | Bridge::Enable::SuperIo2E | Bridge::Enable::SuperIo4E;

// The trace comment of an access meant for a device behind the bridge that missed it.
constexpr const char *MissedNote = " (not decoded: reached no device)";
constexpr const char *ElsewhereNote = " (decoded to another target: reached no device)";

} // namespace

const std::array<MirroredRegister, 6> EarlyInitBridgeState = {{
    {Bridge::IoDecodeRanges, Pcr::IoDecodeRangesMirror, 2, ComAAt3F8ComBAt3E8},
    {Bridge::IoEnables, Pcr::IoEnablesMirror, 2, EarlyEnables},
    {Bridge::GenericIoRange1, Pcr::GenericIoRange1Mirror, 4,
     Window(Bridge::EarlyFourByteWindow, FourBytes)},
    {Bridge::GenericIoRange1 + Bridge::GenericIoRangeStride,
     Pcr::GenericIoRange1Mirror + Pcr::MirrorStride, 4, Window(0x0280, FourBytes)},
    {Bridge::GenericIoRange1 + 2 * Bridge::GenericIoRangeStride,
     Pcr::GenericIoRange1Mirror + 2 * Pcr::MirrorStride, 4, Window(0x0200, Whole256)},
    {Bridge::GenericIoRange1 + 3 * Bridge::GenericIoRangeStride,
     Pcr::GenericIoRange1Mirror + 3 * Pcr::MirrorStride, 4,
     Window(Bridge::EarlyWholeWindow, Whole256)},
}};

std::string MemoryRegisterName(std::uint64_t Address) {
  // Memory names do not depend on any device's state: a board of default settings names them.
  static const Board Namer;
  return Namer.name(AddressSpace::Memory, Address);
}

BoardState::BoardState(const Scenario &Settings)
    : Cpu(Settings.InterruptsOff), PmTimer(Settings.PmTimerStart, Settings.PmTimerStuck),
      Spi(Settings.Spi), Uart(Settings.UartLineStatus),
      Keyboard("keyboard controller", hw::Legacy::KeyboardIdleStatus),
      Ec("embedded controller", hw::Legacy::EcIdleStatus) {}

std::vector<std::uint32_t> BoardState::namedRegisterValues() const {
  std::vector<std::uint32_t> Values;
  for (const hw::NamedRegister &Each : Bridge::Registers) {
    Values.push_back(lpcConfig().read(Each.Offset, Each.Width));
  }
  for (const hw::NamedRegister &Each : Pcr::Registers) {
    Values.push_back(pcr().read(Each.Offset, Each.Width));
  }
  return Values;
}

Board::Board(const Scenario &Settings) : Settings_(Settings), Now_(Settings) {
  applyPresets();
}

BoardState Board::state() const {
  BoardState Copy = Now_;
  Copy.PciLatch = PciHost_.latch();
  Copy.Accesses = Steps_;
  return Copy;
}

void Board::startAfterEarlyInit() {
  if (Steps_ != 0) {
    return;
  }
  for (const MirroredRegister &Each : EarlyInitBridgeState) {
    lpcConfig().write(Each.Register, Each.Width, Each.Value);
    pcr().write(Each.Mirror, Each.Width, Each.Value);
  }
  applyPresets();
}

void Board::applyPresets() {
  ApplyPresets(lpcConfig(), Settings_.LpcConfig);
  ApplyPresets(pcr(), Settings_.PcrWindow);
}

void Board::reset(const Scenario &Settings) {
  Settings_ = Settings;
  // Each device as the settings make it, its storage kept.
  Now_.Cpu = CpuModel(Settings.InterruptsOff);
  Now_.Bridge.config().clear();
  PciHost_.reset();
  Now_.Pcr.registers().clear();
  Now_.PmTimer = PmTimerModel(Settings.PmTimerStart, Settings.PmTimerStuck);
  Now_.Spi = SpiControllerModel(Settings.Spi);
  Now_.Uart = Uart16550(Settings.UartLineStatus);
  Now_.SuperIo = SuperIoChip();
  Now_.Keyboard = LegacyController("keyboard controller", hw::Legacy::KeyboardIdleStatus);
  Now_.Ec = LegacyController("embedded controller", hw::Legacy::EcIdleStatus);
  Now_.Delivered = {};
  Now_.SuperIoWrites.clear();
  Now_.Counts = {};
  applyPresets();
  Trace_.clear();
  LastNext_ = LastKept_ = 0;
  Observers_.clear();
  Source_ = nullptr;
  Calls_.clear();
  OpenCalls_.clear();
  Steps_ = 0;
  PhaseStart_ = 0;
  AtStart_.reset();
  Answers_ = {};
  AnswersUsed_ = 0;
}

const Device *Board::device(DeviceId Which) const {
  return const_cast<Board *>(this)->device(Which);
}

Device *Board::device(DeviceId Which) {
  switch (Which) {
  case DeviceId::PciHostBridge:
    return &PciHost_;
  case DeviceId::PcrWindow:
    return &Now_.Pcr;
  case DeviceId::SpiController:
    return &Now_.Spi;
  case DeviceId::Uart:
    return &Now_.Uart;
  case DeviceId::SuperIo:
    return &Now_.SuperIo;
  case DeviceId::KeyboardController:
    return &Now_.Keyboard;
  case DeviceId::EmbeddedController:
    return &Now_.Ec;
  case DeviceId::PmTimer:
    return &Now_.PmTimer;
  case DeviceId::Empty:
    break;
  }
  return nullptr;
}

Device *Board::deliver(const Region *To, AddressSpace Space, std::uint64_t Address, bool Write,
                       bool &Lost) {
  Lost = false;
  if (Space == AddressSpace::Memory) {
    return To == nullptr ? nullptr : device(To->Device);
  }
  if (To != nullptr && !To->BehindBridge) {
    return device(To->Device); // claimed inside the PCH
  }
  if (To == nullptr) {
    return nullptr; // whatever the bridge decodes, no device of the board sits at the port
  }
  const std::optional<unsigned> Target = Now_.Bridge.targetOf(static_cast<std::uint16_t>(Address));
  Deliveries &Count = Now_.Delivered[static_cast<std::size_t>(To->Device)];
  const bool Transmit = Write && To->Device == DeviceId::Uart && Address == hw::Uart::TransmitPort;
  if (Target == OnLpc) {
    ++Count.Reached;
    if (Transmit && Settings_.AllOnesEverywhere) {
      ++Count.LostBytes; // reached, but no device answers on this board
    }
    return device(To->Device);
  }
  Lost = true;
  ++(Target ? Count.Elsewhere : Count.NotDecoded);
  if (Transmit) {
    ++Count.LostBytes;
  }
  return nullptr;
}

std::uint32_t Board::busRead(AddressSpace Space, std::uint64_t Address, unsigned Width,
                             bool &Lost) {
  const Region *To = FindRegion(Space, Address, Width);
  Device *Target = deliver(To, Space, Address, false, Lost);
  if (Settings_.AllOnesEverywhere || Target == nullptr) {
    return FloatingValue(Width);
  }
  return Target->read(To->DeviceRegion, Address - To->Base, Width);
}

void Board::busWrite(AddressSpace Space, std::uint64_t Address, unsigned Width, std::uint32_t Value,
                     bool &Lost) {
  const Region *To = FindRegion(Space, Address, Width);
  Device *Target = deliver(To, Space, Address, true, Lost);
  // On a board where no device answers, no device takes a write either.
  if (!Settings_.AllOnesEverywhere && Target != nullptr) {
    Target->write(To->DeviceRegion, Address - To->Base, Width, Value);
  }
}

std::string Board::name(AddressSpace Space, std::uint64_t Address) const {
  const Region *At = FindRegion(Space, Address, 1);
  const Device *Named = At == nullptr ? nullptr : device(At->Device);
  return Named == nullptr ? "" : Named->registerName(At->DeviceRegion, Address - At->Base);
}

std::vector<TraceRecord> Board::lastAccesses() const {
  std::vector<TraceRecord> Oldest;
  Oldest.reserve(LastKept_);
  for (std::size_t Index = 0; Index < LastKept_; ++Index) {
    Oldest.push_back(
        LastAccesses_[(LastNext_ + LastAccessCount - LastKept_ + Index) % LastAccessCount]);
  }
  return Oldest;
}

void Board::keep(TraceRecord Record) {
  for (const TraceObserver &Observer : Observers_) {
    if (Observer) {
      Observer(Record);
    }
  }
  if (Record.Kind != AccessKind::Note) {
    LastAccesses_[LastNext_] = Record;
    LastNext_ = (LastNext_ + 1) % LastAccessCount;
    LastKept_ = std::min(LastKept_ + 1, LastAccessCount);
  }
  ++Now_.Counts[static_cast<std::size_t>(Record.Kind)];
  if (Settings_.RecordTrace) {
    Trace_.push_back(std::move(Record));
  }
}

void Board::beginAccess() {
  if (!AtStart_) {
    AtStart_ = state();
  }
}

void Board::record(AccessKind Kind, unsigned Width, std::uint64_t Address, std::uint64_t Value,
                   bool Lost) {
  TraceRecord Record{Kind, Width, Address, Value, ""};
  if (!Settings_.NameRegisters) {
    // Nothing to name.
  } else if (Kind == AccessKind::PortIn || Kind == AccessKind::PortOut) {
    Record.Text = name(AddressSpace::Io, Address);
    if (Lost) {
      Record.Text +=
          Now_.Bridge.targetOf(static_cast<std::uint16_t>(Address)) ? ElsewhereNote : MissedNote;
    }
  } else if (Kind == AccessKind::MemRead || Kind == AccessKind::MemWrite) {
    Record.Text = name(AddressSpace::Memory, Address);
  }
  keep(std::move(Record));
  // The access is on the record before the run is stopped, so a hung report shows it.
  if (++Steps_ - PhaseStart_ > Settings_.MaxSteps) {
    throw StepBudgetExceeded();
  }
}

void Board::annotate(std::string Text) {
  keep(TraceRecord{AccessKind::Note, 0, 0, 0, std::move(Text)});
}

std::size_t Board::enterCall(Operation Made) {
  CallRecord Call{std::move(Made), static_cast<unsigned>(OpenCalls_.size()), std::nullopt};
  annotate(CallText(Call));
  Calls_.push_back(std::move(Call));
  OpenCalls_.push_back(Calls_.size() - 1);
  return Calls_.size() - 1;
}

void Board::returnCall(std::size_t Handle, std::uint64_t Status) {
  CallRecord &Call = Calls_.at(Handle);
  Call.Status = Status;
  annotate(CallText(Call) + std::string(CallReturnMark) + ResultText(Call));
  if (!OpenCalls_.empty() && OpenCalls_.back() == Handle) {
    OpenCalls_.pop_back();
  }
}

void Board::serviceCall(Operation Made, std::uint64_t Status) {
  CallRecord Call{std::move(Made), static_cast<unsigned>(OpenCalls_.size()), Status};
  annotate(CallText(Call) + std::string(CallReturnMark) + ResultText(Call));
  Calls_.push_back(std::move(Call));
}

std::vector<CallRecord> Board::openCalls() const {
  std::vector<CallRecord> Open;
  for (const std::size_t Handle : OpenCalls_) {
    Open.push_back(Calls_[Handle]);
  }
  return Open;
}

RunOutcome Outcome(const Board &Target, bool Hung) {
  RunOutcome Ended;
  Ended.Hung = Hung;
  if (Hung) {
    Ended.LastAccesses = Target.lastAccesses();
    Ended.Running = Target.openCalls();
  }
  return Ended;
}

std::optional<std::uint32_t> Board::nextAnswer(unsigned Width) {
  // A read wider than a register the board answers (an 8-byte access) is the models' to answer.
  if (Width > sizeof(std::uint32_t) || Answers_.size() - AnswersUsed_ < Width) {
    AnswersUsed_ = Answers_.size();
    return std::nullopt;
  }
  std::uint32_t Value = 0;
  for (unsigned Byte = 0; Byte < Width; ++Byte) {
    Value |= std::uint32_t{Answers_[AnswersUsed_ + Byte]} << (8 * Byte);
  }
  AnswersUsed_ += Width;
  return Value;
}

// Hardware answers from outside are a filter in front of the bus: a read they answer reaches no
// device. All ones is a filter between the bus and the devices: every read floats high and no
// device takes a write.
std::uint32_t Board::portRead(std::uint16_t Port, unsigned Width) {
  beginAccess();
  const std::optional<std::uint32_t> Answer = nextAnswer(Width);
  bool Lost = false;
  const std::uint32_t Value = Answer ? *Answer : busRead(AddressSpace::Io, Port, Width, Lost);
  record(AccessKind::PortIn, Width, Port, Value, Lost);
  return Value;
}

void Board::portWrite(std::uint16_t Port, unsigned Width, std::uint32_t Value) {
  beginAccess();
  Value &= FloatingValue(Width);
  if ((Port == hw::SuperIo::IndexPort || Port == hw::SuperIo::DataPort) && Width == 1) {
    Now_.SuperIoWrites.emplace_back(Port, static_cast<std::uint8_t>(Value));
  }
  // Named and routed before the write, so that a write to 0xCF8 is described by the latch it
  // replaces and a write to the bridge by the decoding it had.
  const Region *To = FindRegion(AddressSpace::Io, Port, Width);
  bool Lost = false;
  Device *Target = deliver(To, AddressSpace::Io, Port, true, Lost);
  record(AccessKind::PortOut, Width, Port, Value, Lost);
  if (!Settings_.AllOnesEverywhere && Target != nullptr) {
    Target->write(To->DeviceRegion, Port - To->Base, Width, Value);
  }
}

std::uint32_t Board::memRead(std::uint64_t Address, unsigned Width) {
  beginAccess();
  const std::optional<std::uint32_t> Answer = nextAnswer(Width);
  bool Lost = false;
  const std::uint32_t Value =
      Answer ? *Answer : busRead(AddressSpace::Memory, Address, Width, Lost);
  record(AccessKind::MemRead, Width, Address, Value);
  return Value;
}

void Board::memWrite(std::uint64_t Address, unsigned Width, std::uint32_t Value) {
  beginAccess();
  Value &= FloatingValue(Width);
  record(AccessKind::MemWrite, Width, Address, Value);
  bool Lost = false;
  busWrite(AddressSpace::Memory, Address, Width, Value, Lost);
}

std::uintptr_t Board::readFlags() {
  beginAccess();
  const std::uintptr_t Flags = Now_.Cpu.flags();
  record(AccessKind::Flags, 0, 0, Flags);
  return Flags;
}

void Board::disableInterrupts() {
  beginAccess();
  record(AccessKind::Cli, 0, 0, 0);
  Now_.Cpu.clearInterruptFlag();
}

void Board::enableInterrupts() {
  beginAccess();
  record(AccessKind::Sti, 0, 0, 0);
  Now_.Cpu.setInterruptFlag();
}

void Board::pause() {
  beginAccess();
  record(AccessKind::Pause, 0, 0, 0);
}

std::uint64_t Board::readTimeStampCounter() {
  beginAccess();
  const std::uint64_t Value = Now_.Cpu.readTimeStampCounter();
  record(AccessKind::Rdtsc, 0, 0, Value);
  return Value;
}

} // namespace sim
