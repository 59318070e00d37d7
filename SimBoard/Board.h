// The simulated board: the machine behind the hardware-access primitives on the host.
//
// Scenario settings go in; every access the firmware makes is answered by a device model and
// recorded in the trace; the serial output, the frames the SPI peripheral received, the Super I/O
// writes and the register state come out.
#pragma once

#include "Devices.h"
#include "RegisterSpace.h"
#include "Scenario.h"
#include "Trace.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// Thrown out of an access when the run has used up its step budget.
class StepBudgetExceeded : public std::runtime_error {
public:
  StepBudgetExceeded() : std::runtime_error("step budget exceeded") {}
};

class Board {
public:
  explicit Board(const Scenario &Settings = {});

  // The primitives' view: widths are in bytes.
  std::uint32_t portRead(std::uint16_t Port, unsigned Width);
  void portWrite(std::uint16_t Port, unsigned Width, std::uint32_t Value);
  std::uint32_t memRead(std::uint64_t Address, unsigned Width);
  void memWrite(std::uint64_t Address, unsigned Width, std::uint32_t Value);
  std::uintptr_t readFlags();
  void disableInterrupts();
  void enableInterrupts();
  void pause();
  std::uint64_t readTimeStampCounter();

  // An annotation line in the trace (calls into firmware services and the like).
  void annotate(std::string Text);

  const std::vector<TraceRecord> &trace() const { return Trace_; }
  const std::string &serialOutput() const { return Uart_.output(); }
  const std::vector<std::uint32_t> &spiFrames() const { return Spi_.framesReceived(); }
  const std::vector<std::pair<std::uint16_t, std::uint8_t>> &superIoWrites() const {
    return SuperIo_.writes();
  }
  const SpiControllerModel &spi() const { return Spi_; }
  RegisterSpace &lpcConfig() { return LpcConfig_; }
  const RegisterSpace &lpcConfig() const { return LpcConfig_; }
  RegisterSpace &pcr() { return Pcr_; }
  const RegisterSpace &pcr() const { return Pcr_; }
  bool interruptsEnabled() const { return Cpu_.interruptsEnabled(); }
  std::uint32_t pciLatch() const { return PciLatch_; }
  std::uint32_t pmTimerCount() const { return PmTimer_.count(); }
  std::uint64_t steps() const { return Steps_; }
  const Scenario &scenario() const { return Settings_; }

private:
  void record(AccessKind Kind, unsigned Width, std::uint64_t Address, std::uint64_t Value);
  std::uint32_t devicePortRead(std::uint16_t Port, unsigned Width);
  void devicePortWrite(std::uint16_t Port, unsigned Width, std::uint32_t Value);
  std::uint32_t deviceMemRead(std::uint64_t Address, unsigned Width);
  void deviceMemWrite(std::uint64_t Address, unsigned Width, std::uint32_t Value);
  bool bridgeSelected() const;
  std::string describePort(std::uint16_t Port) const;

  Scenario Settings_;
  CpuModel Cpu_;
  PmTimerModel PmTimer_;
  SpiControllerModel Spi_;
  UartModel Uart_;
  SuperIoModel SuperIo_;
  RegisterSpace LpcConfig_;
  RegisterSpace Pcr_;
  std::uint32_t PciLatch_ = 0;
  std::vector<TraceRecord> Trace_;
  std::uint64_t Steps_ = 0;
};

// Names of the registers the board knows, for trace comments ("I/O Enables", "SPI status").
std::string BridgeRegisterName(std::uint32_t Offset);
std::string MemoryRegisterName(std::uint64_t Address);

// While a binding lives, the host backend of the primitives talks to its board. One at a time.
class BoardBinding {
public:
  explicit BoardBinding(Board &Target);
  ~BoardBinding();
  BoardBinding(const BoardBinding &) = delete;
  BoardBinding &operator=(const BoardBinding &) = delete;
};

// The board the primitives are bound to; aborts with a message when there is none.
Board &BoundBoard();

struct RunOutcome {
  bool Hung = false;
  std::vector<TraceRecord> LastAccesses; // the final records of a hung run
};

// Runs Body with the primitives bound to Target; a run that exhausts the step budget is stopped
// and reported as hung.
RunOutcome RunOnBoard(Board &Target, const std::function<void()> &Body);

} // namespace sim
