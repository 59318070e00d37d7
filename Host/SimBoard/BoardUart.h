// The board's legacy serial port as the board presents it: a 16550-compatible UART at 0x3F8.
#pragma once

#include <cstdint>

namespace sim::hw::Uart {
inline constexpr std::uint16_t Base = 0x3F8;
inline constexpr std::uint16_t PortCount = 8;        // the eight registers of a 16550
inline constexpr std::uint16_t TransmitOffset = 0;   // write: the byte to send
inline constexpr std::uint16_t LineStatusOffset = 5; // read, 8 bits
inline constexpr std::uint16_t TransmitPort = Base + TransmitOffset;
inline constexpr std::uint16_t LineStatusPort = Base + LineStatusOffset;
} // namespace sim::hw::Uart
