// PCI configuration access as the board presents it: the address latch at 0xCF8 with its data
// port at 0xCFC, and the memory-mapped enhanced configuration window.
#pragma once

#include <cstdint>

namespace sim::hw::Pci {
inline constexpr std::uint16_t AddressPort = 0x0CF8;
inline constexpr std::uint16_t DataPort = 0x0CFC;
inline constexpr unsigned DataPortBytes = 4;
inline constexpr std::uint32_t LatchEnable = 0x80000000;
inline constexpr std::uint32_t LatchFunctionMask = 0x00FFFF00; // bus, device, function
inline constexpr std::uint32_t LatchRegisterMask = 0xFC;
inline constexpr std::uint64_t EcamBase = 0xE0000000;
inline constexpr std::uint64_t EcamSize = 0x10000000;
} // namespace sim::hw::Pci
