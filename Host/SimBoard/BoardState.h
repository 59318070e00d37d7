// Every device of the board at one moment, and what the bus delivered up to it: the board runs on
// one of these, and a run's record keeps a copy from its first access and one from its end. The
// PCI host bridge is the one device kept apart (it forwards to the LPC bridge, so it stays with
// its board); its address latch is copied in.
#pragma once

#include "BoardRegions.h"
#include "LegacyController.h"
#include "LpcBridgeDevice.h"
#include "PcrWindow.h"
#include "PmTimerDevice.h"
#include "Processor.h"
#include "Scenario.h"
#include "SpiController.h"
#include "SuperIoChip.h"
#include "Trace.h"
#include "Uart16550.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// Where the bus delivered the accesses meant for one device behind the LPC bridge.
struct Deliveries {
  std::uint64_t Reached = 0;    // the bridge sent them to the device's target
  std::uint64_t NotDecoded = 0; // no decoder of the bridge held the port
  std::uint64_t Elsewhere = 0;  // the bridge sent them to another target, where nothing answers
  // Writes to the UART's transmit register that reached no UART: bytes nobody received.
  std::uint64_t LostBytes = 0;
};

struct BoardState {
  // The devices as a board of these settings has them before its first access; the presets are
  // the board's to apply.
  explicit BoardState(const Scenario &Settings = {});

  CpuModel Cpu;
  LpcBridgeModel Bridge;
  PcrWindow Pcr;
  PmTimerModel PmTimer;
  SpiControllerModel Spi;
  Uart16550 Uart;
  SuperIoChip SuperIo;
  LegacyController Keyboard;
  LegacyController Ec;
  std::uint32_t PciLatch = 0;
  std::array<Deliveries, DeviceIdCount> Delivered{};
  // Every write to the Super I/O configuration ports, in order, whether or not it reached the
  // chip (SuperIo tells what the chip took).
  std::vector<std::pair<std::uint16_t, std::uint8_t>> SuperIoWrites;
  std::array<std::uint64_t, AccessKindCount> Counts{}; // records of each kind, notes included
  std::uint64_t Accesses = 0;                          // everything but notes

  const std::string &serialOutput() const { return Uart.sent(); }
  const std::vector<std::uint32_t> &spiFrames() const { return Spi.framesReceived(); }
  const Deliveries &deliveries(DeviceId Device) const {
    return Delivered[static_cast<std::size_t>(Device)];
  }
  std::uint64_t count(AccessKind Kind) const { return Counts[static_cast<std::size_t>(Kind)]; }
  const RegisterSpace &lpcConfig() const { return Bridge.config(); }
  const RegisterSpace &pcr() const { return Pcr.registers(); }
  bool interruptsEnabled() const { return Cpu.interruptsEnabled(); }
  // Every bridge register and mirror the board model names (the bridge's table, then the
  // window's), with its value.
  std::vector<std::uint32_t> namedRegisterValues() const;
};

} // namespace sim
