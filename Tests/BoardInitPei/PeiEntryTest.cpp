#include "HostBuildRuns.h"
#include "RegisterOps.h"
#include "TableFit.h"
#include "TableWhatIfs.h"
#include "TraceText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

namespace {

std::string HexText(std::uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

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

// The board's Super I/O script as port writes: the configuration-mode key on 0x2E, then
// index/data pairs on 0x2E/0x2F.
const std::vector<std::pair<std::uint16_t, std::uint8_t>> BoardScriptWrites = {
    {0x2E, 0x87}, {0x2E, 0x01}, {0x2E, 0x55}, {0x2E, 0x55}, {0x2E, 0x07}, {0x2F, 0x0D},
    {0x2E, 0x70}, {0x2F, 0x1A}, {0x2E, 0x61}, {0x2F, 0x00}, {0x2E, 0x72}, {0x2F, 0x00},
    {0x2E, 0x74}, {0x2F, 0x00}, {0x2E, 0x76}, {0x2F, 0xE5}, {0x2E, 0x77}, {0x2F, 0xFF},
    {0x2E, 0x30}, {0x2F, 0x01}, {0x2E, 0x02}, {0x2F, 0x02}};

// One call the module made, as the run recorded it.
struct ExpectedCall {
  const char *Name;
  unsigned Depth; // 1: called by the entry; 2: called from SetIoDecode
  std::vector<std::uint64_t> Arguments;
  std::uint64_t Status;
};

// The module's own table, written out here value by value so that a changed row, device type,
// target or status in the firmware shows: each decode request in table order (port, size,
// attributes), with the generic windows the requests open in between.
const std::vector<ExpectedCall> BoardDecodeCalls = {
    {"SetIoDecode", 1, {0x002E, 2, 0x000000FF}, 0},
    {"SetIoDecode", 1, {0x004E, 2, 0x000000FF}, 0},
    {"SetIoDecode", 1, {0x006C, 2, 0x000000FF}, 0},
    {"SetGenericIoRange", 2, {0x006C, 0x0002}, 0},
    {"SetIoDecode", 1, {0x0280, 2, 0x000000FF}, 0},
    {"SetGenericIoRange", 2, {0x0280, 0x0002}, 0},
    {"SetIoDecode", 1, {0x0062, 2, 0x000000FF}, 0},
    {"SetIoDecode", 1, {0x002E, 2, 0x000000FF}, 0},
    {"SetIoDecode", 1, {0x03F8, 0, 0x00000006}, 0},
    {"SetGenericIoRange", 2, {0x0200, 0x0100}, 0},
    {"SetIoDecode", 1, {0x02F8, 1, 0x00000006}, 0},
    {"SetGenericIoRange", 2, {0x0200, 0x0100}, 0},
    {"SetIoDecode", 1, {0x0060, 0, 0x00000002}, 0},
    {"SetIoDecode", 1, {0x0A00, 0x90, 0x000000FF}, 0},
    {"SetGenericIoRange", 2, {0x0A00, 0x0090}, 0},
};

std::string CallText(const std::string &Name, unsigned Depth,
                     const std::vector<std::uint64_t> &Arguments, std::uint64_t Status) {
  std::string Text = Name + " depth " + std::to_string(Depth) + " (";
  for (const std::uint64_t Argument : Arguments) {
    Text += HexText(Argument) + " ";
  }
  return Text + ") -> " + HexText(Status);
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
    EXPECT_EQ(Board.superIoWrites(), BoardScriptWrites);
    EXPECT_TRUE(Board.interruptsEnabled());
  }
}

// From the entry's point of view: the ten decode requests go to SetIoDecode in table order with
// their exact arguments, the windows follow from them, and the script reaches the Super I/O
// configuration ports as exactly its 22 byte writes, nothing read.
TEST(PeiEntry, RunsTheBoardDecodeTableAndScriptAsWritten) {
  sim::Board Board;
  ASSERT_FALSE(runs::HostBuild().runPei(Board).Hung);
  std::vector<std::string> Calls;
  for (const sim::CallRecord &Call : Board.calls()) {
    const std::uint64_t Status = Call.Status.value_or(~0ULL);
    if (const auto *Decode = std::get_if<sim::SetIoDecodeCall>(&Call.Made)) {
      Calls.push_back(CallText("SetIoDecode", Call.Depth,
                               {Decode->Port, Decode->Size, Decode->Attributes}, Status));
    } else if (const auto *Window = std::get_if<sim::SetGenericIoRangeCall>(&Call.Made)) {
      Calls.push_back(
          CallText("SetGenericIoRange", Call.Depth, {Window->Port, Window->SizeWord}, Status));
    } else if (Call.Depth > 0) {
      ADD_FAILURE() << "unexpected call " << sim::CallText(Call);
    }
  }
  std::vector<std::string> Expected;
  for (const ExpectedCall &Call : BoardDecodeCalls) {
    Expected.push_back(CallText(Call.Name, Call.Depth, Call.Arguments, Call.Status));
  }
  EXPECT_EQ(Calls, Expected);

  std::vector<std::pair<std::uint16_t, std::uint8_t>> ScriptPortWrites;
  for (const sim::TraceRecord &Record : Board.trace()) {
    const bool SuperIoPort = Record.Address == 0x2E || Record.Address == 0x2F;
    if (Record.Kind == sim::AccessKind::PortIn && SuperIoPort) {
      ADD_FAILURE() << "read of the Super I/O port " << HexText(Record.Address);
    }
    if (Record.Kind == sim::AccessKind::PortOut && SuperIoPort) {
      EXPECT_EQ(Record.Width, 1u);
      ScriptPortWrites.emplace_back(static_cast<std::uint16_t>(Record.Address),
                                    static_cast<std::uint8_t>(Record.Value));
    }
  }
  EXPECT_EQ(ScriptPortWrites, BoardScriptWrites);
}

} // namespace

namespace {

// Rows given in place of the module's tables are what the entry reads when it runs: each what-if
// leaves its own board, and the module's own rows given as rows leave the module's own trace,
// record for record.
// A driver run on its own starts from the bridge the board model says the early module leaves:
// every bridge register and mirror the model names holds, after a run of the entry on the
// default board, what a board started after early init holds.
TEST(PeiEntry, LeavesTheBridgeTheDriversPhaseStartsFrom) {
  sim::Board AfterRun;
  ASSERT_FALSE(runs::HostBuild().runPei(AfterRun).Hung);
  sim::Board Started;
  Started.startAfterEarlyInit();
  EXPECT_EQ(AfterRun.namedRegisterValues(), Started.namedRegisterValues());
}

TEST(PeiEntry, RunsTheRowsGivenInPlaceOfItsTables) {
  sim::Board Own;
  ASSERT_FALSE(runs::HostBuild().runPei(Own).Hung);
  for (const tabletest::WhatIf &Each : tabletest::WhatIfs()) {
    SCOPED_TRACE(Each.Name);
    sim::Scenario Settings;
    Settings.Tables = Each.Rows;
    sim::Board Board(Settings);
    const runs::RunResult Result = runs::HostBuild().runPei(Board);
    ASSERT_FALSE(Result.Hung);
    EXPECT_EQ(Result.EntryStatus, 0u);
    EXPECT_EQ(Board.lpcConfig().read16(0x80), Each.Board.IoDecodeRanges);
    EXPECT_EQ(Board.lpcConfig().read16(0x82), Each.Board.IoEnables);
    EXPECT_EQ(Board.pcr().read16(0x2774), Each.Board.IoEnables);
    for (std::uint32_t Slot = 0; Slot < 4; ++Slot) {
      EXPECT_EQ(Board.lpcConfig().read32(0x84 + 4 * Slot), Each.Board.Windows[Slot]) << Slot;
    }
    EXPECT_EQ(Board.lpcConfig().read16(0xA0), Each.Board.EspiCs1IoEnables);
    std::size_t Reads = 0;
    for (const sim::TraceRecord &Record : Board.trace()) {
      Reads += Record.Kind == sim::AccessKind::PortIn &&
               (Record.Address == 0x2E || Record.Address == 0x2F);
    }
    EXPECT_EQ(Reads, Each.Board.SuperIoReads);
    EXPECT_EQ(Board.superIoWrites().size(), 22u);
    const sim::Deliveries &Chip = Board.deliveries(sim::DeviceId::SuperIo);
    EXPECT_EQ(Chip.Reached, Each.Board.ReachedChip);
    EXPECT_EQ(Chip.NotDecoded, Each.Board.NotDecoded);
    EXPECT_EQ(Chip.Elsewhere, 0u);
    EXPECT_EQ(Board.superIo().entries(), Each.Board.ChipEntries);
    const auto Device = Board.superIo().logicalDevices().find(0x0D);
    const auto Register = [&](std::uint8_t Offset) -> std::optional<std::uint8_t> {
      if (Device == Board.superIo().logicalDevices().end() || !Device->second.contains(Offset)) {
        return std::nullopt;
      }
      return Device->second.at(Offset);
    };
    EXPECT_EQ(Register(0x30), Each.Board.Activate);
    EXPECT_EQ(Register(0x76), Each.Board.DeviceSpecific76);
    if (Each.Rows == sim::TableRows{tabletest::OwnDecodeRows, tabletest::OwnScriptRows}) {
      EXPECT_EQ(sim::FormatTrace(Board.trace()), sim::FormatTrace(Own.trace()));
    }
  }
  // The rows of one run are not the next one's: the module's own tables again.
  sim::Board Again;
  ASSERT_FALSE(runs::HostBuild().runPei(Again).Hung);
  EXPECT_EQ(sim::FormatTrace(Again.trace()), sim::FormatTrace(Own.trace()));
}

// Rows that do not fill a table are refused before anything runs.
TEST(PeiEntry, RefusesRowsThatDoNotFillATable) {
  const struct {
    sim::TableRows Rows;
    const char *Message;
  } Cases[] = {
      {{std::vector(tabletest::OwnDecodeRows.begin(), tabletest::OwnDecodeRows.end() - 1),
        std::nullopt},
       "9 rows given for the decode table, and the host build's decode table holds 10 rows of 8 "
       "bytes"},
      {{std::nullopt, std::vector<sim::ScriptTableRow>(23)},
       "23 rows given for the Super I/O script, and the host build's Super I/O script holds 22 "
       "rows of 4 bytes"},
  };
  for (const auto &Each : Cases) {
    sim::Scenario Settings;
    Settings.Tables = Each.Rows;
    sim::Board Board(Settings);
    try {
      runs::HostBuild().runPei(Board);
      ADD_FAILURE() << Each.Message;
    } catch (const runs::TableMismatch &Error) {
      EXPECT_EQ(std::string(Error.what()), Each.Message);
    }
    EXPECT_EQ(Board.accessCount(), 0u) << Each.Message;
  }
}

} // namespace
