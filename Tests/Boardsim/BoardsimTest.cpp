// End-to-end tests of the boardsim binary: command line in, exit status, output and JSON out.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

struct Result {
  int Exit = -1;
  std::string Out, Err;
};

std::string ReadAll(const std::string &Path) {
  std::ifstream File(Path);
  std::stringstream Text;
  Text << File.rdbuf();
  return Text.str();
}

Result Boardsim(const std::string &Arguments) {
  const std::string ErrPath = ::testing::TempDir() + "boardsim-stderr.txt";
  const std::string Command = std::string(BOARDSIM_PATH) + " " + Arguments + " 2>" + ErrPath;
  Result Run;
  FILE *Pipe = popen(Command.c_str(), "r");
  std::array<char, 4096> Chunk;
  std::size_t Got;
  while ((Got = fread(Chunk.data(), 1, Chunk.size(), Pipe)) > 0) {
    Run.Out.append(Chunk.data(), Got);
  }
  const int Status = pclose(Pipe);
  Run.Exit = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  Run.Err = ReadAll(ErrPath);
  return Run;
}

nlohmann::json Json(const std::string &Arguments) {
  const Result Run = Boardsim(Arguments + " --json=-");
  EXPECT_EQ(Run.Exit, 0) << Arguments << "\n" << Run.Err;
  return nlohmann::json::parse(Run.Out);
}

std::size_t CountLines(const std::string &Text, const std::string &Prefix) {
  std::size_t Count = 0;
  std::istringstream Lines(Text);
  for (std::string Line; std::getline(Lines, Line);) {
    Count += Line.rfind(Prefix, 0) == 0 ? 1 : 0;
  }
  return Count;
}

TEST(Boardsim, PeiDefaultRunLeavesTheBoardDecodedAndConfigured) {
  const nlohmann::json Pei = Json("pei");
  EXPECT_EQ(Pei["module"], "pei");
  EXPECT_EQ(Pei["status"], 0);
  EXPECT_EQ(Pei["lpc"]["io_decode_ranges"], 0x0070);
  EXPECT_EQ(Pei["lpc"]["io_enables"], 0x3C03);
  EXPECT_EQ(Pei["lpc"]["generic_io_ranges"],
            nlohmann::json::array({0x0000006D, 0x00000281, 0x00FC0201, 0x00FC0A01}));
  EXPECT_EQ(Pei["pcr"]["io_decode_ranges"], 0x0070);
  EXPECT_EQ(Pei["pcr"]["io_enables"], 0x3C03);
  EXPECT_EQ(Pei["pcr"]["generic_io_ranges"], Pei["lpc"]["generic_io_ranges"]);
  EXPECT_EQ(Pei["lpc"]["espi_io_enables"], nlohmann::json::array({0, 0, 0}));
  EXPECT_EQ(Pei["spi_frames"], nlohmann::json::array({0x0700, 0x0401, 0x0307, 0x020E, 0x01FF}));
  ASSERT_EQ(Pei["superio_writes"].size(), 22u);
  EXPECT_EQ(Pei["superio_writes"][0], nlohmann::json::array({0x2E, 0x87}));
  EXPECT_EQ(Pei["superio_writes"][21], nlohmann::json::array({0x2F, 0x02}));
  EXPECT_EQ(Pei["serial"], "");
  EXPECT_EQ(Pei["interrupts_enabled"], true);
  EXPECT_EQ(Pei["hung"], false);
  EXPECT_FALSE(Pei.contains("in_smm"));

  // The access count is the trace's records, annotations left out.
  const std::string TracePath = ::testing::TempDir() + "boardsim-pei.trace";
  ASSERT_EQ(Boardsim("pei --trace=" + TracePath).Exit, 0);
  const std::string Trace = ReadAll(TracePath);
  std::size_t Records = 0;
  std::istringstream Lines(Trace);
  for (std::string Line; std::getline(Lines, Line);) {
    Records += (!Line.empty() && Line[0] != '#') ? 1 : 0;
  }
  EXPECT_EQ(Pei["accesses"], Records);
  EXPECT_NE(Trace.find("IN16 0x0CFE 0x0000  ; I/O Enables"), std::string::npos);
}

TEST(Boardsim, DxeDefaultRunPrintsBothLines) {
  const nlohmann::json Dxe = Json("dxe");
  EXPECT_EQ(Dxe["module"], "dxe");
  EXPECT_EQ(Dxe["status"], 0);
  EXPECT_EQ(Dxe["serial"], "Zelk SetupInit Start\r\nZelk SetupInit result = EFI_SUCCESS\r\n");
  EXPECT_EQ(Dxe["in_smm"], false);
  EXPECT_EQ(Dxe["locate_protocol_calls"], 1);
  EXPECT_EQ(Dxe["in_smm_calls"], 0);
  EXPECT_EQ(Dxe["spi_frames"].size(), 5u);
  EXPECT_EQ(Dxe["superio_writes"].size(), 0u);
}

TEST(Boardsim, ScenarioOptionsChangeWhatTheFirmwareMeets) {
  struct Case {
    const char *Arguments;
    const char *Pointer; // JSON pointer
    nlohmann::json Expected;
  };
  const Case Cases[] = {
      {"pei --spi=absent", "/spi_frames", nlohmann::json::array()},
      {"pei --spi=dead", "/spi_frames", nlohmann::json::array()},
      {"dxe --spi=absent", "/serial",
       "Zelk SetupInit Start\r\nZelk SetupInit result = EFI_SUCCESS\r\n"},
      // A busy controller runs every bounded wait out, and the frames still go out.
      {"pei --spi-status=0x14", "/spi_frames/4", 0x01FF},
      {"pei --spi-drain=1 --spi-reg0c=0xE0", "/spi_frames/0", 0x0700},
      // Bits another agent left in the decode registers survive the read-modify-writes.
      {"pei --lpc=0x82=0x8000", "/lpc/io_enables", 0xBC03},
      {"pei --pcr=0x2774=0x8000", "/pcr/io_enables", 0xBC03},
      {"pei --pcr=0x2774=0x8000", "/lpc/io_enables", 0x3C03},
      // A slot already holding another port is skipped until a request names its base.
      {"pei --lpc=0x84=0x00000A01", "/lpc/generic_io_ranges",
       nlohmann::json::array({0x00FC0A01, 0x0000006D, 0x00000281, 0x00FC0201})},
      {"pei --pm-timer=0xFFFFF0", "/status", 0},
      {"dxe --smm=inside", "/in_smm", true},
      {"dxe --smm=inside", "/in_smm_calls", 1},
      {"dxe --smm=outside", "/in_smm", false},
      {"dxe --smm=outside", "/in_smm_calls", 1},
      {"dxe --no-hob-list", "/status", 0},
      {"decode 0x220,0,0x906 0x60,0,2", "/results", nlohmann::json::array({0x80000003, 0})},
      {"decode 0x220,0,0x906", "/lpc/io_decode_ranges", 0x0002},
      {"window 0x6C,2 0x1234,0 0x100,0x0702", "/results",
       nlohmann::json::array({0, 0x80000002, 0x80000003})},
      {"window 0xA00,0x0190", "/lpc/espi_generic_io_ranges/0", 0x00FC0A01},
  };
  for (const Case &Each : Cases) {
    const nlohmann::json Out = Json(Each.Arguments);
    EXPECT_EQ(Out[nlohmann::json::json_pointer(Each.Pointer)], Each.Expected)
        << Each.Arguments << " " << Each.Pointer;
  }
}

TEST(Boardsim, TimerHobSkipsTheMeasuringInterval) {
  // Without the HOB the start-up reads the PM timer 365 times more than the SPI delays do.
  const std::string With = Boardsim("dxe --timer-hob --trace=-").Out;
  const std::string Without = Boardsim("dxe --trace=-").Out;
  EXPECT_EQ(CountLines(With, "IN32 0x1808"), 5u * 37u);
  EXPECT_EQ(CountLines(With, "CLI"), 0u);
  EXPECT_GT(CountLines(Without, "IN32 0x1808"), 5u * 37u + 363u);
  EXPECT_EQ(CountLines(Without, "CLI"), 1u);
}

TEST(Boardsim, SummaryShowsTheDecodedBoard) {
  const Result Pei = Boardsim("pei");
  ASSERT_EQ(Pei.Exit, 0);
  for (const char *Expected :
       {"COM A 0x3F8, COM B 0x3E8, parallel 0x378 (off), floppy 0x3F0 (off)", "config 0x2E/0x2F",
        "LPC range 3: 0x0200-0x02FF",
        "SPI peripheral received 5 frames: 0x0700 0x0401 0x0307 0x020E 0x01FF",
        "select logical device 0x0D", "exit configuration mode", "Accesses: "}) {
    EXPECT_NE(Pei.Out.find(Expected), std::string::npos) << Expected;
  }
  const Result Differs = Boardsim("pei --pcr=0x2770=0x8000");
  EXPECT_NE(Differs.Out.find("MIRROR DIFFERS"), std::string::npos);
  const Result Decode = Boardsim("decode 0x220,0,0x906");
  EXPECT_NE(Decode.Out.find("0x220,0,0x906 -> EFI_UNSUPPORTED (0x80000003)"), std::string::npos);
}

TEST(Boardsim, BadInputIsNamedAndNothingRuns) {
  struct Case {
    const char *Arguments;
    const char *Message;
  };
  const Case Cases[] = {
      {"", "subcommand"},
      {"boot", "boot"},
      {"pei --frobnicate", "--frobnicate"},
      {"pei --spi=sleepy", "sleepy"},
      {"pei --pm-timer=12z", "12z"},
      {"pei --pm-timer=0x1000000", "24 bits"},
      {"pei --spi-status=0x100000000", "32 bits"},
      {"decode 0x3F8,0", "3 fields"},
      {"decode 0x3F8,0,6,1", "3 fields"},
      {"decode 0x10000,0,6", "16 bits"},
      {"decode 0x3F8,0x100,6", "8 bits"},
      {"window 0x6C", "2 fields"},
      {"window", "requests"},
      {"pei --lpc=0x80", "OFFSET=VALUE"},
      {"pei --lpc=0x81=1", "multiple of 4"},
      {"pei --lpc=0x1000=1", "outside"},
      {"pei --lpc=0x82=0x10000", "16 bits"},
      {"pei --pcr=0x10000=0", "outside"},
      {"pei --no-hob-list", "--no-hob-list"},
      {"pei --trace=/nonexistent/dir/trace", "/nonexistent/dir/trace"},
  };
  for (const Case &Each : Cases) {
    const Result Run = Boardsim(Each.Arguments);
    EXPECT_EQ(Run.Exit, 2) << Each.Arguments;
    EXPECT_TRUE(Run.Out.empty()) << Each.Arguments;
    EXPECT_NE(Run.Err.find(Each.Message), std::string::npos) << Each.Arguments << ": " << Run.Err;
    EXPECT_EQ(CountLines(Run.Err, "boardsim: "), 1u) << Each.Arguments;
  }
}

TEST(Boardsim, StepBudgetReportsAHungRun) {
  const Result Run = Boardsim("dxe --max-steps=100 --json=-");
  EXPECT_EQ(Run.Exit, 3);
  EXPECT_NE(Run.Err.find("hung"), std::string::npos);
  EXPECT_NE(Run.Err.find("IN32 0x1808"), std::string::npos);
  const nlohmann::json Out = nlohmann::json::parse(Run.Out);
  EXPECT_EQ(Out["hung"], true);
  EXPECT_EQ(Out["status"], nullptr);
  EXPECT_EQ(Out["accesses"], 101);
}

TEST(Boardsim, HelpDocumentsEveryOption) {
  const Result Top = Boardsim("--help");
  EXPECT_EQ(Top.Exit, 0);
  const Result Dxe = Boardsim("dxe --help");
  EXPECT_EQ(Dxe.Exit, 0);
  for (const char *Option :
       {"--trace", "--json", "--spi", "--spi-status", "--spi-reg0c", "--spi-drain", "--spi-clock",
        "--pm-timer", "--lpc", "--pcr", "--max-steps", "--no-hob-list", "--timer-hob", "--smm"}) {
    EXPECT_NE(Dxe.Out.find(Option), std::string::npos) << Option;
  }
}

} // namespace
