// A machine for the server's tests: a few registers, a small memory, a device window that must
// not be read, and "execution" that moves the instruction pointer by one byte a step.
#pragma once

#include "Target.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace gdbremote::testing {

inline constexpr std::uint64_t MemoryBase = 0x1000;
inline constexpr std::uint64_t DeviceWindow = 0x2000;
// The bytes at MemoryBase; the framing's special characters among them.
inline const std::vector<std::uint8_t> InitialMemory = {0x55, 0x89, 0xe5, 0x7d,
                                                        0x23, 0x24, 0x2a, 0x90};

class FakeTarget : public Target {
public:
  explicit FakeTarget(Architecture Arch) : Arch(Arch) {
    Registers[RegisterId::Rax] = 0x1122334455667788;
    Registers[RegisterId::Rcx] = 0xc;
    Registers[RegisterId::Rsp] = 0x8000;
    Registers[RegisterId::Rip] = MemoryBase;
    Registers[RegisterId::Eflags] = 0x202;
    Registers[RegisterId::Cs] = 0x10;
  }

  Architecture architecture() const override { return Arch; }
  std::uint64_t reg(RegisterId Id) const override {
    const auto Found = Registers.find(Id);
    const std::uint64_t Value = Found == Registers.end() ? 0 : Found->second;
    return Arch == Architecture::I386 ? Value & 0xffffffff : Value;
  }
  bool setReg(RegisterId Id, std::uint64_t Value) override {
    // The code segment is the run's: a write is refused.
    if (Id == RegisterId::Cs)
      return false;
    Registers[Id] = Value;
    return true;
  }
  bool readMemory(std::uint64_t Address, std::span<std::uint8_t> Into) override {
    if (!inMemory(Address, Into.size()))
      return false;
    std::copy_n(Memory.begin() + static_cast<long>(Address - MemoryBase), Into.size(),
                Into.begin());
    return true;
  }
  bool writeMemory(std::uint64_t Address, std::span<const std::uint8_t> From) override {
    if (!inMemory(Address, From.size()))
      return false;
    std::copy(From.begin(), From.end(), Memory.begin() + static_cast<long>(Address - MemoryBase));
    return true;
  }

  void step(int Bytes) { Registers[RegisterId::Rip] += static_cast<std::uint64_t>(Bytes); }
  std::uint64_t ip() const { return reg(RegisterId::Rip); }

private:
  bool inMemory(std::uint64_t Address, std::size_t Size) const {
    return Address >= MemoryBase && Address - MemoryBase + Size <= Memory.size();
  }
  Architecture Arch;
  std::map<RegisterId, std::uint64_t> Registers;
  std::vector<std::uint8_t> Memory = InitialMemory;
};

} // namespace gdbremote::testing
