// The PCH's LPC/eSPI bridge, PCI function 0:31.0: its configuration registers (reached through
// the PCI host bridge) and the routing they set up. Every legacy I/O cycle that no decoder inside
// the PCH claims goes to the bridge, which sends it to the LPC bus or to one eSPI chip select when
// one of its decoders holds the port, and nowhere otherwise.
#pragma once

#include "BoardLpcBridge.h"
#include "RegisterSpace.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// Decode targets: the LPC bus (the primary target) and eSPI chip selects 1-3.
inline constexpr unsigned LpcTarget = 0;
inline constexpr unsigned DecodeTargetCount = 4;

// "LPC", "eSPI CS2".
std::string TargetName(unsigned Target);

// A run of ports one decoder of the bridge claims, and where it sends them.
struct DecodedRange {
  std::uint16_t First = 0, Last = 0;
  unsigned Target = 0; // LpcTarget or an eSPI chip select
  std::string By;      // "COM A decoder", "LPC range 3 window"
  bool Window = false; // a generic window, else a fixed decoder
};

// Every port range the bridge's registers decode: each target's fixed decoders (those its I/O
// Enables turns on, with the bases I/O Decode Ranges selects), then every generic window; in port
// order, a port's claims in target order.
std::vector<DecodedRange> DecodedRanges(const RegisterSpace &Config);

// The ports an enabled Generic I/O Range register holds, as one span from the base with the
// masked address bits clear to the base with them set; nothing when it is off.
std::optional<hw::LpcBridge::PortSpan> WindowPorts(std::uint32_t Value);

// "LPC range 1"-"LPC range 4", "eSPI CS1"-"eSPI CS3": slot Slot of bank Bank.
std::string SlotName(unsigned Bank, unsigned Slot);

// Where the bridge sends one I/O cycle.
struct Route {
  bool Decoded = false;
  unsigned Target = 0; // when decoded
  std::string By;      // the decoder that took the cycle
};

// The range whose decoder takes a cycle to Port, or nullptr. When several decoders hold the port
// the bridge chooses a fixed decoder before a generic window (the fixed decoders compare first),
// and among decoders of one kind the lowest target (the primary target before the chip selects).
const DecodedRange *ChosenRange(const std::vector<DecodedRange> &Ranges, std::uint16_t Port);

class LpcBridgeModel {
public:
  LpcBridgeModel() : Config_(hw::LpcBridge::ConfigSize) {}

  RegisterSpace &config() { return Config_; }
  const RegisterSpace &config() const { return Config_; }
  // Where a cycle to Port goes now. The decoded ranges are worked out again only when a decode
  // register changed since the last cycle: a driver run sends over a hundred cycles to the UART.
  Route route(std::uint16_t Port) const;
  // Only the target a cycle to Port goes to (nothing when it is not decoded): the bus's question
  // on every cycle, answered without naming the decoder.
  std::optional<unsigned> targetOf(std::uint16_t Port) const;
  // The trace's name of the configuration register at Offset; empty when it has none.
  static std::string registerName(std::uint64_t Offset);

private:
  // The decode registers: I/O Decode Ranges, the four I/O Enables, the seven windows.
  static constexpr std::size_t DecodeRegisterCount = 12;
  using DecodeRegisters = std::array<std::uint32_t, DecodeRegisterCount>;
  DecodeRegisters decodeRegisters() const;
  // The ranges for the registers as they are now.
  const std::vector<DecodedRange> &ranges() const;

  RegisterSpace Config_;
  mutable bool CacheValid_ = false;
  mutable DecodeRegisters CachedFor_{};
  mutable std::vector<DecodedRange> Cached_;
};

} // namespace sim
