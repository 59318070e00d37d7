#include "HostBuildRuns.h"
#include "RegisterOps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Status values as the module reports them, 32 bits wide.
constexpr std::uint32_t EfiSuccess = 0;
constexpr std::uint32_t EfiInvalidParameter = 0x80000002;
constexpr std::uint32_t EfiUnsupported = 0x80000003;
constexpr std::uint32_t EfiOutOfResources = 0x80000009;

using pei::test::CountWrites;
using pei::test::RegisterOps;

std::uint32_t Window(sim::Board &Board, std::uint16_t Port, std::uint16_t SizeWord) {
  const runs::WindowRequest Request{Port, SizeWord};
  const runs::RunResult Result = runs::HostBuild().runWindowRequests(Board, {&Request, 1});
  EXPECT_FALSE(Result.Hung);
  return static_cast<std::uint32_t>(Result.Statuses.at(0));
}

std::vector<std::string> SlotOps(const char *Space, std::uint32_t Register, std::uint32_t Mirror,
                                 std::uint32_t Value) {
  return {pei::test::Op(Space, false, 4, Register, 0),
          pei::test::Op(Space, true, 4, Register, Value),
          pei::test::Op("PCR", true, 4, Mirror, Value)};
}

struct WindowCase {
  std::uint16_t Port;
  std::uint16_t SizeWord;
  std::vector<std::string> Ops; // the one slot read, the register write, the mirror store
};

TEST(GenericIoRange, FreeSlotReceivesTheWindowThenItsMirror) {
  const auto Slot0 = [](std::uint32_t Value) { return SlotOps("CFG", 0x084, 0x2730, Value); };
  const WindowCase Cases[] = {
      {0x006C, 0x0002, Slot0(0x0000006D)},
      {0x0280, 0x0002, Slot0(0x00000281)},
      // The one word that means 256 bytes, on target 0 and never on target 1.
      {0x0200, 0x0100, Slot0(0x00FC0201)},
      {0x0A00, 0x0090, Slot0(0x00FC0A01)},
      {0x1234, 0x0005, Slot0(0x00041231)},
      {0x0100, 0x0080, Slot0(0x007C0101)},
      {0x0100, 0x0081, Slot0(0x00FC0101)},
      {0x0100, 0x00FF, Slot0(0x00FC0101)},
      {0x0108, 0x0009, Slot0(0x000C0101)},
      // Sizes up to the 4-byte minimum: no mask bits, the base rounded down to 4.
      {0x006E, 0x0001, Slot0(0x0000006D)},
      {0x006C, 0x0003, Slot0(0x0000006D)},
      {0x006E, 0x0004, Slot0(0x0000006D)},
      // Only bits 11:8 name the target: bits 15:12 are not read.
      {0x006C, 0x1002, Slot0(0x0000006D)},
      {0x006C, 0xF002, Slot0(0x0000006D)},
      // The chip selects' single slots; 2 and 3 sit above the legacy configuration space.
      {0x0300, 0x0110, SlotOps("CFG", 0x0A4, 0x27BC, 0x000C0301)},
      {0x0300, 0x0210, SlotOps("ECAM", 0x204, 0x27CC, 0x000C0301)},
      {0x0300, 0x0310, SlotOps("ECAM", 0x244, 0x27D4, 0x000C0301)},
  };
  for (const WindowCase &Case : Cases) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << "port 0x" << Case.Port << " size word 0x" << Case.SizeWord);
    sim::Board Board;
    EXPECT_EQ(Window(Board, Case.Port, Case.SizeWord), EfiSuccess);
    EXPECT_EQ(RegisterOps(Board), Case.Ops);
  }
}

struct RefusalCase {
  const char *Name;
  std::uint16_t SizeWord;
  std::uint32_t Status;
};

// Size and target are judged before any slot is read.
TEST(GenericIoRange, SizeAndTargetRefusalsTouchNothing) {
  const RefusalCase Cases[] = {
      {"size 0 on target 0", 0x0000, EfiInvalidParameter},
      {"size 0 on target 2", 0x0200, EfiInvalidParameter},
      {"size 0 ahead of the target test", 0x0700, EfiInvalidParameter},
      {"target 4", 0x0402, EfiUnsupported},
      {"target 15", 0x0FFF, EfiUnsupported},
  };
  for (const RefusalCase &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    sim::Board Board;
    EXPECT_EQ(Window(Board, 0x0300, Case.SizeWord), Case.Status);
    EXPECT_EQ(sim::CountAccesses(Board.trace()), 0u);
  }
}

struct FullTargetCase {
  const char *Name;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Slots; // preset slot register values
  std::uint16_t SizeWord;
  std::vector<std::string> Reads; // the slot search, and nothing written after it
};

// Every slot of the target enabled on another base: each slot is read once, nothing is written.
TEST(GenericIoRange, FullTargetRefusesWithoutWriting) {
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> BoardSlots = {
      {0x84, 0x0000006D}, {0x88, 0x00000281}, {0x8C, 0x00FC0201}, {0x90, 0x00FC0A01}};
  const std::vector<std::string> BoardSlotReads = {
      pei::test::Op("CFG", false, 4, 0x084, 0x0000006D),
      pei::test::Op("CFG", false, 4, 0x088, 0x00000281),
      pei::test::Op("CFG", false, 4, 0x08C, 0x00FC0201),
      pei::test::Op("CFG", false, 4, 0x090, 0x00FC0A01),
  };
  const FullTargetCase Cases[] = {
      {"target 0, 16 bytes", BoardSlots, 0x0010, BoardSlotReads},
      {"target 0, the 256-byte word", BoardSlots, 0x0100, BoardSlotReads},
      {"chip select 1 has one slot",
       {{0xA4, 0x00000A01}},
       0x0104,
       {pei::test::Op("CFG", false, 4, 0x0A4, 0x00000A01)}},
      {"chip select 2 has one slot",
       {{0x204, 0x00000A01}},
       0x0204,
       {pei::test::Op("ECAM", false, 4, 0x204, 0x00000A01)}},
      {"chip select 3 has one slot",
       {{0x244, 0x00000A01}},
       0x0304,
       {pei::test::Op("ECAM", false, 4, 0x244, 0x00000A01)}},
  };
  for (const FullTargetCase &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    sim::Scenario Settings;
    for (const auto &[Offset, Value] : Case.Slots) {
      Settings.LpcConfig[Offset] = {Value, 4};
    }
    sim::Board Board(Settings);
    EXPECT_EQ(Window(Board, 0x0300, Case.SizeWord), EfiOutOfResources);
    EXPECT_EQ(RegisterOps(Board), Case.Reads);
    EXPECT_EQ(CountWrites(Board), 0u);
  }
}

struct SlotCase {
  const char *Name;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Slots; // preset slot register values
  std::uint16_t Port;
  std::uint32_t Status;
  int TakenSlot; // -1: none
};

TEST(GenericIoRange, SlotSearchTakesTheFirstFreeOrMatchingSlot) {
  const SlotCase Cases[] = {
      {"free lower slot wins over a later match", {{0x88, 0x0000006D}}, 0x006C, EfiSuccess, 0},
      {"enabled slot with another base is skipped", {{0x84, 0x00000281}}, 0x006C, EfiSuccess, 1},
      {"match on the base only, mask bits ignored", {{0x84, 0x00FC0201}}, 0x0200, EfiSuccess, 0},
      {"disabled slot with a base counts as free", {{0x84, 0x00000280}}, 0x006C, EfiSuccess, 0},
      // 0x6E never equals a stored base, whose bits 0-1 are always clear.
      {"unaligned port does not find its window", {{0x84, 0x0000006D}}, 0x006E, EfiSuccess, 1},
      {"board windows: 0x200 rewrites slot 2",
       {{0x84, 0x0000006D}, {0x88, 0x00000281}, {0x8C, 0x00FC0201}, {0x90, 0x00FC0A01}},
       0x0200,
       EfiSuccess,
       2},
      {"chip select 1 repeat rewrites its slot", {{0xA4, 0x00000301}}, 0x0300, EfiSuccess, 4},
      {"chip select 1 holds one window only", {{0xA4, 0x00000301}}, 0x0304, EfiOutOfResources, -1},
  };
  for (const SlotCase &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    sim::Scenario Settings;
    for (const auto &[Offset, Value] : Case.Slots) {
      Settings.LpcConfig[Offset] = {Value, 4};
    }
    sim::Board Board(Settings);
    const bool ChipSelect = Case.Slots.front().first == 0xA4;
    EXPECT_EQ(Window(Board, Case.Port, ChipSelect ? 0x0104 : 0x0004), Case.Status);
    for (int Slot = 0; Slot < 5; ++Slot) {
      const std::uint32_t Register = Slot < 4 ? 0x84 + 4 * Slot : 0xA4;
      const std::uint32_t Mirror = Slot < 4 ? 0x2730 + 4 * Slot : 0x27BC;
      const std::uint32_t Written = (Case.Port & 0xFFFC) | 1;
      if (Slot == Case.TakenSlot) {
        EXPECT_EQ(Board.lpcConfig().read32(Register), Written) << "slot " << Slot;
        EXPECT_EQ(Board.pcr().read32(Mirror), Written) << "slot " << Slot;
      } else {
        EXPECT_EQ(Board.pcr().read32(Mirror), 0u) << "slot " << Slot;
      }
    }
  }
}

} // namespace
