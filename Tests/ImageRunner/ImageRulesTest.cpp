// The rules the image runner holds the shipped image to, shown on copies of BoardInitPei.efi with
// a few bytes of one function replaced: each broken rule stops the run with one line naming it and
// the function at fault, and the board keeps every record up to there. Files the runner cannot
// run are refused before anything runs.
#include "BoardsimRun.h"
#include "FirmwareImages.h"
#include "ImageRuns.h"
#include "PeFile.h"
#include "RunTool.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

enum class Where { Entry, SetGenericIoRange };

// A copy of the image with Patch at the start of a function, its map beside it. The image runs
// in place, so a file offset is the address less the base.
std::string PatchedImage(const imagerun::PeiImage &Image, const std::string &Name, Where At,
                         const std::vector<std::uint8_t> &Patch) {
  const std::string Path = ::testing::TempDir() + "patched-" + Name + ".efi";
  fs::copy_file(imagetest::PeiImagePath, Path, fs::copy_options::overwrite_existing);
  fs::copy_file(imagerun::MapPathFor(imagetest::PeiImagePath), imagerun::MapPathFor(Path),
                fs::copy_options::overwrite_existing);
  std::fstream File(Path, std::ios::in | std::ios::out | std::ios::binary);
  File.seekp((At == Where::Entry ? Image.Entry : Image.SetGenericIoRange) - Image.Base);
  File.write(reinterpret_cast<const char *>(Patch.data()),
             static_cast<std::streamsize>(Patch.size()));
  return Path;
}

// Offset of a PEI service's pointer in the table: the 24-byte header, then 4 bytes a service.
constexpr std::uint8_t ServiceSlot(unsigned Index) {
  return static_cast<std::uint8_t>(24 + 4 * Index);
}
constexpr unsigned ReportStatusCode = 16;

constexpr std::uint8_t Byte(std::uint32_t Value, unsigned Index) {
  return static_cast<std::uint8_t>(Value >> (8 * Index));
}

// Data in the image's flash, from its map.
std::uint32_t DecodeTableAddress(const imagerun::PeiImage &Image) {
  for (const imagerun::MapSymbol &Symbol : Image.Map.symbols()) {
    if (Symbol.Name == "BoardTables::DecodeTable") {
      return static_cast<std::uint32_t>(Symbol.Address);
    }
  }
  ADD_FAILURE() << "no BoardTables::DecodeTable in the map";
  return 0;
}

std::string TraceText(const sim::Board &Board) {
  std::string Text;
  for (const auto &Record : Board.trace()) {
    Text += sim::FormatRecord(Record) + "\n";
  }
  return Text;
}

TEST(ImageRules, EveryBrokenRuleStopsTheRunNamingItAndTheFunction) {
  SKIP_WITHOUT_PEI_IMAGE();
  const imagerun::PeiImage Image = imagerun::LoadPeiImage(imagetest::PeiImagePath);
  const std::uint32_t Table = DecodeTableAddress(Image);
  const std::uint32_t Entry = Image.Entry, Window = Image.SetGenericIoRange;
  struct Case {
    const char *Name;
    Where At;
    std::vector<std::uint8_t> Patch;
    std::string Breach; // empty: the run hangs instead
    // A CPU fault's instruction as the report decodes it and one register it gives; empty: the
    // breach is a rule of the board's, not a fault.
    std::string Instruction = "";
    std::pair<const char *, std::uint64_t> Register = {"", 0};
  };
  const Case Cases[] = {
      // mov [DecodeTable], eax: a write into the image's own flash.
      {"write-into-flash",
       Where::SetGenericIoRange,
       {0xA3, Byte(Table, 0), Byte(Table, 1), Byte(Table, 2), Byte(Table, 3)},
       "wrote 4 bytes at " + Image.describe(Table) + " inside itself from " +
           Image.describe(Window)},
      // mov eax, [esp+8]; mov eax, [eax]; call [eax+slot]: a PEI service called.
      {"service",
       Where::Entry,
       {0x8B, 0x44, 0x24, 0x08, 0x8B, 0x00, 0xFF, 0x50, ServiceSlot(ReportStatusCode)},
       "called the PEI service ReportStatusCode from " + Image.describe(Entry + 6)},
      // mov eax, [esp+8]; mov [eax], eax: a write outside the stack, into the PEI core's table.
      {"write-services",
       Where::Entry,
       {0x8B, 0x44, 0x24, 0x08, 0x89, 0x00},
       "wrote 4 bytes at 0xF0800, in the PEI services table, from " + Image.describe(Entry + 4)},
      // mov eax, [esp+4]; mov eax, [eax]: the file handle is a token, not memory.
      {"file-handle",
       Where::Entry,
       {0x8B, 0x44, 0x24, 0x04, 0x8B, 0x00},
       "read of 4 bytes at 0xF11EF11E, outside anything mapped, at " + Image.describe(Entry + 4),
       "movl (%eax), %eax",
       {"EAX", 0xF11EF11E}},
      {"ud2",
       Where::SetGenericIoRange,
       {0x0F, 0x0B},
       "invalid opcode at " + Image.describe(Window),
       "ud2",
       {"EIP", Window}},
      // xor ecx, ecx; div ecx.
      {"divide",
       Where::SetGenericIoRange,
       {0x31, 0xC9, 0xF7, 0xF1},
       "divide error (vector 0) at " + Image.describe(Window + 2),
       "divl %ecx",
       {"ECX", 0}},
      // sub esp, 0x4000; push eax: the stack's 16 KiB used up, the push lands below it.
      {"stack-overflow",
       Where::Entry,
       {0x81, 0xEC, 0x00, 0x40, 0x00, 0x00, 0x50},
       "stack overflow: write of 4 bytes at 0xFFFF0, below the 16384-byte stack, at " +
           Image.describe(Entry + 6),
       "pushl %eax",
       {"ESP", 0xFFFF4}},
      // jmp esp: the stack is RAM, never executable.
      {"execute-ram", Where::SetGenericIoRange, {0xFF, 0xE4}, "not executable", "jmpl *%esp"},
      // jmp $: a spin without any access.
      {"spin", Where::SetGenericIoRange, {0xEB, 0xFE}, ""},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    const std::string Path = PatchedImage(Image, Each.Name, Each.At, Each.Patch);
    const imagerun::ImageRuns Patched(imagerun::LoadPeiImage(Path), std::nullopt);
    sim::Board Board;
    const runs::RunResult Run = Patched.runPei(Board);
    ASSERT_TRUE(Run.Image);
    // The engine a run stopped in is kept for the next: the same run again gives the same trace
    // and facts, and a run of the decode requests after it is the one a new engine makes.
    sim::Board Again;
    const runs::RunResult Rerun = Patched.runPei(Again);
    ASSERT_TRUE(Rerun.Image);
    EXPECT_EQ(TraceText(Again), TraceText(Board));
    EXPECT_EQ(Rerun.Image->Breach, Run.Image->Breach);
    EXPECT_EQ(Rerun.Image->Instructions, Run.Image->Instructions);
    EXPECT_EQ(Rerun.Image->StackHighWater, Run.Image->StackHighWater);
    EXPECT_EQ(Rerun.Image->StackChain, Run.Image->StackChain);
    EXPECT_EQ(Rerun.Hung, Run.Hung);
    const DecodeRequestRow Requests[] = {{0x3F8, 8, 0, 0}, {0x2E, 2, 0, 0}};
    sim::Board Reused, Fresh;
    const runs::RunResult AfterStop = Patched.runDecodeRequests(Reused, Requests);
    const runs::RunResult New = imagerun::ImageRuns(imagerun::LoadPeiImage(Path), std::nullopt)
                                    .runDecodeRequests(Fresh, Requests);
    EXPECT_EQ(TraceText(Reused), TraceText(Fresh));
    EXPECT_EQ(AfterStop.Statuses, New.Statuses);
    EXPECT_EQ(AfterStop.Image->Breach, New.Image->Breach);
    // Followed lean, the run breaks the same rule, named the same, at the same record, and the
    // engine is as reusable.
    const imagerun::ImageRuns Lean(imagerun::LoadPeiImage(Path), std::nullopt,
                                   imagerun::Tracking::Lean);
    for (int Round = 0; Round < 2; ++Round) {
      sim::Board Quick;
      const runs::RunResult Leaner = Lean.runPei(Quick);
      ASSERT_TRUE(Leaner.Image);
      EXPECT_EQ(TraceText(Quick), TraceText(Board));
      EXPECT_EQ(Leaner.Image->Breach, Run.Image->Breach);
      EXPECT_EQ(Leaner.Hung, Run.Hung);
      EXPECT_EQ(Leaner.Image->SpunWithoutAccess, Run.Image->SpunWithoutAccess);
      EXPECT_EQ(Leaner.Running.size(), Run.Running.size());
      EXPECT_EQ(Leaner.Image->StackHighWater, Run.Image->StackHighWater);
    }
    sim::Board LeanReused;
    EXPECT_EQ(Lean.runDecodeRequests(LeanReused, Requests).Statuses, New.Statuses);
    EXPECT_EQ(TraceText(LeanReused), TraceText(Fresh));
    if (Each.Breach.empty()) {
      EXPECT_FALSE(Run.Image->Breach);
      EXPECT_TRUE(Run.Hung);
      EXPECT_TRUE(Run.Image->SpunWithoutAccess);
      ASSERT_FALSE(Run.Running.empty());
      EXPECT_EQ(sim::CallText(Run.Running.back()), "SetGenericIoRange(0x006C, 0x0002)");
      // A spin names the instruction it spun at and the calls in the image down to it.
      ASSERT_TRUE(Run.Image->StoppedAt);
      EXPECT_EQ(Run.Image->StoppedAt->Address, Window);
      EXPECT_EQ(Run.Image->StoppedAt->At, "SetGenericIoRange");
      ASSERT_GE(Run.Image->StoppedChain.size(), 2U);
      EXPECT_EQ(Run.Image->StoppedChain.front().rfind("BoardInitPeiEntry+0x", 0), 0U);
      EXPECT_EQ(Run.Image->StoppedChain.back(), "SetGenericIoRange");
      EXPECT_FALSE(Run.Image->Faulted);
      continue;
    }
    EXPECT_FALSE(Run.Image->StoppedAt);
    if (Each.Instruction.empty()) {
      EXPECT_FALSE(Run.Image->Faulted);
    } else {
      ASSERT_TRUE(Run.Image->Faulted);
      const runs::ImageFacts::Fault &Fault = *Run.Image->Faulted;
      EXPECT_EQ(Fault.Instruction, Each.Instruction);
      EXPECT_EQ(Fault.RegisterBytes, 4U);
      ASSERT_EQ(Fault.Registers.size(), 10U);
      EXPECT_EQ(Fault.Registers.front().first, "EAX");
      if (*Each.Register.first != '\0') {
        const auto Found =
            std::find_if(Fault.Registers.begin(), Fault.Registers.end(),
                         [&](const auto &Named) { return Named.first == Each.Register.first; });
        ASSERT_NE(Found, Fault.Registers.end());
        EXPECT_EQ(Found->second, Each.Register.second) << Each.Register.first;
      }
    }
    ASSERT_TRUE(Run.Image->Breach);
    EXPECT_NE(Run.Image->Breach->find(Each.Breach), std::string::npos) << *Run.Image->Breach;
    EXPECT_EQ(Run.Image->Breach->find('\n'), std::string::npos);
    EXPECT_FALSE(Run.Hung);
    // Nothing reaches the board after the breach: the last record is the call it broke in.
    ASSERT_FALSE(Board.trace().empty());
    const std::string Last = sim::FormatRecord(Board.trace().back());
    EXPECT_EQ(Last, Each.At == Where::Entry ? "# BoardInitPeiEntry(FileHandle, PeiServices)"
                                            : "# SetGenericIoRange(0x006C, 0x0002)");
  }
}

TEST(ImageRules, FilesThatCannotRunAreRefusedNamingTheProblem) {
  SKIP_WITHOUT_PEI_IMAGE();
  const std::string Alone = ::testing::TempDir() + "without-map.efi";
  fs::copy_file(imagetest::PeiImagePath, Alone, fs::copy_options::overwrite_existing);
  fs::remove(imagerun::MapPathFor(Alone));
  const std::string OtherMap = ::testing::TempDir() + "other-map.efi";
  fs::copy_file(imagetest::PeiImagePath, OtherMap, fs::copy_options::overwrite_existing);
  fs::copy_file(imagetest::FirmwareFile("ProbeIa32.map"), imagerun::MapPathFor(OtherMap),
                fs::copy_options::overwrite_existing);
  struct Case {
    bool Driver; // loaded as the driver's image rather than the early-init module's
    std::string Path, Message;
  };
  const Case Cases[] = {
      {false, imagetest::FirmwareFile("BoardInitDxe.efi"), "is a PE32+ x86-64 image"},
      {false, imagetest::FirmwareFile("BoardInitDxe.map"), "no MZ signature"},
      {false, imagetest::FirmwareFile("ProbeIa32.efi"), "names no function SetIoDecode"},
      {false, Alone, "the linker map of '" + Alone + "' is needed: cannot read"},
      {false, OtherMap, "is the map of a link for 0x"},
      {true, imagetest::PeiImagePath,
       "is a PE32 i386 image; the driver is a PE32+ image for x86-64"},
      {true, imagetest::FirmwareFile("ProbeX64.efi"), "names no data gDxeModuleData"},
  };
  for (const auto &[Driver, Path, Message] : Cases) {
    try {
      if (Driver) {
        imagerun::LoadDxeImage(Path);
      } else {
        imagerun::LoadPeiImage(Path);
      }
      ADD_FAILURE() << Path << " loaded";
    } catch (const imagerun::ImageRejected &Error) {
      EXPECT_NE(std::string(Error.what()).find(Message), std::string::npos)
          << Path << ": " << Error.what();
    }
  }
}

// A copy of the early-init image whose map beside it has each line that holds Symbol changed by
// Edit (which returns the line to keep, or nothing to drop it).
template <typename Change>
std::string WithMapLine(const std::string &Name, const std::string &Symbol, Change Edit) {
  const std::string Path = ::testing::TempDir() + "map-" + Name + ".efi";
  fs::copy_file(imagetest::PeiImagePath, Path, fs::copy_options::overwrite_existing);
  std::ifstream In(imagerun::MapPathFor(imagetest::PeiImagePath));
  std::ofstream Out(imagerun::MapPathFor(Path));
  for (std::string Line; std::getline(In, Line);) {
    const std::optional<std::string> Kept =
        Line.find(Symbol) == std::string::npos ? std::optional(Line) : Edit(Line);
    if (Kept) {
      Out << *Kept << "\n";
    }
  }
  return Path;
}

// A map line of the early-init image's map with its section offset and its address moved by
// Offset and Address bytes: "0001:00000148 ?SetIoDecode@@YAIGEI@Z 00000000fff00348 IoDecode.cpp.o".
std::optional<std::string> Shifted(const std::string &Line, unsigned Offset, unsigned Address) {
  std::istringstream Fields(Line);
  std::string Place, Name, At, Object;
  Fields >> Place >> Name >> At >> Object;
  char Text[64];
  std::snprintf(Text, sizeof Text, "%s:%08llx %s %016llx %s", Place.substr(0, 4).c_str(),
                std::stoull(Place.substr(5), nullptr, 16) + Offset, Name.c_str(),
                std::stoull(At, nullptr, 16) + Address, Object.c_str());
  return " " + std::string(Text);
}

// A map kept from another link of the image is bad input, named with both files, before anything
// runs: a function moved with its offset (as a rebuild that kept an old map shows it), the entry
// moved, an address its section and offset do not give, a section piece longer than the image's.
TEST(ImageRules, AMapOfAnotherLinkIsRefusedBeforeAnythingRuns) {
  SKIP_WITHOUT_PEI_IMAGE();
  const std::string Moved = WithMapLine("decode-moved", "?SetIoDecode@@",
                                        [](const auto &Line) { return Shifted(Line, 8, 8); });
  const std::string Entry = WithMapLine("entry-moved", "_BoardInitPeiEntry",
                                        [](const auto &Line) { return Shifted(Line, 4, 4); });
  const std::string Address = WithMapLine("address-only", "?SetIoDecode@@",
                                          [](const auto &Line) { return Shifted(Line, 0, 8); });
  const std::string Longer = WithMapLine("text-longer", " .text ", [](const std::string &) {
    return std::optional<std::string>(" 0001:00000000 00000a00H .text                   CODE");
  });
  const auto NotItsMap = [](const std::string &Image) {
    return "boardsim: '" + imagerun::MapPathFor(Image) + "' is not the map of '" + Image + "': ";
  };
  const struct {
    std::string Arguments, Error;
  } Cases[] = {
      {"decode --image=" + Moved + " 0x60,0,2",
       NotItsMap(Moved) + "it places SetIoDecode at 0xFFF00350, where the image's code of "
                          "SetGenericIoRange does not end\n"},
      {"compare host " + Moved,
       NotItsMap(Moved) + "it places SetIoDecode at 0xFFF00350, where the image's code of "
                          "SetGenericIoRange does not end\n"},
      {"pei --image=" + Entry,
       NotItsMap(Entry) + "it places BoardInitPeiEntry at 0xFFF00204, and the image enters at "
                          "0xFFF00200\n"},
      {"pei --image=" + Address, NotItsMap(Address) +
                                     "it places SetIoDecode at 0xFFF00350, but offset 0x148 of the "
                                     "image's .text is 0xFFF00348\n"},
      {"pei --image=" + Longer,
       NotItsMap(Longer) + "its .text runs to 0xA00 of section 1, which holds 0x920 bytes in the "
                           "image (.text)\n"},
  };
  for (const auto &Each : Cases) {
    const tooltest::ToolResult Run = tooltest::RunTool(BOARDSIM_PATH, Each.Arguments);
    EXPECT_EQ(Run.Exit, 2) << Each.Arguments;
    EXPECT_EQ(Run.Err, Each.Error) << Each.Arguments;
    EXPECT_EQ(Run.Out, "") << Each.Arguments;
  }
}

// Rows for the image's tables must fill them: as many rows as the table holds, and the table, by
// its map, whole rows. Refused with one line before anything runs (exit 2); an image whose map
// does not place a table runs as long as no rows are given for it.
TEST(ImageRules, RowsThatDoNotFillTheImagesTablesAreRefused) {
  SKIP_WITHOUT_PEI_IMAGE();
  const std::string &Image = imagetest::PeiImagePath;
  // The script's symbol 4 bytes further on: the decode table seems 84 bytes long.
  const std::string Moved =
      WithMapLine("script-moved", "?SuperIoScript@BoardTables", [](const std::string &Line) {
        std::istringstream Fields(Line);
        std::string Section, Name, Address, Object;
        Fields >> Section >> Name >> Address >> Object;
        char Moved[17];
        std::snprintf(Moved, sizeof Moved, "%016llx", std::stoull(Address, nullptr, 16) + 4);
        return std::optional(" " + Section + " " + Name + " " + Moved + " " + Object);
      });
  const std::string Unplaced = WithMapLine("no-decode-table", "?DecodeTable@BoardTables",
                                           [](const std::string &) { return std::nullopt; });
  const std::string NineRows = "0x2E,2,0xFF;0x4E,2,0xFF;0x6C,2,0xFF;0x280,2,0xFF;0x62,2,0xFF;"
                               "0x2E,2,0xFF;0x3F8,0,6;0x2F8,1,6;0x60,0,2";
  const std::string TenRows = NineRows + ";0xA00,0x90,0xFF";
  struct Case {
    std::string Arguments;
    int Exit;
    std::string Error;
  };
  const Case Cases[] = {
      {"pei --image=" + Image + " --decode-table='" + NineRows + "'", 2,
       "boardsim: 9 rows given for the decode table, and BoardTables::DecodeTable of '" + Image +
           "' (80 bytes by its map, up to BoardTables::SuperIoScript) holds 10 rows of 8 bytes\n"},
      {"pei --image=" + Image + " --superio-script='0x2E,0,0x87;0x2F,0,0x01'", 2,
       "boardsim: 2 rows given for the Super I/O script, and BoardTables::SuperIoScript of '" +
           Image + "' (88 bytes by its map, up to SlotBanks) holds 22 rows of 4 bytes\n"},
      {"pei --image=" + Moved + " --decode-table='" + TenRows + "'", 2,
       "boardsim: BoardTables::DecodeTable of '" + Moved +
           "' (84 bytes by its map, up to BoardTables::SuperIoScript) is 84 bytes, not whole rows "
           "of 8 bytes as the decode table's rows are\n"},
      {"pei --image=" + Moved + " --print-tables", 2,
       "boardsim: BoardTables::DecodeTable of '" + Moved +
           "' (84 bytes by its map, up to BoardTables::SuperIoScript) is 84 bytes, not whole rows "
           "of 8 bytes as the decode table's rows are\n"},
      {"pei --image=" + Unplaced + " --decode-table='" + TenRows + "'", 2,
       "boardsim: the map of '" + Unplaced +
           "' places BoardTables::DecodeTable nowhere: it holds no table to replace\n"},
      {"pei --image=" + Unplaced + " --trace=/dev/null", 0, ""},
      {"pei --image=" + Moved + " --trace=/dev/null", 0, ""},
  };
  for (const Case &Each : Cases) {
    const tooltest::ToolResult Run = tooltest::RunTool(BOARDSIM_PATH, Each.Arguments);
    EXPECT_EQ(Run.Exit, Each.Exit) << Each.Arguments;
    EXPECT_EQ(Run.Err, Each.Error) << Each.Arguments;
    if (Each.Exit != 0) {
      EXPECT_EQ(Run.Out, "") << Each.Arguments;
    }
  }
}

// A copy of the driver's image with Patch at its entry; the entry's file offset comes from the
// section that holds it.
std::string PatchedDriver(const std::string &Name, const std::vector<std::uint8_t> &Patch) {
  const std::string Path = ::testing::TempDir() + "patched-" + Name + ".efi";
  fs::copy_file(imagetest::DxeImagePath, Path, fs::copy_options::overwrite_existing);
  fs::copy_file(imagerun::MapPathFor(imagetest::DxeImagePath), imagerun::MapPathFor(Path),
                fs::copy_options::overwrite_existing);
  const pe::Image File = pe::ReadFile(Path);
  std::uint32_t Offset = 0;
  for (const pe::Section &Each : File.Sections) {
    if (File.EntryPoint >= Each.VirtualAddress &&
        File.EntryPoint - Each.VirtualAddress < Each.RawSize) {
      Offset = Each.RawOffset + (File.EntryPoint - Each.VirtualAddress);
    }
  }
  std::fstream Out(Path, std::ios::in | std::ios::out | std::ios::binary);
  Out.seekp(Offset);
  Out.write(reinterpret_cast<const char *>(Patch.data()),
            static_cast<std::streamsize>(Patch.size()));
  return Path;
}

using Result = tooltest::ToolResult;
using tooltest::Boardsim;

// A run of status reads that two waits make back to back is split between them by the values read;
// a run of an image confirms the split by the function each read comes from (the one that called
// the access primitive), while the host build cannot tell.
TEST(ImageRules, EachSpiWaitNamesTheImageFunctionItsReadsComeFrom) {
  SKIP_WITHOUT_PEI_IMAGE();
  SKIP_WITHOUT_DXE_IMAGE();
  const auto Wait = [](const char *Name, const char *WaitsFor, int Reads, bool RanOut,
                       std::optional<const char *> From) {
    nlohmann::json Row = {
        {"wait", Name}, {"waits_for", WaitsFor}, {"reads", Reads}, {"ran_out", RanOut}};
    if (From) {
      Row["reads_from"] = {*From};
    }
    return Row;
  };
  const auto BusyThenTransmit = [&](bool Image) {
    const auto From = [&](const char *Function) {
      return Image ? std::optional<const char *>(Function) : std::nullopt;
    };
    return nlohmann::json::array(
        {Wait("WaitStatusClear", "busy clear", 1, false, From("WaitStatusClear")),
         Wait("WaitTransmitReady", "transmit FIFO not full and not busy", 17, true,
              From("WaitTransmitReady"))});
  };
  const struct {
    std::string Arguments;
    nlohmann::json FirmwareWaits;
  } Cases[] = {
      {"pei --spi-status=0x08 --image=" + imagetest::PeiImagePath, BusyThenTransmit(true)},
      {"dxe --spi-status=0x08 --image=" + imagetest::DxeImagePath, BusyThenTransmit(true)},
      {"pei --spi-status=0x08", BusyThenTransmit(false)},
      {"pei --spi-reg0c=0xE0 --image=" + imagetest::PeiImagePath,
       nlohmann::json::array({Wait("WaitReg0CQuiet", "register 0x0C bits 7:5 clear twice in a row",
                                   17, true, "SpiPeripheralBringUp")})},
  };
  for (const auto &Each : Cases) {
    const Result Run = Boardsim(Each.Arguments + " --json=-");
    ASSERT_EQ(Run.Exit, 0) << Each.Arguments << "\n" << Run.Err;
    EXPECT_EQ(nlohmann::json::parse(Run.Out)["spi"]["waits"][0]["firmware_waits"],
              Each.FirmwareWaits)
        << Each.Arguments;
  }
}

TEST(ImageRules, BoardsimReportsTheImageAndExits4OnABreach) {
  SKIP_WITHOUT_PEI_IMAGE();
  const imagerun::PeiImage Image = imagerun::LoadPeiImage(imagetest::PeiImagePath);
  const Result Clean = Boardsim("pei --image=" + imagetest::PeiImagePath + " --json=-");
  ASSERT_EQ(Clean.Exit, 0) << Clean.Err;
  const nlohmann::json Json = nlohmann::json::parse(Clean.Out);
  EXPECT_EQ(Json["image"]["path"], imagetest::PeiImagePath);
  EXPECT_GT(Json["image"]["stack_high_water"], 0);
  EXPECT_LE(Json["image"]["stack_high_water"], 512); // the module's stack budget
  EXPECT_GT(Json["image"]["instructions"], 0);
  EXPECT_EQ(Json["image"]["breach"], nullptr);
  EXPECT_EQ(Json["status_name"], "EFI_SUCCESS");
  // The calls in progress at the stack's high-water mark: from the entry down to the function
  // running at the lowest stack pointer.
  const nlohmann::json &Chain = Json["image"]["stack_chain"];
  ASSERT_GE(Chain.size(), 2u) << Chain;
  EXPECT_EQ(Chain.front(), "BoardInitPeiEntry");
  const std::string Deepest = Json["image"]["stack_deepest_in"];
  EXPECT_EQ(Deepest.rfind(Chain.back().get<std::string>() + "+", 0), 0u) << Chain << Deepest;
  // Where the accesses were made: the instruction of each, its function and source line (the
  // debug file lies beside the build's image), and the function that called the primitive.
  const nlohmann::json &Sites = Json["access_sites"];
  ASSERT_FALSE(Sites.empty());
  EXPECT_EQ(Sites[0]["at"], "MmioRead16");
  EXPECT_EQ(Sites[0]["file"], "Library/HwAccess/X86/HwAccessX86.cpp");
  EXPECT_EQ(Sites[0]["caller"], "SpiPeripheralPresent");
  EXPECT_EQ(Sites[0]["first_record"], 1);
  std::uint64_t SiteAccesses = 0;
  for (const nlohmann::json &Site : Sites) {
    SiteAccesses += Site["accesses"].get<std::uint64_t>();
    EXPECT_GT(Site["line"], 0) << Site;
  }
  EXPECT_EQ(SiteAccesses, Json["accesses"]);
  EXPECT_EQ(Json["last_access_sites"].size(), Json["last_accesses"].size());
  const Result HostRun = Boardsim("pei --json=-");
  EXPECT_EQ(nlohmann::json::parse(HostRun.Out)["access_sites"], nullptr);

  // An entry patched to return at once, or to spin before any access.
  struct Case {
    const char *Name;
    std::vector<std::uint8_t> Patch;
    int Exit;
    std::string Shown; // in the summary
    std::string Error;
  };
  const Case Cases[] = {
      {"ret", {0xC3}, 0, "Image: 1 instruction executed;", ""},
      {"spin-at-entry",
       {0xEB, 0xFE},
       3,
       "HUNG (1000000 instructions without an access)",
       "boardsim: the run hung: it executed 1000000 instructions without an access in "
       "BoardInitPeiEntry(FileHandle, PeiServices)\n"
       "  stopped at " +
           sim::HexText(Image.Entry, 8) + " BoardInitPeiEntry\n"},
  };
  for (const Case &Each : Cases) {
    const Result Patched =
        Boardsim("pei --image=" + PatchedImage(Image, Each.Name, Where::Entry, Each.Patch));
    EXPECT_EQ(Patched.Exit, Each.Exit) << Each.Name;
    EXPECT_NE(Patched.Out.find(Each.Shown), std::string::npos) << Each.Name << Patched.Out;
    EXPECT_EQ(Patched.Err, Each.Error) << Each.Name;
  }

  const std::string Broken =
      PatchedImage(Image, "boardsim", Where::SetGenericIoRange, {0x0F, 0x0B});
  const std::string Trace = tooltest::TempFile("boardsim-breach.trace");
  const Result Run = Boardsim("decode --image=" + Broken + " 0x6C,2,0xFF --trace=" + Trace);
  EXPECT_EQ(Run.Exit, 4);
  // The fault's instruction and registers follow its line.
  EXPECT_EQ(Run.Err.rfind("boardsim: CPU fault: invalid opcode at " +
                              Image.describe(Image.SetGenericIoRange) +
                              "\n  faulting instruction: " +
                              sim::HexText(Image.SetGenericIoRange, 8) +
                              " SetGenericIoRange: ud2\n  registers: EAX=0x",
                          0),
            0U)
      << Run.Err;
  EXPECT_NE(Run.Err.find(" EIP=" + sim::HexText(Image.SetGenericIoRange, 8)), std::string::npos);
  // The outputs are still written, up to the breach.
  const std::string Text = tooltest::ReadAll(Trace);
  EXPECT_EQ(Text.substr(Text.rfind('\n', Text.size() - 2) + 1),
            "# SetGenericIoRange(0x006C, 0x0002)\n");
  // Every access of an image's trace ends in the note of where it was made, with the source line
  // when the debug file lies beside the image; compare leaves the notes out, so the image's trace
  // and the host build's are the same records.
  const std::string ImageTrace = tooltest::TempFile("boardsim-image.trace");
  const std::string HostTrace = tooltest::TempFile("boardsim-host.trace");
  ASSERT_EQ(Boardsim("pei --image=" + imagetest::PeiImagePath + " --trace=" + ImageTrace).Exit, 0);
  ASSERT_EQ(Boardsim("pei --trace=" + HostTrace).Exit, 0);
  const std::string Noted = tooltest::ReadAll(ImageTrace);
  EXPECT_NE(Noted.find("RD16 0xFE033002 0x4B2B  ; SPI device ID  @ " +
                       sim::HexText(Image.Map.functionAddress("MmioRead16").value_or(0), 8) +
                       " MmioRead16 (Library/HwAccess/X86/HwAccessX86.cpp:"),
            std::string::npos)
      << Noted.substr(0, 400);
  EXPECT_EQ(tooltest::ReadAll(HostTrace).find(sim::WhereMark), std::string::npos);
  const Result Same = Boardsim("compare --traces " + ImageTrace + " " + HostTrace);
  EXPECT_EQ(Same.Exit, 0) << Same.Out;
  EXPECT_NE(Run.Out.find("STOPPED, the firmware broke a rule:\n  CPU fault: invalid opcode"),
            std::string::npos)
      << Run.Out;

  // The driver's image, loaded into RAM: the same summary as the host run, and the image line.
  SKIP_WITHOUT_DXE_IMAGE();
  const Result Driver = Boardsim("dxe --image " + imagetest::DxeImagePath + " --smm=inside");
  ASSERT_EQ(Driver.Exit, 0) << Driver.Err;
  const Result Host = Boardsim("dxe --smm=inside");
  const std::string ImageLine = "Image: ";
  const std::string::size_type Line = Driver.Out.find(ImageLine);
  ASSERT_NE(Line, std::string::npos) << Driver.Out;
  std::string Summary = Driver.Out.substr(0, Line);
  const std::string FromImage = "  run from the image " + imagetest::DxeImagePath + "\n";
  ASSERT_NE(Summary.find(FromImage), std::string::npos) << Summary;
  Summary.replace(Summary.find(FromImage), FromImage.size(), "");
  EXPECT_EQ(Summary, Host.Out);
  // The format engine's one nested call is the deepest the driver goes.
  EXPECT_NE(Driver.Out.find("calls in progress at the high-water mark:\n    BoardInitDxeEntry > "),
            std::string::npos)
      << Driver.Out;
  EXPECT_NE(Driver.Out.find("> FormatBuffer > FormatBufferV\n"), std::string::npos) << Driver.Out;
  // The image runs' summaries keep to the summary's width as the host runs' do.
  for (const std::string &Summary :
       {Driver.Out, Boardsim("pei --image=" + imagetest::PeiImagePath).Out}) {
    std::istringstream Lines(Summary);
    for (std::string Line; std::getline(Lines, Line);) {
      EXPECT_LE(Line.size(), 100u) << Line;
    }
  }
  // A hung driver names the instruction it stood at, its source line and the calls down to it.
  const Result Hung = Boardsim("dxe --image=" + imagetest::DxeImagePath +
                               " --scenario=uart-never-empties --max-steps=2000");
  EXPECT_EQ(Hung.Exit, 3);
  for (const char *Shown :
       {"\n  stopped at 0x", " PortRead8+0x2 (Library/HwAccess/X86/HwAccessX86.cpp:",
        "\n  calls in the image: BoardInitDxeEntry+0x", " > SerialPrint+0x", " > SendByte+0x",
        " > PortRead8+0x2\n"}) {
    EXPECT_NE(Hung.Err.find(Shown), std::string::npos) << Shown << "\n" << Hung.Err;
    EXPECT_NE(Hung.Out.find(Shown), std::string::npos) << Shown << "\n" << Hung.Out;
  }
  const Result Refused = Boardsim("dxe --image=" + imagetest::PeiImagePath);
  EXPECT_EQ(Refused.Exit, 2);
  EXPECT_EQ(Refused.Err, "boardsim: '" + imagetest::PeiImagePath +
                             "' is a PE32 i386 image; the driver is a PE32+ image for x86-64\n");

  // An image whose map lies elsewhere runs with --map; the map of another link is bad input.
  const std::string Alone = ::testing::TempDir() + "boardsim-map-elsewhere.efi";
  fs::copy_file(imagetest::PeiImagePath, Alone, fs::copy_options::overwrite_existing);
  fs::remove(imagerun::MapPathFor(Alone));
  const std::string PeiMap = imagerun::MapPathFor(imagetest::PeiImagePath);
  const Result Mapped = Boardsim("pei --image=" + Alone + " --map=" + PeiMap + " --json=-");
  ASSERT_EQ(Mapped.Exit, 0) << Mapped.Err;
  EXPECT_EQ(nlohmann::json::parse(Mapped.Out)["lpc"], Json["lpc"]);
  EXPECT_EQ(Boardsim("window 0x6C,4 --image=" + Alone + " --map " + PeiMap).Exit, 0);
  const Result Unmapped = Boardsim("decode 0x3F8,0,6 --image=" + Alone);
  EXPECT_EQ(Unmapped.Exit, 2);
  EXPECT_NE(Unmapped.Err.find("the linker map of '" + Alone + "' is needed"), std::string::npos);
  const Result OtherLink =
      Boardsim("pei --image=" + Alone + " --map=" + imagerun::MapPathFor(imagetest::DxeImagePath));
  EXPECT_EQ(OtherLink.Exit, 2);
  EXPECT_NE(OtherLink.Err.find("is the map of a link for"), std::string::npos) << OtherLink.Err;
}

// The driver may call LocateProtocol and nothing else: any other boot service stops the run
// naming it. mov rax, [rdx + BootServices]; call [rax + AllocatePool's slot].
TEST(ImageRules, TheDriverReachingAnotherBootServiceStopsTheRunNamingIt) {
  SKIP_WITHOUT_DXE_IMAGE();
  constexpr std::uint8_t BootServices = 96, AllocatePool = 24 + 8 * 5;
  const std::string Path =
      PatchedDriver("allocate-pool", {0x48, 0x8B, 0x42, BootServices, 0xFF, 0x50, AllocatePool});
  const imagerun::DxeImage Driver = imagerun::LoadDxeImage(Path);
  sim::Board Board;
  const runs::RunResult Run = imagerun::ImageRuns(std::nullopt, Driver).runDxe(Board);
  ASSERT_TRUE(Run.Image && Run.Image->Breach);
  EXPECT_EQ(*Run.Image->Breach, "the image called the boot service AllocatePool (slot 5) from " +
                                    Driver.describe(Driver.Entry + 4) +
                                    "; the driver may call no boot service but LocateProtocol");
  EXPECT_EQ(sim::FormatRecord(Board.trace().back()),
            "# BoardInitDxeEntry(ImageHandle, SystemTable)");
  const Result Boardsim4 = Boardsim("dxe --image=" + Path);
  EXPECT_EQ(Boardsim4.Exit, 4);
  EXPECT_EQ(Boardsim4.Err, "boardsim: " + *Run.Image->Breach + "\n");
}

} // namespace
