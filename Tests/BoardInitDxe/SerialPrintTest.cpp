#include "BoardInitDxe/SerialPrint.h"

#include "Board.h"
#include "TraceText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Line feed is the only byte translated; 263 characters and the NUL fill the buffer, and
// whatever would follow is cut, not written past it.
TEST(SerialPrint, SendsTheMessageWithLineFeedsAsCarriageReturnLineFeed) {
  struct Case {
    std::string Message;
    std::string Wire;
  };
  const Case Cases[] = {
      {"Zelk SetupInit Start\n", "Zelk SetupInit Start\x0D\x0A"},
      {"a\n\nb", "a\r\n\r\nb"},
      {"a\rb\r\n", "a\rb\r\r\n"},
      {"", ""},
      {std::string(262, 'x') + "\n", std::string(262, 'x') + "\r\n"},
      {std::string(263, 'x') + "\n", std::string(263, 'x')},
      {std::string(1000, 'y'), std::string(263, 'y')},
  };
  for (const Case &Each : Cases) {
    sim::Board Board;
    Board.startAfterEarlyInit(); // the UART decoded, as the driver finds it
    sim::RunOnBoard(Board, [&] { SerialPrint("%s", Each.Message.c_str()); });
    EXPECT_EQ(Board.serialOutput(), Each.Wire) << Each.Message.size() << ": " << Each.Message;
  }
}

// Every byte waits for an empty holding register, the carriage return of a line feed included.
TEST(SerialPrint, PollsLineStatusBeforeEveryByte) {
  sim::Board Board;
  Board.startAfterEarlyInit(); // the UART decoded, as the driver finds it
  sim::RunOnBoard(Board, [] { SerialPrint("ab\n"); });
  const std::vector<std::string> Expected = {
      "IN8 0x03FD 0x60", "OUT8 0x03F8 0x61", "IN8 0x03FD 0x60", "OUT8 0x03F8 0x62",
      "IN8 0x03FD 0x60", "OUT8 0x03F8 0x0D", "IN8 0x03FD 0x60", "OUT8 0x03F8 0x0A",
  };
  EXPECT_EQ(sim::test::Lines(Board), Expected);
}

// Only bit 5 lets a byte go, and the wait has no bound; a port that is not decoded reads all
// ones and sends at once.
TEST(SerialPrint, WaitsForTransmitHoldingEmpty) {
  for (const std::uint8_t LineStatus : {0x20, 0xFF, 0xDF, 0x00}) {
    sim::Scenario Settings;
    Settings.UartLineStatus = LineStatus;
    Settings.MaxSteps = 200;
    sim::Board Board(Settings);
    Board.startAfterEarlyInit(); // the UART decoded, as the driver finds it
    const sim::RunOutcome Outcome = sim::RunOnBoard(Board, [] { SerialPrint("ok"); });
    const bool Ready = (LineStatus & 0x20) != 0;
    EXPECT_EQ(Outcome.Hung, !Ready) << int{LineStatus};
    EXPECT_EQ(Board.serialOutput(), Ready ? "ok" : "") << int{LineStatus};
  }
}

} // namespace
