// The DXE firmware services' calls as every way of running the driver records them.
#pragma once

#include "Board.h"
#include "DxeStandIn.h"
#include "Uefi/Uefi.h"

#include <cstdint>

namespace sim {

// The annotation records of the two services:
// `# LocateProtocol({GUID}, NULL, Interface) -> EFI_NOT_FOUND (0x800000000000000E)`,
// `# InSmm(SmmBase2, InSmram) -> EFI_SUCCESS (0x0000000000000000); stores TRUE`.
void AnnotateLocateProtocol(Board &Target, const EFI_GUID *Protocol, bool RegistrationGiven,
                            bool InterfaceGiven, const standin::LocateAnswer &Answer);
void AnnotateInSmm(Board &Target, const standin::Firmware &State, std::uint64_t This,
                   bool InSmramGiven, const standin::InSmmAnswer &Answer);

} // namespace sim
