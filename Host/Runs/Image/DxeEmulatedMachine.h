// Layout of the 64-bit machine the driver runs on under emulation: RAM for the image (placed away
// from its preferred base, as a DXE core's loader places it), the stack and the firmware
// stand-in; a page of service entries; the board's device windows (EmulatedMachine.h). Everything
// else is unmapped: any access there is a fault of the driver.
#pragma once

#include "EmulatedMachine.h"

#include <cstdint>

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

} // namespace imagerun::machine::dxe

namespace imagerun::machine::dxe {

static_assert(!Overlaps(LoadBase, ImageRamSize, StackBase, StackSize));
static_assert(!Overlaps(LoadBase, ImageRamSize, FirmwareBase, FirmwareRamSize));
static_assert(!Overlaps(StackBase, StackSize, FirmwareBase, FirmwareRamSize));
static_assert(!Overlaps(ServicePage, PageSize, FirmwareBase, FirmwareRamSize));
static_assert(ExitTrap >= ServicePage + PageSize);
static_assert(StackTop % CallAlignment == 0);

} // namespace imagerun::machine::dxe
