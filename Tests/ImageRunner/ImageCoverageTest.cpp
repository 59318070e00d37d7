// image-coverage on the comparison cases: the figures it gives against the images' own code,
// decoded here function by function from the map; the never-executed list against the figures;
// the LCOV tracefile as genhtml reads it; and its bad input and outputs, which leave files alone.
#include "CoverageFigures.h"
#include "CoverageGoal.h"
#include "FirmwareImages.h"
#include "Images.h"
#include "InstructionHits.h"
#include "RunTool.h"
#include "X86Decoder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tooltest::ReadAll;
using tooltest::RunTool;
using tooltest::TempFile;

// The outputs of one run of the tool on the comparison cases, made once for the tests here. CTest
// runs each test as a process of its own, and the run takes a while (minutes under the
// sanitizers), so the outputs are kept in the build folder and taken again while they are newer
// than the tool and both images; the tool writes each file whole, so two tests making them at
// once leave one run's files.
struct CoverageRun {
  std::string Report, Json, Lcov, Missed;
  int Exit = -1;
  std::string Err;
};

bool NewerThanInputs(const std::vector<std::string> &Outputs) {
  namespace fs = std::filesystem;
  std::error_code Error;
  fs::file_time_type Newest = fs::file_time_type::min();
  for (const std::string &Input :
       {std::string(IMAGE_COVERAGE_PATH), imagetest::PeiImagePath, imagetest::DxeImagePath}) {
    const fs::file_time_type At = fs::last_write_time(Input, Error);
    if (Error) {
      return false;
    }
    Newest = std::max(Newest, At);
  }
  return std::all_of(Outputs.begin(), Outputs.end(), [&](const std::string &Each) {
    const fs::file_time_type At = fs::last_write_time(Each, Error);
    return !Error && At > Newest;
  });
}

const CoverageRun &CasesRun() {
  static const CoverageRun Made = [] {
    CoverageRun Run;
    const std::string Folder = COVERAGE_CASES_DIR;
    std::filesystem::create_directories(Folder);
    Run.Report = Folder + "/coverage.txt";
    Run.Json = Folder + "/coverage.json";
    Run.Lcov = Folder + "/coverage.info";
    Run.Missed = Folder + "/coverage-missed.txt";
    if (NewerThanInputs({Run.Report, Run.Json, Run.Lcov, Run.Missed})) {
      Run.Exit = 0;
      return Run;
    }
    const tooltest::ToolResult Tool =
        RunTool(IMAGE_COVERAGE_PATH, "--pei-image=" + imagetest::PeiImagePath +
                                         " --dxe-image=" + imagetest::DxeImagePath +
                                         " --report=" + Run.Report + " --json=" + Run.Json +
                                         " --lcov=" + Run.Lcov + " --missed=" + Run.Missed);
    Run.Exit = Tool.Exit;
    Run.Err = Tool.Err;
    return Run;
  }();
  return Made;
}

nlohmann::json CasesJson() {
  return nlohmann::json::parse(ReadAll(CasesRun().Json));
}

const nlohmann::json &ImageOf(const nlohmann::json &Json, const std::string &Module) {
  for (const nlohmann::json &Each : Json["images"]) {
    if (Each["module"] == Module) {
      return Each;
    }
  }
  static const nlohmann::json None;
  ADD_FAILURE() << "no image " << Module;
  return None;
}

#define SKIP_WITHOUT_IMAGES()                                                                      \
  SKIP_WITHOUT_PEI_IMAGE();                                                                        \
  SKIP_WITHOUT_DXE_IMAGE();                                                                        \
  ASSERT_EQ(CasesRun().Exit, 0) << CasesRun().Err

// The instructions of each function of the map, decoded here from its start to the next symbol:
// in these images the functions lie back to back and the constant tables follow the last.
std::map<std::string, std::size_t> DecodedCounts(const formats::LinkerMap &Map,
                                                 std::span<const std::uint8_t> Memory,
                                                 std::uint64_t Base, std::uint64_t Moved,
                                                 unsigned PointerSize,
                                                 const std::string &LastFunction) {
  const formats::X86Decoder Decoder(PointerSize);
  std::map<std::string, std::size_t> Counts;
  const std::vector<formats::MapSymbol> &Symbols = Map.symbols();
  for (std::size_t Index = 0; Index + 1 < Symbols.size(); ++Index) {
    const std::uint64_t Start = Symbols[Index].Address + Moved;
    const std::uint64_t End = Symbols[Index + 1].Address + Moved;
    Counts[Symbols[Index].Name] =
        Decoder.decodeAll(Memory.subspan(Start - Base, End - Start), Start).size();
    if (Symbols[Index].Name == LastFunction) {
      break;
    }
  }
  return Counts;
}

TEST(ImageCoverage, PerFunctionTotalsAreTheDecodedInstructionsOfEachFunction) {
  SKIP_WITHOUT_IMAGES();
  const nlohmann::json Json = CasesJson();
  const imagerun::PeiImage Pei = imagerun::LoadPeiImage(imagetest::PeiImagePath);
  const imagerun::DxeImage Dxe = imagerun::LoadDxeImage(imagetest::DxeImagePath);
  struct Image {
    std::string Module;
    std::map<std::string, std::size_t> Decoded;
  };
  // The last function of each image's code, before its constant tables.
  const Image Images[] = {
      {"BoardInitPei", DecodedCounts(Pei.Map, Pei.Bytes, Pei.Base, 0, 4, "CpuPause")},
      {"BoardInitDxe", DecodedCounts(Dxe.Map, Dxe.Memory, Dxe.Base, Dxe.Base - Dxe.PreferredBase, 8,
                                     "ReadTimeStampCounter")},
  };
  for (const Image &Each : Images) {
    const nlohmann::json &Covered = ImageOf(Json, Each.Module);
    std::size_t Total = 0, Executed = 0;
    std::set<std::string> Named;
    for (const nlohmann::json &Function : Covered["functions"]) {
      const std::string Name = Function["name"];
      Named.insert(Name);
      // The int3 the link aligns the next function with is decoded here too.
      EXPECT_EQ(Function["instructions"].get<std::size_t>() +
                    Function["padding"].get<std::size_t>(),
                Each.Decoded.at(Name))
          << Each.Module << " " << Name;
      EXPECT_LE(Function["executed"], Function["instructions"]) << Name;
      Total += Function["instructions"].get<std::size_t>();
      Executed += Function["executed"].get<std::size_t>();
    }
    EXPECT_EQ(Named.size(), Each.Decoded.size()) << Each.Module;
    EXPECT_EQ(Covered["instructions"], Total) << Each.Module;
    EXPECT_EQ(Covered["executed"], Executed) << Each.Module;
  }
}

// Facts of the shipped images on the comparison cases, verified against the images: the
// functions every case of their module reaches run whole.
TEST(ImageCoverage, TheCasesRunTheseFunctionsWhole) {
  SKIP_WITHOUT_IMAGES();
  const nlohmann::json Json = CasesJson();
  struct Whole {
    const char *Module, *Function;
  };
  const Whole Functions[] = {
      {"BoardInitPei", "BoardInitPeiEntry"}, {"BoardInitPei", "SetIoDecode"},
      {"BoardInitPei", "SetGenericIoRange"}, {"BoardInitPei", "RunIoScript"},
      {"BoardInitDxe", "BoardInitDxeEntry"}, {"BoardInitDxe", "SerialPrint"},
  };
  for (const Whole &Each : Functions) {
    bool Found = false;
    for (const nlohmann::json &Function : ImageOf(Json, Each.Module)["functions"]) {
      if (Function["name"] == Each.Function) {
        Found = true;
        EXPECT_EQ(Function["executed"], Function["instructions"]) << Each.Function;
      }
    }
    EXPECT_TRUE(Found) << Each.Function;
  }
}

// The images' figures on the comparison cases, as verified against the images: with the boards
// entered with interrupts off, the scripts and delays, the format table cut at the limit's edges
// and every class of status, every instruction of both images runs.
TEST(ImageCoverage, FiguresOfTheShippedImagesOnTheCases) {
  SKIP_WITHOUT_IMAGES();
  const nlohmann::json Json = CasesJson();
  // 71 cases and boots, 5 scripts, 28 delays, 247 format calls, 289 status values.
  EXPECT_EQ(Json["runs"], 640);
  EXPECT_EQ(Json["inputs"], 0);
  struct Figures {
    const char *Module;
    std::size_t Instructions, Executed, Padding;
  };
  const Figures Images[] = {{"BoardInitPei", 697, 697, 11}, {"BoardInitDxe", 934, 934, 15}};
  for (const Figures &Each : Images) {
    const nlohmann::json &Image = ImageOf(Json, Each.Module);
    EXPECT_EQ(Image["instructions"], Each.Instructions) << Each.Module;
    EXPECT_EQ(Image["executed"], Each.Executed) << Each.Module;
    EXPECT_EQ(Image["padding"], Each.Padding) << Each.Module;
    EXPECT_EQ(Image["debug_file"], true) << Each.Module;
    EXPECT_TRUE(Image["never_executed"].empty()) << Each.Module;
  }
}

// The goal as CI checks it, on the comparison cases and the committed seeds: every instruction
// runs, or is reviewed as unreachable; and a set of runs that leaves instructions out fails it,
// naming each with its function, line and text.
TEST(ImageCoverage, EveryInstructionRunsOrIsReviewedAsUnreachable) {
  SKIP_WITHOUT_PEI_IMAGE();
  SKIP_WITHOUT_DXE_IMAGE();
  const std::string Report = TempFile("goal.txt");
  const tooltest::ToolResult Met =
      RunTool(IMAGE_COVERAGE_PATH, "--pei-image=" + imagetest::PeiImagePath +
                                       " --dxe-image=" + imagetest::DxeImagePath +
                                       " --fuzz-corpora --goal --report=" + Report);
  EXPECT_EQ(Met.Exit, 0) << Met.Err;
  EXPECT_EQ(Met.Out, "goal met: every instruction executed\n");
  // One seed of the early module's entry leaves the request operations' refusals unrun.
  const std::string Seeds = TempFile("goal-seeds");
  std::filesystem::create_directories(Seeds);
  std::filesystem::copy_file(std::string(SOURCE_DIR) + "/Fuzz/Corpus/ImagePeiFuzz/pei-healthy",
                             Seeds + "/pei-healthy",
                             std::filesystem::copy_options::overwrite_existing);
  const tooltest::ToolResult Short =
      RunTool(IMAGE_COVERAGE_PATH, "--pei-image=" + imagetest::PeiImagePath +
                                       " --no-cases --corpus=ImagePeiFuzz=" + Seeds +
                                       " --goal --report=" + Report);
  EXPECT_EQ(Short.Exit, 1);
  EXPECT_NE(Short.Err.find(" instructions never executed and not reviewed as unreachable:\n"),
            std::string::npos)
      << Short.Err;
  EXPECT_NE(Short.Err.find("  BoardInitPei 0xFFF002F7 SetGenericIoRange+0xAB "
                           "(BoardInitPei/GenericIoRange.cpp:0): movl $2147483650, %eax\n"),
            std::string::npos)
      << Short.Err;
}

// The reviewed table is held to the image: an entry explains only its own instruction (module,
// function and offset, text), and an entry whose instruction ran, or is not there, is stale.
TEST(ImageCoverage, ReviewedEntriesExplainOnlyTheirInstructionAndGoStale) {
  SKIP_WITHOUT_PEI_IMAGE();
  const imagerun::PeiImage Image = imagerun::LoadPeiImage(imagetest::PeiImagePath);
  imagecoverage::InstructionHits None;
  const imagecoverage::CoverageRecord NothingRan{
      0, 0, {imagecoverage::Cover(imagecoverage::ListCode(Image), None)}};
  const std::size_t Listed = NothingRan.Images[0].Instructions;
  ASSERT_EQ(Listed, 697u);
  const imagecoverage::UnreachableEntry Entries[] = {
      {"BoardInitPei", "BoardInitPeiEntry", "pushl %edi", "a reviewed instruction"},
      {"BoardInitPei", "BoardInitPeiEntry", "ud2", "another text at the same place"},
      {"BoardInitDxe", "BoardInitDxeEntry", "ud2", "an image not given"},
  };
  const imagecoverage::GoalReport Report = imagecoverage::CheckGoal(NothingRan, Entries);
  EXPECT_FALSE(Report.met());
  EXPECT_EQ(Report.Reviewed, 1u);
  EXPECT_EQ(Report.Unexplained.size(), Listed - 1);
  ASSERT_EQ(Report.Stale.size(), 1u);
  EXPECT_EQ(Report.Stale[0], "BoardInitPei BoardInitPeiEntry: ud2");
  EXPECT_TRUE(imagecoverage::CheckGoal(NothingRan, {}).Stale.empty());
}

// The list of instructions never executed is the per-function figures' difference, in the JSON
// and in the --missed file alike, and every entry is a real instruction of its function.
TEST(ImageCoverage, NeverExecutedListAgreesWithTheFigures) {
  SKIP_WITHOUT_IMAGES();
  const nlohmann::json Json = CasesJson();
  const std::string Missed = ReadAll(CasesRun().Missed);
  std::size_t ListedInFile = 0;
  for (std::istringstream Lines(Missed); !Lines.eof();) {
    std::string Line;
    std::getline(Lines, Line);
    ListedInFile += Line.rfind("0x", 0) == 0 ? 1 : 0;
  }
  std::size_t MissedInJson = 0;
  for (const nlohmann::json &Image : Json["images"]) {
    std::map<std::string, std::size_t> PerFunction;
    for (const nlohmann::json &Entry : Image["never_executed"]) {
      ++PerFunction[Entry["function"]];
      EXPECT_FALSE(Entry["text"].get<std::string>().empty());
      EXPECT_TRUE(Entry["file"].is_string()) << Entry.dump();
      // "BoardInitDxeEntry+0x1C ... 0x00401234" in the file, as in the JSON.
      EXPECT_NE(Missed.find(Entry["address_hex"].get<std::string>() + "  " +
                            Entry["at"].get<std::string>()),
                std::string::npos)
          << Entry.dump();
    }
    for (const nlohmann::json &Function : Image["functions"]) {
      const std::size_t Never =
          Function["instructions"].get<std::size_t>() - Function["executed"].get<std::size_t>();
      EXPECT_EQ(PerFunction[Function["name"]], Never) << Function["name"];
    }
    MissedInJson += Image["never_executed"].size();
    EXPECT_EQ(Image["never_executed"].size(),
              Image["instructions"].get<std::size_t>() - Image["executed"].get<std::size_t>());
  }
  EXPECT_EQ(ListedInFile, MissedInJson);
}

// Every record of the tracefile is whole and its totals are its lines', every source file is one
// of the tree's (paths relative to its top), and genhtml, run from the top, renders it.
TEST(ImageCoverage, LcovTracefileParsesAndGenhtmlRendersIt) {
  SKIP_WITHOUT_IMAGES();
  const std::string Lcov = ReadAll(CasesRun().Lcov);
  std::set<std::string> Tests, Files;
  std::size_t Records = 0, Lines = 0, Hit = 0;
  std::istringstream In(Lcov);
  for (std::string Line; std::getline(In, Line);) {
    if (Line.rfind("TN:", 0) == 0) {
      Tests.insert(Line.substr(3));
    } else if (Line.rfind("SF:", 0) == 0) {
      const std::string File = Line.substr(3);
      EXPECT_FALSE(std::filesystem::path(File).is_absolute()) << File;
      EXPECT_TRUE(std::filesystem::exists(std::string(SOURCE_DIR) + "/" + File)) << File;
      Files.insert(File);
      Lines = Hit = 0;
    } else if (Line.rfind("DA:", 0) == 0) {
      const std::size_t Comma = Line.find(',');
      ASSERT_NE(Comma, std::string::npos) << Line;
      EXPECT_GT(std::stoul(Line.substr(3, Comma - 3)), 0u) << Line;
      ++Lines;
      Hit += std::stoull(Line.substr(Comma + 1)) != 0 ? 1 : 0;
    } else if (Line.rfind("LF:", 0) == 0) {
      EXPECT_EQ(std::stoul(Line.substr(3)), Lines);
    } else if (Line.rfind("LH:", 0) == 0) {
      EXPECT_EQ(std::stoul(Line.substr(3)), Hit);
    } else {
      EXPECT_EQ(Line, "end_of_record");
      ++Records;
    }
  }
  EXPECT_EQ(Tests, (std::set<std::string>{"BoardInitPei", "BoardInitDxe"}));
  for (const char *Source :
       {"BoardInitPei/IoDecode.cpp", "BoardInitDxe/SerialPrint.cpp",
        "Library/SpiPeripheral/SpiPeripheral.cpp", "Library/HwAccess/X86/HwAccessX86.cpp"}) {
    EXPECT_EQ(Files.count(Source), 1u) << Source;
  }
  EXPECT_GE(Records, Files.size());
  if (std::system("command -v genhtml >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "genhtml is not installed (Debian package lcov)";
  }
  const std::string Html = TempFile("coverage-html");
  const tooltest::ToolResult Rendered =
      RunTool("cd " + std::string(SOURCE_DIR) + " && genhtml",
              "--quiet --output-directory " + Html + " " + CasesRun().Lcov);
  EXPECT_EQ(Rendered.Exit, 0) << Rendered.Err;
  EXPECT_TRUE(std::filesystem::exists(Html + "/index.html"));
  std::filesystem::remove_all(Html);
}

// The difference with the host build's tracefile, by source line: its paths are whole (llvm-cov's),
// and only lines with code on both sides count. On the healthy board alone the early module never
// runs line 70 of PciConfig.cpp (interrupts left off) and always runs line 58 (the flags read).
TEST(ImageCoverage, DifferenceWithTheHostBuildBySourceLine) {
  SKIP_WITHOUT_PEI_IMAGE();
  const std::string Host = TempFile("host.info");
  const std::string Difference = TempFile("difference.txt");
  const std::string Healthy = TempFile("difference-seeds");
  std::filesystem::create_directories(Healthy);
  std::filesystem::copy_file(std::string(SOURCE_DIR) + "/Fuzz/Corpus/ImagePeiFuzz/pei-healthy",
                             Healthy + "/pei-healthy",
                             std::filesystem::copy_options::overwrite_existing);
  struct Case {
    std::string Tracefile;
    int Exit;
    std::vector<std::string> Shows;
  };
  const std::string File = "SF:" + std::string(SOURCE_DIR) + "/Library/HwAccess/PciConfig.cpp\n";
  const Case Cases[] = {
      {File + "DA:70,5\nDA:58,0\nDA:1,3\nend_of_record\n",
       0,
       {"2 source lines have code in the images and in the host build\n",
        "1 lines the host build runs and the images never run:\n"
        "  Library/HwAccess/PciConfig.cpp:70\n",
        "1 lines the images run and the host build never runs:\n"
        "  Library/HwAccess/PciConfig.cpp:58\n"}},
      {File + "DA:70,0\nDA:58,9\nend_of_record\n",
       0,
       {"0 lines the host build runs and the images never run:\n\n",
        "0 lines the images run and the host build never runs:\n"}},
      // A file the images have no code of is no line of either.
      {"SF:/elsewhere/Other.cpp\nDA:58,1\nend_of_record\n",
       0,
       {"0 source lines have code in the images and in the host build\n"}},
      {"DA:70,5\n", 2, {"--host-lcov '" + Host + "': line 1 is no line record"}},
      {File + "DA:seventy,5\n", 2, {"line 2 is no line record"}},
  };
  for (const Case &Each : Cases) {
    std::ofstream(Host) << Each.Tracefile;
    std::filesystem::remove(Difference);
    const tooltest::ToolResult Run =
        RunTool(IMAGE_COVERAGE_PATH, "--pei-image=" + imagetest::PeiImagePath +
                                         " --no-cases --corpus=ImagePeiFuzz=" + Healthy +
                                         " --host-lcov=" + Host + " --difference=" + Difference);
    EXPECT_EQ(Run.Exit, Each.Exit) << Each.Tracefile << Run.Err;
    const std::string Got = Each.Exit == 0 ? ReadAll(Difference) : Run.Err;
    for (const std::string &Shown : Each.Shows) {
      EXPECT_NE(Got.find(Shown), std::string::npos) << Each.Tracefile << "\n" << Got;
    }
  }
  EXPECT_EQ(RunTool(IMAGE_COVERAGE_PATH,
                    "--pei-image=" + imagetest::PeiImagePath + " --host-lcov=" + Host)
                .Exit,
            2);
  std::remove(Host.c_str());
  std::remove(Difference.c_str());
}

// Bad input and outputs that cannot be written leave every existing file as it was.
TEST(ImageCoverage, BadInputAndFailedOutputsLeaveFilesAlone) {
  SKIP_WITHOUT_PEI_IMAGE();
  const std::string Keep = TempFile("coverage-keep.txt");
  const std::string Pei = "--pei-image=" + imagetest::PeiImagePath;
  struct Case {
    std::string Arguments;
    int Exit;
    std::string Message;
  };
  const Case Cases[] = {
      {"--report=" + Keep, 2, "give --pei-image=FILE, --dxe-image=FILE or both"},
      {Pei + " --dxe-map=x.map --report=" + Keep, 2, "a map needs its image"},
      {Pei + " --no-cases --report=" + Keep, 2, "--no-cases leaves no run"},
      {Pei + " --corpus=ImagePeiFuz=/tmp --report=" + Keep, 2,
       "--corpus: 'ImagePeiFuz=/tmp' is not TARGET=DIR"},
      {Pei + " --corpus=ImageDxeFuzz=/tmp --report=" + Keep, 2,
       "ImageDxeFuzz's inputs run on --dxe-image, which is not given"},
      {Pei + " --corpus=ImageLibraryFuzz=/tmp --report=" + Keep, 2,
       "ImageLibraryFuzz's inputs run on --pei-image and --dxe-image, which are not both given"},
      {Pei + " --no-cases --corpus=ImagePeiFuzz=/nonexistent --report=" + Keep, 2,
       "cannot read the corpus folder '/nonexistent'"},
      {"--pei-image=" + imagetest::DxeImagePath + " --report=" + Keep, 2, "image-coverage: "},
      {Pei + " --report=" + imagetest::PeiImagePath, 2, "is the early-init image this run reads"},
      {Pei + " --report=" + Keep + " --json=" + Keep, 2, "both write to"},
      {Pei + " --repot=" + Keep, 2, "did you mean --report?"},
      {Pei + " --no-cases --corpus=ImagePeiFuzz=" + std::string(SOURCE_DIR) +
           "/Fuzz/Corpus/ImagePeiFuzz --report=" + Keep + " --lcov=/dev/full",
       5, "cannot write '/dev/full': No space left"},
  };
  for (const Case &Each : Cases) {
    std::ofstream(Keep) << "earlier content\n";
    const tooltest::ToolResult Run = RunTool(IMAGE_COVERAGE_PATH, Each.Arguments);
    EXPECT_EQ(Run.Exit, Each.Exit) << Each.Arguments << ": " << Run.Err;
    EXPECT_NE(Run.Err.find(Each.Message), std::string::npos) << Each.Arguments << ": " << Run.Err;
    EXPECT_EQ(ReadAll(Keep), "earlier content\n") << Each.Arguments;
    EXPECT_TRUE(Run.Out.empty()) << Each.Arguments;
  }
  std::remove(Keep.c_str());
}

} // namespace
