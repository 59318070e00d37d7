#include "SpiController.h"

#include "BoardSpi.h"

#include <algorithm>

namespace sim {

namespace {
using namespace hw::Spi;
} // namespace

SpiControllerModel::SpiControllerModel(const SpiSettings &Settings)
    : Settings_(Settings), Config_(WindowSize), Registers_(WindowSize) {
  Config_.write(DeviceIdOffset, 2,
                Settings.Presence == SpiPresence::Absent ? AbsentDeviceId : hw::Spi::DeviceId);
  Registers_.write(Clock, 4, Settings.Clock);
}

std::uint32_t SpiControllerModel::registerValue(std::uint64_t Offset) const {
  return Registers_.read32(Offset);
}

std::uint32_t SpiControllerModel::read(unsigned Region, std::uint64_t Offset, unsigned Width) {
  return Region == ConfigWindow ? Config_.read(Offset, Width) : readRegister(Offset, Width);
}

std::uint32_t SpiControllerModel::readRegister(std::uint64_t Offset, unsigned Width) {
  const std::uint32_t WidthMask = FloatingValue(Width);
  switch (Offset) {
  case Control0:
    if (Settings_.Presence == SpiPresence::Dead) {
      return WidthMask;
    }
    break;
  case Status:
    return Settings_.Status & WidthMask;
  case Reg0C:
    return Settings_.Reg0C & WidthMask;
  case Reg48:
    return Settings_.Drain & WidthMask;
  case Data:
    return 0;
  default:
    break;
  }
  return Registers_.read(Offset, Width);
}

void SpiControllerModel::write(unsigned Region, std::uint64_t Offset, unsigned Width,
                               std::uint32_t Value) {
  if (Region == ConfigWindow) {
    return; // the configuration copy is read-only
  }
  if (Offset == Data) {
    Frames_.push_back(Value);
  } else {
    Registers_.write(Offset, Width, Value);
  }
}

std::string SpiControllerModel::registerName(unsigned Region, std::uint64_t Offset) const {
  if (Region == ConfigWindow) {
    return Offset == DeviceIdOffset ? "SPI device ID" : "";
  }
  const auto Found =
      std::find_if(Registers.begin(), Registers.end(),
                   [&](const hw::NamedRegister &Each) { return Each.Offset == Offset; });
  return Found == Registers.end() ? "" : Found->Name;
}

} // namespace sim
