// The debug information linked beside an image: NAME.debug next to NAME.efi, from the same
// compilation. When it is there, a run's notes of where each access was made give source lines.
#pragma once

#include "DebugInfo.h"

#include <cstdint>
#include <memory>
#include <string>

namespace imagerun {

// "build/BoardInitPei.debug" for "build/BoardInitPei.efi".
std::string DebugPathFor(const std::string &ImagePath);

// The debug file beside the image at ImagePath; nullptr when there is none. ImageRejected when one
// is there but cannot be read, or belongs to another link: its line for the entry, linked at
// LinkedEntry, is not in EntryName.
std::shared_ptr<const formats::DebugInfo>
ReadImageDebug(const std::string &ImagePath, std::uint64_t LinkedEntry, const char *EntryName);

} // namespace imagerun
