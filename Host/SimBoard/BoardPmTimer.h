// The ACPI power-management timer as the board presents it: a free-running 24-bit counter read
// 32 bits at a time from one port, the upper byte reading zero.
#pragma once

#include <cstdint>

namespace sim::hw::PmTimer {
inline constexpr std::uint16_t Port = 0x1808;
inline constexpr std::uint32_t CountMask = 0x00FFFFFF;
inline constexpr unsigned CountBits = 24;
} // namespace sim::hw::PmTimer
