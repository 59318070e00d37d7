// Where the boot program puts the module images: fixed addresses, so that every run relocates
// by the same amount, above the area the multiboot loader fills with the modules themselves.
// The images are checked, copied and relocated by the shared PE image library; any fault ends the
// run with a line naming the module and the fault.
#pragma once

#include "Console.h"
#include "PeImage.h"

#include <cstdint>

namespace ImagePlacement {
inline constexpr std::uint64_t BoardInitPei = 0x01000000;
inline constexpr std::uint64_t BoardInitDxe = 0x01800000;
// Used instead when BoardInitDxe.efi prefers the usual address: it must be moved to prove its
// relocations.
inline constexpr std::uint64_t BoardInitDxeAlternative = 0x01C00000;
// Largest image the boot program sets memory aside for: the distance between the addresses above.
inline constexpr std::uint32_t SizeLimit = 0x00400000;
} // namespace ImagePlacement

inline void RequirePe(const char *Module, PeStatus Status) {
  if (Status != PeStatus::Ok) {
    FailAndExit(Module, PeStatusMessage(Status));
  }
}

// Copies a checked image to Base and relocates it there.
inline std::uint8_t *PlaceModule(const char *Module, const PeImage &Image, std::uint64_t Base,
                                 std::uint64_t FreeStart, std::uint64_t FreeEnd) {
  if (Image.SizeOfImage > ImagePlacement::SizeLimit) {
    FailAndExit(Module, "image is larger than the memory set aside for it");
  }
  if (Base < FreeStart || Base > FreeEnd || Image.SizeOfImage > FreeEnd - Base) {
    FailAndExit(Module, "image does not fit the free memory above the boot modules");
  }
  auto *Memory = reinterpret_cast<std::uint8_t *>(static_cast<std::uintptr_t>(Base));
  RequirePe(Module, PeCopyToMemory(Image, Memory, Image.SizeOfImage));
  RequirePe(Module, PeRelocate(Image, Memory, Image.SizeOfImage, Base));
  return Memory;
}
