// A device on the simulated board's bus: it owns the state behind its regions and answers the
// accesses the bus routes to it. A device with several regions (the PCI host bridge has its ports
// and its memory window) is told which one an access came through. Devices never record traces and
// never see an access the bus did not deliver.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

enum class AddressSpace { Io, Memory };

// What a read answers when nothing drives the data lines: all ones, at the access's width.
constexpr std::uint32_t FloatingValue(unsigned Width) {
  return Width >= 4 ? 0xFFFFFFFFu : (std::uint32_t{1} << (8 * Width)) - 1;
}

class Device {
public:
  virtual ~Device() = default;

  // Region is the index of the device's region, in the order the board's region table lists
  // them for this device; Offset is from that region's base.
  virtual std::uint32_t read(unsigned Region, std::uint64_t Offset, unsigned Width) = 0;
  virtual void write(unsigned Region, std::uint64_t Offset, unsigned Width,
                     std::uint32_t Value) = 0;
  // The trace's name of the register at Offset ("UART line status"); empty when it has none.
  virtual std::string registerName(unsigned Region, std::uint64_t Offset) const {
    (void)Region;
    (void)Offset;
    return "";
  }
};

} // namespace sim
