// Runs the driver as it ships (BoardInitDxe.efi, loaded away from its preferred base and executed
// under CPU emulation) on the simulated board, in place of the host build: the same board, the
// same firmware stand-in with the scenario's settings, the same trace record for record, the same
// results and module facts. What only the image can tell comes besides (ImageFacts).
#pragma once

#include "Board.h"
#include "DxeImage.h"
#include "DxeRun.h"
#include "ImageFacts.h"

namespace imagerun {

struct DxeImageRun {
  sim::DxeRunResult Run; // as sim::RunDxe gives it; EntryStatus is 0 after a breach
  ImageFacts Image;
};

// The driver's entry, called as the DXE dispatcher calls it: an image handle token and the
// stand-in's system table; the module facts are read out of the image's gDxeModuleData.
DxeImageRun RunDxeImage(const DxeImage &Image, sim::Board &Target);

} // namespace imagerun
