// The board's Super I/O chip, behind the LPC bridge on its configuration ports. It takes
// configuration only in configuration mode, which the four-byte entry key written to the index
// port starts and a write of the leave bit to configuration control ends. In that mode the index
// port chooses a register and the data port reads or writes it: the chip's own registers below
// 0x30, the selected logical device's from 0x30 up. Outside it the chip ignores the data port and
// drives no read.
#pragma once

#include "BoardSuperIo.h"
#include "Device.h"

#include <array>
#include <cstdint>
#include <map>

namespace sim {

class SuperIoChip : public Device {
public:
  using Registers = std::map<std::uint8_t, std::uint8_t>; // written registers only

  std::uint32_t read(unsigned, std::uint64_t Offset, unsigned Width) override;
  void write(unsigned, std::uint64_t Offset, unsigned Width, std::uint32_t Value) override;
  std::string registerName(unsigned, std::uint64_t Offset) const override;

  bool inConfigMode() const { return ConfigMode_; }
  std::uint8_t selectedDevice() const { return Selected_; }
  // The chip's own registers written in configuration mode (logical-device select included).
  const Registers &globalRegisters() const { return Global_; }
  // Each logical device's registers written in configuration mode, by device number.
  const std::map<std::uint8_t, Registers> &logicalDevices() const { return Devices_; }
  // Writes that reached the chip outside configuration mode and were not part of its entry key:
  // the chip took nothing from them.
  std::uint64_t ignoredWrites() const { return Ignored_; }
  // Times the entry key was completed, and configuration mode left.
  unsigned entries() const { return Entries_; }
  unsigned exits() const { return Exits_; }

private:
  void keyByte(std::uint8_t Value);
  void registerWrite(std::uint8_t Value);

  bool ConfigMode_ = false;
  std::size_t KeyProgress_ = 0;
  std::uint8_t Index_ = 0;
  std::uint8_t Selected_ = 0;
  Registers Global_;
  std::map<std::uint8_t, Registers> Devices_;
  std::uint64_t Ignored_ = 0;
  unsigned Entries_ = 0;
  unsigned Exits_ = 0;
};

// "logical-device select", "activate", "I/O base, low byte"; empty for a register without a name.
const char *SuperIoRegisterName(std::uint8_t Register);

} // namespace sim
