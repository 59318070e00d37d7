// Four-level paging with 2 MiB pages: one PML4 entry, four page-directory-pointer entries (one per
// GiB), and 4 x 512 large-page entries. The fourth GiB holds the chipset's and the SPI
// controller's registers, so it is mapped uncached: a cached register read would return stale
// data and a write might never reach the device.
#include "PageTables.h"

#include <cstddef>

namespace PageEntry {
inline constexpr std::uint64_t Present = 1u << 0;
inline constexpr std::uint64_t Writable = 1u << 1;
inline constexpr std::uint64_t WriteThrough = 1u << 3;
inline constexpr std::uint64_t CacheDisable = 1u << 4;
inline constexpr std::uint64_t LargePage = 1u << 7;
} // namespace PageEntry

namespace PageGeometry {
inline constexpr std::size_t EntriesPerTable = 512;
inline constexpr std::size_t MappedGiB = 4;
inline constexpr std::size_t DeviceGiB = 3; // 0xC0000000 - 0xFFFFFFFF
inline constexpr std::uint64_t LargePageSize = 0x200000;
inline constexpr std::uint64_t GiB = 0x40000000;
inline constexpr std::size_t TableAlignment = 4096;
} // namespace PageGeometry

namespace {

using PageTable = std::uint64_t[PageGeometry::EntriesPerTable];

alignas(PageGeometry::TableAlignment) PageTable Pml4;
alignas(PageGeometry::TableAlignment) PageTable DirectoryPointers;
alignas(PageGeometry::TableAlignment) PageTable Directories[PageGeometry::MappedGiB];

std::uint64_t TableAddress(const PageTable &Table) {
  return reinterpret_cast<std::uintptr_t>(&Table[0]);
}

} // namespace

std::uint32_t BuildIdentityMap() {
  constexpr std::uint64_t TableFlags = PageEntry::Present | PageEntry::Writable;
  Pml4[0] = TableAddress(DirectoryPointers) | TableFlags;
  for (std::size_t GiB = 0; GiB < PageGeometry::MappedGiB; ++GiB) {
    DirectoryPointers[GiB] = TableAddress(Directories[GiB]) | TableFlags;
    std::uint64_t Flags = TableFlags | PageEntry::LargePage;
    if (GiB == PageGeometry::DeviceGiB) {
      Flags |= PageEntry::CacheDisable | PageEntry::WriteThrough;
    }
    for (std::size_t Entry = 0; Entry < PageGeometry::EntriesPerTable; ++Entry) {
      Directories[GiB][Entry] =
          (GiB * PageGeometry::GiB + Entry * PageGeometry::LargePageSize) | Flags;
    }
  }
  return static_cast<std::uint32_t>(TableAddress(Pml4));
}
