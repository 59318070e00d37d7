// The SSP-type SPI controller the board's peripheral sits behind, as the board presents it: a
// register window and a configuration-space window (a memory-mapped copy of its PCI header). The
// other two controllers of the PCH are not on this board's model.
#pragma once

#include "BoardRegister.h"

#include <array>
#include <cstdint>

namespace sim::hw::Spi {

inline constexpr std::uint64_t RegisterWindow = 0xFE032000;
inline constexpr std::uint64_t ConfigWindow = 0xFE033000;
inline constexpr std::uint64_t WindowSize = 0x1000;
// The three controllers' windows lie side by side, controller 1's in the middle.
inline constexpr std::uint64_t AllWindowsBase = 0xFE030000;
inline constexpr std::uint64_t AllWindowsSize = 0x6000;

inline constexpr std::uint32_t DeviceIdOffset = 0x02; // 16 bits in the configuration window
inline constexpr std::uint16_t DeviceId = 0x4B2B;
inline constexpr std::uint16_t AbsentDeviceId = 0xFFFF;

inline constexpr std::uint32_t Control0 = 0x000;
inline constexpr std::uint32_t Control1 = 0x004;
inline constexpr std::uint32_t Status = 0x008;
inline constexpr std::uint32_t Reg0C = 0x00C;
inline constexpr std::uint32_t Data = 0x010;
inline constexpr std::uint32_t Reg48 = 0x048;
inline constexpr std::uint32_t Clock = 0x200;

// Status bits, and the activity bits of register 0x0C.
inline constexpr std::uint32_t StatusTransmitNotFull = 0x04;
inline constexpr std::uint32_t StatusReceiveNotEmpty = 0x08;
inline constexpr std::uint32_t StatusBusy = 0x10;
inline constexpr std::uint32_t Reg0CActivity = 0xE0; // bits 7:5

inline constexpr std::array Registers = {
    NamedRegister{Control0, 4, "SPI control 0"}, NamedRegister{Control1, 4, "SPI control 1"},
    NamedRegister{Status, 4, "SPI status"},      NamedRegister{Reg0C, 4, "SPI register 0x0C"},
    NamedRegister{Data, 4, "SPI data"},          NamedRegister{Reg48, 4, "SPI register 0x48"},
    NamedRegister{Clock, 4, "SPI clock"},
};

} // namespace sim::hw::Spi
