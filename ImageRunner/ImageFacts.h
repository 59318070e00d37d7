// What only a run of a shipped image can tell, besides the host build's results: its stack use,
// the instructions it executed, and the rules it broke.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace imagerun {

// A spin that makes no access at all never meets the board's step budget; this many instructions
// in a row without an access count as hung.
inline constexpr std::uint64_t InstructionsWithoutAccess = 1000000;

struct ImageFacts {
  // Bytes of stack the module wrote below its caller's stack pointer, return address included
  // (the stack is painted before the run); the largest of all the calls of a run.
  std::uint32_t StackHighWater = 0;
  std::string StackDeepestIn; // the function running when the stack pointer was lowest
  std::uint64_t Instructions = 0;
  // Hung because InstructionsWithoutAccess instructions went by without an access, rather than
  // by the board's step budget.
  bool SpunWithoutAccess = false;
  // Set when the module broke a rule: it wrote into its own flash, used a firmware service it may
  // not use, or faulted (invalid opcode, divide error, a fetch or access outside anything
  // mapped). One line; the run stopped there, and the board holds everything before it.
  std::optional<std::string> Breach;
};

} // namespace imagerun
