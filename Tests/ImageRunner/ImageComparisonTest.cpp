// The shipped images against the host build of the same sources: every case of the comparison
// (each module's entry on every named scenario and on the boards they leave out, the request lists
// that reach every branch of the decode operations) runs both ways on its own board, and the two
// traces must agree record for record (annotations, firmware service calls, processor events and
// register comments included), as must the results, the driver's module facts and, for a hung
// run, its last accesses and the calls it was in; the image breaks no rule. Each image run is
// made twice on the same engine, and the second is the first again; and once more on a lean
// runner, which must give the same trace and results, the same stack high-water mark and the same
// instruction count.
#include "Comparison.h"
#include "FirmwareImages.h"
#include "FormatComparison.h"
#include "HostBuildRuns.h"
#include "ImageRuns.h"
#include "LibraryCases.h"
#include "RunRecord.h"
#include "RunTool.h"
#include "TableWhatIfs.h"

#include <gtest/gtest.h>
#include <map>
#include <memory>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The most instructions the emulator translates into one block.
constexpr std::uint64_t BlockInstructions = 512;

// The case's run on a board of its own, with what only the image can tell.
runs::RunRecord ImageRecord(const runs::ModuleRuns &Runs, const comparison::Case &Case) {
  sim::Scenario Settings = Case.Settings;
  Settings.RecordTrace = false;
  sim::Board Board(Settings);
  return runs::RecordRun(Runs, Board, Case.What, Case.Decode, Case.Window);
}

// The instructions that made the run's accesses, each with how many it made (a site of a full
// run is an instruction and the call it is in; a lean run follows no calls).
std::map<std::uint64_t, std::uint64_t> SiteAddresses(const runs::RunRecord &Record) {
  std::map<std::uint64_t, std::uint64_t> Addresses;
  for (const runs::SiteCount &Each : Record.Sites.sites()) {
    Addresses[Each.Site.Address] += Each.Accesses;
  }
  return Addresses;
}

TEST(ImageComparison, ImageAndHostBuildAgreeRecordForRecord) {
  SKIP_WITHOUT_PEI_IMAGE();
  SKIP_WITHOUT_DXE_IMAGE();
  const imagerun::ImageRuns Images(imagerun::LoadPeiImage(imagetest::PeiImagePath),
                                   imagerun::LoadDxeImage(imagetest::DxeImagePath));
  const imagerun::ImageRuns Lean(imagerun::LoadPeiImage(imagetest::PeiImagePath),
                                 imagerun::LoadDxeImage(imagetest::DxeImagePath),
                                 imagerun::Tracking::Lean);
  // The cases reach the script's read-modify-write path, which the module's own script never
  // takes: a read of the chip's data port before each of its masked writes.
  std::size_t MaskedReads = 0;
  for (const comparison::Case &Case : comparison::Cases(comparison::AllRuns)) {
    const comparison::Outcome Image = comparison::RunCase(Images, Case);
    for (const sim::TraceRecord &Record : Image.Records) {
      MaskedReads += Record.Kind == sim::AccessKind::PortIn && Record.Address == 0x2F ? 1 : 0;
    }
    const comparison::CaseComparison Result =
        comparison::Compare(Case.Name, comparison::RunCase(runs::HostBuild(), Case), Image);
    EXPECT_TRUE(Result.same()) << "A: the host build, B: the images (is the firmware build up to "
                                  "date?)\n"
                               << comparison::ReportText(Result);
    // The runner keeps its engine from case to case: the same case again on it runs the same,
    // nothing of the run before leaking into the next.
    const comparison::CaseComparison Again =
        comparison::Compare(Case.Name, Image, comparison::RunCase(Images, Case));
    EXPECT_TRUE(Again.same()) << "A: the image's run, B: the same run again on its engine\n"
                              << comparison::ReportText(Again);
    // Watching only what the board must see changes nothing the board or the fuzz oracles see.
    const comparison::CaseComparison Leaner =
        comparison::Compare(Case.Name, Image, comparison::RunCase(Lean, Case));
    EXPECT_TRUE(Leaner.same()) << "A: the image's run, B: the same run followed lean\n"
                               << comparison::ReportText(Leaner);
    const runs::RunRecord FullRecord = ImageRecord(Images, Case),
                          QuickRecord = ImageRecord(Lean, Case);
    const runs::RunResult &Full = FullRecord.Result, &Quick = QuickRecord.Result;
    // Each access names its own instruction followed lean as in full, a port access in the middle
    // of a translated block included.
    EXPECT_EQ(SiteAddresses(QuickRecord), SiteAddresses(FullRecord)) << Case.Name;
    EXPECT_FALSE(FullRecord.Sites.sites().empty()) << Case.Name;
    ASSERT_TRUE(Full.Image && Quick.Image) << Case.Name;
    EXPECT_EQ(Quick.Image->StackHighWater, Full.Image->StackHighWater) << Case.Name;
    // A run that stopped inside a block counts it whole when followed lean.
    if (Full.Hung || Full.Image->Breach) {
      EXPECT_GE(Quick.Image->Instructions, Full.Image->Instructions) << Case.Name;
      EXPECT_LE(Quick.Image->Instructions, Full.Image->Instructions + BlockInstructions)
          << Case.Name;
    } else {
      EXPECT_EQ(Quick.Image->Instructions, Full.Image->Instructions) << Case.Name;
    }
    EXPECT_EQ(Quick.Image->SpunWithoutAccess, Full.Image->SpunWithoutAccess) << Case.Name;
    EXPECT_TRUE(Quick.Image->StackChain.empty() && Quick.Image->StackDeepestIn.empty())
        << Case.Name;
  }
  EXPECT_GE(MaskedReads, 6u);
}

// The driver's format engine over the whole table of its tests, each row without a limit and cut
// in its text, and the rejected calls; then GetStatusCodeName over every class of status: the
// image's count, text, terminator and untouched bytes behind it are the host build's.
TEST(ImageComparison, FormatEngineAndStatusNamesRunOnTheImageAsOnTheHostBuild) {
  SKIP_WITHOUT_DXE_IMAGE();
  const imagerun::ImageRuns Image(std::nullopt, imagerun::LoadDxeImage(imagetest::DxeImagePath));
  const std::vector<comparison::FormatCase> Cases = comparison::FormatComparisonCases();
  ASSERT_GT(Cases.size(), comparison::FormatRows().size());
  // The image's own code gives the text: the call runs its instructions, within its stack.
  for (const comparison::FormatCase &Row : comparison::FormatRows()) {
    sim::Board Board;
    const runs::FormatResult Got = Image.runFormat(Board, Row.Call);
    ASSERT_TRUE(Got.Run.Image && Got.Count) << Row.Name;
    EXPECT_GT(Got.Run.Image->Instructions, Row.Want.size()) << Row.Name;
    EXPECT_GT(Got.Run.Image->StackHighWater, 0u) << Row.Name;
    EXPECT_FALSE(Got.Run.Image->Breach) << Row.Name;
    EXPECT_EQ(std::string(Got.Buffer.begin(), Got.Buffer.begin() + Row.Want.size()), Row.Want)
        << Row.Name;
  }
  for (const comparison::FormatCase &Case : Cases) {
    const comparison::CaseComparison Result =
        comparison::Compare(Case.Name, comparison::RunFormatCase(runs::HostBuild(), Case),
                            comparison::RunFormatCase(Image, Case));
    EXPECT_TRUE(Result.same()) << "A: the host build, B: the image\n"
                               << comparison::ReportText(Result);
  }
  for (const std::uint64_t Status : comparison::StatusNameCases()) {
    const std::string Name = comparison::StatusNameCaseName(Status);
    const comparison::CaseComparison Result =
        comparison::Compare(Name, comparison::RunStatusNameCase(runs::HostBuild(), Status),
                            comparison::RunStatusNameCase(Image, Status));
    EXPECT_TRUE(Result.same()) << "A: the host build, B: the image\n"
                               << comparison::ReportText(Result);
  }
}

// The early-init module's script runner over rows of its own and both modules' delays over every
// pass structure: each image's own copy runs as the host build, record for record.
TEST(ImageComparison, ScriptsAndDelaysRunOnTheImagesAsOnTheHostBuild) {
  SKIP_WITHOUT_PEI_IMAGE();
  SKIP_WITHOUT_DXE_IMAGE();
  const imagerun::ImageRuns Images(imagerun::LoadPeiImage(imagetest::PeiImagePath),
                                   imagerun::LoadDxeImage(imagetest::DxeImagePath));
  const auto Check = [&](const std::string &Name, const comparison::Outcome &Host,
                         const comparison::Outcome &Image) {
    const comparison::CaseComparison Result = comparison::Compare(Name, Host, Image);
    EXPECT_TRUE(Result.same()) << "A: the host build, B: the image\n"
                               << comparison::ReportText(Result);
  };
  for (const comparison::ScriptCase &Each : comparison::ScriptCases()) {
    Check(Each.Name, comparison::RunScriptCase(runs::HostBuild(), Each),
          comparison::RunScriptCase(Images, Each));
  }
  for (const comparison::DelayCase &Each : comparison::DelayCases()) {
    Check(Each.Name, comparison::RunDelayCase(runs::HostBuild(), Each),
          comparison::RunDelayCase(Images, Each));
  }
}

// What the cases make the functions do, on the host build: a merge is the read value ANDed with
// the mask and ORed with the value, and a plain row reads nothing; a delay waits a pass of its low
// 22 bits, then one of 2^22 ticks for each unit above them, and every case ends without a hang.
TEST(ImageComparison, ScriptAndDelayCasesReachWhatTheyAreFor) {
  std::map<std::string, comparison::Outcome> Host;
  for (const comparison::ScriptCase &Each : comparison::ScriptCases()) {
    Host.emplace(Each.Name, comparison::RunScriptCase(runs::HostBuild(), Each));
  }
  for (const comparison::DelayCase &Each : comparison::DelayCases()) {
    Host.emplace(Each.Name, comparison::RunDelayCase(runs::HostBuild(), Each));
  }
  for (const auto &[Name, Outcome] : Host) {
    EXPECT_EQ(Outcome.Results.front().Text, "no") << Name << ": hung";
  }
  // IN 0x2F and OUT 0x2F in order, each merge after its read.
  std::vector<std::pair<char, unsigned>> Merged;
  for (const sim::TraceRecord &Record : Host.at("script merged rows over answered reads").Records) {
    Merged.emplace_back(Record.Kind == sim::AccessKind::PortIn ? 'r' : 'w',
                        static_cast<unsigned>(Record.Value));
  }
  const std::vector<std::pair<char, unsigned>> WantMerged = {
      {'r', 0xFF}, {'w', 0x01}, {'r', 0x00}, {'w', 0x01}, {'r', 0x5A}, {'w', 0xFF},
      {'r', 0xA5}, {'w', 0xF5}, {'r', 0x3C}, {'w', 0x3F}, {'r', 0xC3}, {'w', 0xD7},
      {'w', 0x00}, {'r', 0x81}, {'w', 0x81}, {'r', 0x3C}, {'w', 0x35}};
  EXPECT_EQ(Merged, WantMerged);
  const auto Count = [&](const std::string &Name, sim::AccessKind Kind) {
    const std::vector<sim::TraceRecord> &Records = Host.at(Name).Records;
    return std::count_if(Records.begin(), Records.end(),
                         [&](const sim::TraceRecord &Each) { return Each.Kind == Kind; });
  };
  // 257 rows: one write each, a read for each of the 255 whose mask is not 0.
  EXPECT_EQ(Count("script 257 rows", sim::AccessKind::PortOut), 257);
  EXPECT_EQ(Count("script 257 rows", sim::AccessKind::PortIn), 255);
  EXPECT_EQ(Count("script no rows", sim::AccessKind::PortOut), 0);
  struct Delay {
    const char *Name;
    long Reads, Pauses; // of the PM timer; a pass reads its start, its misses and its end
    const char *Returned;
  };
  const Delay Delays[] = {
      {"delay BoardInitPei 0x0 ticks", 2, 0, ""},
      {"delay BoardInitPei 0x23 ticks", 37, 35, ""},
      {"delay BoardInitPei 0x3FFFFF ticks", 4, 2, ""},
      {"delay BoardInitPei 0x400000 ticks", 6, 2, ""},
      {"delay BoardInitPei 0xC00005 ticks", 8, 0, ""},
      {"delay BoardInitPei 0xFFFFFFFF ticks", 2048, 0, ""},
      {"delay BoardInitPei 0xA microseconds", 37, 35, "0xA"},
      {"delay BoardInitPei 0x1E8480 microseconds", 6, 2, "0x1E8480"},
      {"delay BoardInitPei 0xFFFFFFFF microseconds", 2 * 594, 0, "0xFFFFFFFF"},
      {"delay BoardInitDxe 0x10000000A microseconds", 2 * 594, 0, "0x10000000A"},
      {"delay BoardInitDxe 0xFFFFFFFFFFFFFFFF microseconds", 2 * 991, 0, "0xFFFFFFFFFFFFFFFF"},
  };
  for (const Delay &Each : Delays) {
    EXPECT_EQ(Count(Each.Name, sim::AccessKind::PortIn), Each.Reads) << Each.Name;
    EXPECT_EQ(Count(Each.Name, sim::AccessKind::Pause), Each.Pauses) << Each.Name;
    EXPECT_EQ(Host.at(Each.Name).Results.back().Text, Each.Returned) << Each.Name;
  }
}

// The table the comparison drives gives, through the host build's runs, the text its rows state.
TEST(ImageComparison, FormatRowsGiveTheirTextOnTheHostBuild) {
  for (const comparison::FormatCase &Row : comparison::FormatRows()) {
    sim::Board Board;
    const runs::FormatResult Got = runs::HostBuild().runFormat(Board, Row.Call);
    ASSERT_TRUE(Got.Count) << Row.Name;
    ASSERT_EQ(*Got.Count, Row.Want.size()) << Row.Name;
    EXPECT_EQ(std::string(Got.Buffer.begin(), Got.Buffer.begin() + Row.Want.size()), Row.Want)
        << Row.Name;
    EXPECT_EQ(Got.Buffer[Row.Want.size()], 0) << Row.Name;
  }
}

// The comparison of format calls tells a call made with another capacity, another argument or
// another format from the call itself, and a call from itself not at all.
TEST(ImageComparison, AFormatCallChangedOnOneSideIsADifference) {
  const comparison::FormatCase &Row = comparison::FormatRows()[0];
  struct Planted {
    const char *What;
    void (*Change)(runs::FormatCall &);
    const char *Differs;
  };
  const Planted Changes[] = {
      {"capacity", [](runs::FormatCall &Call) { Call.Capacity = 1; }, "count"},
      {"argument", [](runs::FormatCall &Call) { Call.Arguments[0].Value = 7; }, "text"},
      {"format", [](runs::FormatCall &Call) { Call.Format = "%x-"; }, "text"},
      {"null buffer", [](runs::FormatCall &Call) { Call.NullBuffer = true; }, "count"},
  };
  const comparison::Outcome Host = comparison::RunFormatCase(runs::HostBuild(), Row);
  EXPECT_TRUE(comparison::Compare(Row.Name, Host, Host).same());
  for (const Planted &Each : Changes) {
    comparison::FormatCase Other = Row;
    Each.Change(Other.Call);
    const comparison::CaseComparison Result =
        comparison::Compare(Row.Name, Host, comparison::RunFormatCase(runs::HostBuild(), Other));
    ASSERT_FALSE(Result.same()) << Each.What;
    EXPECT_TRUE(std::any_of(Result.Results.begin(), Result.Results.end(),
                            [&](const comparison::ResultDifference &Difference) {
                              return Difference.What == Each.Differs;
                            }))
        << Each.What << "\n"
        << comparison::ReportText(Result);
  }
}

// The what-ifs of the board tables: the image with the rows written over its tables runs as the
// host build with the rows in its writable tables, record for record, leaving the same board; a
// run on the module's own tables after them is the image's own run again.
TEST(ImageComparison, ReplacedTablesRunOnTheImageAsOnTheHostBuild) {
  SKIP_WITHOUT_PEI_IMAGE();
  const imagerun::ImageRuns Images(imagerun::LoadPeiImage(imagetest::PeiImagePath), std::nullopt);
  std::vector<comparison::Case> Cases;
  for (const tabletest::WhatIf &Each : tabletest::WhatIfs()) {
    comparison::Case Case{Each.Name, comparison::Run::Pei, {}, {}, {}, {}};
    Case.Settings.Tables = Each.Rows;
    Cases.push_back(Case);
  }
  Cases.push_back({"the module's own tables", comparison::Run::Pei, {}, {}, {}, {}});
  for (const comparison::Case &Case : Cases) {
    const comparison::CaseComparison Result = comparison::Compare(
        Case.Name, comparison::RunCase(runs::HostBuild(), Case), comparison::RunCase(Images, Case));
    EXPECT_TRUE(Result.same()) << "A: the host build, B: the image\n"
                               << comparison::ReportText(Result);
  }
  // The rows reach the image's table: its trace is not its own.
  const comparison::Outcome Own = comparison::RunCase(Images, Cases.back());
  for (std::size_t Each = 1; Each + 1 < Cases.size(); ++Each) {
    EXPECT_FALSE(
        comparison::Compare(Cases[Each].Name, Own, comparison::RunCase(Images, Cases[Each])).same())
        << Cases[Each].Name;
  }
}

// A copy of the early-init image, its map beside it, with bit 0 of the value of one row of the
// Super I/O script flipped (the last row unless another is given): the script is found in the
// image's read-only data by its rows as the host build holds them.
std::string WithScriptValueChanged(std::size_t Row = 21, const char *Name = "planted-script.efi") {
  std::ifstream In(imagetest::PeiImagePath, std::ios::binary);
  std::vector<char> Bytes{std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
  const std::span<const IoScriptRow> Script = sim::BoardSuperIoScript();
  const auto *Rows = reinterpret_cast<const char *>(Script.data());
  const auto Found = std::search(Bytes.begin(), Bytes.end(), Rows, Rows + Script.size_bytes());
  EXPECT_NE(Found, Bytes.end()) << "the Super I/O script is not in the image";
  EXPECT_EQ(std::search(Found + 1, Bytes.end(), Rows, Rows + Script.size_bytes()), Bytes.end());
  if (Found == Bytes.end()) {
    return {};
  }
  const auto Value = Found + static_cast<std::ptrdiff_t>((Row + 1) * sizeof(IoScriptRow)) - 1;
  *Value = static_cast<char>(*Value ^ 1);
  const std::string Path = ::testing::TempDir() + Name;
  std::ofstream(Path, std::ios::binary)
      .write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
  std::filesystem::copy_file(imagerun::MapPathFor(imagetest::PeiImagePath),
                             imagerun::MapPathFor(Path),
                             std::filesystem::copy_options::overwrite_existing);
  return Path;
}

// boardsim compare on the images: identical images agree in every case; one changed byte of the
// script is one changed access, shown on each side in every entry run that reaches it, while the
// request runs, which never run the script, stay the same; the two modules' images are bad input.
TEST(ImageComparison, BoardsimCompareFindsAOneAccessDifferenceBetweenImages) {
  SKIP_WITHOUT_PEI_IMAGE();
  SKIP_WITHOUT_DXE_IMAGE();
  const std::string Planted = WithScriptValueChanged();
  ASSERT_FALSE(Planted.empty());
  // Row 15 writes 0xE5 to register 0x76 of logical device 0x0D: the chip ends configured otherwise.
  const std::string Configured = WithScriptValueChanged(15, "configured-script.efi");
  ASSERT_FALSE(Configured.empty());
  const std::string &Pei = imagetest::PeiImagePath;
  const std::string &Dxe = imagetest::DxeImagePath;
  const std::span<const IoScriptRow> Script = sim::BoardSuperIoScript();
  const IoScriptRow &Last = Script.back();
  const auto Access = [&](std::uint8_t Value) {
    return ": " +
           sim::FormatRecord({sim::AccessKind::PortOut, 1, Last.Port, Value, "Super I/O data"});
  };
  struct Case {
    std::string Arguments;
    int Exit;
    std::vector<std::string> Shown;
    std::vector<std::string> Left = {};
  };
  const Case Cases[] = {
      {"compare " + Pei + " " + Pei,
       0,
       {"runs compared: pei decode window", " 0 different\n"},
       {"different  "}},
      {"compare " + Dxe + " " + Dxe + " --scenario=healthy --scenario=spi-busy",
       0,
       {"runs compared: dxe boot\n", "same       dxe healthy\nsame       dxe spi-busy\n",
        "same       boot healthy\nsame       boot spi-busy\n", "4 cases: 4 same"}},
      {"compare " + Pei + " " + Planted,
       1,
       {"different  pei healthy\n", "different  pei spi-dead  (parts as pei healthy, at record ",
        "part the same way; pei healthy:\n", "same       decode every target\n",
        "same       window every target\n", "    > ", Access(Last.OrValue) + "\n",
        Access(Last.OrValue ^ 1) + "\n",
        "    A: BoardInitPeiEntry(FileHandle, PeiServices)\n"
        "    B: BoardInitPeiEntry(FileHandle, PeiServices)\n"},
       {"results that differ", "different  decode", "different  window"}},
      {"compare " + Pei + " " + Configured + " --scenario=healthy",
       1,
       {"different  pei healthy\n  the traces part at record ", ", line ",
        "  results that differ:\n    Super I/O configuration: A logical device 0x0D: 0x30=0x01 "
        "0x61=0x00 0x70=0x1A 0x72=0x00 0x74=0x00 0x76=0xE5 0x77=0xFF; B logical device 0x0D: "
        "0x30=0x01 0x61=0x00 0x70=0x1A 0x72=0x00 0x74=0x00 0x76=0xE4 0x77=0xFF\n",
        // The boot runs the image's early phase and the host build's driver after it.
        "different  boot healthy\n", "    BoardInitPei: Super I/O configuration: A logical device",
        "    BoardInitDxe: Super I/O configuration: A logical device"},
       {"I/O Enables", "decode map", "serial output"}},
      {"compare " + Pei + " " + Dxe, 2, {}, {"same"}},
  };
  for (const Case &Each : Cases) {
    const tooltest::ToolResult Run = tooltest::RunTool(BOARDSIM_PATH, Each.Arguments);
    EXPECT_EQ(Run.Exit, Each.Exit) << Each.Arguments << "\n" << Run.Err;
    for (const std::string &Expected : Each.Shown) {
      EXPECT_NE(Run.Out.find(Expected), std::string::npos) << Each.Arguments << ": " << Expected;
    }
    for (const std::string &Absent : Each.Left) {
      EXPECT_EQ(Run.Out.find(Absent), std::string::npos) << Each.Arguments << ": " << Absent;
    }
  }
  const tooltest::ToolResult Refused =
      tooltest::RunTool(BOARDSIM_PATH, "compare " + Pei + " " + Dxe);
  EXPECT_EQ(Refused.Err, "boardsim: '" + Pei + "' and '" + Dxe +
                             "' are images of different modules (the early-init module and the "
                             "driver): they make no run in common\n");
}

} // namespace

namespace {

// The planted copy at Planted (plant-divergence's output), followed lean as the fuzz targets run.
std::unique_ptr<imagerun::ImageRuns> PlantedRuns(const std::string &Planted, bool Driver) {
  std::optional<imagerun::PeiImage> Pei;
  std::optional<imagerun::DxeImage> Dxe;
  if (Driver) {
    Dxe = imagerun::LoadDxeImage(Planted);
  } else {
    Pei = imagerun::LoadPeiImage(Planted);
  }
  return std::make_unique<imagerun::ImageRuns>(std::move(Pei), std::move(Dxe),
                                               imagerun::Tracking::Lean);
}

// Every comparison case of the module's entries (what boardsim compare runs of them) passes Runs.
void ExpectEveryEntryCaseSame(const runs::ModuleRuns &Runs, bool Driver) {
  for (const comparison::Case &Case :
       comparison::Cases(Driver ? comparison::DxeRuns : comparison::EarlyInitRuns)) {
    const comparison::CaseComparison Result = comparison::Compare(
        Case.Name, comparison::RunCase(runs::HostBuild(), Case), comparison::RunCase(Runs, Case));
    EXPECT_TRUE(Result.same()) << comparison::ReportText(Result);
  }
}

// Each planted divergence (plant-divergence): its copy of the image agrees with the host build in
// every case boardsim compare makes, yet parts from it on a board that gives the answer it
// depends on, at the record the changed instruction decides. The tool refuses the other module's
// image and a copy already changed, whose instruction it no longer finds.
TEST(ImageComparison, PlantedDivergencesPassEveryCaseAndPartOnTheBoardThatShowsThem) {
  SKIP_WITHOUT_PEI_IMAGE();
  SKIP_WITHOUT_DXE_IMAGE();
  const auto Board = [](auto Change) {
    sim::Scenario Settings;
    Change(Settings);
    return Settings;
  };
  struct Row {
    std::string Divergence;
    bool Driver;
    comparison::Case Shows;
    std::string HostRecord, ImageRecord; // where the traces part
  };
  const Row Rows[] = {
      {"uart-ready-bit",
       true,
       {"dxe, line status 0x20",
        comparison::Run::Dxe,
        {},
        Board([](sim::Scenario &S) { S.UartLineStatus = 0x20; }),
        {},
        {}},
       "OUT8 0x03F8 0x5A  ; UART transmit",
       "IN8 0x03FD 0x20  ; UART line status"},
      {"pm-timer-sign-bit",
       false,
       {"pei, the PM timer 16 ticks below its wrap",
        comparison::Run::Pei,
        {},
        Board([](sim::Scenario &S) { S.PmTimerStart = 0xFFFFF0; }),
        {},
        {}},
       "PAUSE",
       "RD32 0xFE032010 0x00000000  ; SPI data"},
      {"window-base-mask",
       false,
       {"window, slot 1 at 0x6C with bit 1 set",
        comparison::Run::Window,
        {},
        Board([](sim::Scenario &S) {
          S.LpcConfig[0x84] = {0x0000006F, 4};
        }),
        {},
        {{0x6C, 0x0004}}},
       "OUT32 0x0CF8 0x8000F884  ; PCI address",
       "OUT32 0x0CF8 0x8000F888  ; PCI address"},
  };
  for (const Row &Each : Rows) {
    const std::string &Image = Each.Driver ? imagetest::DxeImagePath : imagetest::PeiImagePath;
    const std::string Planted = ::testing::TempDir() + "planted-" + Each.Divergence + ".efi";
    const tooltest::ToolResult Plant =
        tooltest::RunTool(PLANT_DIVERGENCE_PATH, Each.Divergence + " " + Image + " " + Planted);
    ASSERT_EQ(Plant.Exit, 0) << Each.Divergence << "\n" << Plant.Err;
    SCOPED_TRACE(Each.Divergence);
    const std::unique_ptr<imagerun::ImageRuns> Copy = PlantedRuns(Planted, Each.Driver);
    const imagerun::ImageRuns &Runs = *Copy;
    ExpectEveryEntryCaseSame(Runs, Each.Driver);
    const comparison::CaseComparison Shown =
        comparison::Compare(Each.Shows.Name, comparison::RunCase(runs::HostBuild(), Each.Shows),
                            comparison::RunCase(Runs, Each.Shows));
    ASSERT_TRUE(Shown.Trace.has_value()) << Each.Divergence;
    const auto At = [&](const comparison::TraceSide &Side) {
      for (const comparison::TraceSide::Line &Line : Side.Context) {
        if (Line.Record == Shown.Trace->Record) {
          return Line.Text;
        }
      }
      return std::string("(no record)");
    };
    EXPECT_EQ(At(Shown.Trace->A), Each.HostRecord) << Each.Divergence;
    EXPECT_EQ(At(Shown.Trace->B), Each.ImageRecord) << Each.Divergence;

    const tooltest::ToolResult Again = tooltest::RunTool(
        PLANT_DIVERGENCE_PATH, Each.Divergence + " " + Planted + " " + Planted + "2");
    EXPECT_EQ(Again.Exit, 2) << Each.Divergence;
    EXPECT_NE(Again.Err.find("holds 0 instructions"), std::string::npos) << Again.Err;
    const std::string &Other = Each.Driver ? imagetest::PeiImagePath : imagetest::DxeImagePath;
    const tooltest::ToolResult Refused =
        tooltest::RunTool(PLANT_DIVERGENCE_PATH, Each.Divergence + " " + Other + " " + Planted);
    EXPECT_EQ(Refused.Exit, 2) << Each.Divergence;
    EXPECT_NE(Refused.Err.find("; this is an image of"), std::string::npos) << Refused.Err;
  }
}

// Each planted divergence of the driver's format engine: its copy gives every format comparison
// case as the host build does, yet parts from it on a call that holds what the changed instruction
// decides, and makes the driver's entry as before.
TEST(ImageComparison, PlantedFormatDivergencesPassEveryFormatCaseAndPartOnTheCallThatShowsThem) {
  SKIP_WITHOUT_DXE_IMAGE();
  struct Row {
    std::string Divergence;
    runs::FormatCall Shows;
    std::string HostText, ImageText;
  };
  const Row Rows[] = {
      // Without 9 as a digit "%9" and "%19" end before the 9, which is read again as text.
      {"width-digit-nine",
       {"[%9d] %19x", 64, {{7, std::nullopt, 0}, {0xAB, std::nullopt, 0}}},
       "[        7]                  ab",
       "[9d] 9x"},
  };
  const auto Text = [](const runs::FormatResult &Got) {
    return Got.Count && *Got.Count < Got.Buffer.size()
               ? std::string(Got.Buffer.begin(),
                             Got.Buffer.begin() + static_cast<std::ptrdiff_t>(*Got.Count))
               : std::string("(no count)");
  };
  for (const Row &Each : Rows) {
    SCOPED_TRACE(Each.Divergence);
    const std::string Planted = ::testing::TempDir() + "planted-" + Each.Divergence + ".efi";
    const tooltest::ToolResult Plant = tooltest::RunTool(
        PLANT_DIVERGENCE_PATH, Each.Divergence + " " + imagetest::DxeImagePath + " " + Planted);
    ASSERT_EQ(Plant.Exit, 0) << Plant.Err;
    const std::unique_ptr<imagerun::ImageRuns> Copy = PlantedRuns(Planted, true);
    const imagerun::ImageRuns &Runs = *Copy;
    for (const comparison::FormatCase &Case : comparison::FormatComparisonCases()) {
      const comparison::CaseComparison Result =
          comparison::Compare(Case.Name, comparison::RunFormatCase(runs::HostBuild(), Case),
                              comparison::RunFormatCase(Runs, Case));
      EXPECT_TRUE(Result.same()) << comparison::ReportText(Result);
    }
    ExpectEveryEntryCaseSame(Runs, true);
    sim::Board HostBoard, ImageBoard;
    EXPECT_EQ(Text(runs::HostBuild().runFormat(HostBoard, Each.Shows)), Each.HostText);
    EXPECT_EQ(Text(Runs.runFormat(ImageBoard, Each.Shows)), Each.ImageText);
  }
}

// The divergences on paths that only the cases of the functions' own data reach: each passes
// every case of its module's entries, and the case named tells it apart. The other divergences
// are the image fuzz targets' to find. Scripts/fuzz-planted runs every divergence of the table
// with the finder stated here.
TEST(ImageComparison, DivergencesOnTheFunctionsOwnDataAreSeenByTheCases) {
  SKIP_WITHOUT_PEI_IMAGE();
  SKIP_WITHOUT_DXE_IMAGE();
  struct Row {
    std::string Divergence;
    bool Driver;
    std::string Shows; // the case that parts
  };
  const Row Rows[] = {
      {"pm-timer-sign-bit", false, "delay BoardInitPei 0x23 ticks"},
      {"pass-ticks", false, "delay BoardInitPei 0x400000 ticks"},
      {"microsecond-divisor", false, "delay BoardInitPei 0xF4240 microseconds"},
      {"pi-warning-row", true, "status name 0x2000000000000001"},
  };
  // The case of that name, on one side.
  const auto RunNamed = [](const runs::ModuleRuns &Runs, const std::string &Name) {
    for (const comparison::DelayCase &Each : comparison::DelayCases()) {
      if (Each.Name == Name) {
        return comparison::RunDelayCase(Runs, Each);
      }
    }
    for (const std::uint64_t Status : comparison::StatusNameCases()) {
      if (comparison::StatusNameCaseName(Status) == Name) {
        return comparison::RunStatusNameCase(Runs, Status);
      }
    }
    ADD_FAILURE() << "no case " << Name;
    return comparison::Outcome{};
  };
  for (const Row &Each : Rows) {
    SCOPED_TRACE(Each.Divergence);
    const std::string Planted = ::testing::TempDir() + "seen-" + Each.Divergence + ".efi";
    const tooltest::ToolResult Plant = tooltest::RunTool(
        PLANT_DIVERGENCE_PATH,
        Each.Divergence + " " + (Each.Driver ? imagetest::DxeImagePath : imagetest::PeiImagePath) +
            " " + Planted);
    ASSERT_EQ(Plant.Exit, 0) << Plant.Err;
    const std::unique_ptr<imagerun::ImageRuns> Copy = PlantedRuns(Planted, Each.Driver);
    const imagerun::ImageRuns &Runs = *Copy;
    ExpectEveryEntryCaseSame(Runs, Each.Driver);
    EXPECT_FALSE(comparison::Compare(Each.Shows, RunNamed(runs::HostBuild(), Each.Shows),
                                     RunNamed(Runs, Each.Shows))
                     .same());
  }
  // Every divergence plant-divergence knows stands in the script's default list, with its finder.
  std::ifstream Script(std::string(SOURCE_DIR) + "/Scripts/fuzz-planted");
  const std::string Text((std::istreambuf_iterator<char>(Script)),
                         std::istreambuf_iterator<char>());
  const std::string Help = tooltest::RunTool(PLANT_DIVERGENCE_PATH, "--help").Out;
  const std::pair<const char *, const char *> Finders[] = {
      {"uart-ready-bit", "ImageDxeFuzz"},
      {"window-base-mask", "ImageRequestFuzz"},
      {"width-digit-nine", "ImageFormatFuzz"},
      {"pm-timer-sign-bit", "compare"},
      {"pass-ticks", "compare"},
      {"microsecond-divisor", "compare"},
      {"pi-warning-row", "compare"},
  };
  for (const auto &[Divergence, Finder] : Finders) {
    EXPECT_NE(Text.find(std::string(Divergence) + ":" + Finder), std::string::npos) << Divergence;
    EXPECT_NE(Help.find(std::string("\n  ") + Divergence + " "), std::string::npos) << Divergence;
  }
  // The list holds these and no other: one line a divergence starts with its name.
  std::size_t Listed = 0;
  std::istringstream Lines(Help.substr(Help.find("\nDivergences:\n") + 1));
  std::string Line;
  std::getline(Lines, Line);
  while (std::getline(Lines, Line) && !Line.empty()) {
    Listed += Line.size() > 2 && Line.compare(0, 2, "  ") == 0 && Line[2] != ' ';
  }
  EXPECT_EQ(Listed, std::size(Finders));
}

} // namespace
