#include "BoardSpi.h"
#include "Devices.h"

namespace sim {

namespace {
using namespace hw::Spi;
constexpr std::uint32_t AllOnes = 0xFFFFFFFF;
} // namespace

SpiControllerModel::SpiControllerModel(const SpiSettings &Settings)
    : Settings_(Settings), Registers_(WindowSize, 0) {
  for (unsigned Byte = 0; Byte < 4; ++Byte) {
    Registers_[Clock + Byte] = static_cast<std::uint8_t>(Settings.Clock >> (8 * Byte));
  }
}

std::uint32_t SpiControllerModel::readConfig(std::uint64_t Offset, unsigned Width) const {
  const std::uint16_t Id =
      Settings_.Presence == SpiPresence::Absent ? AbsentDeviceId : hw::Spi::DeviceId;
  std::uint32_t Value = 0;
  for (unsigned Byte = 0; Byte < Width; ++Byte) {
    const std::uint64_t At = Offset + Byte;
    std::uint32_t ByteValue = 0;
    if (At == DeviceIdOffset || At == DeviceIdOffset + 1) {
      ByteValue = (Id >> (8 * (At - DeviceIdOffset))) & 0xFF;
    }
    Value |= ByteValue << (8 * Byte);
  }
  return Value;
}

std::uint32_t SpiControllerModel::registerValue(std::uint64_t Offset) const {
  std::uint32_t Value = 0;
  for (unsigned Byte = 0; Byte < 4; ++Byte) {
    Value |= std::uint32_t{Registers_[Offset + Byte]} << (8 * Byte);
  }
  return Value;
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
  std::uint32_t Value = 0;
  for (unsigned Byte = 0; Byte < Width; ++Byte) {
    Value |= std::uint32_t{Registers_[Offset + Byte]} << (8 * Byte);
  }
  return Value;
}

void SpiControllerModel::writeRegister(std::uint64_t Offset, unsigned Width, std::uint32_t Value) {
  if (Offset == Data) {
    Frames_.push_back(Value);
    return;
  }
  for (unsigned Byte = 0; Byte < Width; ++Byte) {
    Registers_[Offset + Byte] = static_cast<std::uint8_t>(Value >> (8 * Byte));
  }
}

} // namespace sim
