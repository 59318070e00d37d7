// The PEI services table as an IA-32 module sees it: a table header, then one 32-bit pointer per
// service in the order the PEI core publishes them. The module under test must call none of
// them; every pointer leads to a trap that names the service.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace imagerun::pei {

inline constexpr std::array<const char *, 28> ServiceNames = {
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

// EFI_TABLE_HEADER: Signature (8 bytes), Revision, HeaderSize, CRC32, Reserved (4 bytes each).
inline constexpr std::uint32_t TableHeaderSize = 24;
inline constexpr std::uint32_t PointerSize = 4;
inline constexpr std::uint32_t TableSize =
    TableHeaderSize + PointerSize * static_cast<std::uint32_t>(ServiceNames.size());
inline constexpr std::uint64_t Signature = 0x5652455320494550; // "PEI SERV"
inline constexpr std::uint32_t Revision = (1u << 16) | 70;     // 1.70

// The table's bytes, each service pointer at TrapBase + index * TrapStride.
std::vector<std::uint8_t> TableBytes(std::uint32_t TrapBase, std::uint32_t TrapStride);

} // namespace imagerun::pei
