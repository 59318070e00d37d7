// Where the bridge sends a decoded I/O cycle: the LPC bus (or the primary eSPI device) or one of
// the eSPI chip selects. Each target has its own I/O Enables register and generic windows.
#pragma once

namespace DecodeTarget {
inline constexpr unsigned Lpc = 0;
inline constexpr unsigned EspiCs1 = 1;
inline constexpr unsigned EspiCs2 = 2;
inline constexpr unsigned EspiCs3 = 3;
inline constexpr unsigned Count = 4;
} // namespace DecodeTarget
