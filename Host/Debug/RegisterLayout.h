// The registers gdb sees, in the order and widths of the target description the server sends:
// gdb's register numbers are the positions in this list. gdb's i386 and amd64 support checks
// the names of the core feature (general, segment and x87 registers) and of the SSE feature, so
// both are described in full; the ones a target does not answer read as zero.
#pragma once

#include "Target.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace gdbremote {

enum class Feature { Core, Sse };

struct RegisterSlot {
  std::string_view Name;
  unsigned Bits;
  std::string_view Type;  // a type gdb knows or one the description defines
  std::string_view Group; // empty: gdb's default group
  Feature In;
  std::optional<RegisterId> Source; // nothing: not kept by the target, reads as zero
  std::size_t bytes() const { return Bits / 8; }
};

std::span<const RegisterSlot> registerLayout(Architecture Arch);

} // namespace gdbremote
