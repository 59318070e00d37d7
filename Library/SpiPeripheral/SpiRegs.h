// SSP-type SPI controller of the PCH: address table, register offsets and fields.
#pragma once

#include "HwAccess.h"

#include <cstdint>

namespace SpiController {

// (register window, configuration-space window) pairs of the three controllers; the board's
// peripheral sits behind controller 1.
inline constexpr PhysicalAddress AddressTable[] = {
    0xFE030000, 0xFE031000, // controller 0
    0xFE032000, 0xFE033000, // controller 1
    0xFE034000, 0xFE035000, // controller 2
};
inline constexpr unsigned RegisterWindowIndex = 2;
inline constexpr unsigned ConfigWindowIndex = 3;

// The configuration-space window is a memory-mapped copy of the PCI header.
inline constexpr PhysicalAddress ConfigDeviceIdOffset = 0x02;
inline constexpr std::uint16_t ExpectedDeviceId = 0x4B2B;

namespace Reg {
inline constexpr PhysicalAddress Control0 = 0x00;
inline constexpr PhysicalAddress Control1 = 0x04;
inline constexpr PhysicalAddress Status = 0x08;
inline constexpr PhysicalAddress Reg0C = 0x0C;
inline constexpr PhysicalAddress Data = 0x10;
inline constexpr PhysicalAddress Reg48 = 0x48;
inline constexpr PhysicalAddress Clock = 0x200;
} // namespace Reg

namespace Control0 {
inline constexpr std::uint32_t DataSize16 = 0xF << 0; // bits 3:0 = size - 1
inline constexpr std::uint32_t FrameFormatSpi = 0 << 4;
inline constexpr std::uint32_t PortEnable = 1 << 7;
inline constexpr std::uint32_t Bit22 = 1 << 22;
inline constexpr std::uint32_t Bit23 = 1 << 23;
inline constexpr std::uint32_t BringUpValue =
    Bit23 | Bit22 | PortEnable | FrameFormatSpi | DataSize16;
static_assert(BringUpValue == 0x00C0008F);
} // namespace Control0

namespace Status {
inline constexpr std::uint32_t TransmitNotFull = 1 << 2;
inline constexpr std::uint32_t ReceiveNotEmpty = 1 << 3;
inline constexpr std::uint32_t Busy = 1 << 4;
} // namespace Status

namespace Reg0C {
inline constexpr std::uint32_t ActivityMask = 0x7 << 5; // bits 7:5
} // namespace Reg0C

namespace Clock {
inline constexpr std::uint32_t Enable = 1u << 0;
inline constexpr unsigned DividerMShift = 1;  // bits 15:1
inline constexpr unsigned DividerNShift = 16; // bits 30:16
inline constexpr std::uint32_t Update = 1u << 31;
inline constexpr std::uint32_t DividerM = 1;
inline constexpr std::uint32_t DividerN = 100;
inline constexpr std::uint32_t Dividers = DividerN << DividerNShift | DividerM << DividerMShift;
inline constexpr std::uint32_t Target = Dividers | Enable;
static_assert(Target == 0x00640003);
} // namespace Clock

// A wait on a status bit gives up after one read plus this many retries.
inline constexpr unsigned PollRetries = 16;
inline constexpr unsigned PollReads = PollRetries + 1;

inline constexpr std::uint32_t InvalidWindow = 0xFFFFFFFF;
inline constexpr std::uint32_t AllOnes = 0xFFFFFFFF;
inline constexpr std::uintptr_t FrameDelayMicroseconds = 10;

} // namespace SpiController

namespace SpiPeripheralFrames {
inline constexpr std::uint16_t InitSequence[] = {0x0700, 0x0401, 0x0307, 0x020E, 0x01FF};
} // namespace SpiPeripheralFrames
