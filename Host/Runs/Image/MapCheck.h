// Whether the linker map beside an image is the map of that image's link. A map kept from an
// earlier build places functions where the image has other code: a run would call into the middle
// of an instruction and blame the firmware for a fault that is the input's. Checked before
// anything runs.
#pragma once

#include "LinkerMap.h"
#include "Modules.h"
#include "PeFile.h"

#include <string>

namespace imagerun {

// Throws ImageRejected naming both files when the map's section table or its functions do not
// fit the image: a piece of a section the image lacks or that runs past it, a function whose
// address is not where its section and offset put it, an entry point other than the module's
// entry, or a function the runs call that does not start where the code before it ends.
void CheckMapBelongs(const std::string &Path, const std::string &MapPath, const pe::Image &File,
                     const formats::LinkerMap &Map, const modules::Module &Module);

} // namespace imagerun
