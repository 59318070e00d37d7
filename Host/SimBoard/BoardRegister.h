// How the board model names its registers: where each one is in its device's space, how wide it
// is, and what the trace calls it. Widths are data, read by every host tool that needs them.
#pragma once

#include <cstdint>

namespace sim::hw {

struct NamedRegister {
  std::uint32_t Offset;
  unsigned Width; // bytes
  const char *Name;
};

} // namespace sim::hw
