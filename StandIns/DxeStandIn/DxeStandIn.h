// The DXE firmware stand-in that BoardInitDxe's start-up reads (system table, boot services,
// configuration table, HOB list, SMM Base2), built into the caller's memory for the address the
// driver sees it at; each caller routes the service entries to the counting service logic below.
// Freestanding: no allocation, no library beyond the freestanding headers.
#pragma once

#include "DxeStandInSettings.h"
#include "Uefi/Uefi.h"

#include <cstddef>
#include <cstdint>

namespace standin {

// Where the driver's calls go: an entry address for each service. Every boot service other than
// LocateProtocol is routed to Unexpected + slot * UnexpectedStride (slot: its place in the boot
// services table after the header), so that a caller who gives a stride can tell which one it was.
struct ServiceAddresses {
  std::uint64_t LocateProtocol = 0;
  std::uint64_t InSmm = 0;
  std::uint64_t Unexpected = 0;
  std::uint64_t UnexpectedStride = 0;
};

struct Calls {
  unsigned LocateProtocol = 0;
  unsigned SmmBase2Lookups = 0;
  unsigned LocateProtocolMisuses = 0; // a registration key given, or no place for the interface
  unsigned InSmm = 0;
  bool InSmmThisWasProtocol = false; // InSmm was given the protocol instance it belongs to
};

struct Firmware {
  Settings Configuration;
  std::uint64_t Base = 0; // the address the driver sees the memory at
  std::uint64_t SystemTable = 0;
  std::uint64_t HobList = 0;
  std::uint64_t SmmBase2 = 0;
  Calls Counted;
};

// Bytes of memory the stand-in needs for these settings (a multiple of 8).
std::size_t MemorySize(const Settings &Configuration);

// Builds every table into Memory (8-byte aligned, MemorySize bytes, zeroed first), which the
// driver sees at Base. Returns false when the memory is too small.
bool Build(Firmware &Result, const Settings &Configuration, void *Memory, std::size_t Size,
           std::uint64_t Base, const ServiceAddresses &Services);

// LocateProtocol's answer. Protocol is the GUID the driver asked for (nullptr when it passed
// none); the caller stores Interface where the driver asked when InterfaceWritten.
struct LocateAnswer {
  EFI_STATUS Status = EFI_NOT_FOUND;
  bool InterfaceWritten = false;
  std::uint64_t Interface = 0;
};
LocateAnswer LocateProtocol(Firmware &State, const EFI_GUID *Protocol, bool RegistrationGiven,
                            bool InterfaceGiven);

// InSmm's answer for the protocol instance This; the caller stores InSmram when InSmramWritten.
struct InSmmAnswer {
  EFI_STATUS Status = EFI_SUCCESS;
  bool InSmramWritten = false;
  BOOLEAN InSmram = 0;
};
InSmmAnswer InSmm(Firmware &State, std::uint64_t This, bool InSmramGiven);

} // namespace standin
