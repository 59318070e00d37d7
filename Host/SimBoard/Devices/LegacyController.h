// An idle legacy controller behind the LPC bridge with a data port and a status/command port: the
// keyboard controller (0x60/0x64) and the embedded controller (0x62/0x66). Nothing on this board's
// firmware talks to them; they answer as idle controllers do and keep count of what they were
// sent, so that a run that reaches them shows it.
#pragma once

#include "Device.h"

#include <string>

namespace sim {

class LegacyController : public Device {
public:
  // The controller's two regions on the bus, in this order.
  enum Region : unsigned { DataPort = 0, StatusPort = 1 };

  LegacyController(const char *Name, std::uint8_t IdleStatus)
      : Name_(Name), IdleStatus_(IdleStatus) {}

  std::uint32_t read(unsigned Region, std::uint64_t, unsigned Width) override {
    if (Width != 1) {
      return FloatingValue(Width);
    }
    return Region == StatusPort ? IdleStatus_ : 0;
  }
  void write(unsigned, std::uint64_t, unsigned, std::uint32_t) override { ++Writes_; }
  std::string registerName(unsigned Region, std::uint64_t) const override {
    return std::string(Name_) + (Region == StatusPort ? " status" : " data");
  }

  std::uint64_t writes() const { return Writes_; }

private:
  const char *Name_;
  std::uint8_t IdleStatus_;
  std::uint64_t Writes_ = 0;
};

} // namespace sim
