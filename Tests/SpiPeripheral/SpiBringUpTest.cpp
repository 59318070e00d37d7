#include "Board.h"
#include "SpiPeripheral.h"
#include "SpiRegs.h"
#include "TraceText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

using sim::test::MemoryLines;

constexpr std::uint64_t RegisterWindow = 0xFE032000;
constexpr std::uint64_t WindowSize = 0x1000;
const std::vector<std::uint32_t> InitFrames = {0x0700, 0x0401, 0x0307, 0x020E, 0x01FF};

struct BringUpRun {
  sim::Board Board;
  bool Present = false;
  bool Hung = false;
};

// The entry sequence of both modules: check presence, bring up when present.
void RunEntrySequence(BringUpRun &Run) {
  Run.Hung = sim::RunOnBoard(Run.Board, [&] {
               Run.Present = SpiPeripheralPresent();
               if (Run.Present) {
                 SpiPeripheralBringUp();
               }
             }).Hung;
}

std::size_t Count(const std::vector<std::string> &Lines, const std::string &Line) {
  return static_cast<std::size_t>(std::count(Lines.begin(), Lines.end(), Line));
}

// The board's memory map: each of the PCH's three SPI controllers has a register window and,
// 4 KiB above it, its configuration-space window; the controllers lie 8 KiB apart.
TEST(SpiBringUp, AddressTableHoldsTheThreeControllersWindows) {
  const std::vector<PhysicalAddress> Expected = {0xFE030000, 0xFE031000, 0xFE032000,
                                                 0xFE033000, 0xFE034000, 0xFE035000};
  EXPECT_EQ(std::vector<PhysicalAddress>(std::begin(SpiController::AddressTable),
                                         std::end(SpiController::AddressTable)),
            Expected);
}

TEST(SpiBringUp, DefaultControllerSeesTheExactRegisterSequence) {
  BringUpRun Run;
  RunEntrySequence(Run);
  ASSERT_TRUE(Run.Present);
  std::vector<std::string> Expected = {
      "RD32 0xFE032000 0x00000000", // control 0 not all ones: the controller answers
      "WR32 0xFE032000 0x00C0008F", "WR32 0xFE032004 0x00000000",
      // Clock from 0: enable, dividers, update low, update high.
      "RD32 0xFE032200 0x00000000", "WR32 0xFE032200 0x00000001", "RD32 0xFE032200 0x00000001",
      "WR32 0xFE032200 0x00640003", "RD32 0xFE032200 0x00640003", "WR32 0xFE032200 0x00640003",
      "RD32 0xFE032200 0x00640003", "WR32 0xFE032200 0x80640003",
      // Register 0x0C: one discarded read, then one quiet attempt of two reads.
      "RD32 0xFE03200C 0x00000000", "RD32 0xFE03200C 0x00000000", "RD32 0xFE03200C 0x00000000",
      "RD32 0xFE032008 0x00000004", // not busy
      "RD32 0xFE032008 0x00000004", // transmit ready
      "RD32 0xFE032048 0x00000000", // drained
      "RD32 0xFE032008 0x00000004", // not busy
  };
  for (const std::uint32_t Frame : InitFrames) {
    char Write[40];
    std::snprintf(Write, sizeof Write, "WR32 0xFE032010 0x%08X", Frame);
    Expected.push_back(Write);
    Expected.push_back("RD32 0xFE032008 0x00000004");
    Expected.push_back("RD32 0xFE032010 0x00000000");
  }
  Expected.push_back("RD32 0xFE032008 0x00000004"); // receive FIFO not (non-empty and busy)
  Expected.push_back("RD32 0xFE032008 0x00000004"); // not busy
  EXPECT_EQ(MemoryLines(Run.Board, RegisterWindow, WindowSize), Expected);
  EXPECT_EQ(Run.Board.spiFrames(), InitFrames);
  EXPECT_EQ(Run.Board.spi().registerValue(0x200), 0x80640003u);
}

TEST(SpiBringUp, EachFrameWaitsTenMicrosecondsOnThePmTimer) {
  BringUpRun Run;
  RunEntrySequence(Run);
  // 35 ticks per frame: 37 timer reads each.
  EXPECT_EQ(sim::test::CountMatching(Run.Board, sim::AccessKind::PortIn, 0x1808), 5u * 37u);
}

TEST(SpiBringUp, MissingOrDeadControllerLeavesTheRegisterWindowAlone) {
  struct Case {
    const char *Name;
    sim::SpiPresence Presence;
    std::vector<std::string> Window;
  };
  const Case Cases[] = {
      {"absent", sim::SpiPresence::Absent, {}},
      {"control 0 all ones", sim::SpiPresence::Dead, {"RD32 0xFE032000 0xFFFFFFFF"}},
  };
  for (const Case &Each : Cases) {
    BringUpRun Run{sim::Board([&] {
      sim::Scenario Settings;
      Settings.Spi.Presence = Each.Presence;
      return Settings;
    }())};
    RunEntrySequence(Run);
    EXPECT_EQ(MemoryLines(Run.Board, RegisterWindow, WindowSize), Each.Window) << Each.Name;
    EXPECT_TRUE(Run.Board.spiFrames().empty()) << Each.Name;
  }
}

TEST(SpiBringUp, ClockAlreadyRunningIsNotWritten) {
  sim::Scenario Settings;
  Settings.Spi.Clock = 0x00640003;
  BringUpRun Run{sim::Board(Settings)};
  RunEntrySequence(Run);
  const auto Lines = MemoryLines(Run.Board, RegisterWindow, WindowSize);
  EXPECT_EQ(Count(Lines, "RD32 0xFE032200 0x00640003"), 1u);
  for (const std::string &Line : Lines) {
    EXPECT_NE(Line.rfind("WR32 0xFE032200", 0), 0u) << Line;
  }
}

// Stuck status bits and a register that never drains run every bounded wait to its end; the
// peripheral still receives all five frames.
TEST(SpiBringUp, StuckRegistersEndEachWaitAfterItsBound) {
  struct Case {
    const char *Name;
    std::uint32_t Status, Reg0C, Drain;
    std::size_t StatusReads, Reg0CReads, Reg48Reads;
  };
  const Case Cases[] = {
      // busy waits x3, transmit-ready waits x6 (5 frames + 1), all 17 reads; receive wait 1.
      {"busy", 0x14, 0, 0, 17 * 3 + 17 * 6 + 1, 3, 1},
      // busy and receive FIFO not empty: the receive wait runs out too.
      {"busy with data", 0x1C, 0, 0, 17 * 3 + 17 * 6 + 17, 3, 1},
      // transmit FIFO full only: the transmit-ready waits run out, the busy waits pass.
      {"transmit full", 0x00, 0, 0, 1 * 3 + 17 * 6 + 1, 3, 1},
      {"0x0C never quiet", 0x04, 0xE0, 0, 1 * 3 + 1 * 6 + 1, 1 + 17, 1},
      // Only bits 7:5 of 0x0C show activity: with them clear the first two reads are quiet.
      {"0x0C quiet with bit 8 set", 0x04, 0x11F, 0, 1 * 3 + 1 * 6 + 1, 3, 1},
      {"0x0C quiet with all but bits 7:5 set", 0x04, 0xFFFFFF1F, 0, 1 * 3 + 1 * 6 + 1, 3, 1},
      {"0x48 never drains", 0x04, 0, 5, 1 * 3 + 1 * 6 + 1, 3, 17 + 16},
  };
  for (const Case &Each : Cases) {
    sim::Scenario Settings;
    Settings.Spi.Status = Each.Status;
    Settings.Spi.Reg0C = Each.Reg0C;
    Settings.Spi.Drain = Each.Drain;
    BringUpRun Run{sim::Board(Settings)};
    RunEntrySequence(Run);
    ASSERT_FALSE(Run.Hung) << Each.Name;
    using sim::AccessKind;
    using sim::test::CountMatching;
    EXPECT_EQ(CountMatching(Run.Board, AccessKind::MemRead, RegisterWindow + 0x08),
              Each.StatusReads)
        << Each.Name;
    EXPECT_EQ(CountMatching(Run.Board, AccessKind::MemRead, RegisterWindow + 0x0C), Each.Reg0CReads)
        << Each.Name;
    EXPECT_EQ(CountMatching(Run.Board, AccessKind::MemRead, RegisterWindow + 0x48), Each.Reg48Reads)
        << Each.Name;
    EXPECT_EQ(Run.Board.spiFrames(), InitFrames) << Each.Name;
  }
}

} // namespace
