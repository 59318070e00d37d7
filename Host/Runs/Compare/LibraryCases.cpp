#include "LibraryCases.h"

#include "Board.h"
#include "FormatComparison.h"

#include <cstdio>
#include <initializer_list>
#include <utility>

namespace comparison {
namespace {

using modules::ModuleId;
using sim::ScriptTableRow;

// The Super I/O chip's index and data ports, a POST-code port no device decodes, and a port no
// device claims at all, whose reads float.
constexpr std::uint16_t SioIndex = 0x2E, SioData = 0x2F, PostCode = 0x80, Unclaimed = 0x0300;
constexpr std::uint8_t PlainWrite = 0; // an and-mask of 0 writes the or-value as it is

// 257 rows: a count past any 8-bit counter, every and-mask from 0 to 0xFF once in turn with an
// or-value that moves through the byte, on ports that take both.
std::vector<ScriptTableRow> ManyRows() {
  constexpr std::size_t Count = 257;
  std::vector<ScriptTableRow> Rows;
  for (std::size_t Index = 0; Index < Count; ++Index) {
    const auto Mask = static_cast<std::uint8_t>(Index);
    const auto Or = static_cast<std::uint8_t>(Index * 37 + 11);
    Rows.push_back({Index % 3 == 0 ? SioIndex : (Index % 3 == 1 ? PostCode : Unclaimed), Mask, Or});
  }
  return Rows;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<std::uint8_t> Values) {
  return Values;
}

std::vector<std::uint8_t> Counting(std::size_t Count, std::uint8_t From, std::uint8_t Step) {
  std::vector<std::uint8_t> Values(Count);
  for (std::size_t Index = 0; Index < Count; ++Index) {
    Values[Index] = static_cast<std::uint8_t>(From + Index * Step);
  }
  return Values;
}

// The ACPI PM timer: a 24-bit counter at 3.579545 MHz. The delays wait in passes: first the count's
// low 22 bits, then 2^22 ticks for each unit above them.
constexpr std::uint32_t CounterMask = 0x00FFFFFF;
constexpr unsigned PassBits = 22;
constexpr std::uint32_t PassTicks = std::uint32_t{1} << PassBits;
constexpr std::uint64_t TimerHz = 3579545;
constexpr std::uint64_t MicrosecondsPerSecond = 1000000;

void PushReading(std::vector<std::uint8_t> &Answers, std::uint32_t Reading) {
  Reading &= CounterMask;
  for (unsigned Byte = 0; Byte < sizeof Reading; ++Byte) {
    Answers.push_back(static_cast<std::uint8_t>(Reading >> (8 * Byte)));
  }
}

// Timer readings that end each pass of a delay of Ticks at once: the reading the pass starts from,
// Misses readings at its target (not yet past it), then one past it. A pass starts where the one
// before it ended.
std::vector<std::uint8_t> PassReadings(std::uint32_t Ticks, std::uint32_t Start, unsigned Misses) {
  std::vector<std::uint8_t> Answers;
  std::uint32_t Reading = Start;
  const std::uint32_t Passes = (Ticks >> PassBits) + 1;
  for (std::uint32_t Pass = 0; Pass < Passes; ++Pass) {
    PushReading(Answers, Reading);
    const std::uint32_t Target = Reading + (Pass == 0 ? Ticks & (PassTicks - 1) : PassTicks);
    for (unsigned Miss = 0; Miss < Misses; ++Miss) {
      PushReading(Answers, Target);
    }
    Reading = Target + 1;
    PushReading(Answers, Reading);
  }
  return Answers;
}

// The ticks a count of microseconds waits, in the module's 32-bit tick count: the product taken
// in 64 bits (wrapping as the module's does), the quotient cut to 32.
std::uint32_t TicksOf(std::uint64_t Microseconds) {
  return static_cast<std::uint32_t>(TimerHz * Microseconds / MicrosecondsPerSecond);
}

std::string Hex(std::uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

struct DelayRow {
  bool Microseconds;
  std::uint64_t Count;
  std::uint32_t Start;
  unsigned Misses;
  bool Answered;   // readings from the case; otherwise the counter runs a tick a read
  bool DriverOnly; // a count past 32 bits, which only the driver's copy takes whole
};

constexpr DelayRow DelayRows[] = {
    {false, 0, 0, 0, false, false},
    {false, 35, 0xFFFFF0, 0, false, false}, // across the counter's wrap
    {false, 1, 0, 3, true, false},
    {false, 0x3FFFFF, 0x123456, 2, true, false}, // the largest single pass
    {false, 0x400000, 0, 1, true, false},        // an empty first pass, then a whole one
    {false, 0x400001, 0xFFFFFE, 1, true, false},
    {false, 0x00C00005, 0x00FFFF00, 0, true, false},
    {false, 0xFFFFFFFF, 0, 0, true, false}, // 1,024 passes
    {true, 0, 0, 0, false, false},
    {true, 10, 0, 0, false, false},
    {true, 1000000, 0x000ABC, 1, true, false}, // one second: one pass
    {true, 2000000, 0, 1, true, false},        // two seconds: two passes
    {true, 0xFFFFFFFF, 0, 0, true, false},     // the product past 32 bits, the ticks cut to 32
    {true, 0x10000000A, 0, 0, true, true},
    {true, 0xFFFFFFFFFFFFFFFF, 0, 0, true, true}, // the 64-bit product wraps
};

} // namespace

std::vector<ScriptCase> ScriptCases() {
  std::vector<ScriptCase> Cases;
  Cases.push_back({"script no rows", {}, {}});
  Cases.push_back({"script one plain write", {{PostCode, PlainWrite, 0x5A}}, {}});
  // Each merge reads the port first; the devices answer.
  Cases.push_back({"script merged rows on the devices",
                   {{SioIndex, PlainWrite, 0x87},
                    {SioIndex, PlainWrite, 0x87},
                    {SioIndex, PlainWrite, 0x07},
                    {SioData, 0xF0, 0x03},
                    {SioIndex, 0xFF, 0x00},
                    {Unclaimed, 0x0F, 0xA0},
                    {SioIndex, PlainWrite, 0xAA}},
                   {}});
  // The merge over read values that set and clear every bit the masks keep and drop.
  Cases.push_back({"script merged rows over answered reads",
                   {{SioData, 0x01, 0x00},
                    {SioData, 0x80, 0x01},
                    {SioData, 0xFF, 0xFF},
                    {SioData, 0x0F, 0xF0},
                    {SioData, 0xF0, 0x0F},
                    {SioData, 0xAA, 0x55},
                    {SioData, PlainWrite, 0x00},
                    {SioData, 0x7F, 0x80},
                    {SioData, 0xF0, 0x05}},
                   Bytes({0xFF, 0x00, 0x5A, 0xA5, 0x3C, 0xC3, 0x81, 0x3C})});
  Cases.push_back({"script 257 rows", ManyRows(), Counting(257, 0x13, 0x29)});
  return Cases;
}

std::vector<DelayCase> DelayCases() {
  std::vector<DelayCase> Cases;
  for (const ModuleId Module : {ModuleId::BoardInitPei, ModuleId::BoardInitDxe}) {
    for (const DelayRow &Row : DelayRows) {
      if (Row.DriverOnly && Module != ModuleId::BoardInitDxe) {
        continue;
      }
      DelayCase Case;
      Case.Name = std::string("delay ") + modules::ModuleOf(Module).Name + " " + Hex(Row.Count) +
                  (Row.Microseconds ? " microseconds" : " ticks");
      Case.Call = {Module, Row.Microseconds, Row.Count};
      Case.TimerStart = Row.Start;
      if (Row.Answered) {
        const std::uint32_t Ticks =
            Row.Microseconds ? TicksOf(Row.Count) : static_cast<std::uint32_t>(Row.Count);
        Case.Answers = PassReadings(Ticks, Row.Start, Row.Misses);
      }
      Cases.push_back(std::move(Case));
    }
  }
  return Cases;
}

namespace {

// A step budget that holds the longest case: 1,024 passes of a few reads each.
constexpr std::uint64_t CaseSteps = 100000;

sim::Scenario WithBudget(sim::Scenario Settings) {
  Settings.MaxSteps = CaseSteps;
  return Settings;
}

// A board whose reads are answered from Answers first.
struct AnsweredBoard {
  AnsweredBoard(const sim::Scenario &Settings, const std::vector<std::uint8_t> &Answers)
      : Board(WithBudget(Settings)) {
    Board.answerReadsFrom(Answers);
  }
  sim::Board Board;
};

} // namespace

Outcome ScriptOutcome(const runs::RunResult &Run, const sim::Board &Board) {
  Outcome Out;
  Out.ResultsKnown = true;
  Out.Records = Board.trace();
  RunEnded(Run, Out.Results);
  return Out;
}

Outcome DelayOutcome(const runs::DelayResult &Got, const sim::Board &Board) {
  Outcome Out = ScriptOutcome(Got.Run, Board);
  Out.Results.push_back({"returned", Got.Returned ? Hex(*Got.Returned) : ""});
  return Out;
}

Outcome RunScriptCase(const runs::ModuleRuns &Runs, const ScriptCase &Each) {
  AnsweredBoard On(sim::Scenario{}, Each.Answers);
  return ScriptOutcome(Runs.runScript(On.Board, Each.Rows), On.Board);
}

Outcome RunDelayCase(const runs::ModuleRuns &Runs, const DelayCase &Each) {
  AnsweredBoard On(sim::Scenario{.PmTimerStart = Each.TimerStart}, Each.Answers);
  return DelayOutcome(Runs.runDelay(On.Board, Each.Call), On.Board);
}

} // namespace comparison
