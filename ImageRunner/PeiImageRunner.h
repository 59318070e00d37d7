// Runs the early-init module as it ships (BoardInitPei.efi, executed in place under CPU
// emulation) on the simulated board, in place of the host build: the same board, the same
// scenario settings, the same trace record for record, the same results. What only the image can
// tell comes besides: its stack use, the instructions it executed, and the rules it broke.
#pragma once

#include "Board.h"
#include "PeiImage.h"
#include "PeiRun.h"

#include <cstdint>
#include <optional>
#include <span>
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
  // Set when the module broke a rule: it wrote into its own image (flash), used a PEI service, or
  // faulted (invalid opcode, divide error, a fetch or access outside anything mapped). One line;
  // the run stopped there, and the board holds everything before it.
  std::optional<std::string> Breach;
};

struct PeiImageRun {
  sim::PeiRunResult Run; // as sim::RunPei gives it; EntryStatus is 0 after a breach
  ImageFacts Image;
};

struct RequestsImageRun {
  sim::RequestsRunResult Run; // as sim::RunDecodeRequests and sim::RunWindowRequests give it
  ImageFacts Image;
};

// The module's entry, called as the PEI core calls it: a file handle token and a pointer to a
// PEI services table whose every service traps.
PeiImageRun RunPeiImage(const PeiImage &Image, sim::Board &Target);
// Each request in order, calling the image's own SetIoDecode or SetGenericIoRange.
RequestsImageRun RunDecodeRequestsInImage(const PeiImage &Image, sim::Board &Target,
                                          std::span<const DecodeRequestRow> Requests);
RequestsImageRun RunWindowRequestsInImage(const PeiImage &Image, sim::Board &Target,
                                          std::span<const sim::WindowRequest> Requests);

} // namespace imagerun
