// The board's legacy serial port: a 16550-compatible UART at I/O base 0x3F8, set up by the
// platform before this driver runs. Only the transmit path is used.
#pragma once

#include "Register.h"

#include <cstdint>

namespace Uart16550 {
inline constexpr std::uint16_t Base = 0x03F8;

// Byte-wide registers at offsets from the base port.
namespace Reg {
inline constexpr Register8 TransmitHolding{0}; // write: next byte to send
inline constexpr Register8 LineStatus{5};      // read: transmitter and receiver state
} // namespace Reg

inline constexpr std::uint16_t TransmitHoldingPort = Base + Reg::TransmitHolding.Offset;
inline constexpr std::uint16_t LineStatusPort = Base + Reg::LineStatus.Offset;

namespace LineStatus {
// Set while the holding register can take another byte.
inline constexpr std::uint8_t TransmitHoldingEmpty = BitMask(5);
} // namespace LineStatus
} // namespace Uart16550

namespace Ascii {
inline constexpr char LineFeed = 0x0A;
inline constexpr char CarriageReturn = 0x0D;
} // namespace Ascii
