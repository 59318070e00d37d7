#include "BoardSpi.h"
#include "Devices.h"

namespace sim {

namespace {
using namespace hw::Spi;
constexpr std::uint32_t AllOnes = 0xFFFFFFFF;
} // namespace

SpiControllerModel::SpiControllerModel(const SpiSettings &Settings)
    : Settings_(Settings), Config_(WindowSize), Registers_(WindowSize) {
  Config_.write(DeviceIdOffset, 2,
                Settings.Presence == SpiPresence::Absent ? AbsentDeviceId : hw::Spi::DeviceId);
  Registers_.write(Clock, 4, Settings.Clock);
}

std::uint32_t SpiControllerModel::readConfig(std::uint64_t Offset, unsigned Width) const {
  return Config_.read(Offset, Width);
}

std::uint32_t SpiControllerModel::registerValue(std::uint64_t Offset) const {
  return Registers_.read32(Offset);
}

std::uint32_t SpiControllerModel::readRegister(std::uint64_t Offset, unsigned Width) {
  const std::uint32_t WidthMask = Width == 4 ? AllOnes : (std::uint32_t{1} << (8 * Width)) - 1;
  switch (Offset) {
  case Control0:
    if (Settings_.Presence == SpiPresence::Dead) {
      return AllOnes & WidthMask;
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

void SpiControllerModel::writeRegister(std::uint64_t Offset, unsigned Width, std::uint32_t Value) {
  if (Offset == Data) {
    Frames_.push_back(Value);
  } else {
    Registers_.write(Offset, Width, Value);
  }
}

} // namespace sim
