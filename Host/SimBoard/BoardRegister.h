// How the board model names its registers: where each one is in its device's space, how wide it
// is, and what the trace calls it. Widths are data, read by every host tool that needs them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace sim::hw {

struct NamedRegister {
  std::uint32_t Offset;
  unsigned Width; // bytes
  const char *Name;
};

// The register at Offset, or nullptr.
inline const NamedRegister *FindRegister(std::span<const NamedRegister> Table,
                                         std::uint64_t Offset) {
  for (const NamedRegister &Each : Table) {
    if (Each.Offset == Offset) {
      return &Each;
    }
  }
  return nullptr;
}

} // namespace sim::hw
