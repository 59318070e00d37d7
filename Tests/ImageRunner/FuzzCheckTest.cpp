// The image fuzz targets' inputs and checks, without the fuzzer: the seeds are today's comparison
// cases and decode back to them; a board answering from an input answers in order at each read's
// width and then from its models; the promise checks catch a broken bound or a latch left
// changed; a tampered run is a finding of the right kind; and every seed, with and without
// answers, passes every check on the shipped images.
#include "FuzzCheck.h"
#include "FirmwareImages.h"
#include "FormatCases.h"
#include "FormatComparison.h"
#include "FuzzInput.h"
#include "HostBuildRuns.h"
#include "ImageRuns.h"
#include "LibraryCases.h"
#include "SeedFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using fuzzruns::Target;
using sim::AccessKind;
using sim::TraceRecord;

constexpr Target AllTargets[] = {Target::Pei, Target::Requests, Target::Dxe, Target::Format,
                                 Target::Library};

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
  std::size_t Cases = 0;
  for (const Target For : AllTargets) {
    const std::vector<fuzzruns::Seed> Seeds = fuzzruns::Seeds(For);
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
      // Each case's input is one seed, the one that names it.
      const auto Holding = std::count_if(Seeds.begin(), Seeds.end(), [&](const auto &Seed) {
        return Seed.Bytes == Bytes &&
               std::find(Seed.Cases.begin(), Seed.Cases.end(), Each.Name) != Seed.Cases.end();
      });
      EXPECT_EQ(Holding, 1);
      ++Cases;
    }
    // The committed folder holds these seeds and nothing else: regenerate it when the layout or
    // the cases change (build/fuzz/Fuzz/ImagePeiFuzz --write-seeds=Fuzz/Corpus/ImagePeiFuzz, ...,
    // after removing the files it names as no seed).
    const std::string Folder =
        std::string(SOURCE_DIR) + "/Fuzz/Corpus/" + fuzzruns::TargetProgram(For);
    std::set<std::string> Committed;
    for (const auto &Entry : std::filesystem::directory_iterator(Folder)) {
      Committed.insert(Entry.path().filename().string());
    }
    std::set<std::string> Written;
    for (const fuzzruns::Seed &Each : Seeds) {
      Written.insert(Each.FileName);
      EXPECT_EQ(FileBytes(Folder + "/" + Each.FileName), Each.Bytes)
          << Folder << "/" << Each.FileName << " is not the seed of " << Each.Cases.front();
    }
    EXPECT_EQ(Committed, Written) << Folder;
  }
  EXPECT_GE(Cases, 50u);
}

// Each format comparison case's seed decodes to a call that the host build runs as the case
// itself: the layout's reading of the format gives each slot the kind the case gave it.
TEST(FuzzInput, FormatSeedsDecodeToCallsThatGiveTheCasesOutcome) {
  std::size_t Cases = 0;
  for (const comparison::FormatCase &Each : comparison::FormatComparisonCases()) {
    SCOPED_TRACE(Each.Name);
    const fuzzruns::FormatInput Input = fuzzruns::DecodeFormat(fuzzruns::EncodeFormat(Each.Call));
    EXPECT_EQ(Input.FormatCut, 0u);
    ASSERT_EQ(Input.Call.Arguments.size(), Each.Call.Arguments.size());
    for (std::size_t Slot = 0; Slot < Each.Call.Arguments.size(); ++Slot) {
      EXPECT_EQ(Input.Call.Arguments[Slot].Bytes.has_value(),
                Each.Call.Arguments[Slot].Bytes.has_value())
          << "slot " << Slot;
    }
    const comparison::FormatCase Decoded{Each.Name, Input.Call, Each.Want};
    const comparison::CaseComparison Result =
        comparison::Compare(Each.Name, comparison::RunFormatCase(runs::HostBuild(), Each),
                            comparison::RunFormatCase(runs::HostBuild(), Decoded));
    EXPECT_TRUE(Result.same()) << comparison::ReportText(Result);
    ++Cases;
  }
  EXPECT_GE(Cases, 120u);
}

// A format input's slots as one text: "v5" a value, "b616200+1" bytes at a misalignment.
std::string SlotsText(const runs::FormatCall &Call) {
  std::string Text;
  for (const runs::FormatArgument &Each : Call.Arguments) {
    char Hex[24];
    Text += Text.empty() ? "" : " ";
    if (!Each.Bytes) {
      std::snprintf(Hex, sizeof Hex, "v%llX", static_cast<unsigned long long>(Each.Value));
      Text += Hex;
      continue;
    }
    Text += "b";
    for (const std::uint8_t Byte : *Each.Bytes) {
      std::snprintf(Hex, sizeof Hex, "%02X", Byte);
      Text += Hex;
    }
    Text += "+" + std::to_string(Each.Misalign);
  }
  return Text;
}

// How format inputs decode: the capacity's forms, and each slot's kind read off the format as the
// engine reads it, so that no value is read through and no reference's address is printed.
TEST(FuzzInput, FormatInputsDecodeToSafeCalls) {
  struct Slot {
    std::uint8_t Head;
    std::vector<std::uint8_t> Bytes;
  };
  const auto Input = [](std::uint8_t Flags, std::uint16_t Capacity, std::vector<Slot> Slots,
                        std::string Format) {
    std::vector<std::uint8_t> Bytes{Flags, static_cast<std::uint8_t>(Capacity),
                                    static_cast<std::uint8_t>(Capacity >> 8),
                                    static_cast<std::uint8_t>(Slots.size())};
    for (const Slot &Each : Slots) {
      Bytes.push_back(Each.Head);
      Bytes.insert(Bytes.end(), Each.Bytes.begin(), Each.Bytes.end());
    }
    Bytes.insert(Bytes.end(), Format.begin(), Format.end());
    return Bytes;
  };
  std::string Fifteen;
  for (int Each = 0; Each < 15; ++Each) {
    Fifteen += "%d";
  }
  std::string SeventeenSlots;
  for (int Each = 0; Each < 17; ++Each) {
    SeventeenSlots += "\x01\x03";
  }
  struct Row {
    const char *Name;
    std::vector<std::uint8_t> Bytes;
    std::uint64_t Capacity;
    std::string Format;
    std::string Slots;
    std::size_t Cut = 0;
    bool NullBuffer = false, NullFormat = false;
  };
  const Row Rows[] = {
      {"no bytes at all", {}, 0, "", ""},
      {"a capacity 2^32 above 5", Input(0x04, 5, {}, ""), 0x100000005ULL, "", ""},
      {"all ones", Input(0x0C, 0x1234, {}, ""), ~0ULL, "", ""},
      {"null buffer and format", Input(0x03, 8, {}, "x"), 8, "x", "", 0, true, true},
      {"each slot the kind its conversion reads",
       Input(0, 0,
             {{0x01, {5}},
              {0x22, {'a', 'b'}},
              {0x02, {0x41, 0x01}},
              {0x63, {0x41, 0, 0x42}},
              {0x02, {1, 2}},
              {0x09, {1, 2, 3, 4, 5, 6, 7, 8, 9}}},
             "%*s%c%S%g%ld"),
       0, "%*s%c%S%g%ld",
       "v5 b616200+1 v141 b410042000000+2 b01020000000000000000000000000000+0 v807060504030201"},
      {"%G %r %X %p %i take a GUID and values", Input(0, 0, {}, "%G %r %X %p %i"), 0,
       "%G %r %X %p %i", "b00000000000000000000000000000000+0 v0 v0 v0 v0"},
      {"slots past the count are of no bytes", Input(0, 0, {}, "%s%a%S%d"), 0, "%s%a%S%d",
       "b00+0 b00+0 b0000+0 v0"},
      {"slots the format leaves are values", Input(0, 0, {{0x21, {7}}, {0x00, {}}}, "%%%5q"), 0,
       "%%%5q", "v7 v0"},
      {"a byte that is no conversion keeps the * slot and is read again", Input(0, 0, {}, "%*q%s"),
       0, "%*q%s", "v0 b00+0"},
      {"a % after a width starts a conversion", Input(0, 0, {}, "%5%s"), 0, "%5%s", "b00+0"},
      {"an l before s takes nothing", Input(0, 0, {}, "%ls%s"), 0, "%ls%s", "b00+0"},
      {"an l before x is read with it", Input(0, 0, {}, "%lx%s"), 0, "%lx%s", "v0 b00+0"},
      {"blanks, signs and the pad before a conversion", Input(0, 0, {}, "%0 \t-+12x%0*s"), 0,
       "%0 \t-+12x%0*s", "v0 v0 b00+0"},
      {"sixteen slots are kept whole", Input(0, 0, {}, Fifteen + "%x%%"), 0, Fifteen + "%x%%",
       "v0 v0 v0 v0 v0 v0 v0 v0 v0 v0 v0 v0 v0 v0 v0 v0"},
      {"a conversion past the sixteenth slot is cut with what follows",
       Input(0, 0, {}, Fifteen + "%*d tail"), 0, Fifteen,
       "v0 v0 v0 v0 v0 v0 v0 v0 v0 v0 v0 v0 v0 v0 v0", 8},
      // One slot; the other 17 slots' bytes are format text.
      {"a count past sixteen is taken modulo 17",
       Input(0, 0, std::vector<Slot>(18, {0x01, {3}}), ""), 0, SeventeenSlots, "v3"},
  };
  for (const Row &Each : Rows) {
    SCOPED_TRACE(Each.Name);
    const fuzzruns::FormatInput Got = fuzzruns::DecodeFormat(Each.Bytes);
    EXPECT_EQ(Got.Call.Capacity, Each.Capacity);
    EXPECT_EQ(Got.Call.Format, Each.Format);
    EXPECT_EQ(SlotsText(Got.Call), Each.Slots);
    EXPECT_EQ(Got.FormatCut, Each.Cut);
    EXPECT_EQ(Got.Call.NullBuffer, Each.NullBuffer);
    EXPECT_EQ(Got.Call.NullFormat, Each.NullFormat);
  }
}

// Each script and delay case the layout holds is one seed, and decodes to the case itself; the
// host build gives the case's outcome under the target's step budget, so that even the delay of
// 1,024 passes ends within it when the answers end each pass. Only the 257-row script is left out.
TEST(FuzzInput, LibrarySeedsDecodeToTheCasesAndGiveTheirOutcomeWithinTheBudget) {
  const std::vector<fuzzruns::Seed> Seeds = fuzzruns::Seeds(Target::Library);
  std::size_t Held = 0, Left = 0;
  const auto Check = [&](const std::string &Name, const std::vector<std::uint8_t> &Bytes,
                         const std::vector<std::uint8_t> &Answers, const comparison::Outcome &Want,
                         const auto &Run) {
    SCOPED_TRACE(Name);
    const fuzzruns::LibraryInput Input = fuzzruns::DecodeLibrary(Bytes);
    EXPECT_EQ(std::vector<std::uint8_t>(Input.Answers.begin(), Input.Answers.end()), Answers);
    EXPECT_EQ(Input.Settings.MaxSteps, fuzzruns::StepBudget);
    sim::Scenario Settings = Input.Settings;
    Settings.NameRegisters = true; // as the case's board names them
    sim::Board Board(Settings);
    Board.answerReadsFrom(Input.Answers);
    const comparison::CaseComparison Result = comparison::Compare(Name, Want, Run(Input, Board));
    EXPECT_TRUE(Result.same()) << comparison::ReportText(Result);
    EXPECT_EQ(std::count_if(Seeds.begin(), Seeds.end(),
                            [&](const fuzzruns::Seed &Seed) {
                              return Seed.Bytes == Bytes && Seed.Cases == std::vector{Name};
                            }),
              1);
    ++Held;
  };
  for (const comparison::ScriptCase &Each : comparison::ScriptCases()) {
    if (Each.Rows.size() > fuzzruns::MaxScriptRows) {
      ++Left;
      continue;
    }
    Check(Each.Name, fuzzruns::EncodeLibrary(Each), Each.Answers,
          comparison::RunScriptCase(runs::HostBuild(), Each),
          [&](const fuzzruns::LibraryInput &Input, sim::Board &Board) {
            EXPECT_FALSE(Input.Delay);
            EXPECT_EQ(Input.Rows, Each.Rows);
            return comparison::ScriptOutcome(runs::HostBuild().runScript(Board, Input.Rows), Board);
          });
  }
  for (const comparison::DelayCase &Each : comparison::DelayCases()) {
    Check(Each.Name, fuzzruns::EncodeLibrary(Each), Each.Answers,
          comparison::RunDelayCase(runs::HostBuild(), Each),
          [&](const fuzzruns::LibraryInput &Input, sim::Board &Board) {
            EXPECT_TRUE(Input.Delay);
            EXPECT_EQ(Input.Call.Module, Each.Call.Module);
            EXPECT_EQ(Input.Call.Microseconds, Each.Call.Microseconds);
            EXPECT_EQ(Input.Call.Count, Each.Call.Count);
            EXPECT_EQ(Input.Settings.PmTimerStart, Each.TimerStart);
            return comparison::DelayOutcome(runs::HostBuild().runDelay(Board, Input.Call), Board);
          });
  }
  EXPECT_EQ(Seeds.size(), Held);
  EXPECT_EQ(Left, 1u);
  EXPECT_GE(Held, 30u);
}

// How library inputs decode: the head's choice of script or delay, module and unit; the rows'
// count taken modulo 65; the count's width (64 bits for the driver's microseconds only); the
// timer's start; every field zero past the end.
TEST(FuzzInput, LibraryInputsDecodeToScriptsAndDelays) {
  const auto Text = [](const fuzzruns::LibraryInput &Input) {
    char Line[96];
    std::string Made;
    if (Input.Delay) {
      std::snprintf(Line, sizeof Line, "delay %s %llX %s",
                    Input.Call.Module == modules::ModuleId::BoardInitPei ? "pei" : "dxe",
                    static_cast<unsigned long long>(Input.Call.Count),
                    Input.Call.Microseconds ? "us" : "ticks");
      Made = Line;
    } else {
      Made = "script";
      for (const sim::ScriptTableRow &Row : Input.Rows) {
        std::snprintf(Line, sizeof Line, " %X:%X:%X", Row.Port, Row.AndMask, Row.OrValue);
        Made += Line;
      }
    }
    std::snprintf(Line, sizeof Line, ", timer %X, %zu answers", Input.Settings.PmTimerStart,
                  Input.Answers.size());
    return Made + Line;
  };
  const auto Repeated = [](std::size_t Count, std::vector<std::uint8_t> Tail) {
    std::vector<std::uint8_t> Bytes{0x00, static_cast<std::uint8_t>(Count)};
    for (std::size_t Row = 0; Row < Count % 65; ++Row) {
      Bytes.insert(Bytes.end(), {0x80, 0x00, 0x00, static_cast<std::uint8_t>(Row)});
    }
    Bytes.insert(Bytes.end(), Tail.begin(), Tail.end());
    return Bytes;
  };
  struct Row {
    const char *Name;
    std::vector<std::uint8_t> Bytes;
    std::string Want;
  };
  const Row Rows[] = {
      {"no bytes at all", {}, "script, timer 0, 0 answers"},
      {"a script of two rows, the timer, answers",
       {0x00, 2, 0x2E, 0x00, 0x00, 0x87, 0x2F, 0x00, 0xF0, 0x03, 0x56, 0x34, 0x12, 0x00, 0xAA,
        0xBB},
       "script 2E:0:87 2F:F0:3, timer 123456, 2 answers"},
      {"65 rows are none", Repeated(65, {1, 0, 0, 0, 9}), "script, timer 1, 1 answers"},
      {"66 rows are one", Repeated(66, {}), "script 80:0:0, timer 0, 0 answers"},
      {"early-init ticks, a 32-bit count",
       {0x01, 0x01, 0x00, 0x40, 0x00, 0xF0, 0xFF, 0xFF, 0x00, 0x11},
       "delay pei 400001 ticks, timer FFFFF0, 1 answers"},
      {"early-init microseconds, a 32-bit count",
       {0x05, 0xFF, 0xFF, 0xFF, 0xFF},
       "delay pei FFFFFFFF us, timer 0, 0 answers"},
      {"the driver's ticks, a 32-bit count",
       {0x03, 0x23, 0, 0, 0, 0x10, 0, 0, 0},
       "delay dxe 23 ticks, timer 10, 0 answers"},
      {"the driver's microseconds, a 64-bit count",
       {0x07, 0x0A, 0, 0, 0, 0x01, 0, 0, 0, 0x20, 0, 0, 0, 0x44},
       "delay dxe 10000000A us, timer 20, 1 answers"},
      {"a count cut short reads zero above", {0x07, 0x01}, "delay dxe 1 us, timer 0, 0 answers"},
      {"bits above the head's are ignored", {0xF9, 0x02}, "delay pei 2 ticks, timer 0, 0 answers"},
  };
  for (const Row &Each : Rows) {
    SCOPED_TRACE(Each.Name);
    EXPECT_EQ(Text(fuzzruns::DecodeLibrary(Each.Bytes)), Each.Want);
  }
}

// The seed writer writes exactly the committed corpus, and names a file of its folder that is no
// seed instead of taking it for one.
TEST(FuzzInput, TheSeedWriterWritesTheCommittedCorpusAndNamesWhatIsNoSeed) {
  const std::filesystem::path Scratch =
      std::filesystem::temp_directory_path() / ("seed-writer-" + std::to_string(::getpid()));
  for (const Target For : AllTargets) {
    const std::string Program = fuzzruns::TargetProgram(For);
    const std::filesystem::path Folder = Scratch / Program;
    std::filesystem::create_directories(Folder);
    std::ofstream(Folder / "pei-everything-broken") << "an older case's seed";
    const fuzzruns::SeedsWritten Written = fuzzruns::WriteSeeds(For, Folder.string());
    EXPECT_EQ(Written.NotSeeds,
              std::vector<std::string>{(Folder / "pei-everything-broken").string()});
    std::filesystem::remove(Folder / "pei-everything-broken");
    const std::filesystem::path Committed =
        std::filesystem::path(SOURCE_DIR) / "Fuzz" / "Corpus" / Program;
    std::set<std::string> WrittenNames, CommittedNames;
    for (const auto &Entry : std::filesystem::directory_iterator(Folder)) {
      WrittenNames.insert(Entry.path().filename().string());
      EXPECT_EQ(FileBytes(Entry.path().string()),
                FileBytes((Committed / Entry.path().filename()).string()))
          << Entry.path().filename();
    }
    for (const auto &Entry : std::filesystem::directory_iterator(Committed)) {
      CommittedNames.insert(Entry.path().filename().string());
    }
    EXPECT_EQ(WrittenNames, CommittedNames) << Program;
    EXPECT_EQ(Written.Seeds, CommittedNames.size()) << Program;
  }
  std::filesystem::remove_all(Scratch);
}

// Two cases of a target that share a seed differ in their step budget, which the layout does not
// hold: no two cases run the same board with the same requests under two names.
TEST(FuzzInput, CasesThatShareASeedDifferInTheirStepBudget) {
  for (const Target For : AllTargets) {
    const std::vector<comparison::Case> Cases = fuzzruns::SeedCases(For);
    for (std::size_t First = 0; First < Cases.size(); ++First) {
      for (std::size_t Second = First + 1; Second < Cases.size(); ++Second) {
        if (fuzzruns::Encode(For, Cases[First]) == fuzzruns::Encode(For, Cases[Second])) {
          EXPECT_NE(Cases[First].Settings.MaxSteps, Cases[Second].Settings.MaxSteps)
              << Cases[First].Name << " and " << Cases[Second].Name;
        }
      }
    }
  }
}

// What the seeds of the image targets are, in numbers: every case of the runs, one seed a
// distinct input. A case that only stops early by its step budget is the input of the board it
// stops on (the layout holds no budget): the hung entries and the decode list hung midway.
TEST(FuzzInput, CasesThatDifferOnlyInTheirStepBudgetShareASeed) {
  struct Row {
    Target For;
    std::size_t Cases, Seeds;
    const char *Shared;      // a seed that several cases share
    std::size_t SharedCases; // how many
  };
  const Row Rows[] = {
      {Target::Pei, 16, 12, "pei-healthy", 5},
      {Target::Requests, 12, 11, "decode-every-device-type", 2},
      {Target::Dxe, 30, 26, "dxe-timer-hob", 5},
  };
  for (const Row &Each : Rows) {
    SCOPED_TRACE(fuzzruns::TargetProgram(Each.For));
    EXPECT_EQ(fuzzruns::SeedCases(Each.For).size(), Each.Cases);
    const std::vector<fuzzruns::Seed> Seeds = fuzzruns::Seeds(Each.For);
    EXPECT_EQ(Seeds.size(), Each.Seeds);
    const auto Shared = std::find_if(Seeds.begin(), Seeds.end(), [&](const fuzzruns::Seed &Seed) {
      return Seed.FileName == Each.Shared;
    });
    ASSERT_NE(Shared, Seeds.end());
    EXPECT_EQ(Shared->Cases.size(), Each.SharedCases);
  }
}

// Every committed seed corpus, the image targets' and the others': one file a distinct input, and
// no two names that a file system ignoring case would take for one file.
TEST(FuzzInput, CommittedSeedsAreDistinctInContentAndInNameWhateverTheCase) {
  const std::filesystem::path Corpus = std::filesystem::path(SOURCE_DIR) / "Fuzz" / "Corpus";
  std::size_t Folders = 0;
  for (const auto &Folder : std::filesystem::directory_iterator(Corpus)) {
    ASSERT_TRUE(Folder.is_directory()) << Folder.path();
    std::map<std::vector<std::uint8_t>, std::string> Contents;
    std::map<std::string, std::string> Names;
    for (const auto &Entry : std::filesystem::directory_iterator(Folder.path())) {
      const std::string Name = Entry.path().filename().string();
      std::string Folded = Name;
      std::transform(Folded.begin(), Folded.end(), Folded.begin(),
                     [](unsigned char Character) { return std::tolower(Character); });
      const auto [Named, NewName] = Names.emplace(Folded, Name);
      EXPECT_TRUE(NewName) << Folder.path() << ": " << Name << " and " << Named->second
                           << " are one file where case is ignored";
      const auto [Held, NewContent] = Contents.emplace(FileBytes(Entry.path().string()), Name);
      EXPECT_TRUE(NewContent) << Folder.path() << ": " << Name << " and " << Held->second
                              << " hold the same input";
    }
    ++Folders;
  }
  EXPECT_EQ(Folders, 9u);
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
  using FormatTamper = std::function<void(runs::FormatResult &)>;
  using LibraryTamper = std::function<void(sim::Board &, runs::DelayResult &)>;
  explicit TamperedRuns(Tamper Change) : Change_(std::move(Change)) {}
  explicit TamperedRuns(FormatTamper Change) : FormatChange_(std::move(Change)) {}
  explicit TamperedRuns(LibraryTamper Change) : LibraryChange_(std::move(Change)) {}
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
  runs::FormatResult runFormat(sim::Board &Target, const runs::FormatCall &Call) const override {
    runs::FormatResult Result = runs::HostBuild().runFormat(Target, Call);
    if (FormatChange_) {
      Result.Run.Image = runs::ImageFacts{};
      FormatChange_(Result);
    }
    return Result;
  }
  runs::StatusNameResult runStatusName(sim::Board &Target, std::uint64_t Status) const override {
    return runs::HostBuild().runStatusName(Target, Status);
  }
  runs::RunResult runScript(sim::Board &Target,
                            std::span<const sim::ScriptTableRow> Rows) const override {
    runs::DelayResult Result{runs::HostBuild().runScript(Target, Rows), std::nullopt};
    return libraryChanged(Target, Result).Run;
  }
  runs::DelayResult runDelay(sim::Board &Target, const runs::DelayCall &Call) const override {
    runs::DelayResult Result = runs::HostBuild().runDelay(Target, Call);
    return libraryChanged(Target, Result);
  }

private:
  runs::RunResult changed(sim::Board &Target, runs::RunResult Result) const {
    Result.Image = runs::ImageFacts{};
    Change_(Target, Result);
    return Result;
  }
  runs::DelayResult &libraryChanged(sim::Board &Target, runs::DelayResult &Result) const {
    if (LibraryChange_) {
      Result.Run.Image = runs::ImageFacts{};
      LibraryChange_(Target, Result);
    }
    return Result;
  }
  Tamper Change_;
  FormatTamper FormatChange_;
  LibraryTamper LibraryChange_;
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

// A format call whose result the image changed is a finding of its kind; an unbounded call whose
// text would overrun the buffer is made with the room as its capacity and passes.
TEST(FuzzCheck, ATamperedFormatCallIsAFindingOfItsKind) {
  constexpr std::uint32_t DriverStack = 1260;
  const std::string Differ = "the image and the host build differ";
  struct Case {
    const char *Name;
    TamperedRuns::FormatTamper Change;
    std::string What; // empty: no finding
  };
  const Case Cases[] = {
      {"nothing changed", [](runs::FormatResult &) {}, ""},
      {"another count", [](runs::FormatResult &Got) { *Got.Count += 1; }, Differ},
      {"a byte of the text", [](runs::FormatResult &Got) { Got.Buffer[1] = 'X'; }, Differ},
      {"no NUL at the count", [](runs::FormatResult &Got) { Got.Buffer[*Got.Count] = '!'; },
       Differ},
      {"a byte past the NUL", [](runs::FormatResult &Got) { Got.Buffer[*Got.Count + 1] = 0; },
       Differ},
      {"a guard byte", [](runs::FormatResult &Got) { Got.Buffer.back() = 0; }, Differ},
      {"a broken rule", [](runs::FormatResult &Got) { Got.Run.Image->Breach = "CPU fault"; },
       "the image broke a rule"},
      {"the stack budget met",
       [](runs::FormatResult &Got) { Got.Run.Image->StackHighWater = DriverStack; }, ""},
      {"the stack budget passed",
       [](runs::FormatResult &Got) { Got.Run.Image->StackHighWater = DriverStack + 1; },
       "the image went over its stack budget"},
  };
  runs::FormatCall Call{"[%5d] %a", 64, {{42, std::nullopt, 0}, {0, {{'o', 'k', 0}}, 3}}};
  fuzzruns::BoardPair Boards;
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    const TamperedRuns Image(Each.Change);
    const auto Found =
        fuzzruns::CheckFormatInput(runs::HostBuild(), Image, Call, DriverStack, Boards);
    EXPECT_EQ(Found ? Found->What : "", Each.What) << (Found ? Found->Details : "");
    if (Found) {
      EXPECT_NE(Found->Details.find("format \"[%5d] %a\""), std::string::npos) << Found->Details;
    }
  }
  // "%-5d" pads until the room ends: without a limit the host build refuses the call.
  for (const std::uint64_t Unbounded : {std::uint64_t{0}, ~std::uint64_t{0}}) {
    const TamperedRuns Image([](runs::FormatResult &) {});
    const runs::FormatCall Pads{"%-5d", Unbounded, {{7, std::nullopt, 0}}};
    const auto Found =
        fuzzruns::CheckFormatInput(runs::HostBuild(), Image, Pads, DriverStack, Boards);
    EXPECT_FALSE(Found) << Found->Details;
  }
}

// A script or delay whose run the image changed is a finding of its kind, the stack measured
// against the budget of the module whose copy ran.
TEST(FuzzCheck, ATamperedScriptOrDelayIsAFindingOfItsKind) {
  const fuzzruns::StackBudgets Budgets{150, 1260};
  const std::string Differ = "the image and the host build differ";
  using Change = TamperedRuns::LibraryTamper;
  const auto Stack = [](std::uint32_t Bytes) {
    return Change(
        [Bytes](sim::Board &, runs::DelayResult &Got) { Got.Run.Image->StackHighWater = Bytes; });
  };
  // A merged row over an answered read, and the microseconds of each module's copy.
  const std::vector<std::uint8_t> Script{0x00, 2,    0x2E, 0x00, 0x00, 0x87, 0x2F, 0x00,
                                         0xF0, 0x03, 0,    0,    0,    0,    0x5A};
  const std::vector<std::uint8_t> EarlyDelay{0x05, 10, 0, 0, 0};
  const std::vector<std::uint8_t> DriverDelay{0x07, 10, 0, 0, 0, 0, 0, 0, 0};
  struct Case {
    const char *Name;
    const std::vector<std::uint8_t> &Input;
    Change Changed;
    std::string What; // empty: no finding
  };
  const Case Cases[] = {
      {"a script unchanged", Script, [](sim::Board &, runs::DelayResult &) {}, ""},
      {"a delay unchanged", DriverDelay, [](sim::Board &, runs::DelayResult &) {}, ""},
      {"a script with one more pause", Script,
       [](sim::Board &Board, runs::DelayResult &) { Board.pause(); }, Differ},
      {"another returned count", DriverDelay,
       [](sim::Board &, runs::DelayResult &Got) { *Got.Returned += 1; }, Differ},
      {"a script that hung", Script,
       [](sim::Board &, runs::DelayResult &Got) { Got.Run.Hung = true; }, Differ},
      {"a broken rule", DriverDelay,
       [](sim::Board &, runs::DelayResult &Got) { Got.Run.Image->Breach = "CPU fault"; },
       "the image broke a rule"},
      {"the script within the early-init budget", Script, Stack(150), ""},
      {"the script past the early-init budget", Script, Stack(151),
       "the image went over its stack budget"},
      {"the early-init delay past its budget", EarlyDelay, Stack(151),
       "the image went over its stack budget"},
      {"the driver's delay within its budget", DriverDelay, Stack(1260), ""},
      {"the driver's delay past its budget", DriverDelay, Stack(1261),
       "the image went over its stack budget"},
  };
  fuzzruns::BoardPair Boards;
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    const TamperedRuns Image(Each.Changed);
    const auto Found = fuzzruns::CheckLibraryInput(
        runs::HostBuild(), Image, fuzzruns::DecodeLibrary(Each.Input), Budgets, Boards);
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
      for (const fuzzruns::Seed &Each : fuzzruns::Seeds(For)) {
        for (const std::size_t AnswerBytes : {0u, 64u, 700u}) {
          std::vector<std::uint8_t> Answers(AnswerBytes);
          for (std::uint8_t &Byte : Answers) {
            Random = Random * 1103515245u + 12345u;
            Byte = static_cast<std::uint8_t>(Random >> 16);
          }
          std::vector<std::uint8_t> Bytes = Each.Bytes;
          Bytes.insert(Bytes.end(), Answers.begin(), Answers.end());
          // The format target's answers are more format text: random conversions, flags and
          // widths after the seed's own.
          // The library target's are more timer readings or port values after the seed's own.
          const auto Found =
              For == Target::Format ? fuzzruns::CheckFormatInput(runs::HostBuild(), Images,
                                                                 fuzzruns::DecodeFormat(Bytes).Call,
                                                                 Budgets.Driver, Boards)
              : For == Target::Library
                  ? fuzzruns::CheckLibraryInput(runs::HostBuild(), Images,
                                                fuzzruns::DecodeLibrary(Bytes), Budgets, Boards)
                  : fuzzruns::CheckInput(runs::HostBuild(), Images, fuzzruns::Decode(For, Bytes),
                                         Budgets, Boards);
          EXPECT_FALSE(Found) << Each.FileName << " with " << AnswerBytes
                              << " bytes of answers: " << Found->What << "\n"
                              << Found->Details;
          ++Inputs;
        }
      }
    }
  }
  EXPECT_GE(Inputs, 1150u);
}

} // namespace
