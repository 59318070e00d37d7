// What a stopped machine offers the debugger: its architecture, its general registers and its
// memory. Everything else gdb's register description names (x87, SSE) the server answers itself.
#pragma once

#include <cstdint>
#include <span>

namespace gdbremote {

enum class Architecture { I386, X86_64 };

// The registers a target answers. On I386 the 64-bit names stand for their 32-bit halves (Rax is
// eax, Rip is eip); R8 to R15 exist only on X86_64.
enum class RegisterId {
  Rax,
  Rbx,
  Rcx,
  Rdx,
  Rsi,
  Rdi,
  Rbp,
  Rsp,
  R8,
  R9,
  R10,
  R11,
  R12,
  R13,
  R14,
  R15,
  Rip,
  Eflags,
  Cs,
  Ss,
  Ds,
  Es,
  Fs,
  Gs,
};

class Target {
public:
  virtual ~Target() = default;
  virtual Architecture architecture() const = 0;
  virtual std::uint64_t reg(RegisterId Id) const = 0;
  // False when the register cannot take the value; gdb is told the write failed.
  virtual bool setReg(RegisterId Id, std::uint64_t Value) = 0;
  // False when any byte is not plain memory: a device window must not be read, as a read of a
  // device register has side effects on the device.
  virtual bool readMemory(std::uint64_t Address, std::span<std::uint8_t> Into) = 0;
  virtual bool writeMemory(std::uint64_t Address, std::span<const std::uint8_t> From) = 0;
};

} // namespace gdbremote
