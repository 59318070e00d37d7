// The board's constant tables: the decode requests for its legacy devices and the Super I/O
// start-up script. Both live in the image and are read in place.
#pragma once

#include "DecodeRequest.h"
#include "DecodeTarget.h"
#include "IoScript.h"
#include "SuperIoPorts.h"

#include <cstddef>
#include <cstdint>

namespace BoardTables {

constexpr DecodeRequestRow Decode(std::uint16_t Port, std::uint8_t Size, std::uint8_t DeviceType) {
  return {Port, Size, 0, DecodeAttributes::Make(DeviceType, DecodeTarget::Lpc)};
}

// Every device of this board sits on the LPC / primary target.
inline constexpr DecodeRequestRow DecodeTable[] = {
    Decode(0x002E, 2, DecodeDevice::Other), // Super I/O configuration ports 0x2E/0x2F
    Decode(0x004E, 2, DecodeDevice::Other), // second configuration pair 0x4E/0x4F
    Decode(0x006C, 2, DecodeDevice::Other), // window 0x6C-0x6F
    Decode(0x0280, 2, DecodeDevice::Other), // window 0x280-0x283
    Decode(0x0062, 2, DecodeDevice::Other), // embedded controller 0x62/0x66
    // The configuration ports again. The request sets the enable bit row 1 already set, so it
    // changes no register; it makes the same read-modify-write accesses a second time.
    Decode(0x002E, 2, DecodeDevice::Other),
    // The four standard COM ports; the COM B request finds the 0x200 window by its base.
    Decode(0x03F8, SerialSelector::ComA, DecodeDevice::Serial),
    Decode(0x02F8, SerialSelector::ComB, DecodeDevice::Serial),
    Decode(0x0060, 0, DecodeDevice::Keyboard), // keyboard controller 0x60/0x64
    Decode(0x0A00, 0x90, DecodeDevice::Other), // window 0xA00-0xAFF
};
inline constexpr std::size_t DecodeTableRows = sizeof(DecodeTable) / sizeof(DecodeTable[0]);
static_assert(DecodeTableRows == 10);
static_assert(sizeof(DecodeTable) == DecodeTableRows * 8);

constexpr IoScriptRow Index(std::uint8_t Register) {
  return {SuperIo::IndexPort, IoScriptPlainWrite, Register};
}
constexpr IoScriptRow Data(std::uint8_t Value) {
  return {SuperIo::DataPort, IoScriptPlainWrite, Value};
}

// The one logical device of the chip this board sets up, and what the script gives it. The
// values are the board's own: the chip takes each as written, and nothing in the firmware reads
// any of them back.
namespace SuperIoDevice {
// Selected first: every register written after it, up to the activation, is this device's.
inline constexpr std::uint8_t LogicalDevice = 0x0D;
// The device's interrupt-select value on this board.
inline constexpr std::uint8_t Interrupt = 0x1A;
// Only the low byte of the device's I/O base is written, with 0x00: the high byte keeps what the
// chip already holds, so the base stays in the 256-byte block the chip or an earlier boot stage
// chose and is aligned to 256 bytes within it.
inline constexpr std::uint8_t IoBaseLow = 0x00;
// The second interrupt and the DMA channel are written 0: the device is given neither.
inline constexpr std::uint8_t NoSecondInterrupt = 0x00;
inline constexpr std::uint8_t NoDma = 0x00;
// The two device-specific registers take the board's settings 0xE5 and 0xFF.
inline constexpr std::uint8_t DeviceSpecific76 = 0xE5;
inline constexpr std::uint8_t DeviceSpecific77 = 0xFF;
} // namespace SuperIoDevice

// Every row writes the index port (0x2E) or the data port (0x2F). The key is four writes to the
// index port, 0x55 twice among them: the chip leaves its normal mode only for that exact
// sequence, so a stray write to 0x2E cannot open its configuration.
inline constexpr IoScriptRow SuperIoScript[] = {
    Index(SuperIo::EnterKey[0]),
    Index(SuperIo::EnterKey[1]),
    Index(SuperIo::EnterKey[2]),
    Index(SuperIo::EnterKey[3]),
    Index(SuperIo::Reg::LogicalDeviceSelect),
    Data(SuperIoDevice::LogicalDevice),
    Index(SuperIo::Reg::InterruptSelect),
    Data(SuperIoDevice::Interrupt),
    Index(SuperIo::Reg::IoBaseLow),
    Data(SuperIoDevice::IoBaseLow),
    Index(SuperIo::Reg::SecondInterruptSelect),
    Data(SuperIoDevice::NoSecondInterrupt),
    Index(SuperIo::Reg::DmaSelect),
    Data(SuperIoDevice::NoDma),
    Index(SuperIo::Reg::DeviceSpecific76),
    Data(SuperIoDevice::DeviceSpecific76),
    Index(SuperIo::Reg::DeviceSpecific77),
    Data(SuperIoDevice::DeviceSpecific77),
    // Activation last, once the device's resources are set; then back to normal mode.
    Index(SuperIo::Reg::Activate),
    Data(SuperIo::Activate::On),
    Index(SuperIo::Reg::ConfigControl),
    Data(SuperIo::ConfigControl::LeaveConfigMode),
};
inline constexpr std::size_t SuperIoScriptRows = sizeof(SuperIoScript) / sizeof(SuperIoScript[0]);
static_assert(SuperIoScriptRows == 22);
static_assert(sizeof(SuperIoScript) == SuperIoScriptRows * 4);

} // namespace BoardTables
