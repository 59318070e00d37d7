// The one x86 decoder of the host tools: LLVM's disassembler and AT&T printer set up once for
// IA-32 (PointerSize 4) or x86-64 (PointerSize 8). Every reader of machine code (the object
// listings, the stack walk, the planted divergences, the emulated machine) decodes through it.
#pragma once

#include "X86Instruction.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace formats {

// What the emulated machine asks of an instruction it is about to run: how long it is and which
// I/O-port access it makes, without its text.
struct InstructionShape {
  std::size_t Length = 0; // 0: the bytes start no instruction, or end inside it
  std::optional<PortAccess> Port;

  bool operator==(const InstructionShape &) const = default;
};

// A port instruction inside a run of code, at Offset bytes from its start.
struct PortInstruction {
  std::size_t Offset = 0;
  std::size_t Length = 0;
  PortAccess Access;

  bool operator==(const PortInstruction &) const = default;
};

class X86Decoder {
public:
  explicit X86Decoder(unsigned PointerSize);
  ~X86Decoder();
  X86Decoder(const X86Decoder &) = delete;
  X86Decoder &operator=(const X86Decoder &) = delete;

  unsigned pointerSize() const;

  // The instruction at the start of Bytes, whose first byte lies at Address: its text, length and
  // facts. Size is 0, and the text and facts empty, when the bytes start no instruction or end
  // inside it.
  Instruction decode(std::span<const std::uint8_t> Bytes, std::uint64_t Address) const;

  // Every instruction of Bytes, one after another from Address; a byte that starts no instruction
  // is one "<unknown>" byte whose stack effect is unknown.
  std::vector<Instruction> decodeAll(std::span<const std::uint8_t> Bytes,
                                     std::uint64_t Address) const;

  // The length of the instruction Bytes starts with and its port access, without printing it.
  InstructionShape shape(std::span<const std::uint8_t> Bytes) const;
  // The port instructions of Code (a translated block, say), decoded one after another from its
  // start up to its end or to the first byte that starts no instruction.
  std::vector<PortInstruction> portInstructions(std::span<const std::uint8_t> Code) const;

private:
  struct Machine;
  std::unique_ptr<Machine> Machine_;
};

} // namespace formats
