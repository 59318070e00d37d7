// What a machine says when the module breaks the processor's rules: an access the memory map
// refuses, or an exception the processor raises. The texts name the address and where in the
// image the instruction lies.
#pragma once

#include <unicorn/unicorn.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace imagerun {

// The processor's exception vectors, by name; the others are "interrupt".
const char *ExceptionName(std::uint32_t Vector);

// The stack the machine paints: an access just below it is an overflow.
struct StackBounds {
  std::uint64_t Base;
  std::uint64_t Size;
};

// "CPU fault: write of 4 bytes at 0x000FF000, outside anything mapped, at 0x... (F+0x12)" for an
// access of Size bytes of Type at Address that the memory refused; Where describes the instruction
// (for a fetch, the one that branched there).
std::string RefusedAccessText(uc_mem_type Type, std::uint64_t Address, int Size,
                              const std::string &Where, StackBounds Stack);

// "4 bytes", "1 byte".
std::string ByteCount(int Size);

// The registers a fault report gives, in the processor's order.
struct NamedRegister {
  const char *Name;
  int Id; // the emulator's
};
std::span<const NamedRegister> FaultRegisters(bool Wide);

// The longest x86 instruction, in bytes.
inline constexpr std::size_t LongestInstruction = 15;

} // namespace imagerun
