// The PCH's private-configuration window for the DMI port: plain registers, among them the
// mirrors of the bridge's decode registers that the DMI side keeps. Not behind the LPC decode.
#pragma once

#include "BoardPcr.h"
#include "Device.h"
#include "RegisterSpace.h"

#include <algorithm>

namespace sim {

class PcrWindow : public Device {
public:
  PcrWindow() : Registers_(hw::Pcr::Size) {}

  std::uint32_t read(unsigned, std::uint64_t Offset, unsigned Width) override {
    return Registers_.read(Offset, Width);
  }
  void write(unsigned, std::uint64_t Offset, unsigned Width, std::uint32_t Value) override {
    Registers_.write(Offset, Width, Value);
  }
  std::string registerName(unsigned, std::uint64_t Offset) const override {
    const auto Found =
        std::find_if(hw::Pcr::Registers.begin(), hw::Pcr::Registers.end(),
                     [&](const hw::NamedRegister &Each) { return Each.Offset == Offset; });
    return Found == hw::Pcr::Registers.end() ? "" : Found->Name;
  }

  RegisterSpace &registers() { return Registers_; }
  const RegisterSpace &registers() const { return Registers_; }

private:
  RegisterSpace Registers_;
};

} // namespace sim
