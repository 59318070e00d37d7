#include "PmTimer.h"
#include "Board.h"
#include "TraceText.h"
#include "WideDivision.h"

#include <gtest/gtest.h>

namespace {

using sim::AccessKind;
using sim::test::CountMatching;

struct DelayCase {
  const char *Name;
  std::uint32_t Start;
  std::uint32_t Ticks;
  std::size_t TimerReads; // every read advances the simulated counter one tick
  std::uint32_t EndCount;
};

// A pass reads the start, then polls until the reading is one past start + chunk.
TEST(PmTimerDelay, EachPassWaitsItsTicksAcrossWrapAround) {
  const DelayCase Cases[] = {
      {"zero ticks end after one tick", 0, 0, 2, 2},
      {"35 ticks", 100, 35, 37, 137},
      {"wrap from 0xFFFFFF to 0", 0xFFFFF0, 35, 37, 0x000015},
      {"largest single pass", 0, 0x3FFFFF, 0x400001, 0x400001},
      {"0x400000 runs a 0-tick and a 2^22-tick pass", 0, 0x400000, 2 + 0x400002, 0x400004},
      {"0x400001 runs a 1-tick and a 2^22-tick pass", 0, 0x400001, 3 + 0x400002, 0x400005},
  };
  for (const DelayCase &Case : Cases) {
    sim::Scenario Settings;
    Settings.PmTimerStart = Case.Start;
    Settings.RecordTrace = Case.TimerReads < 1000;
    Settings.MaxSteps = 20000000;
    sim::Board Board(Settings);
    const sim::RunOutcome Outcome = sim::RunOnBoard(Board, [&] { PmTimerDelayTicks(Case.Ticks); });
    ASSERT_FALSE(Outcome.Hung) << Case.Name;
    EXPECT_EQ(Board.pmTimerCount(), Case.EndCount) << Case.Name;
    // Reads and pauses alternate: one pause fewer than polling reads in each pass.
    const std::size_t Passes = (Case.Ticks >> 22) + 1;
    EXPECT_EQ(Board.steps(), Case.TimerReads + (Case.TimerReads - 2 * Passes)) << Case.Name;
  }
}

TEST(PmTimerDelay, TenMicrosecondsIsThirtyFiveTicks) {
  sim::Board Board;
  std::uintptr_t Returned = 0;
  sim::RunOnBoard(Board, [&] { Returned = DelayMicroseconds(10); });
  EXPECT_EQ(Returned, 10u);
  EXPECT_EQ(CountMatching(Board, AccessKind::PortIn, 0x1808), 37u);
  EXPECT_EQ(CountMatching(Board, AccessKind::Pause, 0), 35u);
}

TEST(PmTimerDelay, MicrosecondsTruncateTowardsZero) {
  struct Case {
    std::uintptr_t Microseconds;
    std::uint32_t Ticks;
    std::uint32_t Passes; // each pass costs two reads beyond its ticks
  };
  // 3.579545 ticks per microsecond, remainder discarded; 2000 us overflows a 32-bit product. One
  // second is the timer's frequency exactly; two seconds need a second pass.
  const Case Cases[] = {{0, 0, 1},
                        {1, 3, 1},
                        {279, 998, 1},
                        {1000, 3579, 1},
                        {2000, 7159, 1},
                        {1000000, 3579545, 1},
                        {2000000, 7159090, 2}};
  for (const Case &Each : Cases) {
    sim::Scenario Settings;
    Settings.RecordTrace = false;
    Settings.MaxSteps = 20000000;
    sim::Board Board(Settings);
    ASSERT_FALSE(sim::RunOnBoard(Board, [&] { DelayMicroseconds(Each.Microseconds); }).Hung);
    EXPECT_EQ(Board.pmTimerCount(), Each.Ticks + 2 * Each.Passes) << Each.Microseconds;
  }
}

// The microsecond-to-tick division on IA-32: two 32-bit divides must give the whole 64-bit
// quotient, also where it needs more than 32 bits and where the high word's remainder is one below
// the divisor (the largest dividend the second divide can take).
TEST(PmTimerDelay, WideDivisionGivesTheFullQuotient) {
  struct Case {
    std::uint64_t Dividend;
    std::uint32_t Divisor;
  };
  constexpr Case Cases[] = {
      {0, 1},
      {~0ULL, 1},
      {~0ULL, 2},
      {~0ULL, 0xFFFFFFFF},
      {0xFFFFFFFF, 0xFFFFFFFF},
      {0x100000000, 0xFFFFFFFF},
      {0xFFFFFFFEFFFFFFFF, 0xFFFFFFFF},
      {0x00000000FFFFFFFF, PmTimer::MicrosecondsPerSecond},
      {0x000F423FFFFFFFFF, PmTimer::MicrosecondsPerSecond},
      {0x000F424000000000, PmTimer::MicrosecondsPerSecond},
      {std::uint64_t{PmTimer::FrequencyHz} * 0xFFFFFFFF, PmTimer::MicrosecondsPerSecond},
      {12345678901234567890ULL, 3},
  };
  for (const Case &Each : Cases) {
    EXPECT_EQ(DivideU64ByU32(Each.Dividend, Each.Divisor), Each.Dividend / Each.Divisor)
        << std::hex << Each.Dividend << " / " << Each.Divisor;
  }
}

TEST(PmTimerDelay, StuckTimerIsReportedHungByTheStepBudget) {
  sim::Scenario Settings;
  Settings.PmTimerStuck = true;
  Settings.MaxSteps = 500;
  sim::Board Board(Settings);
  const sim::RunOutcome Outcome = sim::RunOnBoard(Board, [] { DelayMicroseconds(10); });
  EXPECT_TRUE(Outcome.Hung);
  EXPECT_FALSE(Outcome.LastAccesses.empty());
}

} // namespace
