// The framing on its own: checksums, escapes, hex, and the reader's split of a byte stream.
#include "PacketCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace gdbremote {
namespace {

TEST(PacketCodec, FramesWithTheModulo256Sum) {
  const struct {
    std::string Payload, Framed;
  } Cases[] = {
      {"", "$#00"},
      {"OK", "$OK#9a"},
      {"g", "$g#67"},
      // 0xff + 0x02 wraps to 0x01.
      {"\xff\x02", "$\xff\x02#01"},
  };
  for (const auto &Case : Cases)
    EXPECT_EQ(frame(Case.Payload), Case.Framed) << Case.Payload;
}

TEST(PacketCodec, EscapesExactlyTheFramingsBytes) {
  const struct {
    std::vector<std::uint8_t> Bytes;
    std::string Text;
  } Cases[] = {
      {{0x7d}, "}]"},
      {{0x23}, "}\x03"},
      {{0x24}, "}\x04"},
      {{0x2a}, "}\x0a"},
      {{0x00, 0x03, 0x5d, 0x7e, 0xff}, std::string("\x00\x03\x5d\x7e\xff", 5)},
  };
  for (const auto &Case : Cases) {
    EXPECT_EQ(escapeBinary(Case.Bytes), Case.Text);
    EXPECT_EQ(unescapeBinary(Case.Text), Case.Bytes);
  }
  EXPECT_FALSE(unescapeBinary("ab}")) << "an escape mark with nothing after it";
}

TEST(PacketCodec, HexRefusesWhatIsNotHex) {
  EXPECT_EQ(fromHex("00aBfF"), (std::vector<std::uint8_t>{0x00, 0xab, 0xff}));
  EXPECT_FALSE(fromHex("abc")) << "odd length";
  EXPECT_FALSE(fromHex("0g")) << "not a digit";
  EXPECT_EQ(parseHexNumber("ffffffffffffffff"), 0xffffffffffffffffu);
  EXPECT_FALSE(parseHexNumber("10000000000000000")) << "over 64 bits";
  EXPECT_FALSE(parseHexNumber(""));
  EXPECT_FALSE(parseHexNumber("-1"));
  EXPECT_EQ(littleEndianHex(0x11223344, 4), "44332211");
  EXPECT_EQ(littleEndianHex(0x1, 10), "01000000000000000000") << "an 80-bit slot";
}

using Kind = Received::Kind;

TEST(PacketCodec, ReaderSplitsTheStream) {
  const struct {
    const char *Case;
    std::string Stream;
    std::vector<Received> Events;
  } Cases[] = {
      {"AcksAndInterrupt", "+-\x03", {{Kind::Ack, {}}, {Kind::Nack, {}}, {Kind::Interrupt, {}}}},
      {"Packet", "$OK#9a", {{Kind::Packet, "OK"}}},
      {"UpperCaseChecksum", "$OK#9A", {{Kind::Packet, "OK"}}},
      {"BadChecksum", "$OK#9b", {{Kind::BadPacket, {}}}},
      {"ChecksumNotHex", "$OK#zz", {{Kind::BadPacket, {}}}},
      {"NoiseDropped", "ab\r\n$g#67", {{Kind::Packet, "g"}}},
      {"RestartInsideAPacket", "$m1$g#67", {{Kind::BadPacket, {}}, {Kind::Packet, "g"}}},
      // The mark ends a packet even after an escape; the X handler then refuses the data.
      {"MarkAfterAnEscapeEndsThePacket", "$X}#" + hexByte(checksum("X}")), {{Kind::Packet, "X}"}}},
      {"Oversized",
       frame(std::string(MaxPacketPayload + 1, 'a')) + "$g#67",
       {{Kind::BadPacket, {}}, {Kind::Packet, "g"}}},
  };
  for (const auto &Case : Cases) {
    PacketReader Reader;
    // Byte by byte: a packet split over reads is one packet.
    for (char C : Case.Stream)
      Reader.feed(std::string_view(&C, 1));
    std::vector<Received> Got;
    while (auto Event = Reader.next())
      Got.push_back(*Event);
    ASSERT_EQ(Got.size(), Case.Events.size()) << Case.Case;
    for (std::size_t I = 0; I < Got.size(); ++I) {
      EXPECT_EQ(Got[I].What, Case.Events[I].What) << Case.Case << " event " << I;
      EXPECT_EQ(Got[I].Payload, Case.Events[I].Payload) << Case.Case << " event " << I;
    }
  }
}

} // namespace
} // namespace gdbremote
