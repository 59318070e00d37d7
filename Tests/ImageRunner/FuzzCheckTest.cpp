// The image fuzz targets' inputs and checks, without the fuzzer: the seeds are today's comparison
// cases and decode back to them; a board answering from an input answers in order at each read's
// width and then from its models; the promise checks catch a broken bound or a latch left
// changed; a tampered run is a finding of the right kind; and every seed, with and without
// answers, passes every check on the shipped images.
#include "FuzzCheck.h"
#include "FirmwareImages.h"
#include "FuzzInput.h"
#include "HostBuildRuns.h"
#include "ImageRuns.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using fuzzruns::Target;
using sim::AccessKind;
using sim::TraceRecord;

constexpr Target AllTargets[] = {Target::Pei, Target::Requests, Target::Dxe};

std::vector<std::uint8_t> FileBytes(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), {}};
}

// The settings an input can carry, as one comparable text.
std::string SettingsText(const sim::Scenario &Settings, bool Firmware) {
  std::string Text =
      std::to_string(static_cast<int>(Settings.Spi.Presence)) + " " +
      std::to_string(Settings.Spi.Status) + " " + std::to_string(Settings.Spi.Reg0C) + " " +
      std::to_string(Settings.Spi.Drain) + " " + std::to_string(Settings.Spi.Clock) + " " +
      std::to_string(Settings.PmTimerStart) + " " + std::to_string(Settings.PmTimerStuck) + " " +
      std::to_string(Settings.UartLineStatus) + " " + std::to_string(Settings.AllOnesEverywhere);
  for (const auto *Space : {&Settings.LpcConfig, &Settings.PcrWindow}) {
    for (const auto &[Offset, Preset] : *Space) {
      Text += " " + std::to_string(Offset) + "=" + std::to_string(Preset.Value) + "/" +
              std::to_string(Preset.Width);
    }
    Text += " |";
  }
  if (Firmware) {
    const sim::DxeEnvironmentSettings &Dxe = Settings.Firmware;
    Text += " " + std::to_string(Dxe.HobListInConfigTable) + std::to_string(Dxe.TimerHob) +
            std::to_string(static_cast<int>(Dxe.Smm)) + std::to_string(Dxe.ExtraHob.Present) + " " +
            std::to_string(Dxe.ExtraHob.Type) + " " + std::to_string(Dxe.ExtraHob.Length);
  }
  return Text;
}

TEST(FuzzInput, SeedsAreTheComparisonCasesAndDecodeBackToThem) {
  std::size_t Seeds = 0;
  for (const Target For : AllTargets) {
    for (const comparison::Case &Each : fuzzruns::SeedCases(For)) {
      SCOPED_TRACE(Each.Name);
      const std::vector<std::uint8_t> Bytes = fuzzruns::Encode(For, Each);
      const fuzzruns::BoardInput Input = fuzzruns::Decode(For, Bytes);
      EXPECT_EQ(Input.What, Each.What);
      EXPECT_EQ(SettingsText(Input.Settings, For == Target::Dxe),
                SettingsText(Each.Settings, For == Target::Dxe));
      EXPECT_EQ(Input.Decode.size(), Each.Decode.size());
      for (std::size_t Index = 0; Index < std::min(Input.Decode.size(), Each.Decode.size());
           ++Index) {
        EXPECT_EQ(Input.Decode[Index].Port, Each.Decode[Index].Port);
        EXPECT_EQ(Input.Decode[Index].Size, Each.Decode[Index].Size);
        EXPECT_EQ(Input.Decode[Index].Attributes, Each.Decode[Index].Attributes);
      }
      EXPECT_EQ(Input.Window.size(), Each.Window.size());
      for (std::size_t Index = 0; Index < std::min(Input.Window.size(), Each.Window.size());
           ++Index) {
        EXPECT_EQ(Input.Window[Index].Port, Each.Window[Index].Port);
        EXPECT_EQ(Input.Window[Index].SizeWord, Each.Window[Index].SizeWord);
      }
      EXPECT_TRUE(Input.Answers.empty());
      EXPECT_EQ(Input.Settings.MaxSteps, 4000u);
      // The checked-in seed is this input: regenerate the seeds when the layout or the cases
      // change (build/fuzz/Fuzz/ImagePeiFuzz --write-seeds=Fuzz/Corpus/ImagePeiFuzz, ...).
      const std::string Path = std::string(SOURCE_DIR) + "/Fuzz/Corpus/" +
                               fuzzruns::TargetProgram(For) + "/" +
                               fuzzruns::SeedFileName(Each.Name);
      EXPECT_EQ(FileBytes(Path), Bytes) << Path << " is not the seed of this case";
      ++Seeds;
    }
  }
  EXPECT_GE(Seeds, 60u);
}

TEST(FuzzInput, ReadsTakeTheirValuesFromTheAnswersInOrderThenFromTheBoard) {
  struct Read {
    bool Port;
    std::uint64_t Address;
    unsigned Width;
    std::uint32_t Expected;
  };
  struct Case {
    const char *Name;
    std::vector<std::uint8_t> Answers;
    std::vector<Read> Reads;
    std::size_t Used;
  };
  const std::uint64_t SpiStatus = 0xFE032008; // reads 0x00000004 on the default board
  const Case Cases[] = {
      {"each read at its width, little-endian",
       {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77},
       {{true, 0x3FD, 1, 0x11}, {false, SpiStatus, 4, 0x55443322}, {true, 0xCFE, 2, 0x7766}},
       7},
      {"used up: the board answers, the timer from its start",
       {0xAA},
       {{true, 0x3FD, 1, 0xAA}, {true, 0x3FD, 1, 0x60}, {true, 0x1808, 4, 0}},
       1},
      {"too few bytes left for a read: the rest is dropped",
       {0x01, 0x02, 0x03},
       {{false, SpiStatus, 4, 0x00000004}, {true, 0x3FD, 1, 0x60}},
       3},
      {"no answers", {}, {{false, SpiStatus, 4, 0x00000004}}, 0},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    sim::Board Board;
    Board.startAfterEarlyInit(); // the UART decoded, as the driver finds it
    Board.answerReadsFrom(Each.Answers);
    for (const Read &Made : Each.Reads) {
      const std::uint32_t Value =
          Made.Port ? Board.portRead(static_cast<std::uint16_t>(Made.Address), Made.Width)
                    : Board.memRead(Made.Address, Made.Width);
      EXPECT_EQ(Value, Made.Expected) << std::hex << Made.Address;
    }
    EXPECT_EQ(Board.answersUsed(), Each.Used);
    // Writes still reach the models, and a reset board answers from them again.
    Board.reset({});
    Board.startAfterEarlyInit();
    EXPECT_EQ(Board.portRead(0x3FD, 1), 0x60u);
  }
}

TraceRecord Mem(AccessKind Kind, std::uint32_t Offset, std::uint64_t Value) {
  return {Kind, 4, 0xFE032000 + Offset, Value, ""};
}
TraceRecord Status(std::uint64_t Value) {
  return Mem(AccessKind::MemRead, 0x08, Value);
}
TraceRecord Port(AccessKind Kind, std::uint16_t Address, std::uint64_t Value) {
  return {Kind, 4, Address, Value, ""};
}
TraceRecord Event(AccessKind Kind, std::uint64_t Value = 0) {
  return {Kind, 0, 0, Value, ""};
}

std::vector<TraceRecord> Join(std::initializer_list<std::vector<TraceRecord>> Parts) {
  std::vector<TraceRecord> All;
  for (const auto &Part : Parts) {
    All.insert(All.end(), Part.begin(), Part.end());
  }
  return All;
}

std::vector<TraceRecord> Repeat(TraceRecord Record, std::size_t Count) {
  return std::vector<TraceRecord>(Count, Record);
}

TEST(FuzzCheck, PromisesHoldOrAreNamed) {
  const TraceRecord DrainRead = Mem(AccessKind::MemRead, 0x48, 0);
  const TraceRecord Reg0CRead = Mem(AccessKind::MemRead, 0x0C, 0);
  const TraceRecord DataWrite = Mem(AccessKind::MemWrite, 0x10, 0x1234);
  const TraceRecord DataRead = Mem(AccessKind::MemRead, 0x10, 0);
  const TraceRecord Busy = Status(0x10), Idle = Status(0x04), FifoFull = Status(0x00);
  const auto Frame = [](std::uint64_t Flags, std::uint64_t Saved, std::uint64_t PutBack,
                        AccessKind Last) {
    return std::vector<TraceRecord>{Event(AccessKind::Flags, Flags),
                                    Event(AccessKind::Cli),
                                    Port(AccessKind::PortIn, 0xCF8, Saved),
                                    Port(AccessKind::PortOut, 0xCF8, 0x8000F8DC),
                                    {AccessKind::PortIn, 2, 0xCFC, 0xFFFF, ""},
                                    Port(AccessKind::PortOut, 0xCF8, PutBack),
                                    Event(Last)};
  };
  std::vector<TraceRecord> Cut = Frame(0x202, 0, 0, AccessKind::Sti);
  Cut.resize(4);
  struct Case {
    const char *Name;
    std::vector<TraceRecord> Trace;
    bool Finished;
    std::string Found; // empty: the promises hold
  };
  const Case Cases[] = {
      {"a busy wait gives up after 17 reads", Join({{DrainRead}, Repeat(Busy, 17), {DataWrite}}),
       true, ""},
      {"an 18th read of one wait", Join({{DrainRead}, Repeat(Busy, 18), {DataWrite}}), true,
       "1 more than its waits may make"},
      {"a wait ends at the first reading it waits for",
       Join({{DrainRead}, Repeat(Busy, 3), {Idle, DataWrite}}), true, ""},
      {"a read after the wait ended", Join({{DrainRead}, {Busy, Idle, Idle, DataWrite}}), true,
       "1 more than"},
      {"a wait that gave up early", Join({{DrainRead}, Repeat(Busy, 5), {DataWrite}}), true,
       "gave up after 5 status reads"},
      {"a stopped run may end inside a wait", Join({{DrainRead}, Repeat(Busy, 5)}), false, ""},
      {"the busy wait and the transmit wait back to back, 17 each",
       Join({{Reg0CRead}, Repeat(Busy, 17), Repeat(FifoFull, 17), {Reg0CRead}}), true, ""},
      {"the transmit wait after them reads once too often",
       Join({{Reg0CRead}, Repeat(Busy, 17), Repeat(FifoFull, 18), {Reg0CRead}}), true,
       "1 more than"},
      {"the last frame's waits: receive, then busy",
       Join({{DataRead}, Repeat(Status(0x18), 17), {Status(0x08)}, {Reg0CRead}}), true, ""},
      {"each frame's transmit wait", Join({{DataWrite}, Repeat(Busy, 2), {Idle}, {DataRead}}), true,
       ""},
      {"a status read outside every wait", Join({{Port(AccessKind::PortIn, 0x1808, 0)}, {Idle}}),
       true, "where no wait of the bring-up reads it"},
      {"a PCI access puts back the latch and a set interrupt flag",
       Frame(0x202, 0x80001234, 0x80001234, AccessKind::Sti), true, ""},
      {"and a clear one", Frame(0x002, 0x80001234, 0x80001234, AccessKind::Cli), true, ""},
      {"the latch left changed", Frame(0x202, 0x80001234, 0x8000F8DC, AccessKind::Sti), true,
       "left 0x8000F8DC in the address latch at record 5 where it had found 0x80001234"},
      {"the interrupt flag left clear", Frame(0x202, 0, 0, AccessKind::Cli), true,
       "did not put the interrupt flag back: it was set"},
      {"the interrupt flag set where it was clear", Frame(0x002, 0, 0, AccessKind::Sti), true,
       "it was clear"},
      {"a finished run ends inside an access", Cut, true,
       "ended inside the PCI configuration access from record 2"},
      {"a hung run may", Cut, false, ""},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    std::optional<std::string> Found = fuzzruns::SpiWaitFinding(Each.Trace, Each.Finished);
    if (!Found) {
      Found = fuzzruns::PciFrameFinding(Each.Trace, Each.Finished);
    }
    if (Each.Found.empty()) {
      EXPECT_FALSE(Found) << *Found;
    } else {
      ASSERT_TRUE(Found);
      EXPECT_NE(Found->find(Each.Found), std::string::npos) << *Found;
    }
  }
}

// The host build with one thing changed after each run: what a miscompiled image would show.
class TamperedRuns final : public runs::ModuleRuns {
public:
  using Tamper = std::function<void(sim::Board &, runs::RunResult &)>;
  explicit TamperedRuns(Tamper Change) : Change_(std::move(Change)) {}
  runs::Implementation implementation() const override { return runs::Implementation::Image; }
  runs::RunResult runPei(sim::Board &Target) const override {
    return changed(Target, runs::HostBuild().runPei(Target));
  }
  runs::RunResult runDxe(sim::Board &Target) const override {
    return changed(Target, runs::HostBuild().runDxe(Target));
  }
  runs::RunResult runDecodeRequests(sim::Board &Target,
                                    std::span<const DecodeRequestRow> Requests) const override {
    return changed(Target, runs::HostBuild().runDecodeRequests(Target, Requests));
  }
  runs::RunResult runWindowRequests(sim::Board &Target,
                                    std::span<const runs::WindowRequest> Requests) const override {
    return changed(Target, runs::HostBuild().runWindowRequests(Target, Requests));
  }

private:
  runs::RunResult changed(sim::Board &Target, runs::RunResult Result) const {
    Result.Image = runs::ImageFacts{};
    Change_(Target, Result);
    return Result;
  }
  Tamper Change_;
};

TEST(FuzzCheck, ATamperedRunIsAFindingOfItsKind) {
  const fuzzruns::StackBudgets Budgets{150, 1260};
  struct Case {
    const char *Name;
    TamperedRuns::Tamper Change;
    std::string What; // empty: no finding
  };
  const Case Cases[] = {
      {"nothing changed", [](sim::Board &, runs::RunResult &) {}, ""},
      {"one more pause", [](sim::Board &Board, runs::RunResult &) { Board.pause(); },
       "the image and the host build differ"},
      {"another entry status",
       [](sim::Board &, runs::RunResult &Result) { Result.EntryStatus = 1; },
       "the image and the host build differ"},
      {"a broken rule",
       [](sim::Board &, runs::RunResult &Result) { Result.Image->Breach = "CPU fault"; },
       "the image broke a rule"},
      {"the stack budget met",
       [](sim::Board &, runs::RunResult &Result) { Result.Image->StackHighWater = 150; }, ""},
      {"the stack budget passed",
       [](sim::Board &, runs::RunResult &Result) { Result.Image->StackHighWater = 151; },
       "the image went over its stack budget"},
  };
  const comparison::Case Healthy = fuzzruns::SeedCases(Target::Pei).front();
  const std::vector<std::uint8_t> Bytes = fuzzruns::Encode(Target::Pei, Healthy);
  fuzzruns::BoardPair Boards;
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    const TamperedRuns Image(Each.Change);
    const auto Found = fuzzruns::CheckInput(runs::HostBuild(), Image,
                                            fuzzruns::Decode(Target::Pei, Bytes), Budgets, Boards);
    EXPECT_EQ(Found ? Found->What : "", Each.What) << (Found ? Found->Details : "");
  }
}

// The seeds, and the seeds followed by answers from a fixed pseudo-random sequence, pass every
// check on the shipped images: what a short fuzzing run checks, in every test run.
TEST(FuzzCheck, SeedsWithAndWithoutAnswersPassOnTheImages) {
  SKIP_WITHOUT_PEI_IMAGE();
  SKIP_WITHOUT_DXE_IMAGE();
  const fuzzruns::StackBudgets Budgets{BOARD_PEI_MAX_STACK_BYTES, BOARD_DXE_MAX_STACK_BYTES};
  fuzzruns::BoardPair Boards;
  std::size_t Inputs = 0;
  // Lean as the fuzz targets follow the image, and full as boardsim does.
  for (const auto Follow : {imagerun::Tracking::Lean, imagerun::Tracking::Full}) {
    const imagerun::ImageRuns Images(imagerun::LoadPeiImage(imagetest::PeiImagePath),
                                     imagerun::LoadDxeImage(imagetest::DxeImagePath), Follow);
    std::uint32_t Random = 12345;
    for (const Target For : AllTargets) {
      for (const comparison::Case &Each : fuzzruns::SeedCases(For)) {
        for (const std::size_t AnswerBytes : {0u, 64u, 700u}) {
          std::vector<std::uint8_t> Answers(AnswerBytes);
          for (std::uint8_t &Byte : Answers) {
            Random = Random * 1103515245u + 12345u;
            Byte = static_cast<std::uint8_t>(Random >> 16);
          }
          const std::vector<std::uint8_t> Bytes = fuzzruns::Encode(For, Each, Answers);
          const auto Found = fuzzruns::CheckInput(runs::HostBuild(), Images,
                                                  fuzzruns::Decode(For, Bytes), Budgets, Boards);
          EXPECT_FALSE(Found) << Each.Name << " with " << AnswerBytes
                              << " bytes of answers: " << Found->What << "\n"
                              << Found->Details;
          ++Inputs;
        }
      }
    }
  }
  EXPECT_GE(Inputs, 360u);
}

} // namespace
