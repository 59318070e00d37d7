#include "PacketCodec.h"

namespace gdbremote {

namespace {

constexpr char HexDigits[] = "0123456789abcdef";
constexpr unsigned BitsPerDigit = 4;
constexpr unsigned DigitMask = 0xf;
constexpr unsigned BitsPerByte = 8;
constexpr unsigned ByteMask = 0xff;
constexpr unsigned DecimalDigits = 10;

std::optional<unsigned> digitValue(char C) {
  if (C >= '0' && C <= '9')
    return static_cast<unsigned>(C - '0');
  if (C >= 'a' && C <= 'f')
    return static_cast<unsigned>(C - 'a') + DecimalDigits;
  if (C >= 'A' && C <= 'F')
    return static_cast<unsigned>(C - 'A') + DecimalDigits;
  return std::nullopt;
}

bool needsEscape(char C) {
  return C == PacketStart || C == ChecksumMark || C == EscapeMark || C == RunLengthMark;
}

} // namespace

std::uint8_t checksum(std::string_view Payload) {
  unsigned Sum = 0;
  for (char C : Payload)
    Sum += static_cast<std::uint8_t>(C);
  return static_cast<std::uint8_t>(Sum & ByteMask);
}

std::string hexByte(std::uint8_t Value) {
  return {HexDigits[Value >> BitsPerDigit], HexDigits[Value & DigitMask]};
}

std::string frame(std::string_view Payload) {
  std::string Framed;
  Framed.reserve(Payload.size() + 4);
  Framed += PacketStart;
  Framed += Payload;
  Framed += ChecksumMark;
  Framed += hexByte(checksum(Payload));
  return Framed;
}

std::string escapeBinary(std::span<const std::uint8_t> Bytes) {
  std::string Text;
  Text.reserve(Bytes.size());
  for (std::uint8_t Byte : Bytes) {
    const char C = static_cast<char>(Byte);
    if (needsEscape(C)) {
      Text += EscapeMark;
      Text += static_cast<char>(C ^ EscapeFlip);
    } else {
      Text += C;
    }
  }
  return Text;
}

std::optional<std::vector<std::uint8_t>> unescapeBinary(std::string_view Text) {
  std::vector<std::uint8_t> Bytes;
  Bytes.reserve(Text.size());
  for (std::size_t I = 0; I < Text.size(); ++I) {
    char C = Text[I];
    if (C == EscapeMark) {
      if (++I == Text.size())
        return std::nullopt;
      C = static_cast<char>(Text[I] ^ EscapeFlip);
    }
    Bytes.push_back(static_cast<std::uint8_t>(C));
  }
  return Bytes;
}

std::string toHex(std::span<const std::uint8_t> Bytes) {
  std::string Text;
  Text.reserve(Bytes.size() * 2);
  for (std::uint8_t Byte : Bytes)
    Text += hexByte(Byte);
  return Text;
}

std::string toHex(std::string_view Text) {
  std::string Hex;
  Hex.reserve(Text.size() * 2);
  for (char C : Text)
    Hex += hexByte(static_cast<std::uint8_t>(C));
  return Hex;
}

std::optional<std::vector<std::uint8_t>> fromHex(std::string_view Text) {
  if (Text.size() % 2 != 0)
    return std::nullopt;
  std::vector<std::uint8_t> Bytes;
  Bytes.reserve(Text.size() / 2);
  for (std::size_t I = 0; I < Text.size(); I += 2) {
    const auto High = digitValue(Text[I]);
    const auto Low = digitValue(Text[I + 1]);
    if (!High || !Low)
      return std::nullopt;
    Bytes.push_back(static_cast<std::uint8_t>((*High << BitsPerDigit) | *Low));
  }
  return Bytes;
}

std::optional<std::uint64_t> parseHexNumber(std::string_view Text) {
  constexpr std::uint64_t TopDigitShift = 64 - BitsPerDigit;
  if (Text.empty())
    return std::nullopt;
  std::uint64_t Value = 0;
  for (char C : Text) {
    const auto Digit = digitValue(C);
    if (!Digit || (Value >> TopDigitShift) != 0)
      return std::nullopt;
    Value = (Value << BitsPerDigit) | *Digit;
  }
  return Value;
}

std::string littleEndianHex(std::uint64_t Value, std::size_t Bytes) {
  std::string Text;
  Text.reserve(Bytes * 2);
  for (std::size_t I = 0; I < Bytes; ++I) {
    const bool InValue = I < sizeof(Value);
    Text +=
        hexByte(InValue ? static_cast<std::uint8_t>((Value >> (I * BitsPerByte)) & ByteMask) : 0);
  }
  return Text;
}

void PacketReader::feed(std::string_view Bytes) {
  for (char C : Bytes)
    take(C);
}

std::optional<Received> PacketReader::next() {
  if (Events.empty())
    return std::nullopt;
  Received Front = std::move(Events.front());
  Events.pop_front();
  return Front;
}

void PacketReader::take(char C) {
  switch (Now) {
  case State::Between:
    if (C == Ack)
      Events.push_back({Received::Kind::Ack, {}});
    else if (C == Nack)
      Events.push_back({Received::Kind::Nack, {}});
    else if (C == InterruptByte)
      Events.push_back({Received::Kind::Interrupt, {}});
    else if (C == PacketStart) {
      Payload.clear();
      Oversized = false;
      Now = State::Payload;
    }
    // Anything else between packets is line noise and is dropped.
    return;
  case State::Payload:
    // The checksum mark always ends a packet, even after an escape mark: gdb escapes every '#'
    // in binary data, so "}#" is a packet cut short.
    if (C == ChecksumMark) {
      Now = State::FirstDigit;
      return;
    }
    if (C == PacketStart) {
      // A new start inside a packet: the sender gave up on the old one.
      Events.push_back({Received::Kind::BadPacket, {}});
      Payload.clear();
      Oversized = false;
      return;
    }
    if (Payload.size() < MaxPacketPayload)
      Payload += C;
    else
      Oversized = true;
    return;
  case State::FirstDigit:
    FirstDigit = C;
    Now = State::SecondDigit;
    return;
  case State::SecondDigit: {
    Now = State::Between;
    const auto Sent = parseHexNumber(std::string{FirstDigit, C});
    if (Oversized || !Sent || *Sent != checksum(Payload))
      Events.push_back({Received::Kind::BadPacket, {}});
    else
      Events.push_back({Received::Kind::Packet, std::move(Payload)});
    Payload.clear();
    return;
  }
  }
}

} // namespace gdbremote
