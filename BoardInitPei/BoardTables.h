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
    Decode(0x002E, 2, DecodeDevice::Other), // configuration ports again
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

inline constexpr IoScriptRow SuperIoScript[] = {
    Index(SuperIo::EnterKey[0]),
    Index(SuperIo::EnterKey[1]),
    Index(SuperIo::EnterKey[2]),
    Index(SuperIo::EnterKey[3]),
    Index(SuperIo::Reg::LogicalDeviceSelect),
    Data(0x0D),
    Index(SuperIo::Reg::InterruptSelect),
    Data(0x1A),
    Index(SuperIo::Reg::IoBaseLow),
    Data(0x00),
    Index(SuperIo::Reg::SecondInterruptSelect),
    Data(0x00),
    Index(SuperIo::Reg::DmaSelect),
    Data(0x00),
    Index(SuperIo::Reg::DeviceSpecific76),
    Data(0xE5),
    Index(SuperIo::Reg::DeviceSpecific77),
    Data(0xFF),
    Index(SuperIo::Reg::Activate),
    Data(SuperIo::Activate::On),
    Index(SuperIo::Reg::ConfigControl),
    Data(SuperIo::ConfigControl::LeaveConfigMode),
};
inline constexpr std::size_t SuperIoScriptRows = sizeof(SuperIoScript) / sizeof(SuperIoScript[0]);
static_assert(SuperIoScriptRows == 22);
static_assert(sizeof(SuperIoScript) == SuperIoScriptRows * 4);

} // namespace BoardTables
