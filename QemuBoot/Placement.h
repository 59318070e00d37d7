// Where the boot program puts the module images: fixed addresses, so that every run relocates
// by the same amount, above the area the multiboot loader fills with the modules themselves.
#pragma once

#include "Console.h"

#include <cstdint>

namespace ImagePlacement {
inline constexpr std::uint64_t BoardInitPei = 0x01000000;
inline constexpr std::uint64_t BoardInitDxe = 0x01800000;
// Used instead when BoardInitDxe.efi prefers the usual address: it must be moved to prove its
// relocations.
inline constexpr std::uint64_t BoardInitDxeAlternative = 0x01C00000;
} // namespace ImagePlacement

inline void CheckPlacement(const char *Subject, std::uint64_t Address, std::uint32_t Size,
                           std::uint64_t FreeStart, std::uint64_t FreeEnd) {
  if (Address < FreeStart || Address > FreeEnd || Size > FreeEnd - Address) {
    FailAndExit(Subject, "image does not fit the free memory above the boot modules");
  }
}
