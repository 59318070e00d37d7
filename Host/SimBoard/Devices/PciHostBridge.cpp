#include "PciHostBridge.h"

#include "BoardPci.h"

namespace sim {
namespace {

namespace Bridge = hw::LpcBridge;

// Only a whole 32-bit access reaches the address latch.
constexpr unsigned LatchWidth = 4;

} // namespace

std::optional<std::uint64_t> PciHostBridge::latchedOffset(std::uint64_t PortOffset) const {
  const bool Selected = (Latch_ & hw::Pci::LatchEnable) != 0 &&
                        (Latch_ & hw::Pci::LatchFunctionMask) == Bridge::LatchFunction;
  if (!Selected) {
    return std::nullopt;
  }
  return (Latch_ & hw::Pci::LatchRegisterMask) + PortOffset;
}

std::optional<std::uint64_t> PciHostBridge::windowOffset(std::uint64_t Offset, unsigned Width) {
  if (Offset < Bridge::EcamOffset || Offset + Width > Bridge::EcamOffset + Bridge::ConfigSize) {
    return std::nullopt;
  }
  return Offset - Bridge::EcamOffset;
}

std::optional<std::uint64_t> PciHostBridge::bridgeOffset(unsigned Region, std::uint64_t Offset,
                                                         unsigned Width) const {
  return Region == DataPorts ? latchedOffset(Offset) : windowOffset(Offset, Width);
}

std::uint32_t PciHostBridge::read(unsigned Region, std::uint64_t Offset, unsigned Width) {
  if (Region == AddressPort) {
    return Offset == 0 && Width == LatchWidth ? Latch_ : FloatingValue(Width);
  }
  const std::optional<std::uint64_t> Register = bridgeOffset(Region, Offset, Width);
  return Register ? Lpc_.config().read(*Register, Width) : FloatingValue(Width);
}

void PciHostBridge::write(unsigned Region, std::uint64_t Offset, unsigned Width,
                          std::uint32_t Value) {
  if (Region == AddressPort) {
    if (Offset == 0 && Width == LatchWidth) {
      Latch_ = Value;
    }
    return;
  }
  if (const std::optional<std::uint64_t> Register = bridgeOffset(Region, Offset, Width)) {
    Lpc_.config().write(*Register, Width, Value);
  }
}

std::string PciHostBridge::registerName(unsigned Region, std::uint64_t Offset) const {
  switch (Region) {
  case AddressPort:
    return Offset == 0 ? "PCI address" : "";
  case DataPorts: {
    const std::optional<std::uint64_t> Register = latchedOffset(Offset);
    const std::string Name = Register ? LpcBridgeModel::registerName(*Register) : "";
    return Name.empty() ? "PCI data" : Name;
  }
  default: {
    const std::optional<std::uint64_t> Register = windowOffset(Offset, 1);
    if (!Register) {
      return "";
    }
    const std::string Name = LpcBridgeModel::registerName(*Register);
    return Name.empty() ? "bridge configuration (ECAM)" : Name + " (ECAM)";
  }
  }
}

} // namespace sim
