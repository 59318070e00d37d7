// The bridge's decode registers and their mirrors, read out of the simulated board after a run.
#pragma once

#include "BoardLpcBridge.h"
#include "BoardState.h"
#include "LpcBridgeDevice.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace runs {

struct GenericWindow {
  std::string Slot;           // "LPC range 1", "eSPI CS1", ...
  std::uint32_t Register = 0; // bridge value
  std::uint32_t Mirror = 0;   // private-configuration copy
};

struct DecodeState {
  std::uint16_t IoDecodeRanges = 0, IoDecodeRangesMirror = 0;
  std::uint16_t IoEnables = 0, IoEnablesMirror = 0;
  std::array<std::uint16_t, 3> EspiIoEnables{}; // chip selects 1-3
  std::vector<GenericWindow> Windows;           // LPC ranges 1-4, then eSPI CS1-CS3
};

DecodeState ReadDecodeState(const sim::BoardState &Board);

using RangeDevice = sim::hw::LpcBridge::RangeDevice;
using sim::hw::LpcBridge::RangeDevices;
// The value of a range field in the I/O Decode Ranges register.
std::uint32_t RangeGet(sim::hw::LpcBridge::RangeField Field, std::uint16_t Value);
std::uint32_t RangeMask(sim::hw::LpcBridge::RangeField Field);
// "LPC", "eSPI CS2", "target 9 (unknown)"
std::string DescribeTarget(std::uint32_t Target);

// "COM A 0x3F8, COM B 0x3E8, parallel 0x378 (off), floppy 0x3F0 (off)": the range fields, each
// marked off when the primary I/O Enables register does not decode that device.
std::string DescribeDecodeRanges(std::uint16_t Value, std::uint16_t Enables);
// "COM A, COM B, keyboard 0x60/0x64, ..." or "none"
std::string DescribeEnables(std::uint16_t Value);
using sim::WindowPorts;
// "0x0200-0x02FF" or "free", with any reserved bits that are set named.
std::string DescribeWindow(std::uint32_t Value);
// Bits of the I/O Decode Ranges register outside its four range fields.
std::uint16_t ReservedDecodeRangeBits(std::uint16_t Value);
// "serial COM A at 0x03F8 on LPC", "other at 0x0A00 on eSPI CS1"
std::string DescribeDecodeRequest(std::uint16_t Port, std::uint8_t Size, std::uint32_t Attributes);

} // namespace runs
