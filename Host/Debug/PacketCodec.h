// The remote protocol's framing: "$payload#cc" with a two-digit checksum, '+'/'-' acknowledgements,
// the interrupt byte, binary data escaped with '}', and the hex text most packets carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gdbremote {

inline constexpr char PacketStart = '$';
inline constexpr char ChecksumMark = '#';
inline constexpr char EscapeMark = '}';
inline constexpr char RunLengthMark = '*';
inline constexpr char EscapeFlip = 0x20; // an escaped byte is sent as '}' and the byte XOR this
inline constexpr char Ack = '+';
inline constexpr char Nack = '-';
inline constexpr char InterruptByte = 0x03;

// The largest payload the server takes; it says so in qSupported as PacketSize (hex).
inline constexpr std::size_t MaxPacketPayload = 0x4000;

std::uint8_t checksum(std::string_view Payload);
std::string frame(std::string_view Payload);

// Escapes the four bytes the framing gives a meaning: '$', '#', '}' and '*'.
std::string escapeBinary(std::span<const std::uint8_t> Bytes);
// Nothing when an escape mark ends the data.
std::optional<std::vector<std::uint8_t>> unescapeBinary(std::string_view Text);

std::string toHex(std::span<const std::uint8_t> Bytes);
std::string toHex(std::string_view Text);
// Nothing for an odd length or a character that is not a hex digit.
std::optional<std::vector<std::uint8_t>> fromHex(std::string_view Text);
// A whole field of hex digits as one number; nothing when empty, not hex, or over 64 bits.
std::optional<std::uint64_t> parseHexNumber(std::string_view Text);
// The value's low Bytes bytes, least significant first, as hex (the target's byte order).
std::string littleEndianHex(std::uint64_t Value, std::size_t Bytes);
std::string hexByte(std::uint8_t Value);

struct Received {
  enum class Kind { Ack, Nack, Interrupt, Packet, BadPacket };
  Kind What;
  std::string Payload; // for Packet: as sent, escapes kept (the X handler undoes them)
};

// Splits the byte stream from gdb into acknowledgements, interrupts and packets.
class PacketReader {
public:
  void feed(std::string_view Bytes);
  std::optional<Received> next();
  const Received *peek() const { return Events.empty() ? nullptr : &Events.front(); }

private:
  enum class State { Between, Payload, FirstDigit, SecondDigit };
  void take(char Byte);
  State Now = State::Between;
  std::string Payload;
  char FirstDigit = 0;
  bool Oversized = false;
  std::deque<Received> Events;
};

} // namespace gdbremote
