#include "Board.h"

namespace sim {
namespace {

constexpr std::uint32_t AllOnes(unsigned Width) {
  return Width >= 4 ? 0xFFFFFFFFu : (std::uint32_t{1} << (8 * Width)) - 1;
}

bool Within(std::uint64_t Address, unsigned Width, std::uint64_t Base, std::uint64_t Size) {
  return Address >= Base && Address + Width <= Base + Size;
}

void ApplyPresets(RegisterSpace &Space, const std::map<std::uint32_t, Preset> &Presets) {
  for (const auto &[Offset, Value] : Presets) {
    Space.write(Offset, Value.Width, Value.Value);
  }
}

} // namespace

Board::Board(const Scenario &Settings)
    : Settings_(Settings), PmTimer_(Settings.PmTimerStart, Settings.PmTimerStuck),
      Spi_(Settings.Spi), Uart_(Settings.UartLineStatus), LpcConfig_(Map::BridgeConfigSize),
      Pcr_(Map::PcrSize) {
  ApplyPresets(LpcConfig_, Settings.LpcConfig);
  ApplyPresets(Pcr_, Settings.PcrWindow);
}

void Board::keep(TraceRecord Record) {
  for (const TraceObserver &Observer : Observers_) {
    Observer(Record);
  }
  if (Record.Kind != AccessKind::Note) {
    LastAccesses_.push_back(Record);
    if (LastAccesses_.size() > LastAccessCount) {
      LastAccesses_.pop_front();
    }
  }
  ++Counts_[static_cast<std::size_t>(Record.Kind)];
  if (Settings_.RecordTrace) {
    Trace_.push_back(std::move(Record));
  }
}

void Board::record(AccessKind Kind, unsigned Width, std::uint64_t Address, std::uint64_t Value) {
  TraceRecord Record;
  Record.Kind = Kind;
  Record.Width = Width;
  Record.Address = Address;
  Record.Value = Value;
  if (Kind == AccessKind::PortIn || Kind == AccessKind::PortOut) {
    Record.Text = describePort(static_cast<std::uint16_t>(Address));
  } else if (Kind == AccessKind::MemRead || Kind == AccessKind::MemWrite) {
    Record.Text = MemoryRegisterName(Address);
  }
  keep(std::move(Record));
  // The access is on the record before the run is stopped, so a hung report shows it.
  if (++Steps_ > Settings_.MaxSteps) {
    throw StepBudgetExceeded();
  }
}

void Board::annotate(std::string Text) {
  TraceRecord Record;
  Record.Kind = AccessKind::Note;
  Record.Text = std::move(Text);
  keep(std::move(Record));
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
  annotate(CallText(Call) + " -> " + ResultText(Call));
  if (!OpenCalls_.empty() && OpenCalls_.back() == Handle) {
    OpenCalls_.pop_back();
  }
}

void Board::serviceCall(Operation Made, std::uint64_t Status) {
  CallRecord Call{std::move(Made), static_cast<unsigned>(OpenCalls_.size()), Status};
  annotate(CallText(Call) + " -> " + ResultText(Call));
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
    Ended.LastAccesses.assign(Target.lastAccesses().begin(), Target.lastAccesses().end());
    Ended.Running = Target.openCalls();
  }
  return Ended;
}

bool Board::bridgeSelected() const {
  return (PciLatch_ & Map::PciLatchEnable) != 0 &&
         (PciLatch_ & Map::PciLatchFunctionMask) == Map::PciLatchBridge;
}

std::string Board::describePort(std::uint16_t Port) const {
  if (Port == Map::PciAddressPort) {
    return "PCI address";
  }
  if (Port >= Map::PciDataPort && Port < Map::PciDataPort + 4) {
    if (!bridgeSelected()) {
      return "PCI data";
    }
    const std::string Name =
        BridgeRegisterName((PciLatch_ & Map::PciLatchRegisterMask) + (Port - Map::PciDataPort));
    return Name.empty() ? "PCI data" : Name;
  }
  switch (Port) {
  case Map::PmTimerPort:
    return "PM timer";
  case Map::UartData:
    return "UART transmit";
  case Map::UartLineStatus:
    return "UART line status";
  case Map::SuperIoIndex:
    return "Super I/O index";
  case Map::SuperIoData:
    return "Super I/O data";
  default:
    return "";
  }
}

std::uint32_t Board::devicePortRead(std::uint16_t Port, unsigned Width) {
  if (Settings_.AllOnesEverywhere) {
    return AllOnes(Width);
  }
  if (Port == Map::PciAddressPort && Width == 4) {
    return PciLatch_;
  }
  if (Port >= Map::PciDataPort && Port + Width <= Map::PciDataPort + 4u) {
    if (!bridgeSelected()) {
      return AllOnes(Width);
    }
    return LpcConfig_.read((PciLatch_ & Map::PciLatchRegisterMask) + (Port - Map::PciDataPort),
                           Width);
  }
  if (Port == Map::PmTimerPort && Width == 4) {
    return PmTimer_.read();
  }
  if (Port == Map::UartLineStatus && Width == 1) {
    return Uart_.lineStatus();
  }
  if ((Port == Map::SuperIoIndex || Port == Map::SuperIoData) && Width == 1) {
    return SuperIoModel::ReadValue;
  }
  return AllOnes(Width);
}

void Board::devicePortWrite(std::uint16_t Port, unsigned Width, std::uint32_t Value) {
  if (Port == Map::PciAddressPort && Width == 4) {
    PciLatch_ = Value;
    return;
  }
  if (Port >= Map::PciDataPort && Port + Width <= Map::PciDataPort + 4u) {
    if (bridgeSelected()) {
      LpcConfig_.write((PciLatch_ & Map::PciLatchRegisterMask) + (Port - Map::PciDataPort), Width,
                       Value);
    }
    return;
  }
  if (Port == Map::UartData && Width == 1) {
    Uart_.write(static_cast<std::uint8_t>(Value));
    return;
  }
  if ((Port == Map::SuperIoIndex || Port == Map::SuperIoData) && Width == 1) {
    SuperIo_.write(Port, static_cast<std::uint8_t>(Value));
  }
}

std::uint32_t Board::deviceMemRead(std::uint64_t Address, unsigned Width) {
  if (Settings_.AllOnesEverywhere) {
    return AllOnes(Width);
  }
  if (Within(Address, Width, Map::EcamBase + Map::BridgeEcamOffset, Map::BridgeConfigSize)) {
    return LpcConfig_.read(Address - Map::EcamBase - Map::BridgeEcamOffset, Width);
  }
  if (Within(Address, Width, Map::PcrBase, Map::PcrSize)) {
    return Pcr_.read(Address - Map::PcrBase, Width);
  }
  if (Within(Address, Width, Map::SpiConfigWindow, Map::SpiWindowSize)) {
    return Spi_.readConfig(Address - Map::SpiConfigWindow, Width);
  }
  if (Within(Address, Width, Map::SpiRegisterWindow, Map::SpiWindowSize)) {
    return Spi_.readRegister(Address - Map::SpiRegisterWindow, Width);
  }
  return AllOnes(Width);
}

void Board::deviceMemWrite(std::uint64_t Address, unsigned Width, std::uint32_t Value) {
  if (Within(Address, Width, Map::EcamBase + Map::BridgeEcamOffset, Map::BridgeConfigSize)) {
    LpcConfig_.write(Address - Map::EcamBase - Map::BridgeEcamOffset, Width, Value);
  } else if (Within(Address, Width, Map::PcrBase, Map::PcrSize)) {
    Pcr_.write(Address - Map::PcrBase, Width, Value);
  } else if (Within(Address, Width, Map::SpiRegisterWindow, Map::SpiWindowSize)) {
    Spi_.writeRegister(Address - Map::SpiRegisterWindow, Width, Value);
  }
}

std::uint32_t Board::portRead(std::uint16_t Port, unsigned Width) {
  const std::uint32_t Value = devicePortRead(Port, Width);
  record(AccessKind::PortIn, Width, Port, Value);
  return Value;
}

void Board::portWrite(std::uint16_t Port, unsigned Width, std::uint32_t Value) {
  Value &= AllOnes(Width);
  // Named before the write so that a write to 0xCF8 is described by the latch it replaces.
  record(AccessKind::PortOut, Width, Port, Value);
  devicePortWrite(Port, Width, Value);
}

std::uint32_t Board::memRead(std::uint64_t Address, unsigned Width) {
  const std::uint32_t Value = deviceMemRead(Address, Width);
  record(AccessKind::MemRead, Width, Address, Value);
  return Value;
}

void Board::memWrite(std::uint64_t Address, unsigned Width, std::uint32_t Value) {
  Value &= AllOnes(Width);
  record(AccessKind::MemWrite, Width, Address, Value);
  deviceMemWrite(Address, Width, Value);
}

std::uintptr_t Board::readFlags() {
  const std::uintptr_t Flags = Cpu_.flags();
  record(AccessKind::Flags, 0, 0, Flags);
  return Flags;
}

void Board::disableInterrupts() {
  record(AccessKind::Cli, 0, 0, 0);
  Cpu_.clearInterruptFlag();
}

void Board::enableInterrupts() {
  record(AccessKind::Sti, 0, 0, 0);
  Cpu_.setInterruptFlag();
}

void Board::pause() {
  record(AccessKind::Pause, 0, 0, 0);
}

std::uint64_t Board::readTimeStampCounter() {
  const std::uint64_t Value = Cpu_.readTimeStampCounter();
  record(AccessKind::Rdtsc, 0, 0, Value);
  return Value;
}

} // namespace sim
