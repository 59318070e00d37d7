// End-to-end tests of boardsim's table what-ifs: the tables printed, read back and run in place
// of the module's own, through the binary.
#include "BoardsimRun.h"
#include "RunTool.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <string>

namespace {

using Result = tooltest::ToolResult;
using tooltest::ReadAll;
using tooltest::TempFile;

using tooltest::Boardsim;
using tooltest::CountLines;

nlohmann::json Json(const std::string &Arguments) {
  return tooltest::BoardsimJson(Arguments);
}

// The board tables round trip: printed in their text form, read back from the file as the
// module's own rows, and run in place of the module's own, on the command line as well.
TEST(Boardsim, TablesPrintReadBackAndRunInPlaceOfTheModulesOwn) {
  const std::string Printed =
      "# The board tables of BoardInitPei, the host build. boardsim pei --tables=FILE reads them.\n"
      "[decode]\n"
      "# PORT,SIZE,ATTRIBUTES: one SetIoDecode request a row, in order\n"
      "0x002E,2,0x000000FF\n0x004E,2,0x000000FF\n0x006C,2,0x000000FF\n0x0280,2,0x000000FF\n"
      "0x0062,2,0x000000FF\n0x002E,2,0x000000FF\n0x03F8,0,0x00000006\n0x02F8,1,0x00000006\n"
      "0x0060,0,0x00000002\n0x0A00,144,0x000000FF\n"
      "[script]\n"
      "# PORT,AND,OR: one byte write a row, in order; AND 0 writes OR, any other (value & AND) | "
      "OR\n"
      "0x002E,0x00,0x87\n0x002E,0x00,0x01\n0x002E,0x00,0x55\n0x002E,0x00,0x55\n"
      "0x002E,0x00,0x07\n0x002F,0x00,0x0D\n0x002E,0x00,0x70\n0x002F,0x00,0x1A\n"
      "0x002E,0x00,0x61\n0x002F,0x00,0x00\n0x002E,0x00,0x72\n0x002F,0x00,0x00\n"
      "0x002E,0x00,0x74\n0x002F,0x00,0x00\n0x002E,0x00,0x76\n0x002F,0x00,0xE5\n"
      "0x002E,0x00,0x77\n0x002F,0x00,0xFF\n0x002E,0x00,0x30\n0x002F,0x00,0x01\n"
      "0x002E,0x00,0x02\n0x002F,0x00,0x02\n";
  const Result Print = Boardsim("pei --print-tables");
  EXPECT_EQ(Print.Exit, 0) << Print.Err;
  EXPECT_EQ(Print.Out, Printed);
  const std::string File = TempFile("tables.txt");
  std::ofstream(File) << Printed;
  EXPECT_EQ(Boardsim("pei --print-tables --tables=" + File).Out, Printed);

  // Read back, the rows are the module's own: the same trace, record for record.
  const std::string OwnTrace = TempFile("own.trace"), ReadBack = TempFile("read-back.trace");
  ASSERT_EQ(Boardsim("pei --trace=" + OwnTrace).Exit, 0);
  ASSERT_EQ(Boardsim("pei --tables=" + File + " --trace=" + ReadBack).Exit, 0);
  EXPECT_EQ(ReadAll(ReadBack), ReadAll(OwnTrace));
  const std::string OnTheCommandLine = TempFile("command-line.trace");
  ASSERT_EQ(Boardsim("pei --trace=" + OnTheCommandLine +
                     " --decode-table='0x2E,2,0xFF;0x4E,2,0xFF;0x6C,2,0xFF;0x280,2,0xFF;"
                     "0x62,2,0xFF;0x2E,2,0xFF;0x3F8,0,6;0x2F8,1,6;0x60,0,2;0xA00,0x90,0xFF'")
                .Exit,
            0);
  EXPECT_EQ(ReadAll(OnTheCommandLine), ReadAll(OwnTrace));

  // The report says which tables were replaced, and gives their rows.
  EXPECT_EQ(Json("pei")["replaced_tables"],
            nlohmann::json::parse(R"({"decode":null,"script":null})"));
  const nlohmann::json Replaced = Json("pei --tables=" + File)["replaced_tables"];
  ASSERT_EQ(Replaced["decode"].size(), 10u);
  EXPECT_EQ(Replaced["decode"][9],
            nlohmann::json::parse(R"({"port":2560,"size":144,"attributes":255})"));
  ASSERT_EQ(Replaced["script"].size(), 22u);
  EXPECT_EQ(Replaced["script"][5],
            nlohmann::json::parse(R"({"port":47,"and_mask":0,"or_value":13})"));

  // A what-if: one table in a file, comments and blank lines between its rows.
  const std::string WhatIf = TempFile("what-if.txt");
  std::ofstream(WhatIf) << "# the configuration ports on 0x4E\n\n[decode]\n"
                           "0x4E,2,0xFF  # was 0x2E\n0x4E,2,0xFF\n0x6C,2,0xFF\n0x280,2,0xFF\n"
                           "0x62,2,0xFF\n\n0x4E,2,0xFF\n0x3F8,0,6\n0x2F8,1,6\n0x60,0,2\n"
                           "0xA00,144,0xFF\n";
  const nlohmann::json Run = Json("pei --tables=" + WhatIf);
  EXPECT_EQ(Run["lpc"]["io_enables"], 0x2C03);
  EXPECT_EQ(Run["replaced_tables"]["decode"][0]["port"], 0x4E);
  EXPECT_EQ(Run["replaced_tables"]["script"], nullptr);
  EXPECT_NE(
      Boardsim("pei --tables=" + WhatIf)
          .Out.find("\nReplaced tables ran: the decode table was replaced (10 rows given);\n  "
                    "the Super I/O script was the module's own\n"),
      std::string::npos);
  EXPECT_EQ(Boardsim("pei").Out.find("Replaced tables"), std::string::npos);

  // A file's mistakes, by line.
  struct Case {
    std::string Text, Arguments, Error;
  };
  const Case Cases[] = {
      {"[decode]\n0x2E,2,0xFF\n[decode]\n", "",
       "line 3: rows for the decode table are given twice"},
      {"[decode]\n0x2E,2,0xFF\n", "--decode-table=0x2E,2,0xFF",
       "--decode-table: rows for the decode table are given twice"},
      {"[scripts]\n", "", "line 1: '[scripts]' is not [decode] or [script]"},
      {"# rows\n[script]\n0x2E,0\n", "", "line 3 '0x2E,0': expected PORT,AND,OR (3 fields), got 2"},
      {"[decode]\n0x2E,2,0xFF\n", "", "1 row given for the decode table"},
      {"# only a comment\n", "", "gives neither [decode] nor [script]"},
  };
  for (const Case &Each : Cases) {
    const std::string Bad = TempFile("bad-tables.txt");
    std::ofstream(Bad) << Each.Text;
    const Result Refused = Boardsim("pei --tables=" + Bad + " " + Each.Arguments);
    EXPECT_EQ(Refused.Exit, 2) << Each.Text;
    EXPECT_NE(Refused.Err.find(Each.Error), std::string::npos) << Each.Text << ": " << Refused.Err;
    EXPECT_EQ(CountLines(Refused.Err, "boardsim: "), 1u) << Each.Text;
  }
}

// The whole boot takes the same rows for its early phase: a decode table whose COM rows are on
// port 0 leaves the UART undecoded, and the driver's two lines reach no UART.
TEST(Boardsim, BootRunsItsEarlyPhaseOnTheRowsGiven) {
  const std::string NoComPorts =
      "--decode-table='0x2E,2,0xFF;0x4E,2,0xFF;0x6C,2,0xFF;0x280,2,0xFF;0x62,2,0xFF;0x2E,2,0xFF;"
      "0,0,6;0,1,6;0x60,0,2;0xA00,0x90,0xFF'";
  const nlohmann::json Boot = Json("boot " + NoComPorts);
  EXPECT_EQ(Boot["serial"], "");
  EXPECT_EQ(Boot["serial_bytes_lost"], 59);
  EXPECT_EQ(Boot["phases"][1]["serial_bytes_lost"], 59);
  EXPECT_EQ(Boot["replaced_tables"]["decode"][6],
            nlohmann::json::parse(R"({"port":0,"size":0,"attributes":6})"));
  EXPECT_EQ(Boot["replaced_tables"]["script"], nullptr);
  const Result Summary = Boardsim("boot " + NoComPorts);
  for (const char *Shown :
       {"\nReplaced tables ran: the decode table was replaced (10 rows given);\n  the Super I/O "
        "script was the module's own\n",
        "    UART: not reachable: 0x03F8-0x03FF not decoded\n",
        "  WARNING: 59 bytes it wrote to the UART reached no UART\n"}) {
    EXPECT_NE(Summary.Out.find(Shown), std::string::npos) << Shown << "\n" << Summary.Out;
  }
  EXPECT_EQ(Json("boot")["replaced_tables"],
            nlohmann::json::parse(R"({"decode":null,"script":null})"));
  const Result Refused = Boardsim("boot --superio-script=0x2E,0,0x87");
  EXPECT_EQ(Refused.Exit, 2);
  EXPECT_EQ(Refused.Err, "boardsim: 1 row given for the Super I/O script, and the host build's "
                         "Super I/O script holds 22 rows of 4 bytes\n");
}

} // namespace
