// Layout of the emulated machines: the page size, stack paint and device windows they share, then
// the early-init module's 32-bit machine (flash at the image's base, RAM for the stack and the PEI
// services table, traps it must never reach). Anything unmapped is a fault of the module.
#pragma once

#include "BoardRegions.h"

#include <array>
#include <cstdint>

namespace imagerun::machine {

// Unicorn maps whole 4 KiB pages.
inline constexpr std::uint32_t PageSize = 0x1000;
constexpr std::uint64_t PageRoundUp(std::uint64_t Size) {
  return (Size + PageSize - 1) & ~std::uint64_t{PageSize - 1};
}

// The stack: temporary RAM, painted before the run so that the bytes still painted afterwards
// show how deep the module went. Below it nothing is mapped: an overflow faults.
inline constexpr std::uint32_t StackBase = 0x00100000;
inline constexpr std::uint32_t StackSize = 0x4000;
inline constexpr std::uint32_t StackTop = StackBase + StackSize;
inline constexpr std::uint8_t StackPaint = 0xA5;

// The PEI services table and the pointer to it that the entry receives.
inline constexpr std::uint32_t ServicesPage = 0x000F0000;
inline constexpr std::uint32_t ServicesTable = ServicesPage;
inline constexpr std::uint32_t ServicesPointer = ServicesPage + 0x800;

// Unmapped on purpose. Each PEI service pointer holds its own trap address; a call (or a read
// through it) stops the run naming the service. The return address of every call the runner
// makes is the exit trap, where the run ends normally.
inline constexpr std::uint32_t ServiceTrapBase = 0x000E0000;
inline constexpr std::uint32_t ServiceTrapStride = 0x10;
inline constexpr std::uint32_t ExitTrap = 0x000EF000;

// The file handle argument: recognisable in a register dump, and unmapped, so the module
// dereferencing it faults.
inline constexpr std::uint32_t FileHandleToken = 0xF11EF11E;

// The board's memory-mapped devices, each access answered by sim::Board with its own width.
struct DeviceWindow {
  const char *Name;
  std::uint64_t Base;
  std::uint64_t Size;
};

// The memory regions of the board's address map, in its order: every one is mapped, and an
// image's placement must miss every one.
constexpr std::size_t MemoryRegionCount() {
  std::size_t Count = 0;
  for (const sim::Region &Each : sim::BoardRegions) {
    Count += Each.Space == sim::AddressSpace::Memory ? 1 : 0;
  }
  return Count;
}

constexpr std::array<DeviceWindow, MemoryRegionCount()> MemoryRegions() {
  std::array<DeviceWindow, MemoryRegionCount()> Windows{};
  std::size_t Next = 0;
  for (const sim::Region &Each : sim::BoardRegions) {
    if (Each.Space == sim::AddressSpace::Memory) {
      Windows[Next++] = {Each.Name, Each.Base, Each.Size};
    }
  }
  return Windows;
}

inline constexpr auto DeviceWindows = MemoryRegions();
static_assert(DeviceWindows.size() == 6);

constexpr bool Overlaps(std::uint64_t Base, std::uint64_t Size, std::uint64_t OtherBase,
                        std::uint64_t OtherSize) {
  return Base < OtherBase + OtherSize && OtherBase < Base + Size;
}

} // namespace imagerun::machine

// The 64-bit machine the driver runs on: RAM for the image (placed away from its preferred base,
// as a DXE core's loader places it), the stack and the firmware stand-in; a page of service
// entries; the device windows above. Everything else is unmapped: any access there is a fault of
// the driver.
namespace imagerun::machine::dxe {

// The image's RAM: readable, writable and executable, as boot-services code memory is.
inline constexpr std::uint64_t LoadBase = 0x00400000;
inline constexpr std::uint64_t ImageRamSize = 0x00100000; // the largest image it takes

// The stack, painted; below it nothing is mapped, so an overflow faults.
inline constexpr std::uint64_t StackBase = 0x00200000;
inline constexpr std::uint64_t StackSize = 0x4000;
inline constexpr std::uint64_t StackTop = StackBase + StackSize;

// The firmware stand-in's tables (system table, boot services, configuration table, HOB list,
// SMM Base2), built for this address.
inline constexpr std::uint64_t FirmwareBase = 0x00080000;
inline constexpr std::uint64_t FirmwareRamSize = 0x00010000;

// Executable, a ret (0xC3) at every entry; a hook answers the service before the ret returns.
inline constexpr std::uint64_t ServicePage = 0x000E0000;
inline constexpr std::uint64_t LocateProtocolEntry = ServicePage;
inline constexpr std::uint64_t InSmmEntry = ServicePage + 0x10;
// One entry per boot service slot, so that a call names the service it reached.
inline constexpr std::uint64_t UnexpectedEntries = ServicePage + 0x100;
inline constexpr std::uint64_t EntryStride = 0x10;
inline constexpr std::uint8_t Ret = 0xC3;

// Unmapped: the return address of the dispatcher's call, where the run ends.
inline constexpr std::uint64_t ExitTrap = 0x000EF000;

// The image handle argument: the driver never uses its own handle; unmapped, so a dereference
// faults.
inline constexpr std::uint64_t ImageHandleToken = 0x000000001A6E0000;

// The Microsoft x64 calling convention: the stack 16-byte aligned at the call, 32 bytes of
// shadow space above the return address for the callee's four register arguments.
inline constexpr std::uint64_t CallAlignment = 16;
inline constexpr std::uint64_t ShadowSpace = 32;
inline constexpr std::uint64_t ReturnAddressSize = 8;

static_assert(!Overlaps(LoadBase, ImageRamSize, StackBase, StackSize));
static_assert(!Overlaps(LoadBase, ImageRamSize, FirmwareBase, FirmwareRamSize));
static_assert(!Overlaps(StackBase, StackSize, FirmwareBase, FirmwareRamSize));
static_assert(!Overlaps(ServicePage, PageSize, FirmwareBase, FirmwareRamSize));
static_assert(ExitTrap >= ServicePage + PageSize);
static_assert(StackTop % CallAlignment == 0);

} // namespace imagerun::machine::dxe
