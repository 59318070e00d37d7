// The SSP-type SPI controller the board's peripheral sits behind, inside the PCH: its register
// window and its configuration-space window (a memory-mapped copy of its PCI header). The
// peripheral takes every word written to the data register as one frame. The scenario chooses
// what the status registers read, so that the firmware's bounded waits can be made to run out.
#pragma once

#include "Device.h"
#include "RegisterSpace.h"
#include "Scenario.h"

#include <vector>

namespace sim {

class SpiControllerModel : public Device {
public:
  // The controller's two regions on the bus, in this order.
  enum Region : unsigned { RegisterWindow = 0, ConfigWindow = 1 };

  explicit SpiControllerModel(const SpiSettings &Settings);

  std::uint32_t read(unsigned Region, std::uint64_t Offset, unsigned Width) override;
  void write(unsigned Region, std::uint64_t Offset, unsigned Width, std::uint32_t Value) override;
  std::string registerName(unsigned Region, std::uint64_t Offset) const override;

  const std::vector<std::uint32_t> &framesReceived() const { return Frames_; }
  std::uint32_t registerValue(std::uint64_t Offset) const;

private:
  std::uint32_t readRegister(std::uint64_t Offset, unsigned Width);

  SpiSettings Settings_;
  RegisterSpace Config_; // the configuration window: zero but for the device ID
  RegisterSpace Registers_;
  std::vector<std::uint32_t> Frames_;
};

} // namespace sim
