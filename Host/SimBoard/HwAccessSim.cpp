// Host backend of the hardware-access primitives: every call goes to the bound simulated board.
#include "Board.h"
#include "HwAccess.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace sim {
namespace {
Board *Bound = nullptr;
} // namespace

Board &BoundBoard() {
  if (Bound == nullptr) {
    std::fprintf(stderr, "simulated board: hardware accessed with no board bound\n");
    std::abort();
  }
  return *Bound;
}

RunOutcome RunOnBoard(Board &Target, const std::function<void()> &Body) {
  if (Bound != nullptr) {
    std::fprintf(stderr, "simulated board: a board is already bound\n");
    std::abort();
  }
  Bound = &Target;
  // Unbound however Body ends.
  const std::unique_ptr<Board, void (*)(Board *)> Binding(&Target,
                                                          [](Board *) { Bound = nullptr; });
  try {
    Body();
  } catch (const StepBudgetExceeded &) {
    return Outcome(Target, true);
  }
  return Outcome(Target, false);
}

} // namespace sim

using sim::BoundBoard;

std::uint8_t PortRead8(std::uint16_t Port) {
  return static_cast<std::uint8_t>(BoundBoard().portRead(Port, 1));
}
std::uint16_t PortRead16(std::uint16_t Port) {
  return static_cast<std::uint16_t>(BoundBoard().portRead(Port, 2));
}
std::uint32_t PortRead32(std::uint16_t Port) {
  return BoundBoard().portRead(Port, 4);
}
void PortWrite8(std::uint16_t Port, std::uint8_t Value) {
  BoundBoard().portWrite(Port, 1, Value);
}
void PortWrite16(std::uint16_t Port, std::uint16_t Value) {
  BoundBoard().portWrite(Port, 2, Value);
}
void PortWrite32(std::uint16_t Port, std::uint32_t Value) {
  BoundBoard().portWrite(Port, 4, Value);
}
std::uint16_t MmioRead16(PhysicalAddress Address) {
  return static_cast<std::uint16_t>(BoundBoard().memRead(Address, 2));
}
std::uint32_t MmioRead32(PhysicalAddress Address) {
  return BoundBoard().memRead(Address, 4);
}
void MmioWrite16(PhysicalAddress Address, std::uint16_t Value) {
  BoundBoard().memWrite(Address, 2, Value);
}
void MmioWrite32(PhysicalAddress Address, std::uint32_t Value) {
  BoundBoard().memWrite(Address, 4, Value);
}
std::uintptr_t ReadFlags() {
  return BoundBoard().readFlags();
}
void DisableInterrupts() {
  BoundBoard().disableInterrupts();
}
void EnableInterrupts() {
  BoundBoard().enableInterrupts();
}
void CpuPause() {
  BoundBoard().pause();
}
std::uint64_t ReadTimeStampCounter() {
  return BoundBoard().readTimeStampCounter();
}
