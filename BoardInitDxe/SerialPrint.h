// Debug text on the board's serial port, by polling: no firmware console service is involved.
#pragma once

#include <cstdint>

// Room for one formatted message, terminating NUL included: at most 263 characters reach the
// port; anything longer is cut there.
inline constexpr std::uint64_t SerialPrintBufferSize = 264;

// Formats one message and sends it, each line feed as carriage return plus line feed.
void SerialPrint(const char *Format, ...);
