// The PEI part of the run: place BoardInitPei.efi as a firmware-volume tool places an
// execute-in-place module, call it as the PEI core does, and read back what it programmed.
#pragma once

#include <cstdint>

// Returns whether every check passed; ends the run when the module cannot be loaded.
bool RunPeiPhase(std::uint32_t File, std::uint32_t FileSize, std::uint32_t FreeStart,
                 std::uint32_t FreeEnd);
