// The board's Super I/O chip as the board presents it: its configuration ports (strapped to
// 0x2E/0x2F on this board), the key that puts it in configuration mode, its configuration
// registers and the names the summary gives them.
#pragma once

#include <cstdint>

namespace sim::hw::SuperIo {
inline constexpr std::uint16_t IndexPort = 0x2E;
inline constexpr std::uint16_t DataPort = 0x2F;
inline constexpr std::uint16_t PortCount = 2;
inline constexpr std::uint8_t EnterKey[] = {0x87, 0x01, 0x55, 0x55};
// What either port reads while the chip is not in configuration mode: it does not drive the bus.
inline constexpr std::uint8_t ReadValue = 0xFF;

// Registers below 0x30 are the chip's own (global); from 0x30 up each logical device has its own.
inline constexpr std::uint8_t ConfigControl = 0x02;
inline constexpr std::uint8_t LeaveConfigMode = 0x02; // the bit, written to configuration control
inline constexpr std::uint8_t LogicalDeviceSelect = 0x07;
inline constexpr std::uint8_t FirstDeviceRegister = 0x30;
inline constexpr std::uint8_t Activate = 0x30;
inline constexpr std::uint8_t ActivateOn = 0x01;
inline constexpr std::uint8_t IoBaseHigh = 0x60;
inline constexpr std::uint8_t IoBaseLow = 0x61;
inline constexpr std::uint8_t InterruptSelect = 0x70;
inline constexpr std::uint8_t SecondInterruptSelect = 0x72;
inline constexpr std::uint8_t DmaSelect = 0x74;
inline constexpr std::uint8_t DeviceSpecific76 = 0x76;
inline constexpr std::uint8_t DeviceSpecific77 = 0x77;
} // namespace sim::hw::SuperIo
