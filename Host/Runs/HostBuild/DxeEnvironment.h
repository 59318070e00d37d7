// The firmware around a DXE driver on the simulated board: the DXE firmware stand-in built in host
// memory, its services answered by host functions that annotate the bound board's trace.
#pragma once

#include "Board.h"
#include "DxeStandIn.h"
#include "DxeStandInGuids.h"
#include "Scenario.h"
#include "Uefi/Uefi.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// One environment at a time: the service entry points find it through a process-wide pointer.
class DxeEnvironment {
public:
  explicit DxeEnvironment(const DxeEnvironmentSettings &Settings = {});
  ~DxeEnvironment();
  DxeEnvironment(const DxeEnvironment &) = delete;
  DxeEnvironment &operator=(const DxeEnvironment &) = delete;

  EFI_SYSTEM_TABLE *systemTable() {
    return reinterpret_cast<EFI_SYSTEM_TABLE *>(static_cast<std::uintptr_t>(State_.SystemTable));
  }
  std::size_t locateProtocolCalls() const { return State_.Counted.LocateProtocol; }
  std::size_t inSmmCalls() const { return State_.Counted.InSmm; }

private:
  static EFI_STATUS EFIAPI LocateProtocolEntry(const EFI_GUID *Protocol, void *Registration,
                                               void **Interface);
  static EFI_STATUS EFIAPI InSmmEntry(const EFI_SMM_BASE2_PROTOCOL *This, BOOLEAN *InSmram);
  static EFI_STATUS EFIAPI UnexpectedEntry();

  standin::Firmware State_;
  std::vector<std::uint64_t> Memory_; // 64-bit words keep every table and HOB 8-byte aligned
};

} // namespace sim
