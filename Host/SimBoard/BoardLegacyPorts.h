// The board's keyboard controller and embedded controller as the board presents them: each a
// data port and a status/command port behind the LPC bridge.
#pragma once

#include <cstdint>

namespace sim::hw::Legacy {
inline constexpr std::uint16_t KeyboardData = 0x60;
inline constexpr std::uint16_t KeyboardStatus = 0x64;
inline constexpr std::uint16_t EcData = 0x62;
inline constexpr std::uint16_t EcStatus = 0x66;
// Status with both buffers empty, as an idle controller reads; the keyboard controller's
// self-test passed (system flag, bit 2).
inline constexpr std::uint8_t KeyboardIdleStatus = 0x04;
inline constexpr std::uint8_t EcIdleStatus = 0x00;
} // namespace sim::hw::Legacy
