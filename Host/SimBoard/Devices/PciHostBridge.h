// The PCI host bridge: configuration cycles through the address latch at 0xCF8 and the data
// ports at 0xCFC-0xCFF, and through the enhanced configuration window. Of the functions behind
// it, the board models the LPC/eSPI bridge (0:31.0); every other function reads all ones and
// takes no writes, as an empty slot does.
#pragma once

#include "Device.h"
#include "LpcBridgeDevice.h"

namespace sim {

class PciHostBridge : public Device {
public:
  // The host bridge's regions on the bus, in this order.
  enum Region : unsigned { AddressPort = 0, DataPorts = 1, ConfigWindow = 2 };

  explicit PciHostBridge(LpcBridgeModel &Lpc) : Lpc_(Lpc) {}

  std::uint32_t read(unsigned Region, std::uint64_t Offset, unsigned Width) override;
  void write(unsigned Region, std::uint64_t Offset, unsigned Width, std::uint32_t Value) override;
  std::string registerName(unsigned Region, std::uint64_t Offset) const override;

  std::uint32_t latch() const { return Latch_; }
  void reset() { Latch_ = 0; }

private:
  // The LPC bridge's configuration offset a data-port access reaches, or nothing when the latch
  // does not select the bridge with its enable bit set.
  std::optional<std::uint64_t> latchedOffset(std::uint64_t PortOffset) const;
  // The LPC bridge's configuration offset a data-port or window access reaches, if any.
  std::optional<std::uint64_t> bridgeOffset(unsigned Region, std::uint64_t Offset,
                                            unsigned Width) const;
  // The LPC bridge's configuration offset of an access in the configuration window.
  static std::optional<std::uint64_t> windowOffset(std::uint64_t Offset, unsigned Width);

  LpcBridgeModel &Lpc_;
  std::uint32_t Latch_ = 0;
};

} // namespace sim
