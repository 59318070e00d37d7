// End-to-end tests of the boardsim binary: command line in, exit status, output and JSON out.
#include "BoardsimRun.h"
#include "RunTool.h"
#include "ScenarioSettings.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Result = tooltest::ToolResult;
using tooltest::ReadAll;
using tooltest::TempFile;

using tooltest::Boardsim;
using tooltest::CountLines;

nlohmann::json Json(const std::string &Arguments) {
  return tooltest::BoardsimJson(Arguments);
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
  EXPECT_EQ(Pei["in_smm"], nullptr); // the driver's alone: null for the early-init module

  // The access count is the trace's records, annotations left out.
  const std::string TracePath = TempFile("pei.trace");
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
      // Options go anywhere around the requests, each --lpc/--pcr with exactly one value.
      {"decode --lpc=0x80=0x0F05 0x3F8,0,6 --max-steps=100000", "/results",
       nlohmann::json::array({0})},
      {"window 0x200,0x100 --pcr 0x2730=0x6D 0x300,4", "/results", nlohmann::json::array({0, 0})},
      {"window 0x200,0x100 --pcr 0x2730=0x6D 0x300,4", "/pcr/generic_io_ranges/1", 0x00000301},
      // Every setting of the scenario has its option.
      {"pei --all-ones", "/spi/state", "absent"},
      {"pei --all-ones", "/scenario/all_ones", true},
      {"pei --spi-clock=0x80640003", "/spi/clock", 0x80640003},
      {"dxe --uart-lsr=0xFF", "/serial",
       "Zelk SetupInit Start\r\nZelk SetupInit result = EFI_SUCCESS\r\n"},
      {"dxe --timer-hob", "/dxe/timer_hob_found", true},
      {"dxe --timer-hob --extra-hob=4,0", "/dxe/timer_hob_found", false},
      {"dxe --timer-hob --extra-hob=3,8", "/dxe/timer_hob_found", true},
      {"dxe --no-hob-list", "/dxe/hob_list_found", false},
      {"dxe --no-hob-list", "/dxe/timer_hob_found", nullptr},
      {"dxe --smm=null-interface", "/locate_protocol_calls", 1},
      {"dxe --smm=null-interface", "/in_smm_calls", 0},
      // Named scenarios, with options on top.
      {"pei --scenario=spi-dead", "/spi/state", "dead"},
      {"pei --scenario=spi-dead", "/scenario/name", "spi-dead"},
      {"pei --scenario=spi-busy", "/spi/waits_ran_out", 9},
      {"pei --spi-status=0x08", "/spi/waits/0/reads", 18},
      {"pei --spi-status=0x08", "/spi/waits/0/firmware_waits",
       nlohmann::json::array({{{"wait", "WaitStatusClear"},
                               {"waits_for", "busy clear"},
                               {"reads", 1},
                               {"ran_out", false}},
                              {{"wait", "WaitTransmitReady"},
                               {"waits_for", "transmit FIFO not full and not busy"},
                               {"reads", 17},
                               {"ran_out", true}}})},
      // The bring-up's unused read of 0x0C is no wait's: the quiet wait makes 17 attempts after
      // it. The drain looks at 0x48 17 times, popping an entry between each two.
      {"pei --spi-reg0c=0xE0", "/spi/waits/0/reads", 18},
      {"pei --spi-reg0c=0xE0", "/spi/waits/0/firmware_waits",
       nlohmann::json::array({{{"wait", "WaitReg0CQuiet"},
                               {"waits_for", "register 0x0C bits 7:5 clear twice in a row"},
                               {"reads", 17},
                               {"ran_out", true}}})},
      {"pei --spi-drain=1", "/spi/waits/0/firmware_waits",
       nlohmann::json::array({{{"wait", "Drain"},
                               {"waits_for", "register 0x48 reading zero"},
                               {"reads", 33},
                               {"ran_out", true}}})},
      {"pei --spi-drain=1", "/spi/waits_ran_out", 1},
      {"dxe --scenario=corrupt-hob-list --smm=inside", "/scenario/firmware/smm", "inside"},
      // A setting cancels others only where it changes the board.
      {"pei --spi=present --spi-status=0x10", "/spi/waits_ran_out", 9},
      {"dxe --scenario=all-ones-timer-hob", "/scenario/firmware/timer_hob", true},
      // Devices behind the bridge see only the cycles it decodes to them.
      {"dxe", "/lpc/io_enables", 0x3C03},
      {"dxe --lpc=0x82=0x3C00", "/serial", ""},
      {"dxe --lpc=0x82=0x3C00", "/devices/uart/bytes_lost", 59},
      {"dxe --lpc=0x82=0x3C00", "/devices/uart/not_decoded", 118},
      {"pei", "/superio/logical_devices/0/number", 0x0D},
      {"pei", "/superio/logical_devices/0/active", true},
      {"pei", "/superio/config_mode", false},
      {"pei", "/devices/superio/reached", 22},
      {"pei --lpc=0xA0=0x1000", "/decode_map/warnings/0",
       "0x002E-0x002F is claimed by configuration ports 0x2E/0x2F on LPC and configuration ports "
       "0x2E/0x2F on eSPI CS1; the bridge sends each cycle to one place, LPC (a fixed decoder "
       "before a window, then the lowest target)"},
      // The whole boot on one board.
      {"boot", "/module", "boot"},
      {"boot", "/phases/0/status_name", "EFI_SUCCESS"},
      {"boot", "/phases/1/status_name", "EFI_SUCCESS"},
      {"boot", "/phases/0/devices/1/made_reachable", true},
      {"boot", "/serial", "Zelk SetupInit Start\r\nZelk SetupInit result = EFI_SUCCESS\r\n"},
      {"boot --all-ones --timer-hob", "/serial", ""},
      {"boot --all-ones --timer-hob", "/serial_bytes_lost", 59},
      // What happened, step by step.
      {"pei", "/status_name", "EFI_SUCCESS"},
      {"pei", "/requests/6/port", 0x3F8},
      {"pei", "/requests/6/calls/0/size_word", 0x0100},
      {"pei", "/spi/control0", 0x00C0008F},
      {"pei", "/access_counts/processor/sti", 58},
      {"decode 0x220,0,0x906", "/requests/0/status_name", "EFI_UNSUPPORTED"},
      {"window 0x100,0x0702", "/requests/0/status", 0x80000003},
      {"dxe", "/dxe/measuring_interval/pm_timer_ticks", 364},
      {"dxe", "/dxe/measuring_interval/time_stamps", nlohmann::json::array({1, 2})},
      {"dxe", "/access_counts/bus/port_out", 59},
      {"dxe", "/running", nlohmann::json::array()},
      {"pei", "/schema_version", 1},
      {"dxe", "/schema_version", 1},
      // The decode map: every decoded range, where it goes and what decodes it.
      {"pei",
       "/decode_map/ranges/0",
       {{"first", 0x2E},
        {"last", 0x2F},
        {"target", "LPC"},
        {"by", "configuration ports 0x2E/0x2F"},
        {"kind", "fixed"},
        {"set_by", {0, 5}},
        {"inside", nullptr}}},
      {"pei", "/decode_map/standard_com_ports/1/decoded_by/0/first", 0x200},
      {"pei", "/decode_map/requests/6/opens_standard_com_ports", true},
      {"pei",
       "/decode_map/changed_registers/1",
       {{"register", "I/O Enables"}, {"width", 2}, {"preset", 0}, {"final", 0x3C03}}},
      {"pei --lpc=0x82=0x8000", "/decode_map/changed_registers/1/preset", 0x8000},
      {"window 0xA00,0x0190", "/decode_map/ranges",
       nlohmann::json::array({{{"first", 0xA00},
                               {"last", 0xAFF},
                               {"target", "eSPI CS1"},
                               {"by", "eSPI CS1 window"},
                               {"kind", "window"},
                               {"set_by", {0}},
                               {"inside", nullptr}}})},
      {"window 0xA00,0x0190", "/decode_map/requests/0/asked",
       "a window of 144 bytes at 0x0A00 on eSPI CS1"},
      {"decode 0x60,0,0x102", "/decode_map/ranges/0/target", "LPC"},
      {"decode 0x60,0,0x102", "/decode_map/ranges/1/target", "eSPI CS1"},
      {"decode 0,0,6", "/decode_map/requests/0/port_goes_to", nullptr},
      {"decode 0x220,0,0x906", "/decode_map/warnings",
       nlohmann::json::array({"SetIoDecode(0x0220, 0x00, 0x00000906) was refused with "
                              "EFI_UNSUPPORTED (0x80000003), yet changed decode registers "
                              "(decode target 9 names no target)"})},
      {"decode 0x6C,0,0xFF", "/decode_map/warnings/0",
       "SetIoDecode(0x006C, 0x00, 0x000000FF) returned EFI_SUCCESS (0x00000000), but the window "
       "it asked for was refused: SetGenericIoRange(0x006C, 0x0000) -> EFI_INVALID_PARAMETER "
       "(0x80000002)"},
      // A refused request that wrote nothing, and a refused window request, warn of nothing.
      {"decode 0x1234,0,1 0x3F8,2,6", "/decode_map/warnings", nlohmann::json::array()},
      {"window 0x6C,0", "/decode_map/warnings", nlohmann::json::array()},
      // Board time: the timer advances one tick per reading, so a run's ticks are its readings
      // less one, across the counter's wrap too; a delay takes the ticks it read.
      {"pei", "/board_time/ticks", 184},
      {"pei", "/board_time/microseconds", 51},
      {"pei --pm-timer=0xFFFFF0", "/board_time/ticks", 184},
      {"pei --pm-timer=0xFFFFF0", "/board_time/last_reading", 0xA8},
      {"pei",
       "/board_time/waits/2",
       {{"kind", "delay"},
        {"register", "PM timer"},
        {"port", 0x1808},
        {"address", nullptr},
        {"reads", 37},
        {"ticks", 36},
        {"microseconds", 10},
        {"finished", true},
        {"running", {"BoardInitPeiEntry(FileHandle, PeiServices)"}}}},
      {"pei", "/board_time/waits/0/address", 0xFE03200C},
      {"pei", "/board_time/waits/0/ticks", 0},
      {"dxe", "/board_time/waits/0/kind", "measuring interval"},
      {"dxe", "/board_time/waits/0/ticks", 364},
      {"dxe", "/board_time/waits/0/microseconds", 102},
      {"dxe", "/board_time/hung_in", nullptr},
      {"dxe --timer-hob", "/board_time/ticks", 5 * 37 - 1},
      {"dxe --timer-hob", "/board_time/waits/0/kind", "wait"},
      {"decode 0x3F8,0,6", "/board_time/pm_timer_reads", 0},
      {"decode 0x3F8,0,6", "/board_time/first_reading", nullptr},
      // Every key is in every run, null where it does not apply: d['image'] never raises.
      {"pei", "/image", nullptr},
      {"pei", "/dxe", nullptr},
      {"pei", "/results", nullptr},
      {"pei", "/in_smm_calls", nullptr},
      {"dxe", "/decode_map", nullptr},
      {"dxe", "/requests", nullptr},
      {"dxe", "/replaced_tables", nullptr},
      {"decode 0x60,0,2", "/status", nullptr},
      {"decode 0x60,0,2", "/status_name", nullptr},
      {"window 0x6C,4", "/spi", nullptr},
      {"window 0x6C,4", "/dxe", nullptr},
      // A status has its name beside it everywhere, and its hexadecimal text of its width.
      {"pei", "/status_hex", "0x00000000"},
      {"dxe", "/status_hex", "0x0000000000000000"},
      {"boot", "/phases/1/status_hex", "0x0000000000000000"},
      {"pei", "/requests/0/status_hex", "0x00000000"},
      {"decode 0x220,0,0x906 0x60,0,2", "/results_hex",
       nlohmann::json::array({"0x80000003", "0x00000000"})},
      {"decode 0x220,0,0x906", "/decode_map/requests/0/status_name", "EFI_UNSUPPORTED"},
      {"decode 0x220,0,0x906", "/decode_map/requests/0/status_hex", "0x80000003"},
      {"decode 0x6C,0,0xFF", "/decode_map/requests/0/windows/0/status_name",
       "EFI_INVALID_PARAMETER"},
      {"decode 0x6C,0,0xFF", "/decode_map/requests/0/windows/0/status_hex", "0x80000002"},
      {"dxe", "/dxe/measuring_interval/time_stamps_hex",
       nlohmann::json::array({"0x0000000000000001", "0x0000000000000002"})},
      // What the summary points out, for scripts: a repeated row, a window inside another, the
      // warnings of each request and their count.
      {"pei", "/decode_map/requests/5/repeats", 0},
      {"pei", "/decode_map/requests/0/repeats", nullptr},
      {"pei", "/decode_map/ranges/8/inside", 7},
      {"pei", "/decode_map/ranges/7/set_by", nlohmann::json::array({6, 7})},
      {"decode 0x6C,0,0xFF", "/decode_map/requests/0/warnings/0",
       "SetIoDecode(0x006C, 0x00, 0x000000FF) returned EFI_SUCCESS (0x00000000), but the window "
       "it asked for was refused: SetGenericIoRange(0x006C, 0x0000) -> EFI_INVALID_PARAMETER "
       "(0x80000002)"},
      {"pei", "/warning_count", 0},
      {"decode 0x220,0,0x906", "/warning_count", 1},
      {"pei --lpc=0xA0=0x1000", "/warning_count", 1},
      {"boot --all-ones --timer-hob", "/warning_count", 3},
  };
  std::map<std::string, std::set<std::string>> KeysByRun;
  for (const Case &Each : Cases) {
    const nlohmann::json Out = Json(Each.Arguments);
    EXPECT_EQ(Out[nlohmann::json::json_pointer(Each.Pointer)], Each.Expected)
        << Each.Arguments << " " << Each.Pointer;
    if (Out["module"] != "boot") {
      for (const auto &[Key, Value] : Out.items()) {
        KeysByRun[Each.Arguments].insert(Key);
      }
    }
  }
  // The same keys in every run of every kind: a script reads any run's JSON as it reads another's.
  for (const auto &[Run, Keys] : KeysByRun) {
    EXPECT_EQ(Keys, KeysByRun.at("pei")) << Run;
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

TEST(Boardsim, SummaryAnswersWithoutTheTrace) {
  struct Case {
    const char *Arguments;
    std::vector<const char *> Shown;
    std::vector<const char *> Left = {}; // sections with nothing to say for the subcommand
    int Exit = 0;
    const char *Error = ""; // on standard error
  };
  const Case Cases[] = {
      {"pei --verbose",
       {"COM A 0x3F8, COM B 0x3E8, parallel 0x378 (off), floppy 0x3F0 (off)", "config 0x2E/0x2F",
        "LPC range 3: 0x0200-0x02FF",
        "   7  0x03F8,0,0x00000006  serial COM A at 0x03F8 on LPC -> EFI_SUCCESS (0x00000000)\n",
        "    SetGenericIoRange(0x0200, 0x0100) -> EFI_SUCCESS (0x00000000)",
        "SPI controller: present",
        "peripheral received 5 frames: 0x0700 0x0401 0x0307 0x020E 0x01FF",
        "bounded waits that ran out: 0",
        "control 0 0x00C0008F, control 1 0x00000000, clock 0x80640003", "index port 0x2E",
        "logical device select (0x07) <- 0x0D", "leave configuration mode",
        "bus (ports, memory): 520 (IN 276, OUT 163, RD 45, WR 36)",
        "processor events: 349 (FLAGS 58, CLI 58, STI 58, PAUSE 175, RDTSC 0)"},
       {"Serial console", "SMM"}},
      // What matters first: the findings, before the decode; the details only with --verbose.
      {"pei",
       {"entry returned EFI_SUCCESS (0x00000000)\n\nFindings:\n  ran to its end\n  no warnings\n"
        "  every decode register matches its private-configuration mirror\n"
        "  SPI controller present: 0 bounded waits ran out\n\nDecode table",
        // The rows numbered, a repeated row pointed out, the windows a row opened under it.
        "   1  0x002E,2,0x000000FF  other at 0x002E on LPC -> EFI_SUCCESS (0x00000000)\n",
        "   4  0x0280,2,0x000000FF  other at 0x0280 on LPC -> EFI_SUCCESS (0x00000000)\n"
        "        SetGenericIoRange(0x0280, 0x0002) -> EFI_SUCCESS (0x00000000)\n",
        "   6  0x002E,2,0x000000FF  other at 0x002E on LPC -> EFI_SUCCESS (0x00000000); repeats "
        "row 1\n",
        "        opens all four standard COM ports (0x3F8, 0x2F8, 0x3E8, 0x2E8), whatever the COM "
        "selector\n",
        "  10  0x0A00,144,0x000000FF  other at 0x0A00 on LPC",
        // The decode told once: each range with the rows that asked for it, a window inside
        // another said so.
        "  0x002E-0x002F  LPC       configuration ports 0x2E/0x2F  set by rows 1, 6\n",
        "  0x0064         LPC       keyboard controller            set by row 9\n",
        "  0x0280-0x0283  LPC       LPC range 2 window             set by row 4; inside "
        "0x0200-0x02FF\n",
        "  0x03E8-0x03EF  LPC       COM B decoder                  set by rows 7, 8\n",
        "  5 delays on the PM timer, 3 bounded waits on other registers (--verbose lists each)\n",
        "Steps: 869 of the step budget of 1000000 steps (bus accesses and processor events):\n"},
       {"I/O decode (bridge", "requests, asked and got", "registers the run changed",
        "Super I/O writes", "standard COM ports:", "note:", "The delay on"}},
      {"dxe",
       {"HOB list: found in the configuration table",
        "timer HOB: not found, so the measuring interval ran: 364 PM-timer ticks",
        // Time stamps as wide as the trace prints them.
        "time stamps 0x0000000000000001 and 0x0000000000000002",
        "LocateProtocol: 1 call, InSmm: 0 calls; in SMM: no", "Zelk SetupInit result = EFI_SUCCESS",
        "Findings:\n  ran to its end\n  no warnings\n  SPI controller present: 0 bounded waits "
        "ran out\n"},
       {"I/O decode", "Super I/O", "Decode table", "decode register"}},
      {"dxe --timer-hob --smm=inside",
       {"timer HOB: found, so the measuring interval was skipped",
        "LocateProtocol: 1 call, InSmm: 1 call; in SMM: yes"}},
      {"dxe --no-hob-list", {"HOB list: not found", "timer HOB: not looked for"}},
      {"dxe --lpc=0x82=0x3C00",
       {"  (nothing)\n  WARNING: 59 bytes written to the UART at 0x3F8 reached no UART "
        "(accesses: 118 not decoded by the\n    bridge)",
        "  1 warning, each marked WARNING beside what it concerns\n"}},
      {"pei",
       {"Super I/O chip (configuration ports 0x2E/0x2F on LPC), as the run left it:\n"
        "  22 of 22 accesses to its ports reached it\n"
        "  configuration mode: entered 1 time, left 1 time\n"
        "  logical device 0x0D: activate (0x30) = 0x01: on, I/O base, low byte (0x61) = 0x00, "
        "interrupt\n    select (0x70) = 0x1A"},
       {"WARNING"}},
      {"boot",
       {"BoardInitPei: entry returned EFI_SUCCESS (0x00000000)\n"
        "  869 steps (bus accesses and processor events)\n",
        "    UART: made reachable: 0x03F8-0x03FF on LPC (COM A decoder)\n",
        "    UART: reachable, as before: 0x03F8-0x03FF on LPC (COM A decoder)\n",
        "  Zelk SetupInit result = EFI_SUCCESS\n", "  BoardInitDxe: 549 ticks",
        "Findings:\n  no warnings\n  BoardInitPei: 0 bounded SPI waits ran out\n"},
       {"WARNING", "The delay on"}},
      {"boot --verbose", {"  The delay on the PM timer (port 0x1808) in BoardInitDxeEntry("}},
      {"pei --spi=dead", {"SPI controller: present but dead"}, {"final registers"}},
      {"pei --scenario=spi-busy",
       {"bounded waits that ran out: 9", "after SPI data <- 0x00000700",
        "  SPI controller present: 9 bounded waits ran out\n"}},
      // Two waits back to back on one status are two waits: the busy wait ends at its first
      // read, the transmit wait gives up after its 17.
      {"pei --spi-status=0x08",
       {"bounded waits that ran out: 6\n"
        "    1 wait on SPI status, WaitTransmitReady for transmit FIFO not full and not busy "
        "(read 0x00000008\n      17 times) after SPI clock <- 0x80640003\n"},
       {"18 times", "WaitStatusClear"}},
      // A window is the base with its mask bits cleared through base plus mask.
      {"pei --lpc=0x84=0x00FC0A41 --verbose", {"LPC range 1: 0x0A00-0x0AFF"}},
      {"window 0x6C,4 --lpc=0x88=0x80000A01 --verbose",
       {"LPC range 2: 0x0A00-0x0A03, reserved bits 0x80000000 set"}},
      {"pei --lpc=0x80=0x8000", {"I/O Decode Ranges has reserved bits 0x8000 set"}},
      {"pei --lpc=0x80=0x8000 --verbose", {"reserved bits 0x8000 set"}},
      // A mirror that differs is a finding of its own.
      {"pei --pcr=0x2770=0x8000",
       {"  1 warning, each marked WARNING beside what it concerns\n"
        "  WARNING: I/O Decode Ranges 0x0070 | mirror 0x8070: MIRROR DIFFERS\n"}},
      {"pei --pcr=0x2770=0x8000 --verbose", {"MIRROR DIFFERS"}},
      {"decode 0x220,0,0x906",
       {"   1  0x0220,0,0x00000906  serial COM A at 0x0220 on target 9 (unknown) -> "
        "EFI_UNSUPPORTED\n     (0x80000003)\n",
        "  1 request: 0 succeeded, 1 refused\n"}},
      {"decode 0x220,0,0x106", {"serial COM A at 0x0220 on eSPI CS1 -> "}, {"SPI controller"}},
      // The decode map ends pei, decode and window: literal port ranges, where they go, by what.
      {"pei",
       {"I/O decode map (where each port goes after the run, and the row that asked for it):\n"
        "  0x002E-0x002F  LPC       configuration ports 0x2E/0x2F  set by rows 1, 6\n",
        "  0x0060         LPC       keyboard controller            set by row 9\n",
        "  0x0200-0x02FF  LPC       LPC range 3 window             set by rows 7, 8\n",
        "  0x03E8-0x03EF  LPC       COM B decoder                  set by rows 7, 8\n"
        "  0x03F8-0x03FF  LPC       COM A decoder                  set by rows 7, 8\n"},
       {"WARNING"}},
      {"pei --verbose",
       {"standard COM ports: 0x3F8 in 0x03F8-0x03FF on LPC (COM A decoder); 0x2F8 in "
        "0x0200-0x02FF on LPC\n    (LPC range 3 window)",
        "    serial COM B at 0x02F8 on LPC -> EFI_SUCCESS (0x00000000); the port goes to "
        "0x0200-0x02FF on LPC\n      (LPC range 3 window)\n",
        "a standard COM port request opens all four standard COM ports: 0x3F8 on the COM A "
        "decoder,\n        0x2F8 through the window at 0x200, 0x3E8 on the COM B decoder, 0x2E8 "
        "through the window at\n        0x200; the COM selector is not read for them",
        "    I/O Enables: 0x0000 -> 0x3C03\n", "    I/O Enables mirror: 0x0000 -> 0x3C03\n",
        "  note: 0x0280-0x0283 is held by both LPC range 3 window on LPC and LPC range 2 window"},
       {"WARNING"}},
      // A row sets only the target it asks for: the preset eSPI decoder of the same ports is no
      // row's, and the claim of two targets is a warning of the map's.
      {"pei --lpc=0xA0=0x1000",
       {"  0x002E-0x002F  LPC       configuration ports 0x2E/0x2F  set by rows 1, 6\n"
        "  0x002E-0x002F  eSPI CS1  configuration ports 0x2E/0x2F\n",
        "  0x0A00-0x0AFF  LPC       LPC range 4 window             set by row 10\n"
        "  WARNING: 0x002E-0x002F is claimed by configuration ports 0x2E/0x2F on LPC and "
        "configuration ports\n"}},
      {"pei --lpc=0x90=0x00FC0A01 --verbose",
       {"    Generic I/O Range 3: 0x00000000 -> 0x00FC0201\n"},
       {"Generic I/O Range 4:"}},
      {"decode 0x3BC,0,7 0x370,0,1 0x208,0,8 0x63,0,0xFF",
       {"  0x0062         LPC       embedded controller\n",
        "  0x0208-0x020F  LPC       game port 0x208      set by request 3\n",
        "  0x0370-0x0375  LPC       floppy decoder       set by request 2\n"
        "  0x0377         LPC       floppy decoder       set by request 2\n",
        "  0x03BC-0x03BF  LPC       parallel decoder     set by request 1\n"}},
      // A warning stands under the request it concerns.
      {"decode 0x220,0,0x906 --verbose",
       {"     (0x80000003)\n        WARNING: SetIoDecode(0x0220, 0x00, 0x00000906) was refused "
        "with EFI_UNSUPPORTED\n          (0x80000003), yet changed decode registers (decode "
        "target 9 names no target)\n",
        "I/O Decode Ranges: 0x0000 -> 0x0002", "EFI_UNSUPPORTED (0x80000003); the port is not\n"}},
      {"decode 0x280,2,0xFF --lpc=0x84=0x301 --lpc=0x88=0x401 --lpc=0x8C=0x501 --lpc=0x90=0x601 "
       "--verbose",
       {"        SetGenericIoRange(0x0280, 0x0002) -> EFI_OUT_OF_RESOURCES (0x80000009)\n"
        "        WARNING: SetIoDecode(0x0280, 0x02, 0x000000FF) returned EFI_SUCCESS (0x00000000), "
        "but the\n          window it asked for was refused: SetGenericIoRange(0x0280, 0x0002) -> "
        "EFI_OUT_OF_RESOURCES\n",
        "no window holds"}},
      {"window 0x6C,4 0x3000,0x100 --verbose",
       {"a 256-byte window at 0x3000 on LPC (size word 0x0100) -> EFI_SUCCESS (0x00000000); the "
        "port goes\n      to 0x3000-0x30FF on LPC (LPC range 2 window)",
        "  0x3000-0x30FF  LPC       LPC range 2 window  set by request 2\n"},
       {"WARNING", "opens all four"}},
      // Board time says in its heading what it measures; each wait, with where it was, with
      // --verbose.
      {"pei --verbose",
       {"PM-timer time the firmware read (the timer ticks only when read; waits reading no timer "
        "count 0):\n",
        "  BoardInitPei: 184 ticks (51.40 microseconds) from the first of 185 PM-timer readings "
        "to the last\n",
        "  The delay on the PM timer (port 0x1808) in BoardInitPeiEntry(FileHandle, PeiServices): "
        "37 reads,\n    36 ticks (10.06 microseconds), 5 times\n",
        "  The wait on the SPI register 0x0C (0xFE03200C) in BoardInitPeiEntry(FileHandle, "
        "PeiServices): 3\n    reads, 0 ticks (0.00 microseconds)\n"}},
      {"dxe --verbose",
       {"  The measuring interval on the PM timer (port 0x1808) in BoardInitDxeEntry(ImageHandle,\n"
        "    SystemTable): 365 reads, 364 ticks (101.69 microseconds)\n"}},
      {"window 0x6C,2", {"  SetGenericIoRange requests: no PM-timer readings, so no board time"}},
      // Every kind of run reads within the summary's width (checked for each case below).
      {"decode 0x60,0,2", {"  1 request: 1 succeeded, 0 refused\n"}, {"WARNING"}},
      {"window 0x6C,4", {"   1  0x006C,0x0004  a window of 4 bytes at 0x006C on LPC -> "}},
      {"pei --all-ones", {"  SPI controller absent: left alone\n"}},
      {"dxe --all-ones --timer-hob --verbose", {"Findings:\n  ran to its end\n  1 warning"}},
      {"boot --verbose --scenario=spi-busy", {"  BoardInitPei: 9 bounded SPI waits ran out\n"}},
      // A hung run says so first, and names the wait it was in without --verbose.
      {"dxe --uart-lsr=0 --max-steps=5000",
       {"Findings:\n  HUNG: stopped by the step budget of 5000 steps (bus accesses and processor "
        "events)\n",
        "  The wait on the UART line status (port 0x03FD) in BoardInitDxeEntry(ImageHandle,"},
       {},
       3,
       "boardsim: the run hung: it exceeded the step budget of 5000 steps (bus accesses and "
       "processor events) in "},
      // --strict: a warning fails the run, once the outputs are written.
      {"decode 0x220,0,0x906 --strict",
       {"WARNING: SetIoDecode(0x0220"},
       {},
       1,
       "boardsim: --strict: 1 warning in the run\n"},
      {"decode 0x220,0,0x906 --strict --json=-",
       {"\"warning_count\": 1"},
       {"Findings"},
       1,
       "boardsim: --strict: 1 warning in the run\n"},
      {"pei --strict", {"  no warnings\n"}},
      {"pei --strict --pcr=0x2770=0x8000", {"MIRROR DIFFERS"}, {}, 1, "--strict: 1 warning"},
      {"boot --all-ones --timer-hob --strict",
       {"  3 warnings, each marked WARNING"},
       {},
       1,
       "boardsim: --strict: 3 warnings in the boot\n"},
  };
  for (const Case &Each : Cases) {
    const Result Run = Boardsim(Each.Arguments);
    ASSERT_EQ(Run.Exit, Each.Exit) << Each.Arguments << "\n" << Run.Err;
    EXPECT_NE(Run.Err.find(Each.Error), std::string::npos) << Each.Arguments << ": " << Run.Err;
    std::istringstream Lines(Run.Out);
    const bool Summary = std::string(Each.Arguments).find("--json=-") == std::string::npos;
    for (std::string Line; Summary && std::getline(Lines, Line);) {
      EXPECT_LE(Line.size(), 100u) << Each.Arguments << ": " << Line;
    }
    // The findings count every WARNING the summary marks, and no other.
    std::size_t Marked = 0;
    for (std::size_t At = Run.Out.find("WARNING: "); At != std::string::npos;
         At = Run.Out.find("WARNING: ", At + 1)) {
      ++Marked;
    }
    const std::string::size_type Count = Run.Out.find(" warning");
    if (Summary && Run.Out.find("  no warnings\n") == std::string::npos &&
        Count != std::string::npos) {
      const std::string::size_type Start = Run.Out.rfind(' ', Count - 1) + 1;
      EXPECT_EQ(Run.Out.substr(Start, Count - Start), std::to_string(Marked)) << Each.Arguments;
    } else if (Summary) {
      EXPECT_EQ(Marked, 0u) << Each.Arguments;
    }
    for (const char *Expected : Each.Shown) {
      EXPECT_NE(Run.Out.find(Expected), std::string::npos) << Each.Arguments << ": " << Expected;
    }
    for (const char *Absent : Each.Left) {
      EXPECT_EQ(Run.Out.find(Absent), std::string::npos) << Each.Arguments << ": " << Absent;
    }
  }
}

TEST(Boardsim, BadInputIsNamedAndNothingRuns) {
  struct Case {
    const char *Arguments;
    const char *Message;
  };
  const Case Cases[] = {
      {"", "subcommand"},
      {"boot --image=x.efi", "--pei-image"},
      {"boot --pei-map=x.map", "--pei-map is the map of --pei-image"},
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
      {"window", "needs at least one request PORT,SIZEWORD"},
      {"pei 0x3F8,0,6", "pei takes no requests"},
      // gdb debugs an image, on a port of 16 bits.
      {"pei --gdb=1234", "--gdb debugs a shipped image: give --image"},
      {"boot --gdb=1234", "--gdb debugs a shipped image: give --pei-image or --dxe-image"},
      {"dxe --gdb=65536", "16 bits"},
      {"pei --smm=inside", "--smm is an option of dxe, not of pei"},
      {"decode 0x3F8,0,6 --spi=absent", "--spi is an option of pei and dxe, not of decode"},
      {"dxe --no-hob-list --timer-hob", "contradict"},
      // A setting that another cancels is refused: the board would be the other's alone.
      {"dxe --all-ones --uart-lsr=0",
       "--all-ones and --uart-lsr=0 contradict each other: --all-ones cancels --uart-lsr (no "
       "device answers: every read is all ones)"},
      {"dxe --all-ones --uart-lsr=0x60", "--all-ones cancels --uart-lsr"},
      {"pei --pm-timer-stuck --all-ones", "--all-ones cancels --pm-timer-stuck"},
      {"pei --spi=dead --spi-reg0c=0xE0", "--spi=dead and --spi-reg0c=0xE0 contradict each other"},
      {"dxe --no-hob-list --extra-hob=4,0", "--no-hob-list cancels --extra-hob"},
      {"dxe --scenario=corrupt-hob-list --no-hob-list",
       "--no-hob-list and --timer-hob (from --scenario=corrupt-hob-list) contradict each other"},
      {"dxe --scenario=all-ones --uart-lsr=0x00",
       "--all-ones (from --scenario=all-ones) and --uart-lsr=0x00 contradict each other"},
      {"pei --scenario=spi-busy --all-ones",
       "--all-ones and --spi-status=0x10 (from --scenario=spi-busy) contradict each other"},
      {"pei --scenario=spi-absent --spi-status=0x10", "--spi cancels --spi-status"},
      // An option adds to a scenario's settings and never changes one: spi-busy with another
      // status would be another board under its name.
      {"pei --scenario=spi-busy --spi-status=4",
       "--spi-status=4 would change a setting of --scenario=spi-busy, which sets "
       "--spi-status=0x10: options add to a scenario's settings, never change them"},
      {"dxe --scenario=corrupt-hob-list --timer-hob", "would change a setting"},
      {"dxe --timer-hob=1", "takes no value"},
      {"dxe --extra-hob=4,9", "multiple of 8"},
      {"dxe --smm=sometimes", "absent, outside, inside, null-interface"},
      {"pei --max-steps=0", "at least 1"},
      // The step budget is bounded: a hung run of the largest one still ends within seconds.
      {"pei --max-steps=10000001", "'10000001' is out of range: the step budget is at least 1 and "
                                   "at most 10000000 steps"},
      {"dxe --max-steps=18446744073709551615", "at most 10000000"},
      // A scenario is refused where an option that sets one of its settings would be.
      {"pei --scenario=uart-never-empties",
       "--scenario=uart-never-empties sets --uart-lsr=0x00, and --uart-lsr is an option of dxe, "
       "not of pei"},
      {"pei --scenario=pm-timer-stuck-timer-hob", "--timer-hob is an option of dxe"},
      {"pei --scenario=all-ones-no-hob-list --uart-lsr=0x60", "--uart-lsr is an option of dxe"},
      {"pei --scenario=all-ones-no-hob-list", "--no-hob-list is an option of dxe"},
      {"pei --map=" README_PATH, "--map names the map of an --image, and no --image is given"},
      {"window 0x6C,4 --map=", "--map needs a value FILE, not an empty one"},
      {"--help boat", "no help for 'boat'"},
      {"--help pei dxe", "takes at most one subcommand"},
      {"pei --image=.", "cannot read '.': is a directory"},
      {"window 0x6C,4 --image=/dev/zero", "cannot read '/dev/zero': not a regular file"},
      {"pei --spi=absent --spi=dead", "--spi is given more than once"},
      {"pei --lpc=0x80=1 --lpc 0x80=2", "register 0x80 is given more than once"},
      {"pei --trace", "--trace needs a value FILE"},
      // Empty values, as an unset shell variable gives them, are refused, never dropped.
      {"pei --image=", "--image needs a value FILE, not an empty one"},
      {"window 0x6C,4 --image ''", "--image needs a value FILE, not an empty one"},
      {"dxe --json=", "--json needs a value FILE, not an empty one"},
      {"decode 0x3F8,0,6 --trace=", "--trace needs a value FILE, not an empty one"},
      {"pei --scenario=", "--scenario needs a value NAME, not an empty one"},
      {"pei --scenario=nope", "no scenario named 'nope'"},
      {"scenarios all", "scenarios takes no arguments"},
      {"--spi=absent pei", "comes first"},
      {"pei --trace=- --json=-", "standard output"},
      {"pei --lpc=0x80", "OFFSET=VALUE"},
      {"pei --lpc=0x81=1", "multiple of 4"},
      {"pei --lpc=0x1000=1", "outside"},
      {"pei --lpc=0x82=0x10000", "16 bits"},
      // The 16-bit registers are 0x80, 0x82, 0xA0, 0x200 and 0x240 on the bridge and 0x2770 and
      // 0x2774 in the private-configuration window; every other offset is a 32-bit register.
      {"pei --lpc=0x240=0x10000", "16 bits"},
      {"pei --lpc=0x202=1", "multiple of 4"},
      {"pei --pcr=0x2770=0x10000", "16 bits"},
      {"pei --pcr=0x2772=1", "multiple of 4"},
      {"pei --pcr=0x10000=0", "outside"},
      {"pei --pcr=0xFFFE=0", "multiple of 4"},
      {"pei --no-hob-list", "--no-hob-list"},
      {"pei --image=" README_PATH, "no MZ signature"},
      {"window 0x6C,4 --image=/nonexistent/x.efi", "cannot read '/nonexistent/x.efi'"},
      {"pei --image=/", "cannot read '/': is a directory"},
      {"pei --image=.", "cannot read '.': is a directory"},
      {"pei --image=/dev/zero", "cannot read '/dev/zero': not a regular file"},
      // Rows for the board tables: each in its form, as many as the table holds.
      {"pei --decode-table='0x2E,2,0xFF'", "boardsim: 1 row given for the decode table, and the "
                                           "host build's decode table holds 10 rows of 8 bytes\n"},
      {"pei --decode-table='0x2E,2,0xFF; 0x4E,2'",
       "boardsim: --decode-table row 2 '0x4E,2': expected PORT,SIZE,ATTRIBUTES (3 fields), got "
       "2\n"},
      {"pei --superio-script='0x2E,0,0x87;0x2F,0,0x100'", "row 2 '0x2F,0,0x100': '0x100' does not "
                                                          "fit in 8 bits"},
      {"pei --superio-script=0x2E,0,0x87 --superio-script=0x2E,0,0x87", "given more than once"},
      {"pei --tables=/nonexistent/t.txt", "--tables: cannot read '/nonexistent/t.txt'"},
      {"pei --tables=" README_PATH, "line 3: a row before [decode] or [script]"},
      {"pei --tables=/", "--tables: cannot read '/': is a directory"},
      {"dxe --decode-table=0x2E,2,0xFF", "--decode-table is an option of pei, not of dxe"},
      {"decode 0x2E,2,0xFF --tables=t.txt", "--tables is an option of pei, not of decode"},
      {"pei --print-tables --json=-", "--print-tables and --json contradict each other"},
      {"dxe --image=/dev/zero", "cannot read '/dev/zero': not a regular file"},
      {"dxe --image=" README_PATH, "no MZ signature"},
      // compare: two builds or two traces, each read and checked before anything runs.
      {"compare host", "compare needs two builds (host or an image file), got 1"},
      {"compare host host --scenario=nope", "no scenario named 'nope'"},
      {"compare host host --frobnicate",
       "unknown option '--frobnicate' (see boardsim compare --help)"},
      // The runs' options are not compare's: it makes its runs on its own cases.
      {"compare host host --trace=x.trace",
       "--trace is an option of pei, dxe, decode and window, not of compare"},
      {"compare host host --all-ones", "--all-ones is an option of pei, dxe, decode and window, "
                                       "not of compare"},
      {"compare host host --max-steps=5", "--max-steps is an option of"},
      {"compare host host --json=a.json --json=b.json", "--json is given more than once"},
      {"compare host host --scenario=spi-bussy", "no scenario named 'spi-bussy' (boardsim "
                                                 "scenarios lists them) (did you mean spi-busy?)"},
      {"compare --help host", "--help answers alone: 'host' was not expected"},
      // A slip of a letter or two is answered with the name meant.
      {"pie", "unknown subcommand 'pie' (did you mean pei?)"},
      {"windwo 0x6C,4", "unknown subcommand 'windwo' (did you mean window?)"},
      {"frobnicate", "unknown subcommand 'frobnicate' (expected pei, dxe, decode, window, boot, "
                     "compare or scenarios)"},
      {"pei --scenaro=healthy", "unknown option '--scenaro' (did you mean --scenario?)"},
      {"dxe --timer-hbo", "unknown option '--timer-hbo' (did you mean --timer-hob?)"},
      {"pei --timer-hbo", "unknown option '--timer-hbo' (did you mean --timer-hob? it is an "
                          "option of dxe, not of pei)"},
      {"pei --scenario=spi-bussy", "no scenario named 'spi-bussy' (boardsim scenarios lists "
                                   "them) (did you mean spi-busy?)"},
      {"dxe --smm=insde", "'insde' is not one of absent, outside, inside, null-interface (did you "
                          "mean inside?)"},
      {"--help peu", "no help for 'peu' (did you mean pei?)"},
      // --help and --version answer alone: what else is given would go unseen.
      {"--version extra", "--version answers alone: 'extra' was not expected"},
      {"--version --help", "--version answers alone: '--help' was not expected"},
      {"pei --help extra", "--help answers alone: 'extra' was not expected"},
      {"decode --help 0x3F8,0,6", "--help answers alone: '0x3F8,0,6' was not expected"},
      {"scenarios --help --json", "--help answers alone: '--json' was not expected"},
      {"boot --help --timer-hob", "--help answers alone: '--timer-hob' was not expected"},
      {"scenarios --jsno", "unknown option '--jsno' (did you mean --json?)"},
      {"pei --trace=x.trace --json", "--json needs a value FILE"},
      {"compare host host --json=", "--json needs a value FILE, not an empty one"},
      {"compare host " README_PATH, "no MZ signature"},
      {"compare --traces /nonexistent/a.trace " README_PATH,
       "cannot read '/nonexistent/a.trace': No such file or directory"},
      {"compare --traces / " README_PATH, "cannot read '/': is a directory"},
      {"compare --traces --scenario=healthy a.trace b.trace", "with --traces nothing runs"},
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

  // A stuck timer holds the first SPI frame's delay: the report names the call it was in, and
  // its last accesses are accesses, never annotations.
  const Result Stuck = Boardsim("pei --pm-timer-stuck --json=-");
  EXPECT_EQ(Stuck.Exit, 3);
  const nlohmann::json Hung = nlohmann::json::parse(Stuck.Out);
  EXPECT_EQ(Hung["running"], nlohmann::json::array({"BoardInitPeiEntry(FileHandle, PeiServices)"}));
  EXPECT_EQ(Hung["last_accesses"].size(), 16u);
  for (const auto &Line : Hung["last_accesses"]) {
    const std::string Text = Line.get<std::string>();
    EXPECT_TRUE(Text.rfind("IN32 0x1808", 0) == 0 || Text == "PAUSE") << Text;
  }
  // A run longer than a second shows its progress on a terminal and clears it before its
  // report; where standard error is a file it shows nothing. The sanitizers make every run
  // slower, so a shorter one lasts the second.
#ifdef BOARDSIM_SANITIZED
  const std::string QuietSteps = "1000000", TerminalSteps = "1000000";
#else
  const std::string QuietSteps = "3000000", TerminalSteps = "10000000";
#endif
  const Result Quiet =
      Boardsim("dxe --pm-timer-stuck --max-steps=" + QuietSteps + " --trace=/dev/null");
  EXPECT_EQ(Quiet.Exit, 3);
  EXPECT_EQ(Quiet.Err.find('\r'), std::string::npos);
  EXPECT_EQ(CountLines(Quiet.Err, "boardsim: "), 1u);
  const Result OnTerminal = tooltest::RunTool(
      "script", "-qec '" BOARDSIM_PATH " dxe --pm-timer-stuck --max-steps=" + TerminalSteps +
                    " --trace=/dev/null >/dev/null' /dev/null");
  EXPECT_NE(OnTerminal.Out.find(" of " + TerminalSteps + " steps\r"), std::string::npos)
      << OnTerminal.Out;
  EXPECT_NE(OnTerminal.Out.find("steps\r     "), std::string::npos);
  EXPECT_NE(OnTerminal.Out.find("\rboardsim: the run hung"), std::string::npos);

  // Each hung run names the calls and the wait it was in, on standard error and in the JSON, and
  // reports what it had shown before it hung.
  struct Case {
    const char *Arguments;
    const char *Error; // the first line on standard error, from " in " on
    const char *Pointer;
    nlohmann::json Expected;
    const char *Shown = ""; // anywhere on standard error
  };
  const Case Cases[] = {
      {"decode 0x6C,2,0xFF --pcr=0x2730=0 --all-ones --max-steps=5",
       " in SetIoDecode(0x006C, 0x02, 0x000000FF) > SetGenericIoRange(0x006C, 0x0002); last "
       "accesses:",
       "/board_time/hung_in", nullptr},
      {"pei --pm-timer-stuck --max-steps=5000",
       " in BoardInitPeiEntry(FileHandle, PeiServices), in the delay on the PM timer (port "
       "0x1808); last accesses:",
       "/board_time/hung_in", "the delay on the PM timer (port 0x1808)"},
      {"pei --pm-timer-stuck --max-steps=5000", nullptr, "/board_time/ticks", 0},
      {"pei --spi-status=0x14 --max-steps=19",
       " in BoardInitPeiEntry(FileHandle, PeiServices), in the wait on the SPI status "
       "(0xFE032008); last accesses:",
       "/board_time/waits/1/finished", false},
      {"dxe --uart-lsr=0 --max-steps=5000",
       " in BoardInitDxeEntry(ImageHandle, SystemTable), in the wait on the UART line status (port "
       "0x03FD); last accesses:",
       "/board_time/hung_in", "the wait on the UART line status (port 0x03FD)"},
      {"dxe --max-steps=100", nullptr, "/status_hex", nullptr},
      // A wait's identical reads are one line with their count.
      {"dxe --uart-lsr=0 --max-steps=5000", nullptr, "/last_accesses/15",
       "IN8 0x03FD 0x00  ; UART line status",
       "last accesses:\n  IN8 0x03FD 0x00  (x16)  ; UART line status\n"},
      {"dxe --pm-timer-stuck --max-steps=5000",
       " in BoardInitDxeEntry(ImageHandle, SystemTable), in the measuring interval on the PM timer "
       "(port 0x1808); last accesses:",
       "/dxe/timer_hob_found", false},
      // The driver had passed the timer HOB check: the SPI bring-up after it had begun.
      {"dxe --scenario=pm-timer-stuck-timer-hob --max-steps=5000",
       " in BoardInitDxeEntry(ImageHandle, SystemTable), in the delay on the PM timer (port "
       "0x1808); last accesses:",
       "/dxe/timer_hob_found", true},
      // Hung at the first access: the SPI bring-up's device-ID read with the HOB, the measuring
      // interval's flags read and interrupts off without it.
      {"dxe --timer-hob --max-steps=1",
       " in BoardInitDxeEntry(ImageHandle, SystemTable); last accesses:", "/dxe/timer_hob_found",
       true},
      {"dxe --max-steps=1", " in BoardInitDxeEntry(ImageHandle, SystemTable); last accesses:",
       "/dxe/timer_hob_found", false},
  };
  for (const Case &Each : Cases) {
    const Result Run = Boardsim(std::string(Each.Arguments) + " --json=-");
    EXPECT_EQ(Run.Exit, 3) << Each.Arguments;
    const std::string First = Run.Err.substr(0, Run.Err.find('\n'));
    if (Each.Error != nullptr) {
      const std::string::size_type At = First.find(" in ");
      EXPECT_EQ(At == std::string::npos ? First : First.substr(At), Each.Error) << Each.Arguments;
    }
    EXPECT_EQ(nlohmann::json::parse(Run.Out)[nlohmann::json::json_pointer(Each.Pointer)],
              Each.Expected)
        << Each.Arguments << " " << Each.Pointer;
    EXPECT_NE(Run.Err.find(Each.Shown), std::string::npos) << Each.Arguments << ": " << Run.Err;
  }
}

TEST(Boardsim, MemoryStaysBoundedWhateverTheStepBudget) {
#ifdef BOARDSIM_SANITIZED
  GTEST_SKIP() << "the sanitizers hold freed memory back; measured in the plain builds";
#endif
  // Two million records streamed to a file: the board keeps neither them nor their annotations.
  const Result Run = Boardsim("dxe --pm-timer-stuck --max-steps=2000000 --trace=/dev/null");
  EXPECT_EQ(Run.Exit, 3);
  rusage Usage{};
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &Usage), 0);
  constexpr long LimitKiB = 120 * 1024;
  EXPECT_LT(Usage.ru_maxrss, LimitKiB);
}

// The options a help lists, each by its long name, with the help's words for it: the first word
// of each line of its "Options:" block ("-o, --output=FILE" is --output). --help and --version,
// which every tool has, are left out.
std::map<std::string, std::string> HelpOptions(const std::string &Help) {
  std::map<std::string, std::string> Options;
  std::istringstream Lines(Help.substr(Help.find("\nOptions:\n") + 1));
  std::string Line;
  std::getline(Lines, Line);
  while (std::getline(Lines, Line) && !Line.empty()) {
    if (Line.rfind("  -", 0) != 0) {
      continue; // a help text's next line
    }
    std::string Name = Line.substr(Line.find("--"));
    Name = Name.substr(0, Name.find_first_of("= "));
    if (Name != "--help" && Name != "--version") {
      Options[Name] = Line;
    }
  }
  return Options;
}

// The statuses a help's "Exit status:" block lists.
std::set<int> HelpStatuses(const std::string &Help) {
  std::set<int> Statuses;
  std::istringstream Lines(Help.substr(Help.find("Exit status:\n")));
  std::string Line;
  std::getline(Lines, Line);
  while (std::getline(Lines, Line) && Line.rfind("  ", 0) == 0) {
    if (std::isdigit(static_cast<unsigned char>(Line[2]))) {
      Statuses.insert(Line[2] - '0'); // else the line before it goes on
    }
  }
  return Statuses;
}

// The README from a heading to the next heading.
std::string ReadmeSection(const std::string &Readme, const std::string &Heading) {
  const auto Start = Readme.find("\n" + Heading + "\n");
  EXPECT_NE(Start, std::string::npos) << Heading;
  const auto End = Readme.find("\n#", Start + 1);
  return Readme.substr(Start, End - Start);
}

// The options of a README section's tables, each with its row's second cell: "| `--json=FILE` |
// pei, dxe | ..." gives --json and "pei, dxe".
std::map<std::string, std::string> ReadmeOptions(const std::string &Section) {
  std::map<std::string, std::string> Options;
  std::istringstream Lines(Section);
  for (std::string Line; std::getline(Lines, Line);) {
    if (Line.rfind("| `--", 0) != 0) {
      continue;
    }
    std::string Name = Line.substr(3);
    Name = Name.substr(0, Name.find_first_of("=` "));
    const auto Cell = Line.find(" | ") + 3;
    Options[Name] = Line.substr(Cell, Line.find(" |", Cell) - Cell);
  }
  return Options;
}

// The statuses a README section's "Exit status:" paragraph names: "Exit status: 0 ...; 1 ...".
std::set<int> ReadmeStatuses(const std::string &Section) {
  std::set<int> Statuses;
  constexpr std::string_view Lead = "Exit status: ";
  const auto Start = Section.find(Lead);
  EXPECT_NE(Start, std::string::npos) << Section.substr(0, 80);
  std::string Paragraph = Section.substr(Start + Lead.size(), Section.find("\n\n", Start) - Start);
  std::replace(Paragraph.begin(), Paragraph.end(), '\n', ' ');
  for (std::size_t At = 0; At != std::string::npos + 2; At = Paragraph.find("; ", At) + 2) {
    if (At < Paragraph.size() && std::isdigit(static_cast<unsigned char>(Paragraph[At])) &&
        Paragraph[At + 1] == ' ') {
      Statuses.insert(Paragraph[At] - '0');
    }
  }
  return Statuses;
}

// The subcommands a README cell names: "pei, dxe, decode, window".
std::set<std::string> Subcommands(const std::string &Cell) {
  std::set<std::string> Names;
  std::istringstream Words(Cell);
  for (std::string Word; std::getline(Words, Word, ',');) {
    Names.insert(Word.substr(Word.find_first_not_of(' ')));
  }
  return Names;
}

TEST(Boardsim, HelpAndReadmeDocumentEveryOption) {
  const Result Top = Boardsim("--help");
  EXPECT_EQ(Top.Exit, 0);
  EXPECT_NE(Top.Out.find("Exit status"), std::string::npos);
  // What a run does to the files, in one wording in the help and the README.
  const std::string Files =
      "Exit 2 and 5 leave every existing file as it was; 0, 3 and 4 write the";
  EXPECT_NE(Top.Out.find(Files), std::string::npos);
  EXPECT_EQ(Boardsim("--version").Exit, 0);
  std::string Help;
  for (const char *Subcommand : {"pei", "dxe", "decode", "window"}) {
    const Result Run = Boardsim(std::string(Subcommand) + " --help");
    EXPECT_EQ(Run.Exit, 0) << Subcommand;
    Help += Run.Out;
  }
  const std::string Readme = ReadAll(README_PATH);
  EXPECT_NE(Readme.find(Files), std::string::npos);
  for (const char *Option : {"--scenario",
                             "--trace",
                             "--json",
                             "--spi",
                             "--spi-status",
                             "--spi-reg0c",
                             "--spi-drain",
                             "--spi-clock",
                             "--pm-timer",
                             "--pm-timer-stuck",
                             "--uart-lsr",
                             "--all-ones",
                             "--lpc",
                             "--pcr",
                             "--no-hob-list",
                             "--timer-hob",
                             "--extra-hob",
                             "--smm",
                             "--max-steps",
                             "--image",
                             "--map",
                             "--decode-table",
                             "--superio-script",
                             "--tables",
                             "--print-tables",
                             "--verbose",
                             "--strict"}) {
    // An option with a value is listed as --name=VALUE, a flag as --name followed by its help.
    const bool Listed = Help.find(std::string(Option) + "=") != std::string::npos ||
                        Help.find(std::string(Option) + " ") != std::string::npos;
    EXPECT_TRUE(Listed) << Option;
    EXPECT_NE(Readme.find(Option), std::string::npos) << Option;
  }
  // The request encodings, with an example each.
  EXPECT_NE(Help.find("device type in bits 7:0"), std::string::npos);
  EXPECT_NE(Help.find("COM selector"), std::string::npos);
  EXPECT_NE(Help.find("SIZEWORD  16 bits"), std::string::npos);
  const Result Compare = Boardsim("compare --help");
  EXPECT_EQ(Compare.Exit, 0);
  EXPECT_NE(Top.Out.find("compare A B"), std::string::npos);
  for (const char *Option : {"--scenario=NAME", "--json=FILE", "--traces", "Exit status"}) {
    EXPECT_NE(Compare.Out.find(Option), std::string::npos) << Option;
  }
  EXPECT_NE(Readme.find("boardsim compare"), std::string::npos);
  EXPECT_NE(Readme.find("--traces"), std::string::npos);
  const Result Scenarios = Boardsim("scenarios");
  EXPECT_EQ(Scenarios.Exit, 0);
  EXPECT_NE(Scenarios.Out.find("all-ones-no-hob-list"), std::string::npos);
  // A name stays only while its settings do: everything-broken was all ones and the settings
  // all ones cancels.
  EXPECT_EQ(Scenarios.Out.find("everything-broken"), std::string::npos);
  // Each scenario on its line, name first, with what it changes as the options that set it.
  for (const char *Line :
       {"\nspi-busy ", "SPI status stuck busy (0x10); options: --spi-status=0x10\n", "\nhealthy ",
        "; options: none\n", "; options: --timer-hob --extra-hob=4,0\n"}) {
    EXPECT_NE(("\n" + Scenarios.Out).find(Line), std::string::npos) << Line;
  }
  // The options a scenario is listed with set the very settings the scenario holds.
  std::istringstream Listed(Scenarios.Out);
  for (std::string Line; std::getline(Listed, Line);) {
    const std::string Name = Line.substr(0, Line.find(' '));
    const std::string Options = Line.substr(Line.find("; options: ") + 11);
    auto Settings = [](const std::string &Arguments) {
      const Result Run = Boardsim("dxe --max-steps=1 --json=- " + Arguments);
      nlohmann::json Scenario = nlohmann::json::parse(Run.Out)["scenario"];
      Scenario.erase("name");
      return Scenario;
    };
    EXPECT_EQ(Settings("--scenario=" + Name), Settings(Options == "none" ? "" : Options)) << Line;
  }
  // Each setting's descriptor names where the JSON gives it.
  const nlohmann::json Json = nlohmann::json::parse(Boardsim("dxe --max-steps=1 --json=-").Out);
  for (const sim::SettingDescriptor &Each : sim::Settings()) {
    EXPECT_TRUE(Json.contains(nlohmann::json::json_pointer(Each.JsonKey))) << Each.JsonKey;
  }
  // Every form of help is help: exit 0, the help asked for.
  struct HelpCase {
    const char *Arguments;
    const char *Shows;
  };
  const HelpCase Helps[] = {
      {"scenarios --help", "usage: boardsim scenarios [--json]\n"},
      {"scenarios -h", "usage: boardsim scenarios [--json]\n"},
      {"--help scenarios", "usage: boardsim scenarios [--json]\n"},
      {"--help pei", "usage: boardsim pei [options]\n"},
      {"-h window", "usage: boardsim window [options] PORT,SIZEWORD...\n"},
      {"--help compare", "usage: boardsim compare [options] A B\n"},
      {"dxe --help", "step budget: steps (bus accesses and processor events)"},
      {"decode --help", "--map=FILE"},
      {"--help", "'boardsim SUBCOMMAND --help' or 'boardsim --help SUBCOMMAND'"},
  };
  for (const HelpCase &Each : Helps) {
    const Result Run = Boardsim(Each.Arguments);
    EXPECT_EQ(Run.Exit, 0) << Each.Arguments;
    EXPECT_NE(Run.Out.find(Each.Shows), std::string::npos) << Each.Arguments << ": " << Run.Out;
    EXPECT_EQ(Run.Out.rfind("usage: boardsim", 0), 0u) << Each.Arguments;
  }
  EXPECT_EQ(Boardsim("--help pei").Out, Boardsim("pei --help").Out);

  // Each tool's help and its part of the README list the same options and the same exit
  // statuses; boardsim's table names the subcommands of each option as their helps do.
  std::map<std::string, std::set<std::string>> HelpRuns;
  for (const char *Run : {"pei", "dxe", "decode", "window"}) {
    const std::string RunHelp = Boardsim(std::string(Run) + " --help").Out;
    for (const auto &[Option, Line] : HelpOptions(RunHelp)) {
      HelpRuns[Option].insert(Run);
    }
    EXPECT_EQ(HelpStatuses(RunHelp), ReadmeStatuses(ReadmeSection(Readme, "## boardsim: the "
                                                                          "firmware on the "
                                                                          "simulated board")))
        << Run;
  }
  std::map<std::string, std::set<std::string>> ReadmeRuns;
  for (const auto &[Option, Cell] :
       ReadmeOptions(ReadmeSection(Readme, "## boardsim: the firmware on the simulated board"))) {
    for (const std::string &Run : Subcommands(Cell)) {
      if (Run != "boot") { // boot's options are dxe's and its own (boardsim boot --help)
        ReadmeRuns[Option].insert(Run);
      }
    }
  }
  EXPECT_EQ(HelpRuns, ReadmeRuns);
  struct ToolCase {
    std::string Program, Arguments, Heading;
  };
  const ToolCase Tools[] = {
      {BOARDSIM_PATH, "compare --help", "### boardsim compare: two builds side by side"},
      {BOARDSIM_PATH, "scenarios --help", "### boardsim scenarios: the named boards"},
      {BOARDSIM_PATH, "boot --help", "### boardsim boot: both phases on one board"},
      {PE_CHECK_PATH, "--help", "### pe-check"},
      {FFS_TOOL_PATH, "--help", "### ffs-tool"},
      {SIZE_BUDGET_PATH, "--help", "### size-budget"},
      {STACK_BUDGET_PATH, "--help", "### stack-budget"},
      {PLANT_DIVERGENCE_PATH, "--help", "### plant-divergence"},
      {IMAGE_COVERAGE_PATH, "--help", "### image-coverage"},
      {Q35_COMPARE_PATH, "--help", "### q35-compare"},
  };
  for (const ToolCase &Each : Tools) {
    const Result Asked = tooltest::RunTool(Each.Program, Each.Arguments);
    EXPECT_EQ(Asked.Exit, 0) << Each.Heading;
    const std::string Section = ReadmeSection(Readme, Each.Heading);
    std::set<std::string> InHelp, InReadme;
    for (const auto &[Option, Line] : HelpOptions(Asked.Out)) {
      InHelp.insert(Option);
    }
    for (const auto &[Option, Cell] : ReadmeOptions(Section)) {
      InReadme.insert(Option);
    }
    EXPECT_EQ(InHelp, InReadme) << Each.Heading;
    EXPECT_EQ(HelpStatuses(Asked.Out), ReadmeStatuses(Section)) << Each.Heading;
    // One layout for every tool: the usage line first, never the argument library's own words.
    EXPECT_EQ(Asked.Out.rfind("usage: ", 0), 0u) << Each.Heading;
    for (const char *Foreign : {"Positionals:", "Print this help message", "OPTIONS:"}) {
      EXPECT_EQ(Asked.Out.find(Foreign), std::string::npos) << Each.Heading << ": " << Foreign;
    }
  }
  for (const char *Documented :
       {"1 to 10000000", "a multiple of 8", "`schema_version`", "`decode_map`", "--map=FILE"}) {
    EXPECT_NE(Readme.find(Documented), std::string::npos) << Documented;
  }
  // Each key of the JSON is in the README's table of keys.
  for (const auto &[Key, Value] : Json.items()) {
    EXPECT_NE(Readme.find("`" + Key + "`"), std::string::npos) << Key;
  }
}

TEST(Boardsim, OutputsAreNeverLostOrCorrupted) {
  // Keep2 is also the map of an image at Keep.
  const std::string Keep = TempFile("keep.txt");
  const std::string Keep2 = TempFile("keep.map");
  const std::string Tables = TempFile("keep-tables.txt");
  std::ofstream(Tables) << "[script]\n0x2E,0,0x87\n";
  const std::string Traces[] = {TempFile("keep-a.trace"), TempFile("keep-b.trace")};
  for (const std::string &Each : Traces) {
    std::ofstream(Each) << "#boardsim-trace version 1\n";
  }
  struct Case {
    std::string Arguments;
    int Exit;
    std::string Message;
  };
  const Case Cases[] = {
      // Two outputs on one file, by one name or another.
      {"pei --trace=" + Keep + " --json=" + Keep, 2, "both write to"},
      {"pei --trace=" + Keep + " --json=" + ::testing::TempDir() + "./" +
           Keep.substr(::testing::TempDir().size()),
       2, "are the same file"},
      // An output that is one of the run's inputs, by one name or another.
      {"pei --image=" + Keep + " --json=" + Keep, 2,
       "--json '" + Keep + "' is the image this run reads"},
      {"window 0x6C,4 --image=" + Keep + " --trace=" + Keep2, 2,
       "--trace '" + Keep2 + "' is the map this run reads"},
      {"dxe --image=" + Keep + " --json=" + ::testing::TempDir() + "./" +
           Keep.substr(::testing::TempDir().size()),
       2, "is the image this run reads"},
      {"pei --image=" + Keep + " >>" + Keep, 2, "standard output is the image this run reads"},
      {"pei --tables=" + Tables + " --trace=" + Tables, 2,
       "--trace '" + Tables + "' is the tables file this run reads"},
      {"compare --traces " + Traces[0] + " " + Traces[1] + " --json=" + Traces[1], 2,
       "--json '" + Traces[1] + "' is one of the files this run reads"},
      {"pei --json=" + Keep + " >>" + Keep, 2,
       "boardsim: --json '" + Keep + "' and standard output are the same file\n"},
      // Nothing is touched until every output is open; one that cannot be made fails the run.
      {"pei --trace=" + Keep + " --json=/nonexistent/x.json", 5,
       "cannot write '/nonexistent/x.json': No such file or directory"},
      {"pei --trace=/nonexistent/dir/trace", 5,
       "cannot write '/nonexistent/dir/trace': No such file or directory"},
      // A file that exists in a folder that takes no new file: the folder is named, not the file
      // denied (a user other than root may not write the file at all).
      {"pei --trace=/proc/version", 5,
       ::geteuid() == 0 ? "cannot write '/proc/version': no file can be made beside it in '/proc': "
                        : "cannot write '/proc/version': Permission denied"},
      {"compare host host --scenario=healthy --json=/nonexistent/x.json", 5,
       "cannot write '/nonexistent/x.json': No such file or directory"},
      // ... and no file is replaced when another output fails.
      {"pei --trace=" + Keep + " --json=/dev/full", 5, "cannot write '/dev/full': No space left"},
      {"pei --trace=/dev/full --json=" + Keep, 5, "cannot write '/dev/full': No space left"},
      {"pei --trace=" + Keep + " >/dev/full", 5, "cannot write standard output: No space left"},
      {"pei --json=" + Keep + " >&-", 5, "cannot write standard output: Bad file descriptor"},
      // compare's own status for a difference (1) is not its status for an output it cannot write.
      {"compare host host --scenario=healthy --json=/dev/full", 5,
       "cannot write '/dev/full': No space left"},
      {"scenarios --json >/dev/full", 5, "cannot write standard output: No space left"},
  };
  for (const Case &Each : Cases) {
    for (const std::string &Path : {Keep, Keep2}) {
      std::ofstream(Path) << "earlier content\n";
    }
    const Result Run = Boardsim(Each.Arguments);
    EXPECT_EQ(Run.Exit, Each.Exit) << Each.Arguments;
    EXPECT_NE(Run.Err.find(Each.Message), std::string::npos) << Each.Arguments << ": " << Run.Err;
    EXPECT_EQ(CountLines(Run.Err, "boardsim: "), 1u) << Each.Arguments;
    // Standard output is an output like the others: a failed run writes nothing there either.
    EXPECT_EQ(Run.Out, "") << Each.Arguments;
    EXPECT_EQ(ReadAll(Keep), "earlier content\n") << Each.Arguments;
    EXPECT_EQ(ReadAll(Keep2), "earlier content\n") << Each.Arguments;
  }
  // A run that succeeds replaces both files, each with its own content and its own mode.
  ::chmod(Keep.c_str(), 0640);
  ::chmod(Keep2.c_str(), 0604);
  ASSERT_EQ(Boardsim("dxe --trace=" + Keep + " --json=" + Keep2).Exit, 0);
  EXPECT_EQ(ReadAll(Keep).rfind(
                "#boardsim-trace version 1\n# BoardInitDxeEntry(ImageHandle, SystemTable)\n", 0),
            0u);
  EXPECT_EQ(nlohmann::json::parse(ReadAll(Keep2))["module"], "dxe");
  for (const auto &[Path, Mode] : {std::pair{Keep, 0640}, std::pair{Keep2, 0604}}) {
    struct stat Info {};
    ASSERT_EQ(::stat(Path.c_str(), &Info), 0);
    EXPECT_EQ(Info.st_mode & 07777, static_cast<mode_t>(Mode)) << Path;
  }
}

// A run ended by a signal, as a user's Ctrl-C or a job's timeout ends it, removes its temporary
// files, leaves the target as it was and dies of that signal. The run spins on a stuck PM timer
// with a large step budget (over a second), so it is still running when the signal comes.
TEST(Boardsim, InterruptedRunsLeaveNothingBehind) {
  const std::string Target = TempFile("interrupted.trace");
  for (const int Signal : {SIGINT, SIGTERM, SIGHUP}) {
    std::ofstream(Target) << "earlier content\n";
    const pid_t Child = ::fork();
    ASSERT_GE(Child, 0);
    if (Child == 0) {
      for (const int Each : {SIGINT, SIGTERM, SIGHUP}) {
        ::signal(Each, SIG_DFL); // as a terminal's shell starts it, whatever ran this test
      }
      const std::string Trace = "--trace=" + Target;
      ::execl(BOARDSIM_PATH, BOARDSIM_PATH, "pei", "--pm-timer-stuck", "--max-steps=5000000",
              Trace.c_str(), static_cast<char *>(nullptr));
      ::_exit(127);
    }
    ::usleep(300 * 1000);
    ::kill(Child, Signal);
    int Status = 0;
    ASSERT_EQ(::waitpid(Child, &Status, 0), Child);
    EXPECT_TRUE(WIFSIGNALED(Status) && WTERMSIG(Status) == Signal) << Signal << ": " << Status;
    EXPECT_EQ(ReadAll(Target), "earlier content\n") << Signal;
    const std::filesystem::path Folder = std::filesystem::path(Target).parent_path();
    for (const auto &Each : std::filesystem::directory_iterator(Folder)) {
      EXPECT_EQ(Each.path().string().rfind(Target + ".", 0), std::string::npos)
          << Signal << ": left behind " << Each.path();
    }
  }
}

// compare: each case same or different; for a difference the first differing record of each side
// with its neighbours and the calls each side was in there, nested calls included.
TEST(Boardsim, CompareShowsTheFirstDifferenceAndTheCallsInProgress) {
  const std::string Original = TempFile("compare-a.trace");
  ASSERT_EQ(Boardsim("pei --trace=" + Original).Exit, 0);
  std::vector<std::string> Lines; // the records, the file's header line left out
  std::istringstream Text(ReadAll(Original));
  std::string Header;
  ASSERT_TRUE(std::getline(Text, Header));
  EXPECT_EQ(Header, "#boardsim-trace version 1");
  for (std::string Line; std::getline(Text, Line);) {
    Lines.push_back(Line);
  }
  // The first record inside the window the first standard COM port opens, replaced.
  const auto Window = std::find(Lines.begin(), Lines.end(), "# SetGenericIoRange(0x0200, 0x0100)");
  ASSERT_NE(Window, Lines.end());
  const std::size_t At = static_cast<std::size_t>(Window - Lines.begin()) + 1;
  const std::string Kept = Lines[At];
  const std::string Changed = TempFile("compare-b.trace");
  const std::string Shorter = TempFile("compare-c.trace");
  {
    std::ofstream B(Changed), C(Shorter);
    B << Header << "\n";
    C << Header << "\n";
    for (std::size_t Index = 0; Index < Lines.size(); ++Index) {
      B << (Index == At ? "CLI" : Lines[Index]) << "\n";
      if (Index < At) {
        C << Lines[Index] << "\n";
      }
    }
  }
  const std::string Record = std::to_string(At);
  const std::string Running = "BoardInitPeiEntry(FileHandle, PeiServices) > SetIoDecode(0x03F8, "
                              "0x00, 0x00000006) > SetGenericIoRange(0x0200, 0x0100)";
  struct Case {
    std::string Arguments;
    int Exit;
    std::vector<std::string> Shown;
  };
  const Case Cases[] = {
      {"compare host host --scenario=healthy --scenario spi-dead",
       0,
       {"same       pei healthy\nsame       pei spi-dead\nsame       dxe healthy\n",
        "same       boot healthy\nsame       boot spi-dead\n",
        "runs compared: pei dxe decode window boot\n", "6 cases: 6 same, 0 different"}},
      {"compare --traces " + Original + " " + Original, 0, {"same       traces\n", "1 case"}},
      {"compare --traces " + Original + " " + Changed,
       1,
       {"different  traces\n  the traces part at record " + Record,
        "  A:\n      " + std::to_string(At - 3) + ": ", "    > " + Record + ": " + Kept + "\n",
        "    > " + Record + ": CLI\n      " + std::to_string(At + 1) + ": " + Lines[At + 1],
        "    A: " + Running + "\n    B: " + Running + "\n", "1 case: 0 same, 1 different"}},
      {"compare --traces " + Changed + " " + Shorter,
       1,
       {"    > " + Record + ": (end of trace)\n",
        "(A " + std::to_string(Lines.size()) + " records, B " + Record + ")"}},
  };
  for (const Case &Each : Cases) {
    const Result Run = Boardsim(Each.Arguments);
    EXPECT_EQ(Run.Exit, Each.Exit) << Each.Arguments << "\n" << Run.Err;
    for (const std::string &Expected : Each.Shown) {
      EXPECT_NE(Run.Out.find(Expected), std::string::npos)
          << Each.Arguments << ": " << Expected << "\n"
          << Run.Out;
    }
  }
  // The same as data.
  const Result Data = Boardsim("compare --traces " + Original + " " + Changed + " --json=-");
  EXPECT_EQ(Data.Exit, 1);
  const nlohmann::json Out = nlohmann::json::parse(Data.Out);
  EXPECT_EQ(Out["a"], nlohmann::json({{"kind", "trace"}, {"path", Original}}));
  EXPECT_EQ(Out["different"], 1);
  EXPECT_EQ(Out["cases"][0]["same"], false);
  EXPECT_EQ(Out["cases"][0]["run"], nullptr);
  EXPECT_EQ(Out["cases"][0]["trace"]["record"], At);
  EXPECT_EQ(Out["cases"][0]["trace"]["a"]["context"][3],
            nlohmann::json({{"record", At}, {"text", Kept}}));
  EXPECT_EQ(Out["cases"][0]["trace"]["b"]["context"][3]["text"], "CLI");
  EXPECT_EQ(Out["cases"][0]["trace"]["b"]["running"].size(), 3u);
  EXPECT_EQ(Out["cases"][0]["results"], nlohmann::json::array());
}

TEST(Boardsim, TraceAnnotatesEveryCallInOneForm) {
  const std::string Pei = Boardsim("pei --trace=-").Out;
  for (const char *Line :
       {"# BoardInitPeiEntry(FileHandle, PeiServices)\n",
        "# SetIoDecode(0x03F8, 0x00, 0x00000006)\n# SetGenericIoRange(0x0200, 0x0100)\nFLAGS",
        "# SetGenericIoRange(0x0200, 0x0100) -> EFI_SUCCESS (0x00000000)\n",
        "# BoardInitPeiEntry(FileHandle, PeiServices) -> EFI_SUCCESS (0x00000000)\n"}) {
    EXPECT_NE(Pei.find(Line), std::string::npos) << Line;
  }
  EXPECT_EQ(CountLines(Pei, "# SetIoDecode("), 20u);
  const std::string Dxe = Boardsim("dxe --smm=outside --trace=-").Out;
  for (const char *Line :
       {"# LocateProtocol({F4CCBFB7-F6E0-47FD-9DD4-10A8F150C191}, NULL, Interface) -> EFI_SUCCESS "
        "(0x0000000000000000)\n",
        "# InSmm(SmmBase2, InSmram) -> EFI_SUCCESS (0x0000000000000000); stores FALSE\n",
        "# BoardInitDxeEntry(ImageHandle, SystemTable) -> EFI_SUCCESS (0x0000000000000000)\n"}) {
    EXPECT_NE(Dxe.find(Line), std::string::npos) << Line;
  }
}

// --trace-events: a file a trace viewer opens, checked against the trace-event format's rules by
// a reader of this test's own, and against the run it tells: each record an instant, each call a
// slice, each PM-timer reading a counter value, on time that never runs backwards.
TEST(Boardsim, TraceEventsFollowTheFormatAndTellTheRun) {
  const std::string Events = TempFile("run.events.json");
  const std::string Result = TempFile("run.result.json");
  struct Case {
    std::string Arguments;
    int Exit;
    std::string Slice; // a call the run makes
    bool ReadsTimer;   // the SPI bring-up's delays and the driver's measuring interval
  };
  const Case Cases[] = {
      {"pei", 0, "SetIoDecode(0x002E, 0x02, 0x000000FF)", true},
      {"dxe --timer-hob --spi=absent", 0, "BoardInitDxeEntry(ImageHandle, SystemTable)", false},
      {"decode 0x60,0,2", 0, "SetIoDecode(0x0060, 0x00, 0x00000002)", false},
      // A hung run: its calls end where the run stopped.
      {"dxe --uart-lsr=0 --max-steps=3000", 3, "BoardInitDxeEntry(ImageHandle, SystemTable)", true},
      {"boot", 0, "BoardInitDxeEntry(ImageHandle, SystemTable)", true},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Arguments);
    ASSERT_EQ(Boardsim(Each.Arguments + " --trace-events=" + Events + " --json=" + Result).Exit,
              Each.Exit);
    const nlohmann::json File = nlohmann::json::parse(ReadAll(Events));
    ASSERT_TRUE(File.is_object());
    ASSERT_TRUE(File["traceEvents"].is_array());
    EXPECT_TRUE(File["displayTimeUnit"] == "ns" || File["displayTimeUnit"] == "ms");
    std::vector<std::string> Open;
    std::set<std::string> Slices;
    double Last = 0;
    std::size_t Instants = 0, Counters = 0;
    for (const nlohmann::json &Event : File["traceEvents"]) {
      ASSERT_TRUE(Event["name"].is_string()) << Event;
      ASSERT_TRUE(Event["pid"].is_number_integer() && Event["tid"].is_number_integer()) << Event;
      ASSERT_TRUE(Event["ts"].is_number() && Event["ts"] >= Last) << Event;
      Last = Event["ts"];
      const std::string Phase = Event["ph"];
      if (Phase == "B") {
        Open.push_back(Event["name"]);
        Slices.insert(Event["name"].get<std::string>());
      } else if (Phase == "E") {
        ASSERT_FALSE(Open.empty()) << "an end without a beginning: " << Event;
        EXPECT_EQ(Event["name"], Open.back()) << "slices must nest";
        Open.pop_back();
      } else if (Phase == "i") {
        ASSERT_TRUE(Event["s"] == "t" || Event["s"] == "p" || Event["s"] == "g") << Event;
        Instants += Event["cat"] != "call" ? 1 : 0;
      } else if (Phase == "C") {
        ASSERT_TRUE(Event["args"].is_object() && !Event["args"].empty()) << Event;
        for (const auto &[Series, Value] : Event["args"].items()) {
          EXPECT_TRUE(Value.is_number()) << Series;
        }
        ++Counters;
      } else {
        ASSERT_EQ(Phase, "M") << Event;
        EXPECT_TRUE(Event["args"]["name"].is_string()) << Event;
      }
    }
    EXPECT_TRUE(Open.empty()) << Open.size() << " slices never end";
    EXPECT_EQ(Slices.count(Each.Slice), 1u);
    const nlohmann::json Run = nlohmann::json::parse(ReadAll(Result));
    const nlohmann::json Phases =
        Run.contains("phases") ? Run["phases"] : nlohmann::json::array({Run});
    std::size_t Accesses = 0;
    for (const nlohmann::json &Phase : Phases) {
      Accesses += Phase["accesses"].get<std::size_t>();
    }
    EXPECT_EQ(Instants, Accesses);
    EXPECT_EQ(Counters > 0, Each.ReadsTimer);
  }
}

} // namespace
