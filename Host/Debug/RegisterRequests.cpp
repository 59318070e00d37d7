// g, G, p and P: the registers in the description's order, each in the target's byte order.
#include "PacketCodec.h"
#include "RegisterLayout.h"
#include "Requests.h"

namespace gdbremote {

namespace {

constexpr unsigned BitsPerByte = 8;

std::uint64_t littleEndianValue(std::span<const std::uint8_t> Bytes) {
  std::uint64_t Value = 0;
  for (std::size_t I = 0; I < Bytes.size() && I < sizeof Value; ++I)
    Value |= std::uint64_t{Bytes[I]} << (I * BitsPerByte);
  return Value;
}

// The part of a target's value the slot shows (eax of rax on I386).
std::uint64_t slotValue(const Target &Machine, const RegisterSlot &Slot) {
  constexpr unsigned WholeValue = 64;
  const std::uint64_t Value = Machine.reg(*Slot.Source);
  return Slot.Bits >= WholeValue ? Value : Value & ((std::uint64_t{1} << Slot.Bits) - 1);
}

std::string slotHex(const Target &Machine, const RegisterSlot &Slot) {
  return littleEndianHex(Slot.Source ? Machine.reg(*Slot.Source) : 0, Slot.bytes());
}

// Registers the target does not keep take any value and keep reading zero.
bool setSlot(Target &Machine, const RegisterSlot &Slot, std::span<const std::uint8_t> Bytes) {
  return !Slot.Source || Machine.setReg(*Slot.Source, littleEndianValue(Bytes));
}

} // namespace

std::string readRegisters(const Target &Machine) {
  std::string Reply;
  for (const RegisterSlot &Slot : registerLayout(Machine.architecture()))
    Reply += slotHex(Machine, Slot);
  return Reply;
}

std::string writeRegisters(Target &Machine, std::string_view Hex) {
  const auto Bytes = fromHex(Hex);
  const auto Layout = registerLayout(Machine.architecture());
  std::size_t Needed = 0;
  for (const RegisterSlot &Slot : Layout)
    Needed += Slot.bytes();
  if (!Bytes || Bytes->size() != Needed)
    return std::string(ErrorBadPacket);
  bool AllTaken = true;
  std::span<const std::uint8_t> Rest(*Bytes);
  for (const RegisterSlot &Slot : Layout) {
    // gdb writes the whole file to change one register: a register that keeps its value is left
    // alone, so one the target will not take (a segment of the run's) does not fail the rest.
    const auto Piece = Rest.first(Slot.bytes());
    const bool Unchanged = !Slot.Source || slotValue(Machine, Slot) == littleEndianValue(Piece);
    AllTaken = (Unchanged || setSlot(Machine, Slot, Piece)) && AllTaken;
    Rest = Rest.subspan(Slot.bytes());
  }
  return std::string(AllTaken ? Okay : ErrorNoAccess);
}

std::string readRegister(const Target &Machine, std::string_view Number) {
  const auto Layout = registerLayout(Machine.architecture());
  const auto Index = parseHexNumber(Number);
  if (!Index || *Index >= Layout.size())
    return std::string(ErrorBadPacket);
  return slotHex(Machine, Layout[*Index]);
}

std::string writeRegister(Target &Machine, std::string_view Assignment) {
  const auto Layout = registerLayout(Machine.architecture());
  const auto Equals = Assignment.find('=');
  if (Equals == std::string_view::npos)
    return std::string(ErrorBadPacket);
  const auto Index = parseHexNumber(Assignment.substr(0, Equals));
  const auto Bytes = fromHex(Assignment.substr(Equals + 1));
  if (!Index || *Index >= Layout.size() || !Bytes || Bytes->size() != Layout[*Index].bytes())
    return std::string(ErrorBadPacket);
  return std::string(setSlot(Machine, Layout[*Index], *Bytes) ? Okay : ErrorNoAccess);
}

} // namespace gdbremote
