// The board's Super I/O chip as the board presents it: an index port and a data port, the key
// that puts it in configuration mode, and the names of the registers the summary shows.
#pragma once

#include <cstdint>

namespace sim::hw::SuperIo {
inline constexpr std::uint16_t IndexPort = 0x2E;
inline constexpr std::uint16_t DataPort = 0x2F;
inline constexpr std::uint8_t EnterKey[] = {0x87, 0x01, 0x55, 0x55};
// Every read of either port answers this.
inline constexpr std::uint8_t ReadValue = 0xFF;

inline constexpr std::uint8_t ConfigControl = 0x02;
inline constexpr std::uint8_t LeaveConfigMode = 0x02; // written to configuration control
inline constexpr std::uint8_t LogicalDeviceSelect = 0x07;
inline constexpr std::uint8_t Activate = 0x30;
inline constexpr std::uint8_t ActivateOn = 0x01;
inline constexpr std::uint8_t IoBaseLow = 0x61;
inline constexpr std::uint8_t InterruptSelect = 0x70;
inline constexpr std::uint8_t SecondInterruptSelect = 0x72;
inline constexpr std::uint8_t DmaSelect = 0x74;
inline constexpr std::uint8_t DeviceSpecific76 = 0x76;
inline constexpr std::uint8_t DeviceSpecific77 = 0x77;
} // namespace sim::hw::SuperIo
