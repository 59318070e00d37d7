// The stand-in DXE environment: the least a system table, its boot services and the HOB list must
// hold for BoardInitDxe's start-up, with counters that let the boot program check what the driver
// asked for.
#pragma once

#include "Handoff.h"
#include "Uefi/Uefi.h"

#include <cstdint>

struct DxeCalls {
  unsigned LocateProtocol;
  unsigned SmmBase2Lookups;
  unsigned LocateProtocolMisuses; // a registration key given, or no place for the interface
  unsigned InSmm;
  bool InSmmThisWasProtocol; // InSmm was given the protocol instance it belongs to
};

// Builds the tables for one configuration; returns the system table to pass to the driver.
EFI_SYSTEM_TABLE *BuildDxeFirmware(DxeConfiguration Configuration, std::uint64_t MemoryBottom,
                                   std::uint64_t MemoryTop);
const DxeCalls &DxeCallsSoFar();
