// What the image fuzz targets share: the image they run (chosen on the command line or in
// the environment), the host build beside it, and the checks of every input.
//
//   --image=FILE  or  BOARD_FUZZ_IMAGE=FILE   the image to run (default: the firmware build's)
//   --map=FILE    or  BOARD_FUZZ_MAP=FILE     its linker map (default: beside the image)
// ImageLibraryFuzz runs both modules' images, the early-init module's script runner and delays in
// the one and the driver's delays in the other, so it names each instead (each map beside its
// image; --image and --map are refused):
//   --pei-image=FILE  or  BOARD_FUZZ_PEI_IMAGE=FILE   BoardInitPei.efi (default: the firmware
//                                                     build's)
//   --dxe-image=FILE  or  BOARD_FUZZ_DXE_IMAGE=FILE   BoardInitDxe.efi (default: likewise)
// Every target:
//   --write-seeds=DIR                         writes the seeds (the comparison cases as inputs,
//                                             one file a distinct input) into DIR and exits;
//                                             status 1 when DIR holds files that are no seed,
//                                             5 when a seed cannot be written
// libFuzzer leaves flags that start with "--" to the target, which parses them with the tools'
// command-line layer: an unknown one, or one without its value, is refused (status 2).
#pragma once

#include "FuzzInput.h"

#include <cstddef>
#include <cstdint>

namespace imagefuzz {

// Reads the options, loads the image (exits with a message when it cannot) and writes the seeds
// when asked.
void Initialize(fuzzruns::Target For, int *Argc, char ***Argv);

// Runs one input through the host build and the image; a finding is printed and aborts.
int TestOneInput(fuzzruns::Target For, const std::uint8_t *Data, std::size_t Size);

} // namespace imagefuzz
