// Device models of the simulated board, each apart from the others. None of them records
// traces; the board does that around every access.
#pragma once

#include "Scenario.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

namespace Map {
inline constexpr std::uint16_t PciAddressPort = 0x0CF8;
inline constexpr std::uint16_t PciDataPort = 0x0CFC;
inline constexpr std::uint16_t PmTimerPort = 0x1808;
inline constexpr std::uint16_t UartData = 0x03F8;
inline constexpr std::uint16_t UartLineStatus = 0x03FD;
inline constexpr std::uint16_t SuperIoIndex = 0x002E;
inline constexpr std::uint16_t SuperIoData = 0x002F;
inline constexpr std::uint64_t EcamBase = 0xE0000000;
inline constexpr std::uint64_t EcamSize = 0x10000000;
inline constexpr std::uint64_t BridgeEcamOffset = 0xF8000; // bus 0, device 31, function 0
inline constexpr std::uint64_t BridgeConfigSize = 0x1000;
inline constexpr std::uint64_t PcrBase = 0xFD880000;
inline constexpr std::uint64_t PcrSize = 0x10000;
inline constexpr std::uint64_t SpiRegisterWindow = 0xFE032000;
inline constexpr std::uint64_t SpiConfigWindow = 0xFE033000;
inline constexpr std::uint64_t SpiWindowSize = 0x1000;
inline constexpr std::uint32_t PciLatchEnable = 0x80000000;
inline constexpr std::uint32_t PciLatchFunctionMask = 0x00FFFF00; // bus, device, function
inline constexpr std::uint32_t PciLatchBridge = 0x0000F800;       // bus 0, device 31, function 0
inline constexpr std::uint32_t PciLatchRegisterMask = 0xFC;
} // namespace Map

class CpuModel {
public:
  std::uintptr_t flags() const { return Flags_; }
  void clearInterruptFlag() { Flags_ &= ~InterruptFlag; }
  void setInterruptFlag() { Flags_ |= InterruptFlag; }
  bool interruptsEnabled() const { return (Flags_ & InterruptFlag) != 0; }
  std::uint64_t readTimeStampCounter() { return ++TimeStamp_; }

  static constexpr std::uintptr_t InterruptFlag = 0x200;

private:
  std::uintptr_t Flags_ = 0x00000202;
  std::uint64_t TimeStamp_ = 0;
};

class PmTimerModel {
public:
  PmTimerModel(std::uint32_t Start, bool Stuck) : Count_(Start & Mask), Stuck_(Stuck) {}
  // Returns the count, then advances it one tick (24 bits, wrapping to 0).
  std::uint32_t read() {
    const std::uint32_t Value = Count_;
    if (!Stuck_) {
      Count_ = (Count_ + 1) & Mask;
    }
    return Value;
  }
  std::uint32_t count() const { return Count_; }

private:
  static constexpr std::uint32_t Mask = 0x00FFFFFF;
  std::uint32_t Count_;
  bool Stuck_;
};

class SpiControllerModel {
public:
  explicit SpiControllerModel(const SpiSettings &Settings);

  std::uint32_t readConfig(std::uint64_t Offset, unsigned Width) const;
  std::uint32_t readRegister(std::uint64_t Offset, unsigned Width);
  void writeRegister(std::uint64_t Offset, unsigned Width, std::uint32_t Value);

  const std::vector<std::uint32_t> &framesReceived() const { return Frames_; }
  std::uint32_t registerValue(std::uint64_t Offset) const;

  static constexpr std::uint64_t Control0 = 0x00;
  static constexpr std::uint64_t Status = 0x08;
  static constexpr std::uint64_t Reg0C = 0x0C;
  static constexpr std::uint64_t Data = 0x10;
  static constexpr std::uint64_t Reg48 = 0x48;
  static constexpr std::uint64_t Clock = 0x200;
  static constexpr std::uint64_t DeviceIdOffset = 0x02;

private:
  SpiSettings Settings_;
  std::vector<std::uint8_t> Registers_;
  std::vector<std::uint32_t> Frames_;
};

class UartModel {
public:
  explicit UartModel(std::uint8_t LineStatus) : LineStatus_(LineStatus) {}
  void write(std::uint8_t Byte) { Output_.push_back(static_cast<char>(Byte)); }
  std::uint8_t lineStatus() const { return LineStatus_; }
  const std::string &output() const { return Output_; }

private:
  std::uint8_t LineStatus_;
  std::string Output_;
};

class SuperIoModel {
public:
  void write(std::uint16_t Port, std::uint8_t Value) { Writes_.emplace_back(Port, Value); }
  static constexpr std::uint8_t ReadValue = 0xFF;
  const std::vector<std::pair<std::uint16_t, std::uint8_t>> &writes() const { return Writes_; }

private:
  std::vector<std::pair<std::uint16_t, std::uint8_t>> Writes_;
};

} // namespace sim
