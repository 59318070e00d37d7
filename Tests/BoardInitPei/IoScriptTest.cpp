#include "HostBuildRuns.h"
#include "TraceText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sim::test::Lines;

TEST(IoScript, SuperIoScriptIsExactlyTwentyTwoByteWrites) {
  sim::Board Board;
  ASSERT_FALSE(sim::RunScript(Board, sim::BoardSuperIoScript()).Hung);
  const std::vector<std::string> Expected = {
      // Configuration-mode key.
      "OUT8 0x002E 0x87", "OUT8 0x002E 0x01", "OUT8 0x002E 0x55", "OUT8 0x002E 0x55",
      // Index/data pairs.
      "OUT8 0x002E 0x07", "OUT8 0x002F 0x0D", "OUT8 0x002E 0x70", "OUT8 0x002F 0x1A",
      "OUT8 0x002E 0x61", "OUT8 0x002F 0x00", "OUT8 0x002E 0x72", "OUT8 0x002F 0x00",
      "OUT8 0x002E 0x74", "OUT8 0x002F 0x00", "OUT8 0x002E 0x76", "OUT8 0x002F 0xE5",
      "OUT8 0x002E 0x77", "OUT8 0x002F 0xFF", "OUT8 0x002E 0x30", "OUT8 0x002F 0x01",
      "OUT8 0x002E 0x02", "OUT8 0x002F 0x02"};
  EXPECT_EQ(Lines(Board), Expected);
}

struct MergeCase {
  const char *Name;
  std::uint8_t PortValue; // what the port reads
  IoScriptRow Row;
  std::vector<std::string> Trace;
};

// A non-zero and-mask merges with the port's own value; a zero mask never reads.
TEST(IoScript, AndMaskRowsReadThePortFirst) {
  // The UART line status port reads back the scenario's value, so it serves as the test port.
  const MergeCase Cases[] = {
      {"mask 0xF0 over 0x3C", 0x3C, {0x3FD, 0xF0, 0x05}, {"IN8 0x03FD 0x3C", "OUT8 0x03FD 0x35"}},
      {"mask 0xFF keeps every bit",
       0x3C,
       {0x3FD, 0xFF, 0x00},
       {"IN8 0x03FD 0x3C", "OUT8 0x03FD 0x3C"}},
      {"mask 0x01 over 0x3D", 0x3D, {0x3FD, 0x01, 0x80}, {"IN8 0x03FD 0x3D", "OUT8 0x03FD 0x81"}},
      {"zero mask is a plain write", 0x3C, {0x3FD, 0x00, 0x05}, {"OUT8 0x03FD 0x05"}},
  };
  for (const MergeCase &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    sim::Scenario Settings;
    Settings.UartLineStatus = Case.PortValue;
    sim::Board Board(Settings);
    Board.startAfterEarlyInit(); // the UART decoded
    ASSERT_FALSE(sim::RunScript(Board, {&Case.Row, 1}).Hung);
    EXPECT_EQ(Lines(Board), Case.Trace);
  }
}

} // namespace
