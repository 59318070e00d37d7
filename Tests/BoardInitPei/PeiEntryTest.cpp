#include "HostBuildRuns.h"
#include "RegisterOps.h"
#include "TraceText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr std::uint64_t SpiRegisterWindow = 0xFE032000;

void ExpectBoardDecodingOpen(const sim::Board &Board) {
  EXPECT_EQ(Board.lpcConfig().read16(0x80), 0x0070);
  EXPECT_EQ(Board.lpcConfig().read16(0x82), 0x3C03);
  EXPECT_EQ(Board.pcr().read16(0x2770), 0x0070);
  EXPECT_EQ(Board.pcr().read16(0x2774), 0x3C03);
  const std::uint32_t Slots[] = {0x0000006D, 0x00000281, 0x00FC0201, 0x00FC0A01};
  for (std::uint32_t Slot = 0; Slot < 4; ++Slot) {
    EXPECT_EQ(Board.lpcConfig().read32(0x84 + 4 * Slot), Slots[Slot]);
    EXPECT_EQ(Board.pcr().read32(0x2730 + 4 * Slot), Slots[Slot]);
  }
}

std::vector<std::pair<std::uint16_t, std::uint8_t>> ScriptWrites() {
  std::vector<std::pair<std::uint16_t, std::uint8_t>> Writes;
  for (const IoScriptRow &Row : sim::BoardSuperIoScript()) {
    Writes.emplace_back(Row.Port, Row.OrValue);
  }
  return Writes;
}

// The script comes last: no decode access may follow its first write.
TEST(PeiEntry, ScriptFollowsTheLastDecodeAccess) {
  sim::Board Board;
  ASSERT_FALSE(runs::HostBuild().runPei(Board).Hung);
  const std::vector<std::string> Ops = pei::test::RegisterOps(Board);
  ASSERT_GE(Ops.size(), 22u);
  const std::vector<std::string> Tail(Ops.end() - 22, Ops.end());
  for (const std::string &Line : Tail) {
    EXPECT_EQ(Line.rfind("OUT8 0x002", 0), 0u) << Line;
  }
  EXPECT_EQ(Ops[Ops.size() - 23], pei::test::Op("PCR", true, 2, 0x2774, 0x3C03));
}

// Whether or not the SPI controller answers, decoding and script run the same way.
TEST(PeiEntry, BringsUpSpiWhenPresentThenOpensDecodingAndRunsTheScript) {
  for (const sim::SpiPresence Presence :
       {sim::SpiPresence::Present, sim::SpiPresence::Absent, sim::SpiPresence::Dead}) {
    SCOPED_TRACE(static_cast<int>(Presence));
    sim::Scenario Settings;
    Settings.Spi.Presence = Presence;
    sim::Board Board(Settings);
    const runs::RunResult Result = runs::HostBuild().runPei(Board);
    ASSERT_FALSE(Result.Hung);
    EXPECT_EQ(Result.EntryStatus, 0u);
    EXPECT_EQ(Board.spiFrames().size(), Presence == sim::SpiPresence::Present ? 5u : 0u);
    if (Presence == sim::SpiPresence::Absent) {
      EXPECT_TRUE(sim::test::MemoryLines(Board, SpiRegisterWindow, 0x1000).empty());
    }
    ExpectBoardDecodingOpen(Board);
    EXPECT_EQ(Board.superIoWrites(), ScriptWrites());
    EXPECT_TRUE(Board.interruptsEnabled());
  }
}

} // namespace
