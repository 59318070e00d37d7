// Runs the early-init module as it ships (BoardInitPei.efi, executed in place under CPU
// emulation) on the simulated board, in place of the host build: the same board, the same
// scenario settings, the same trace record for record, the same results. What only the image can
// tell comes besides: its stack use, the instructions it executed, and the rules it broke.
#pragma once

#include "Board.h"
#include "ImageFacts.h"
#include "PeiImage.h"
#include "PeiRun.h"

#include <span>

namespace imagerun {

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
