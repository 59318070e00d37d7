#include "SuperIoChip.h"

#include <iterator>

namespace sim {
namespace {

namespace SuperIo = hw::SuperIo;

constexpr std::uint64_t IndexOffset = SuperIo::IndexPort - SuperIo::IndexPort;
constexpr std::uint64_t DataOffset = SuperIo::DataPort - SuperIo::IndexPort;

} // namespace

const char *SuperIoRegisterName(std::uint8_t Register) {
  switch (Register) {
  case SuperIo::ConfigControl:
    return "configuration control";
  case SuperIo::LogicalDeviceSelect:
    return "logical device select";
  case SuperIo::Activate:
    return "activate";
  case SuperIo::IoBaseHigh:
    return "I/O base, high byte";
  case SuperIo::IoBaseLow:
    return "I/O base, low byte";
  case SuperIo::InterruptSelect:
    return "interrupt select";
  case SuperIo::SecondInterruptSelect:
    return "second interrupt select";
  case SuperIo::DmaSelect:
    return "DMA channel select";
  case SuperIo::DeviceSpecific76:
  case SuperIo::DeviceSpecific77:
    return "device-specific";
  default:
    return "";
  }
}

std::uint32_t SuperIoChip::read(unsigned, std::uint64_t Offset, unsigned Width) {
  if (!ConfigMode_ || Width != 1) {
    return FloatingValue(Width);
  }
  if (Offset == IndexOffset) {
    return Index_;
  }
  // A register never written reads 0.
  const Registers *Space = &Global_;
  if (Index_ >= SuperIo::FirstDeviceRegister) {
    const auto Device = Devices_.find(Selected_);
    if (Device == Devices_.end()) {
      return 0;
    }
    Space = &Device->second;
  }
  const auto Found = Space->find(Index_);
  return Found == Space->end() ? 0 : Found->second;
}

void SuperIoChip::keyByte(std::uint8_t Value) {
  if (Value == SuperIo::EnterKey[KeyProgress_]) {
    ++KeyProgress_;
  } else {
    ++Ignored_;
    KeyProgress_ = Value == SuperIo::EnterKey[0] ? 1 : 0;
  }
  if (KeyProgress_ == std::size(SuperIo::EnterKey)) {
    KeyProgress_ = 0;
    ConfigMode_ = true;
    ++Entries_;
  }
}

void SuperIoChip::registerWrite(std::uint8_t Value) {
  if (Index_ == SuperIo::LogicalDeviceSelect) {
    Selected_ = Value;
    Global_[Index_] = Value;
    return;
  }
  if (Index_ == SuperIo::ConfigControl && (Value & SuperIo::LeaveConfigMode) != 0) {
    ConfigMode_ = false;
    ++Exits_;
    return;
  }
  if (Index_ < SuperIo::FirstDeviceRegister) {
    Global_[Index_] = Value;
  } else {
    Devices_[Selected_][Index_] = Value;
  }
}

void SuperIoChip::write(unsigned, std::uint64_t Offset, unsigned Width, std::uint32_t Value) {
  const auto Byte = static_cast<std::uint8_t>(Value);
  if (Width != 1) {
    ++Ignored_;
  } else if (!ConfigMode_) {
    if (Offset == IndexOffset) {
      keyByte(Byte);
    } else {
      ++Ignored_;
    }
  } else if (Offset == IndexOffset) {
    Index_ = Byte;
  } else {
    registerWrite(Byte);
  }
}

std::string SuperIoChip::registerName(unsigned, std::uint64_t Offset) const {
  return Offset == IndexOffset ? "Super I/O index" : Offset == DataOffset ? "Super I/O data" : "";
}

} // namespace sim
