// The PEI services table as an IA-32 module receives it from the PEI core: a table header, then
// one 32-bit pointer per service in the order the core publishes them. The board's early-init
// module calls none of them, so every pointer leads to a trap that its caller chooses; the trap's
// address tells which service was called.
//
// Freestanding: the image runner and the boot program both build it where their module sees
// memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace standin::pei {

inline constexpr const char *ServiceNames[] = {
    "InstallPpi",
    "ReInstallPpi",
    "LocatePpi",
    "NotifyPpi",
    "GetBootMode",
    "SetBootMode",
    "GetHobList",
    "CreateHob",
    "FfsFindNextVolume",
    "FfsFindNextFile",
    "FfsFindSectionData",
    "InstallPeiMemory",
    "AllocatePages",
    "AllocatePool",
    "CopyMem",
    "SetMem",
    "ReportStatusCode",
    "ResetSystem",
    "CpuIo",
    "PciCfg",
    "FfsFindFileByName",
    "FfsGetFileInfo",
    "FfsGetVolumeInfo",
    "RegisterForShadow",
    "FindSectionData3",
    "FfsGetFileInfo2",
    "ResetSystem2",
    "FreePages",
};
inline constexpr std::uint32_t ServiceCount = sizeof ServiceNames / sizeof ServiceNames[0];

// EFI_TABLE_HEADER: Signature (8 bytes), Revision, HeaderSize, CRC32, Reserved (4 bytes each).
inline constexpr std::uint32_t TableHeaderSize = 24;
inline constexpr std::uint32_t PointerSize = 4;
inline constexpr std::uint32_t TableSize = TableHeaderSize + PointerSize * ServiceCount;
inline constexpr std::uint64_t Signature = 0x5652455320494550; // "PEI SERV"
inline constexpr std::uint32_t Revision = (1u << 16) | 70;     // 1.70

// Writes the table's TableSize bytes into Table, each service pointer at
// TrapBase + index * TrapStride (a stride of 0 sends every service to one trap).
void BuildServicesTable(std::uint8_t *Table, std::uint32_t TrapBase, std::uint32_t TrapStride);

} // namespace standin::pei
