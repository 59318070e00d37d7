// The firmware around a DXE driver on the simulated board: a system table, boot services, a HOB
// list and the SMM Base2 protocol, laid out as real structures in host memory. Calls into these
// services are recorded as annotation lines in the bound board's trace.
#pragma once

#include "Scenario.h"
#include "Uefi/Uefi.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

inline constexpr EFI_GUID Acpi20TableGuid = {
    0x8868E871, 0xE4F1, 0x11D3, {0xBC, 0x22, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81}};
inline constexpr EFI_GUID HobListGuid = {
    0x7739F24C, 0x93D7, 0x11D4, {0x9A, 0x3A, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
inline constexpr EFI_GUID TimerHobGuid = {
    0x3FCA54F6, 0xE1A2, 0x4B20, {0xBE, 0x76, 0x92, 0x6B, 0x4B, 0x48, 0xBF, 0xAA}};
inline constexpr EFI_GUID SmmBase2ProtocolGuid = {
    0xF4CCBFB7, 0xF6E0, 0x47FD, {0x9D, 0xD4, 0x10, 0xA8, 0xF1, 0x50, 0xC1, 0x91}};
// The GUID-extension HOB every list carries, of no interest to the driver (memory type
// information).
inline constexpr EFI_GUID UnrelatedHobGuid = {
    0x4C19049F, 0x4137, 0x4DD3, {0x9C, 0x10, 0x8B, 0x97, 0xA8, 0x3F, 0xFD, 0xFA}};

// {F4CCBFB7-F6E0-47FD-9DD4-10A8F150C191}
std::string GuidText(const EFI_GUID &Guid);

// One environment at a time: the service entry points find it through a process-wide pointer.
class DxeEnvironment {
public:
  explicit DxeEnvironment(const DxeEnvironmentSettings &Settings = {});
  ~DxeEnvironment();
  DxeEnvironment(const DxeEnvironment &) = delete;
  DxeEnvironment &operator=(const DxeEnvironment &) = delete;

  EFI_SYSTEM_TABLE *systemTable() { return &SystemTable_; }
  const void *hobList() const { return HobList_.data(); }
  const EFI_SMM_BASE2_PROTOCOL *smmBase2() const { return &SmmBase2_; }
  std::size_t locateProtocolCalls() const { return LocateProtocolCalls_; }
  std::size_t inSmmCalls() const { return InSmmCalls_; }

private:
  static EFI_STATUS EFIAPI LocateProtocolEntry(const EFI_GUID *Protocol, void *Registration,
                                               void **Interface);
  static EFI_STATUS EFIAPI InSmmEntry(const EFI_SMM_BASE2_PROTOCOL *This, BOOLEAN *InSmram);
  EFI_STATUS locateProtocol(const EFI_GUID *Protocol, void *Registration, void **Interface);
  EFI_STATUS inSmm(const EFI_SMM_BASE2_PROTOCOL *This, BOOLEAN *InSmram);
  void buildHobList();

  DxeEnvironmentSettings Settings_;
  EFI_SYSTEM_TABLE SystemTable_{};
  EFI_BOOT_SERVICES BootServices_{};
  std::array<EFI_CONFIGURATION_TABLE, 2> ConfigurationTable_{};
  std::array<std::uint64_t, 4> AcpiTable_{}; // where the ACPI 2.0 entry points; never read
  std::vector<std::uint64_t> HobList_;       // 64-bit words keep every HOB 8-byte aligned
  EFI_SMM_BASE2_PROTOCOL SmmBase2_{};
  std::size_t LocateProtocolCalls_ = 0;
  std::size_t InSmmCalls_ = 0;
};

} // namespace sim
