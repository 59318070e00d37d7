#include "PciConfig.h"
#include "Board.h"
#include "TraceText.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using sim::test::Lines;

constexpr std::uint32_t Bridge = PciAddress(0, 31, 0, 0);

struct PortFrameCase {
  const char *Name;
  std::function<void()> Access;
  std::vector<std::string> DataAccess; // the record(s) between the latch writes
  std::string LatchValue;
};

// Latch 0x12345678 is in place before the call; the frame must put it back and restore IF.
std::vector<std::string> ExpectedFrame(const PortFrameCase &Case, bool InterruptsWereOn) {
  std::vector<std::string> Expected = {InterruptsWereOn ? "FLAGS 0x00000202" : "FLAGS 0x00000002",
                                       "CLI", "IN32 0x0CF8 0x12345678",
                                       "OUT32 0x0CF8 " + Case.LatchValue};
  Expected.insert(Expected.end(), Case.DataAccess.begin(), Case.DataAccess.end());
  Expected.push_back("OUT32 0x0CF8 0x12345678");
  Expected.push_back(InterruptsWereOn ? "STI" : "CLI");
  return Expected;
}

class PciPortFrame : public ::testing::TestWithParam<bool> {};

TEST_P(PciPortFrame, EncodesAddressRestoresLatchAndInterruptFlag) {
  const bool InterruptsOn = GetParam();
  const PortFrameCase Cases[] = {
      {"read16 at 0x82", [] { PciCfgRead16(Bridge + 0x82); }, {"IN16 0x0CFE 0xBEEF"}, "0x8000F880"},
      {"read16 at 0x80", [] { PciCfgRead16(Bridge + 0x80); }, {"IN16 0x0CFC 0x0070"}, "0x8000F880"},
      {"read32 at 0x84",
       [] { PciCfgRead32(Bridge + 0x84); },
       {"IN32 0x0CFC 0x00000281"},
       "0x8000F884"},
      {"write16 at 0x82",
       [] { PciCfgWrite16(Bridge + 0x82, 0x3C03); },
       {"OUT16 0x0CFE 0x3C03"},
       "0x8000F880"},
      {"write32 at 0x90",
       [] { PciCfgWrite32(Bridge + 0x90, 0x00FC0A01); },
       {"OUT32 0x0CFC 0x00FC0A01"},
       "0x8000F890"},
      // Bus 1, device 2, function 3 lands in latch bits 16-23, 11-15 and 8-10.
      {"other function",
       [] { PciCfgRead32(PciAddress(1, 2, 3, 0x40)); },
       {"IN32 0x0CFC 0xFFFFFFFF"},
       "0x80011340"},
      // Only bits 27:12 carry bus, device and function; bits 31:28 never reach the latch.
      {"bits above the bus field",
       [] { PciCfgRead16(0xF0000000 | (Bridge + 0x82)); },
       {"IN16 0x0CFE 0xBEEF"},
       "0x8000F880"},
  };
  for (const PortFrameCase &Case : Cases) {
    sim::Scenario Settings;
    Settings.LpcConfig[0x80] = {0xBEEF0070, 4};
    Settings.LpcConfig[0x84] = {0x00000281, 4};
    sim::Board Board(Settings);
    sim::RunOnBoard(Board, [&] {
      PortWrite32(PciPort::Address, 0x12345678);
      if (!InterruptsOn) {
        DisableInterrupts();
      }
    });
    const std::size_t Before = Board.trace().size();
    sim::RunOnBoard(Board, Case.Access);
    std::vector<std::string> Actual = Lines(Board);
    Actual.erase(Actual.begin(), Actual.begin() + static_cast<std::ptrdiff_t>(Before));
    EXPECT_EQ(Actual, ExpectedFrame(Case, InterruptsOn)) << Case.Name;
    EXPECT_EQ(Board.pciLatch(), 0x12345678u) << Case.Name;
    EXPECT_EQ(Board.interruptsEnabled(), InterruptsOn) << Case.Name;
  }
}

INSTANTIATE_TEST_SUITE_P(InterruptFlag, PciPortFrame, ::testing::Bool(),
                         [](const auto &Info) { return Info.param ? "IfSet" : "IfClear"; });

TEST(PciConfig, WritesReachTheBridgeRegisterAndReturnTheValue) {
  sim::Board Board;
  std::uint16_t Returned16 = 0;
  std::uint32_t Returned32 = 0;
  sim::RunOnBoard(Board, [&] {
    Returned16 = PciCfgWrite16(Bridge + 0x82, 0x3C03);
    Returned32 = PciCfgWrite32(Bridge + 0x8C, 0x00FC0201);
  });
  EXPECT_EQ(Returned16, 0x3C03);
  EXPECT_EQ(Returned32, 0x00FC0201u);
  EXPECT_EQ(Board.lpcConfig().read16(0x82), 0x3C03);
  EXPECT_EQ(Board.lpcConfig().read32(0x8C), 0x00FC0201u);
  EXPECT_EQ(Board.lpcConfig().read16(0x80), 0); // the neighbour of a 16-bit write is untouched
}

// Registers from 0x100 up cannot be expressed on the ports (the packing would reach offset
// & 0xFC, the command register for 0x204); they take one memory access of the same width.
TEST(PciConfig, ExtendedRegistersUseOneEcamAccessAndLeaveInterruptsAlone) {
  struct Case {
    std::function<void()> Access;
    std::string Expected;
  };
  const Case Cases[] = {
      {[] { PciCfgRead16(Bridge + 0x200); }, "RD16 0xE00F8200 0x1234"},
      {[] { PciCfgWrite16(Bridge + 0x240, 0x0C00); }, "WR16 0xE00F8240 0x0C00"},
      {[] { PciCfgRead32(Bridge + 0x204); }, "RD32 0xE00F8204 0x00000000"},
      {[] { PciCfgWrite32(Bridge + 0x244, 0x00FC0A01); }, "WR32 0xE00F8244 0x00FC0A01"},
      {[] { PciCfgRead32(Bridge + 0xFFC); }, "RD32 0xE00F8FFC 0x00000000"},
  };
  for (const Case &Each : Cases) {
    sim::Scenario Settings;
    Settings.LpcConfig[0x200] = {0x1234, 2};
    sim::Board Board(Settings);
    sim::RunOnBoard(Board, Each.Access);
    EXPECT_EQ(Lines(Board), std::vector<std::string>{Each.Expected});
  }
  sim::Board Board;
  sim::RunOnBoard(Board, [] { PciCfgWrite32(Bridge + 0x204, 0x00000A01); });
  EXPECT_EQ(Board.lpcConfig().read32(0x204), 0x00000A01u);
  EXPECT_EQ(Board.lpcConfig().read32(0x004), 0u) << "command register must stay untouched";
}

} // namespace
