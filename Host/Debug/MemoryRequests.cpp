// m, M and X on the target's memory, and the target description read in pieces.
#include "PacketCodec.h"
#include "Requests.h"
#include "TargetDescription.h"

#include <algorithm>
#include <vector>

namespace gdbremote {

namespace {

// Each byte read is two hex digits in the reply.
constexpr std::uint64_t MaxReadBytes = MaxPacketPayload / 2;
constexpr std::string_view DescriptionAnnex = "target.xml";
constexpr char MoreToCome = 'm';
constexpr char LastPiece = 'l';

struct Span {
  std::uint64_t Start;
  std::uint64_t Length;
};

// "ADDRESS,LENGTH" in hex.
std::optional<Span> parseSpan(std::string_view Text) {
  const auto Comma = Text.find(',');
  if (Comma == std::string_view::npos)
    return std::nullopt;
  const auto Start = parseHexNumber(Text.substr(0, Comma));
  const auto Length = parseHexNumber(Text.substr(Comma + 1));
  if (!Start || !Length)
    return std::nullopt;
  return Span{*Start, *Length};
}

// "ADDRESS,LENGTH:DATA": the span and the data as sent.
std::optional<std::pair<Span, std::string_view>> parseWrite(std::string_view Text) {
  const auto Colon = Text.find(':');
  if (Colon == std::string_view::npos)
    return std::nullopt;
  const auto Where = parseSpan(Text.substr(0, Colon));
  if (!Where)
    return std::nullopt;
  return std::pair{*Where, Text.substr(Colon + 1)};
}

std::string write(Target &Machine, Span Where,
                  const std::optional<std::vector<std::uint8_t>> &Data) {
  if (!Data || Data->size() != Where.Length)
    return std::string(ErrorBadPacket);
  if (Data->empty())
    return std::string(Okay);
  return std::string(Machine.writeMemory(Where.Start, *Data) ? Okay : ErrorNoAccess);
}

} // namespace

std::string readMemory(Target &Machine, std::string_view Arguments) {
  const auto Where = parseSpan(Arguments);
  if (!Where)
    return std::string(ErrorBadPacket);
  std::vector<std::uint8_t> Bytes(std::min(Where->Length, MaxReadBytes));
  if (Bytes.empty() || Machine.readMemory(Where->Start, Bytes))
    return toHex(Bytes);
  // gdb takes a shorter reply as the readable start of the range: read on up to the first byte
  // the target refuses.
  std::size_t Readable = 0;
  while (Readable < Bytes.size() &&
         Machine.readMemory(Where->Start + Readable, std::span(Bytes).subspan(Readable, 1)))
    ++Readable;
  if (Readable == 0)
    return std::string(ErrorNoAccess);
  return toHex(std::span(Bytes).first(Readable));
}

std::string writeMemoryHex(Target &Machine, std::string_view Arguments) {
  const auto Parsed = parseWrite(Arguments);
  if (!Parsed)
    return std::string(ErrorBadPacket);
  return write(Machine, Parsed->first, fromHex(Parsed->second));
}

std::string writeMemoryBinary(Target &Machine, std::string_view Arguments) {
  const auto Parsed = parseWrite(Arguments);
  if (!Parsed)
    return std::string(ErrorBadPacket);
  return write(Machine, Parsed->first, unescapeBinary(Parsed->second));
}

// "target.xml:OFFSET,LENGTH": 'm' and a piece while more follows, 'l' with the last piece.
std::string readFeatures(Architecture Arch, std::string_view Arguments) {
  const auto Colon = Arguments.find(':');
  if (Colon == std::string_view::npos || Arguments.substr(0, Colon) != DescriptionAnnex)
    return std::string(ErrorBadPacket);
  const auto Where = parseSpan(Arguments.substr(Colon + 1));
  if (!Where)
    return std::string(ErrorBadPacket);
  const std::string Xml = targetDescription(Arch);
  const std::uint64_t Start = std::min<std::uint64_t>(Where->Start, Xml.size());
  // The escaped piece may grow; a piece of half the packet size always fits.
  const std::uint64_t Length = std::min({Where->Length, Xml.size() - Start, MaxReadBytes});
  const auto *Piece = reinterpret_cast<const std::uint8_t *>(Xml.data()) + Start;
  const char Mark = Start + Length < Xml.size() ? MoreToCome : LastPiece;
  return Mark + escapeBinary(std::span(Piece, Length));
}

} // namespace gdbremote
