// The board's 16550-compatible UART at 0x3F8, behind the LPC bridge: what is written to the
// transmit holding register goes out on the serial line; the line status register reads the
// scenario's constant (0x60 by default: holding register and transmitter empty).
#pragma once

#include "BoardUart.h"
#include "Device.h"

#include <string>

namespace sim {

class Uart16550 : public Device {
public:
  explicit Uart16550(std::uint8_t LineStatus) : LineStatus_(LineStatus) {}

  std::uint32_t read(unsigned, std::uint64_t Offset, unsigned Width) override {
    if (Offset == hw::Uart::LineStatusOffset && Width == 1) {
      return LineStatus_;
    }
    return FloatingValue(Width);
  }
  void write(unsigned, std::uint64_t Offset, unsigned Width, std::uint32_t Value) override {
    if (Offset == hw::Uart::TransmitOffset && Width == 1) {
      Line_.push_back(static_cast<char>(Value));
    }
  }
  std::string registerName(unsigned, std::uint64_t Offset) const override {
    if (Offset == hw::Uart::TransmitOffset) {
      return "UART transmit";
    }
    return Offset == hw::Uart::LineStatusOffset ? "UART line status" : "";
  }

  // Every byte the UART sent on its serial line: what a console on it receives.
  const std::string &sent() const { return Line_; }

private:
  std::uint8_t LineStatus_;
  std::string Line_;
};

} // namespace sim
