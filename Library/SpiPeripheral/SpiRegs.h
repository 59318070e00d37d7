// SSP-type SPI controller of the PCH: address table, register offsets and fields.
#pragma once

#include "HwAccess.h"
#include "Register.h"

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
inline constexpr Register16 ConfigDeviceId{0x02};
inline constexpr std::uint16_t ExpectedDeviceId = 0x4B2B;

// Every register of the register window is read and written 32 bits at a time.
namespace Reg {
inline constexpr Register32 Control0{0x00};
inline constexpr Register32 Control1{0x04};
inline constexpr Register32 Status{0x08};
inline constexpr Register32 Reg0C{0x0C};
inline constexpr Register32 Data{0x10};
inline constexpr Register32 Reg48{0x48};
inline constexpr Register32 Clock{0x200};
} // namespace Reg

namespace Control0 {
inline constexpr RegisterField DataSize{3, 0}; // frame size - 1
inline constexpr RegisterField FrameFormat{5, 4};
inline constexpr std::uint32_t PortEnable = BitMask(7);
inline constexpr std::uint32_t Bit22 = BitMask(22);
inline constexpr std::uint32_t Bit23 = BitMask(23);
inline constexpr std::uint32_t FrameBits = 16;
inline constexpr std::uint32_t FrameFormatSpi = 0;
// 16-bit SPI frames with the port on; bits 22 and 23 are set as the peripheral's bring-up has
// always set them (what they select is not recorded here).
inline constexpr std::uint32_t BringUpValue = Bit23 | Bit22 | PortEnable |
                                              FieldValue(FrameFormat, FrameFormatSpi) |
                                              FieldValue(DataSize, FrameBits - 1);
static_assert(BringUpValue == 0x00C0008F);
} // namespace Control0

namespace Status {
inline constexpr std::uint32_t TransmitNotFull = BitMask(2);
inline constexpr std::uint32_t ReceiveNotEmpty = BitMask(3);
inline constexpr std::uint32_t Busy = BitMask(4);
} // namespace Status

namespace Reg0C {
// Set while the controller is still moving data; see WaitReg0CQuiet.
inline constexpr std::uint32_t ActivityMask = FieldMask(RegisterField{7, 5});
} // namespace Reg0C

// The controller's private clock: an M/N divider of its input clock. The output runs at
// input * M / N, so M = 1, N = 100 gives the serial clock a hundredth of the input clock; the
// input clock's own rate is the platform's and is not known to this code.
namespace Clock {
inline constexpr std::uint32_t Enable = BitMask(0);
inline constexpr RegisterField DividerM{15, 1};
inline constexpr RegisterField DividerN{30, 16};
inline constexpr std::uint32_t Update = BitMask(31);
inline constexpr std::uint32_t M = 1;
inline constexpr std::uint32_t N = 100;
inline constexpr std::uint32_t Dividers = FieldValue(DividerN, N) | FieldValue(DividerM, M);
inline constexpr std::uint32_t Target = Dividers | Enable;
static_assert(Target == 0x00640003);
} // namespace Clock

// A wait on a status bit gives up after one read plus this many retries.
inline constexpr unsigned PollRetries = 16;
inline constexpr unsigned PollReads = PollRetries + 1;

inline constexpr std::uint32_t InvalidWindow = 0xFFFFFFFF;
inline constexpr std::uint32_t AllOnes = 0xFFFFFFFF;
// After each frame the bring-up waits 10 us (35 PM-timer ticks) before it reads the data
// register back: the status bits say the frame has left the controller, not that the peripheral
// has taken it, and the pause gives the peripheral that time before the next frame.
inline constexpr std::uintptr_t FrameDelayMicroseconds = 10;

} // namespace SpiController

// The peripheral's five start-up frames, each one 16-bit word (control 0's frame size). Each
// pairs a high byte with a low byte: the high bytes count down 7, 4, 3, 2, 1 and each carries the
// low byte listed with it. They are written as those pairs; what each pair sets inside the
// peripheral is not named here because nothing in this code reads it back.
namespace SpiPeripheralFrames {
struct FramePair {
  std::uint8_t High;
  std::uint8_t Low;
};
constexpr std::uint16_t Frame(FramePair Pair) {
  return static_cast<std::uint16_t>(FieldValue(RegisterField{15, 8}, Pair.High) |
                                    FieldValue(RegisterField{7, 0}, Pair.Low));
}
inline constexpr std::uint16_t InitSequence[] = {
    Frame({0x07, 0x00}), Frame({0x04, 0x01}), Frame({0x03, 0x07}),
    Frame({0x02, 0x0E}), Frame({0x01, 0xFF}),
};
static_assert(InitSequence[0] == 0x0700 && InitSequence[4] == 0x01FF);
} // namespace SpiPeripheralFrames
