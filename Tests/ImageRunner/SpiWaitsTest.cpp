// The firmware's SPI waits as a run's reads show them: a run of reads split into the waits that
// made it, each wait's reads, whether it saw what it waits for or ran out, and the reads left.
#include "SpiWaits.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Each of the firmware's waits on its own: where one wait's reads end and the next's begin, and
// which ran out, from the values read alone.
TEST(SpiWaits, ARunOfReadsSplitsIntoTheWaitsThatMadeIt) {
  namespace Waits = runs::spiwaits;
  enum class Register { StatusAfterQuiet, StatusAfterFrame, Reg0C, Reg48 };
  struct Wait {
    const char *Function;
    std::uint64_t Reads;
    bool Ended, RanOut;
  };
  struct Row {
    const char *Name;
    Register Reads;
    std::vector<std::uint32_t> Values;
    std::uint64_t Unused;
    std::vector<Wait> Expected;
    std::uint64_t Left;
  };
  const auto Repeat = [](std::uint32_t Value, std::size_t Count) {
    return std::vector<std::uint32_t>(Count, Value);
  };
  const auto Then = [](std::vector<std::uint32_t> First, const std::vector<std::uint32_t> &Next) {
    First.insert(First.end(), Next.begin(), Next.end());
    return First;
  };
  const Row Rows[] = {
      {"receive not empty: the busy wait ends at once, the transmit wait runs out",
       Register::StatusAfterQuiet,
       Repeat(0x08, 18),
       0,
       {{"WaitStatusClear", 1, true, false}, {"WaitTransmitReady", 17, false, true}},
       0},
      {"busy: both run out",
       Register::StatusAfterQuiet,
       Repeat(0x10, 34),
       0,
       {{"WaitStatusClear", 17, false, true}, {"WaitTransmitReady", 17, false, true}},
       0},
      {"busy, then idle in the transmit wait's fifth read",
       Register::StatusAfterQuiet,
       Then(Repeat(0x10, 21), {0x04}),
       0,
       {{"WaitStatusClear", 17, false, true}, {"WaitTransmitReady", 5, true, false}},
       0},
      {"a read more than the waits make",
       Register::StatusAfterFrame,
       Repeat(0x00, 18),
       0,
       {{"WaitTransmitReady", 17, false, true}},
       1},
      {"0x0C active: the unused read, then 17 attempts of one read",
       Register::Reg0C,
       Repeat(0xE0, 18),
       1,
       {{"WaitReg0CQuiet", 17, false, true}},
       0},
      {"0x0C quiet once between transfers, then quiet twice",
       Register::Reg0C,
       {0x00, 0x00, 0x20, 0x00, 0x00},
       1,
       {{"WaitReg0CQuiet", 4, true, false}},
       0},
      {"0x48 never drains: 17 looks and 16 pops",
       Register::Reg48,
       Repeat(0x01, 33),
       0,
       {{"Drain", 33, false, true}},
       0},
      {"0x48 drains after two pops",
       Register::Reg48,
       {0x02, 0x02, 0x01, 0x01, 0x00},
       0,
       {{"Drain", 5, true, false}},
       0},
  };
  const sim::TraceRecord Reg0CRead{sim::AccessKind::MemRead, 4, 0xFE03200C, 0, ""};
  const sim::TraceRecord DataWrite{sim::AccessKind::MemWrite, 4, 0xFE032010, 0x0700, ""};
  for (const Row &Each : Rows) {
    SCOPED_TRACE(Each.Name);
    const Waits::SplitReads Split = Each.Reads == Register::StatusAfterQuiet
                                        ? Waits::Split(Waits::WaitsAfter(Reg0CRead), Each.Values)
                                    : Each.Reads == Register::StatusAfterFrame
                                        ? Waits::Split(Waits::WaitsAfter(DataWrite), Each.Values)
                                    : Each.Reads == Register::Reg0C
                                        ? Waits::SplitQuiet(Each.Values)
                                        : Waits::SplitDrain(Each.Values);
    EXPECT_EQ(Split.Unused, Each.Unused);
    ASSERT_EQ(Split.Waits.size(), Each.Expected.size());
    for (std::size_t Index = 0; Index < Each.Expected.size(); ++Index) {
      EXPECT_STREQ(Split.Waits[Index].Wait->Function, Each.Expected[Index].Function);
      EXPECT_EQ(Split.Waits[Index].Reads, Each.Expected[Index].Reads);
      EXPECT_EQ(Split.Waits[Index].Ended, Each.Expected[Index].Ended);
      EXPECT_EQ(Split.Waits[Index].RanOut, Each.Expected[Index].RanOut);
    }
    EXPECT_EQ(Split.Left, Each.Left);
  }
}

} // namespace
