// Markers around each module's run, written to the POST-code port so that an emulator log of the
// machine's port accesses (QEMU's memory_region_ops trace events) can be cut into what each module
// did: everything between a module's start and end marker is the module's own, the boot program
// prints nothing there. Nothing else on the boot writes this port (the firmware QEMU starts with
// neither), and q35 claims it (QEMU's "ioport80"), so every write shows in the log.
#pragma once

#include "HwAccess.h"

#include <cstdint>

namespace PhaseMarker {
inline constexpr std::uint16_t Port = 0x0080;
inline constexpr std::uint8_t PeiStart = 0xE1;
inline constexpr std::uint8_t PeiEnd = 0xE2;
inline constexpr std::uint8_t DxeStart = 0xE3;
inline constexpr std::uint8_t DxeEnd = 0xE4;
} // namespace PhaseMarker

inline void MarkPhase(std::uint8_t Marker) {
  PortWrite8(PhaseMarker::Port, Marker);
}
