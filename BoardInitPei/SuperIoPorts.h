// The board's Super I/O chip: configuration ports and the registers its start-up script uses.
#pragma once

#include <cstdint>

namespace SuperIo {

inline constexpr std::uint16_t IndexPort = 0x2E;
inline constexpr std::uint16_t DataPort = 0x2F;

// Written to the index port in this order, the chip switches its ports to configuration mode.
inline constexpr std::uint8_t EnterKey[] = {0x87, 0x01, 0x55, 0x55};

namespace Reg {
inline constexpr std::uint8_t ConfigControl = 0x02;
inline constexpr std::uint8_t LogicalDeviceSelect = 0x07;
inline constexpr std::uint8_t Activate = 0x30;
inline constexpr std::uint8_t IoBaseLow = 0x61;
inline constexpr std::uint8_t InterruptSelect = 0x70;
inline constexpr std::uint8_t SecondInterruptSelect = 0x72;
inline constexpr std::uint8_t DmaSelect = 0x74;
inline constexpr std::uint8_t DeviceSpecific76 = 0x76;
inline constexpr std::uint8_t DeviceSpecific77 = 0x77;
} // namespace Reg

namespace ConfigControl {
inline constexpr std::uint8_t LeaveConfigMode = 0x02;
} // namespace ConfigControl

namespace Activate {
inline constexpr std::uint8_t On = 0x01;
} // namespace Activate

} // namespace SuperIo
