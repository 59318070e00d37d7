#include "Board.h"

#include "BoardLpcBridge.h"
#include "BoardPci.h"
#include "BoardPcr.h"
#include "BoardPmTimer.h"
#include "BoardSpi.h"
#include "BoardSuperIo.h"
#include "BoardUart.h"

#include <algorithm>
#include <span>

namespace sim {
namespace {

constexpr std::uint32_t AllOnes(unsigned Width) {
  return Width >= 4 ? 0xFFFFFFFFu : (std::uint32_t{1} << (8 * Width)) - 1;
}

// The bridge's configuration registers in the enhanced configuration window.
constexpr std::uint64_t BridgeEcamBase = hw::Pci::EcamBase + hw::LpcBridge::EcamOffset;

bool Within(std::uint64_t Address, unsigned Width, std::uint64_t Base, std::uint64_t Size) {
  return Address >= Base && Address + Width <= Base + Size;
}

void ApplyPresets(RegisterSpace &Space, const std::map<std::uint32_t, Preset> &Presets) {
  for (const auto &[Offset, Value] : Presets) {
    Space.write(Offset, Value.Width, Value.Value);
  }
}

// The trace's name of the register at Offset of a device's table; empty when it has none.
std::string RegisterName(std::span<const hw::NamedRegister> Table, std::uint64_t Offset) {
  const auto Found = std::find_if(Table.begin(), Table.end(), [&](const hw::NamedRegister &Each) {
    return Each.Offset == Offset;
  });
  return Found == Table.end() ? "" : Found->Name;
}

struct PortName {
  std::uint16_t Port;
  const char *Name;
};
constexpr PortName PortNames[] = {
    {hw::PmTimer::Port, "PM timer"},
    {hw::Uart::TransmitPort, "UART transmit"},
    {hw::Uart::LineStatusPort, "UART line status"},
    {hw::SuperIo::IndexPort, "Super I/O index"},
    {hw::SuperIo::DataPort, "Super I/O data"},
};

} // namespace

std::string MemoryRegisterName(std::uint64_t Address) {
  if (Within(Address, 1, BridgeEcamBase, hw::LpcBridge::ConfigSize)) {
    const std::string Name = RegisterName(hw::LpcBridge::Registers, Address - BridgeEcamBase);
    return Name.empty() ? "bridge configuration (ECAM)" : Name + " (ECAM)";
  }
  if (Within(Address, 1, hw::Pcr::Base, hw::Pcr::Size)) {
    return RegisterName(hw::Pcr::Registers, Address - hw::Pcr::Base);
  }
  if (Within(Address, 1, hw::Spi::RegisterWindow, hw::Spi::WindowSize)) {
    return RegisterName(hw::Spi::Registers, Address - hw::Spi::RegisterWindow);
  }
  if (Address == hw::Spi::ConfigWindow + hw::Spi::DeviceIdOffset) {
    return "SPI device ID";
  }
  return "";
}

Board::Board(const Scenario &Settings)
    : Settings_(Settings), PmTimer_(Settings.PmTimerStart, Settings.PmTimerStuck),
      Spi_(Settings.Spi), LpcConfig_(hw::LpcBridge::ConfigSize), Pcr_(hw::Pcr::Size) {
  ApplyPresets(LpcConfig_, Settings.LpcConfig);
  ApplyPresets(Pcr_, Settings.PcrWindow);
}

void Board::reset(const Scenario &Settings) {
  Settings_ = Settings;
  Cpu_ = CpuModel();
  PmTimer_ = PmTimerModel(Settings.PmTimerStart, Settings.PmTimerStuck);
  Spi_ = SpiControllerModel(Settings.Spi);
  SerialOutput_.clear();
  SuperIoWrites_.clear();
  LpcConfig_.clear();
  Pcr_.clear();
  ApplyPresets(LpcConfig_, Settings.LpcConfig);
  ApplyPresets(Pcr_, Settings.PcrWindow);
  PciLatch_ = 0;
  Trace_.clear();
  LastNext_ = LastKept_ = 0;
  Counts_ = {};
  Observers_.clear();
  Calls_.clear();
  OpenCalls_.clear();
  Steps_ = 0;
  Answers_ = {};
  AnswersUsed_ = 0;
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
    Observer(Record);
  }
  if (Record.Kind != AccessKind::Note) {
    LastAccesses_[LastNext_] = Record;
    LastNext_ = (LastNext_ + 1) % LastAccessCount;
    LastKept_ = std::min(LastKept_ + 1, LastAccessCount);
  }
  ++Counts_[static_cast<std::size_t>(Record.Kind)];
  if (Settings_.RecordTrace) {
    Trace_.push_back(std::move(Record));
  }
}

void Board::record(AccessKind Kind, unsigned Width, std::uint64_t Address, std::uint64_t Value) {
  TraceRecord Record{Kind, Width, Address, Value, ""};
  if (!Settings_.NameRegisters) {
    // Nothing to name.
  } else if (Kind == AccessKind::PortIn || Kind == AccessKind::PortOut) {
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
    Ended.LastAccesses = Target.lastAccesses();
    Ended.Running = Target.openCalls();
  }
  return Ended;
}

bool Board::bridgeSelected() const {
  return (PciLatch_ & hw::Pci::LatchEnable) != 0 &&
         (PciLatch_ & hw::Pci::LatchFunctionMask) == hw::LpcBridge::LatchFunction;
}

std::string Board::describePort(std::uint16_t Port) const {
  if (Port == hw::Pci::AddressPort) {
    return "PCI address";
  }
  if (Port >= hw::Pci::DataPort && Port < hw::Pci::DataPort + hw::Pci::DataPortBytes) {
    const std::string Name =
        bridgeSelected()
            ? RegisterName(hw::LpcBridge::Registers,
                           (PciLatch_ & hw::Pci::LatchRegisterMask) + (Port - hw::Pci::DataPort))
            : "";
    return Name.empty() ? "PCI data" : Name;
  }
  const auto Found = std::find_if(std::begin(PortNames), std::end(PortNames),
                                  [&](const PortName &Each) { return Each.Port == Port; });
  return Found == std::end(PortNames) ? "" : Found->Name;
}

std::uint32_t Board::devicePortRead(std::uint16_t Port, unsigned Width) {
  if (Settings_.AllOnesEverywhere) {
    return AllOnes(Width);
  }
  if (Port == hw::Pci::AddressPort && Width == 4) {
    return PciLatch_;
  }
  if (Port >= hw::Pci::DataPort && Port + Width <= hw::Pci::DataPort + hw::Pci::DataPortBytes) {
    if (!bridgeSelected()) {
      return AllOnes(Width);
    }
    return LpcConfig_.read((PciLatch_ & hw::Pci::LatchRegisterMask) + (Port - hw::Pci::DataPort),
                           Width);
  }
  if (Port == hw::PmTimer::Port && Width == 4) {
    return PmTimer_.read();
  }
  if (Port == hw::Uart::LineStatusPort && Width == 1) {
    return Settings_.UartLineStatus;
  }
  if ((Port == hw::SuperIo::IndexPort || Port == hw::SuperIo::DataPort) && Width == 1) {
    return hw::SuperIo::ReadValue;
  }
  return AllOnes(Width);
}

void Board::devicePortWrite(std::uint16_t Port, unsigned Width, std::uint32_t Value) {
  if (Port == hw::Pci::AddressPort && Width == 4) {
    PciLatch_ = Value;
    return;
  }
  if (Port >= hw::Pci::DataPort && Port + Width <= hw::Pci::DataPort + hw::Pci::DataPortBytes) {
    if (bridgeSelected()) {
      LpcConfig_.write((PciLatch_ & hw::Pci::LatchRegisterMask) + (Port - hw::Pci::DataPort), Width,
                       Value);
    }
    return;
  }
  if (Port == hw::Uart::TransmitPort && Width == 1) {
    SerialOutput_.push_back(static_cast<char>(Value));
    return;
  }
  if ((Port == hw::SuperIo::IndexPort || Port == hw::SuperIo::DataPort) && Width == 1) {
    SuperIoWrites_.emplace_back(Port, static_cast<std::uint8_t>(Value));
  }
}

std::uint32_t Board::deviceMemRead(std::uint64_t Address, unsigned Width) {
  if (Settings_.AllOnesEverywhere) {
    return AllOnes(Width);
  }
  if (Within(Address, Width, BridgeEcamBase, hw::LpcBridge::ConfigSize)) {
    return LpcConfig_.read(Address - BridgeEcamBase, Width);
  }
  if (Within(Address, Width, hw::Pcr::Base, hw::Pcr::Size)) {
    return Pcr_.read(Address - hw::Pcr::Base, Width);
  }
  if (Within(Address, Width, hw::Spi::ConfigWindow, hw::Spi::WindowSize)) {
    return Spi_.readConfig(Address - hw::Spi::ConfigWindow, Width);
  }
  if (Within(Address, Width, hw::Spi::RegisterWindow, hw::Spi::WindowSize)) {
    return Spi_.readRegister(Address - hw::Spi::RegisterWindow, Width);
  }
  return AllOnes(Width);
}

void Board::deviceMemWrite(std::uint64_t Address, unsigned Width, std::uint32_t Value) {
  if (Within(Address, Width, BridgeEcamBase, hw::LpcBridge::ConfigSize)) {
    LpcConfig_.write(Address - BridgeEcamBase, Width, Value);
  } else if (Within(Address, Width, hw::Pcr::Base, hw::Pcr::Size)) {
    Pcr_.write(Address - hw::Pcr::Base, Width, Value);
  } else if (Within(Address, Width, hw::Spi::RegisterWindow, hw::Spi::WindowSize)) {
    Spi_.writeRegister(Address - hw::Spi::RegisterWindow, Width, Value);
  }
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

std::uint32_t Board::portRead(std::uint16_t Port, unsigned Width) {
  const std::optional<std::uint32_t> Answer = nextAnswer(Width);
  const std::uint32_t Value = Answer ? *Answer : devicePortRead(Port, Width);
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
  const std::optional<std::uint32_t> Answer = nextAnswer(Width);
  const std::uint32_t Value = Answer ? *Answer : deviceMemRead(Address, Width);
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
