// What the DXE firmware around the driver holds: the one description of it, for the host runs,
// the boot program on the emulated machine and the image runner.
#pragma once

#include "Uefi/Uefi.h"

#include <cstdint>

namespace standin {

enum class SmmMode : std::uint8_t {
  Absent,        // LocateProtocol does not know the SMM Base2 protocol
  Outside,       // present; InSmm stores FALSE
  Inside,        // present; InSmm stores TRUE
  NullInterface, // LocateProtocol succeeds but hands back a null interface
};

// A HOB of a bare header, for lists that are corrupt (length below 8) or merely unusual.
struct HeaderOnlyHob {
  bool Present = false;
  std::uint16_t Type = EFI_HOB_TYPE_GUID_EXTENSION;
  std::uint16_t Length = 0; // 8 or more: a multiple of 8, the bytes after the header are zero
};

struct Settings {
  bool HobListInConfigTable = true;
  // The GUID-extension HOB {3FCA54F6-E1A2-4B20-BE76-926B4B48BFAA}, right before the end HOB.
  bool TimerHob = false;
  SmmMode Smm = SmmMode::Absent;
  // Placed after the unrelated GUID-extension HOB, before the timer HOB.
  HeaderOnlyHob ExtraHob;
};

} // namespace standin
