#include "BoardInitDxe/SerialPrint.h"

#include "Board.h"
#include "TraceText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Wire(const char *Format, const char *Text = nullptr) {
  sim::Board Board;
  const sim::RunOutcome Outcome = sim::RunOnBoard(Board, [&] { SerialPrint(Format, Text); });
  EXPECT_FALSE(Outcome.Hung) << Format;
  return Board.serialOutput();
}

TEST(SerialPrint, LineFeedIsTheOnlyByteTranslated) {
  struct Case {
    const char *Message;
    std::string Expected;
  };
  const Case Cases[] = {
      {"Zelk SetupInit Start\n", "Zelk SetupInit Start\x0D\x0A"},
      {"a\n\nb", "a\x0D\x0A\x0D\x0A"
                 "b"},
      {"a\rb\r\n", "a\rb\r\r\n"},
      {"", ""},
  };
  for (const Case &Each : Cases) {
    EXPECT_EQ(Wire(Each.Message), Each.Expected) << Each.Message;
  }
}

// Every byte waits for an empty holding register, the carriage return of a line feed included.
TEST(SerialPrint, PollsLineStatusBeforeEveryByte) {
  sim::Board Board;
  sim::RunOnBoard(Board, [] { SerialPrint("ab\n"); });
  const std::vector<std::string> Expected = {
      "IN8 0x03FD 0x60", "OUT8 0x03F8 0x61", "IN8 0x03FD 0x60", "OUT8 0x03F8 0x62",
      "IN8 0x03FD 0x60", "OUT8 0x03F8 0x0D", "IN8 0x03FD 0x60", "OUT8 0x03F8 0x0A",
  };
  EXPECT_EQ(sim::test::Lines(Board), Expected);
}

TEST(SerialPrint, WaitsForTransmitHoldingEmptyWithoutBound) {
  struct Case {
    std::uint8_t LineStatus;
    bool Sends;
  };
  // Only bit 5 matters; a port that is not decoded reads all ones and sends at once.
  const Case Cases[] = {{0x60, true}, {0x20, true}, {0xFF, true}, {0xDF, false}, {0x00, false}};
  for (const Case &Each : Cases) {
    sim::Scenario Settings;
    Settings.UartLineStatus = Each.LineStatus;
    Settings.MaxSteps = 200;
    sim::Board Board(Settings);
    const sim::RunOutcome Outcome = sim::RunOnBoard(Board, [] { SerialPrint("ok\n"); });
    EXPECT_EQ(Outcome.Hung, !Each.Sends) << int{Each.LineStatus};
    EXPECT_EQ(Board.serialOutput(), Each.Sends ? "ok\r\n" : "") << int{Each.LineStatus};
  }
}

// 263 characters and the NUL fill the buffer; whatever would follow is cut, not overrun.
TEST(SerialPrint, LongMessagesAreCutAtTheBuffer) {
  struct Case {
    std::string Message;
    std::string Expected;
  };
  const Case Cases[] = {
      {std::string(262, 'x') + "\n", std::string(262, 'x') + "\r\n"},
      {std::string(263, 'x') + "\n", std::string(263, 'x')},
      {std::string(1000, 'y'), std::string(263, 'y')},
  };
  for (const Case &Each : Cases) {
    EXPECT_EQ(Wire("%s", Each.Message.c_str()), Each.Expected) << Each.Message.size();
  }
}

} // namespace
