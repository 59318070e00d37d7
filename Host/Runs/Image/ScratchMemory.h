// RAM of each machine for the data a run hands a function of the image. The driver's: the output
// buffer, the argument slots, the format text and the bytes the slots refer to. The early-init
// module's: the rows of a script, read-only as its tables in flash are. Apart from the image, the
// stack and everything else mapped, so that nothing a call places there disturbs them.
#pragma once

#include "EmulatedMachine.h"
#include "FormatCall.h"

#include <cstdint>

namespace imagerun::machine {

inline constexpr std::uint32_t ScriptRowsBase = 0x00110000;
inline constexpr std::uint32_t ScriptRowsSize = 0x00010000;

static_assert(ScriptRowsBase % PageSize == 0 && ScriptRowsSize % PageSize == 0);
static_assert(!Overlaps(ScriptRowsBase, ScriptRowsSize, StackBase, StackSize));
static_assert(!Overlaps(ScriptRowsBase, ScriptRowsSize, ServicesPage, PageSize));
static_assert(!Overlaps(ScriptRowsBase, ScriptRowsSize, ServiceTrapBase,
                        ExitTrap + PageSize - ServiceTrapBase));
static_assert([] {
  for (const DeviceWindow &Each : DeviceWindows) {
    if (Overlaps(ScriptRowsBase, ScriptRowsSize, Each.Base, Each.Size)) {
      return false;
    }
  }
  return true;
}());

} // namespace imagerun::machine

namespace imagerun::machine::dxe {

inline constexpr std::uint64_t ScratchBase = 0x00300000;
inline constexpr std::uint64_t ScratchSize = 0x00010000;

// The format engine's call, laid out in the scratch memory.
inline constexpr std::uint64_t FormatBufferAt = ScratchBase;
inline constexpr std::uint64_t FormatSlotsAt = ScratchBase + 0x2000;
inline constexpr std::uint64_t FormatTextAt = ScratchBase + 0x2100;
inline constexpr std::uint64_t FormatReferencesAt = ScratchBase + 0x4000;
inline constexpr std::uint64_t FormatTextRoom = FormatReferencesAt - FormatTextAt;
// Each reference starts this aligned, then moved by its misalignment.
inline constexpr std::uint64_t ReferenceAlignment = 16;

static_assert(FormatBufferAt + runs::FormatRoom + runs::FormatGuardBytes <= FormatSlotsAt);
static_assert(FormatSlotsAt + runs::FormatSlots * sizeof(std::uint64_t) <= FormatTextAt);
static_assert(ScratchBase % PageSize == 0 && ScratchSize % PageSize == 0);
static_assert(!Overlaps(ScratchBase, ScratchSize, LoadBase, ImageRamSize));
static_assert(!Overlaps(ScratchBase, ScratchSize, StackBase, StackSize));
static_assert(!Overlaps(ScratchBase, ScratchSize, FirmwareBase, FirmwareRamSize));
static_assert(!Overlaps(ScratchBase, ScratchSize, ServicePage, PageSize));
static_assert([] {
  for (const DeviceWindow &Each : DeviceWindows) {
    if (Overlaps(ScratchBase, ScratchSize, Each.Base, Each.Size)) {
      return false;
    }
  }
  return true;
}());

} // namespace imagerun::machine::dxe
