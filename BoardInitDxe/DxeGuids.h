// GUIDs the driver looks for, in the UEFI layout, and their comparison.
#pragma once

#include "Uefi/Uefi.h"

#include <cstdint>

namespace DxeGuid {
// {7739F24C-93D7-11D4-9A3A-0090273FC14D}: configuration-table entry of the HOB list.
inline constexpr EFI_GUID HobList = {
    0x7739F24C, 0x93D7, 0x11D4, {0x9A, 0x3A, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
// {3FCA54F6-E1A2-4B20-BE76-926B4B48BFAA}: GUID-extension HOB whose presence tells the timer
// start-up that this boot needs no measuring interval.
inline constexpr EFI_GUID TimerCalibrated = {
    0x3FCA54F6, 0xE1A2, 0x4B20, {0xBE, 0x76, 0x92, 0x6B, 0x4B, 0x48, 0xBF, 0xAA}};
// {F4CCBFB7-F6E0-47FD-9DD4-10A8F150C191}: EFI_SMM_BASE2_PROTOCOL.
inline constexpr EFI_GUID SmmBase2Protocol = {
    0xF4CCBFB7, 0xF6E0, 0x47FD, {0x9D, 0xD4, 0x10, 0xA8, 0xF1, 0x50, 0xC1, 0x91}};
} // namespace DxeGuid

// The 16 bytes of a GUID as two little-endian 64-bit words, the first holding Data1 to Data3.
struct GuidHalves {
  std::uint64_t Low;
  std::uint64_t High;
};

constexpr GuidHalves ToGuidHalves(const EFI_GUID &Guid) {
  std::uint64_t High = 0;
  for (int Index = 7; Index >= 0; --Index) {
    High = High << 8 | Guid.Data4[Index];
  }
  return {std::uint64_t{Guid.Data1} | std::uint64_t{Guid.Data2} << 32 |
              std::uint64_t{Guid.Data3} << 48,
          High};
}

constexpr bool GuidEquals(const EFI_GUID &Left, const EFI_GUID &Right) {
  const GuidHalves A = ToGuidHalves(Left);
  const GuidHalves B = ToGuidHalves(Right);
  return A.Low == B.Low && A.High == B.High;
}

static_assert(ToGuidHalves(DxeGuid::HobList).Low == 0x11D493D77739F24C);
static_assert(ToGuidHalves(DxeGuid::HobList).High == 0x4DC13F2790003A9A);
