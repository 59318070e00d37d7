#include "HostBuildRuns.h"
#include "RegisterOps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Status values as the module reports them, 32 bits wide.
constexpr std::uint32_t EfiSuccess = 0;
constexpr std::uint32_t EfiUnsupported = 0x80000003;

using pei::test::CountWrites;
using pei::test::Op;
using pei::test::RegisterOps;

constexpr std::uint32_t DecodeRanges = 0x80;
constexpr std::uint32_t Enables = 0x82;
constexpr std::uint32_t DecodeMirror = 0x2770;
constexpr std::uint32_t EnablesMirror = 0x2774;

std::uint32_t Decode(sim::Board &Board, std::uint16_t Port, std::uint8_t Size,
                     std::uint32_t Attributes) {
  const DecodeRequestRow Row{Port, Size, 0, Attributes};
  const runs::RunResult Result = runs::HostBuild().runDecodeRequests(Board, {&Row, 1});
  EXPECT_FALSE(Result.Hung);
  return static_cast<std::uint32_t>(Result.Statuses.at(0));
}

// Decode ranges and enables, each with its mirror holding the same value.
sim::Scenario Registers(std::uint16_t Ranges, std::uint16_t EnableBits) {
  sim::Scenario Settings;
  Settings.LpcConfig[DecodeRanges] = {Ranges, 2};
  Settings.LpcConfig[Enables] = {EnableBits, 2};
  Settings.PcrWindow[DecodeMirror] = {Ranges, 2};
  Settings.PcrWindow[EnablesMirror] = {EnableBits, 2};
  return Settings;
}

TEST(IoDecode, BoardTableFromClearedRegistersGivesTheWorkedResult) {
  sim::Board Board;
  const runs::RunResult Result =
      runs::HostBuild().runDecodeRequests(Board, sim::BoardDecodeTable());
  ASSERT_FALSE(Result.Hung);
  EXPECT_EQ(Result.Statuses, std::vector<std::uint64_t>(10, EfiSuccess));
  EXPECT_EQ(Board.lpcConfig().read16(DecodeRanges), 0x0070);
  EXPECT_EQ(Board.pcr().read16(DecodeMirror), 0x0070);
  EXPECT_EQ(Board.lpcConfig().read16(Enables), 0x3C03);
  EXPECT_EQ(Board.pcr().read16(EnablesMirror), 0x3C03);
  const std::uint32_t Slots[] = {0x0000006D, 0x00000281, 0x00FC0201, 0x00FC0A01};
  for (std::uint32_t Slot = 0; Slot < 4; ++Slot) {
    EXPECT_EQ(Board.lpcConfig().read32(0x84 + 4 * Slot), Slots[Slot]) << "slot " << Slot;
    EXPECT_EQ(Board.pcr().read32(0x2730 + 4 * Slot), Slots[Slot]) << "slot " << Slot;
  }
}

struct FieldCase {
  const char *Name;
  std::uint16_t Port;
  std::uint8_t Size;
  std::uint32_t Attributes;
  std::uint16_t RangesBefore;
  std::uint16_t EnablesBefore;
  std::uint16_t RangesAfter;
  std::uint16_t EnablesAfter;
};

// Each register and its mirror start alike and must end alike.
TEST(IoDecode, DeviceRequestsSetTheirRangeFieldAndEnableBits) {
  const FieldCase Cases[] = {
      {"COM A field replaced, other bits kept", 0x220, 0, 0x06, 0xFFFF, 0, 0xFFFA, 0x0001},
      {"COM B field replaced", 0x338, 1, 0x06, 0xFFFF, 0x8000, 0xFFEF, 0x8002},
      {"COM B 0x238 is list position 4", 0x238, 1, 0x06, 0, 0, 0x0040, 0x0002},
      {"standard COM B opens all four", 0x2F8, 1, 0x06, 0, 0, 0x0070, 0x0003},
      {"standard COM A over both fields", 0x2E8, 0, 0x06, 0xFFFF, 0, 0xFFF8, 0x0003},
      {"parallel 0x3BC", 0x3BC, 0, 0x07, 0, 0, 0x0200, 0x0004},
      {"parallel field replaced", 0x278, 0, 0x07, 0xFFFF, 0, 0xFDFF, 0x0004},
      {"floppy 0x370", 0x370, 0, 0x01, 0, 0, 0x1000, 0x0008},
      {"floppy 0x3F0 clears the field", 0x3F0, 0, 0x01, 0xFFFF, 0, 0xEFFF, 0x0008},
      {"keyboard type 5, any port", 0x1234, 0, 0x05, 0, 0, 0, 0x0400},
      {"keyboard type 3, port 0x60", 0x60, 0, 0x03, 0, 0, 0, 0x0400},
      {"keyboard type 4, port 0x64", 0x64, 0, 0x04, 0, 0, 0, 0x0400},
      {"game port 0x208", 0x208, 0, 0x08, 0, 0, 0, 0x0200},
      {"configuration ports 0x4E", 0x4E, 2, 0xFF, 0, 0, 0, 0x2000},
      {"EC block 0x63", 0x63, 2, 0xFF, 0, 0, 0, 0x0800},
      {"EC block 0x64", 0x64, 2, 0xFF, 0, 0, 0, 0x0800},
      {"EC block 0x65", 0x65, 2, 0xFF, 0, 0, 0, 0x0800},
      // Port 0 clears the device's enables and leaves every range field alone.
      {"floppy off", 0, 0, 0x01, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFF7},
      {"keyboard type 2 off", 0, 0, 0x02, 0xFFFF, 0xFFFF, 0xFFFF, 0xFBFF},
      {"keyboard type 3 off", 0, 0, 0x03, 0xFFFF, 0xFFFF, 0xFFFF, 0xFBFF},
      {"keyboard type 4 off", 0, 0, 0x04, 0xFFFF, 0xFFFF, 0xFFFF, 0xFBFF},
      {"keyboard type 5 off", 0, 0, 0x05, 0xFFFF, 0xFFFF, 0xFFFF, 0xFBFF},
      {"COM A off", 0, 0, 0x06, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFE},
      {"COM B off", 0, 1, 0x06, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFD},
      {"parallel off", 0, 0, 0x07, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFB},
      {"game ports off", 0, 0, 0x08, 0xFFFF, 0xFFFF, 0xFFFF, 0xFCFF},
  };
  for (const FieldCase &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    sim::Board Board(Registers(Case.RangesBefore, Case.EnablesBefore));
    EXPECT_EQ(Decode(Board, Case.Port, Case.Size, Case.Attributes), EfiSuccess);
    EXPECT_EQ(Board.lpcConfig().read16(DecodeRanges), Case.RangesAfter);
    EXPECT_EQ(Board.pcr().read16(DecodeMirror), Case.RangesAfter);
    EXPECT_EQ(Board.lpcConfig().read16(Enables), Case.EnablesAfter);
    EXPECT_EQ(Board.pcr().read16(EnablesMirror), Case.EnablesAfter);
  }
}

TEST(IoDecode, StandardSerialPortsOpenTheWindowAt0x200OnTarget0) {
  sim::Board Board;
  EXPECT_EQ(Decode(Board, 0x3E8, 1, 0x0106), EfiSuccess);
  EXPECT_EQ(Board.lpcConfig().read32(0x84), 0x00FC0201u);
  EXPECT_EQ(Board.pcr().read32(0x2730), 0x00FC0201u);
  EXPECT_EQ(Board.lpcConfig().read32(0xA4), 0u);
}

struct RefusalCase {
  const char *Name;
  std::uint16_t Port;
  std::uint8_t Size;
  std::uint32_t Attributes;
};

// Refused by device type and port before any register is read or written.
TEST(IoDecode, RefusedRequestsMakeNoAccessAtAll) {
  const RefusalCase Cases[] = {
      {"device type 0", 0x3F8, 0, 0x00},
      {"device type 9", 0x3F8, 0, 0x09},
      {"device type 0xFE", 0x2E, 2, 0xFE},
      {"floppy port not listed", 0x3F8, 0, 0x01},
      {"serial selector 2", 0x220, 2, 0x06},
      {"serial selector 2 with port 0", 0, 2, 0x06},
      {"serial selector 2 on a standard port", 0x3F8, 2, 0x06},
      {"serial port not listed", 0x3F0, 0, 0x06},
      {"serial 0x2F9, one above a listed base", 0x2F9, 0, 0x06},
      {"serial 0x3F9, one above the first listed base", 0x3F9, 0, 0x06},
      {"serial 0x2F0, beyond the range field", 0x2F0, 0, 0x06},
      {"serial 0x2E0, beyond the range field", 0x2E0, 1, 0x06},
      {"parallel port not listed", 0x3F8, 0, 0x07},
      {"game port 0x201", 0x201, 0, 0x08},
      {"other device with port 0", 0, 2, 0xFF},
      {"refused before the target test", 0x3F8, 0, 0x0900},
  };
  for (const RefusalCase &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    sim::Board Board;
    EXPECT_EQ(Decode(Board, Case.Port, Case.Size, Case.Attributes), EfiUnsupported);
    EXPECT_EQ(sim::CountAccesses(Board.trace()), 0u);
  }
}

// Targets 4 to 15 have no enables register: the first, one past chip select 3, and a later one.
TEST(IoDecode, TargetBeyondChipSelectsWritesRangesButNotEnables) {
  for (const std::uint32_t Attributes : {0x0406u, 0x0906u}) {
    SCOPED_TRACE(Attributes >> 8);
    sim::Board Board(Registers(0x0000, 0x1000));
    EXPECT_EQ(Decode(Board, 0x220, 0, Attributes), EfiUnsupported);
    const std::vector<std::string> Expected = {
        Op("CFG", false, 2, 0x080, 0x0000), Op("CFG", true, 2, 0x080, 0x0002),
        Op("PCR", false, 2, 0x2770, 0x0000), Op("PCR", true, 2, 0x2770, 0x0002)};
    EXPECT_EQ(RegisterOps(Board), Expected);
    EXPECT_EQ(Board.lpcConfig().read16(Enables), 0x1000);
    EXPECT_EQ(Board.pcr().read16(EnablesMirror), 0x1000);
  }
}

TEST(IoDecode, StandardSerialOnTargetBeyondChipSelectsStillOpensTheWindow) {
  sim::Board Board;
  EXPECT_EQ(Decode(Board, 0x3F8, 0, 0x0F06), EfiUnsupported);
  EXPECT_EQ(Board.lpcConfig().read32(0x84), 0x00FC0201u);
  EXPECT_EQ(Board.lpcConfig().read16(DecodeRanges), 0x0070);
  EXPECT_EQ(Board.lpcConfig().read16(Enables), 0x0000);
  EXPECT_EQ(Board.pcr().read16(EnablesMirror), 0x0000);
}

struct ChipSelectCase {
  const char *Name;
  std::uint16_t Port;
  std::uint8_t Size;
  std::uint32_t Attributes;
  std::uint16_t PrimaryBefore;
  std::uint16_t ChipSelectBefore;
  std::uint16_t MirrorBefore;
  std::uint16_t BothAfter;
  std::uint16_t MirrorAfter;
};

// A chip select's enables and offset 0x82 end up as one union; the mirror gets only the change.
TEST(IoDecode, ChipSelectEnablesShareBitsWithThePrimaryRegister) {
  const ChipSelectCase Cases[] = {
      {"COM A on CS1", 0x220, 0, 0x0106, 0x1000, 0x0004, 0x1000, 0x1005, 0x1001},
      {"port 0 cannot clear a primary bit", 0, 0, 0x0101, 0x0008, 0x0008, 0x0008, 0x0008, 0x0000},
      {"port 0 clears a CS1-only bit", 0, 0, 0x0101, 0x0000, 0x0008, 0x0008, 0x0000, 0x0000},
      {"CS1 and primary bits are merged", 0x2E, 2, 0x01FF, 0x0400, 0x2000, 0x0000, 0x3400, 0x1000},
      // Floppy off where no floppy bit is set: the request itself changes nothing.
      {"a no-op request still merges both ways", 0, 0, 0x0101, 0x1000, 0x0004, 0x1000, 0x1004,
       0x1000},
      {"chip select 2 merges too", 0x2E, 2, 0x02FF, 0x0400, 0x2000, 0x0000, 0x3400, 0x1000},
      {"chip select 3 merges too", 0x2E, 2, 0x03FF, 0x0400, 0x2000, 0x0000, 0x3400, 0x1000},
  };
  for (const ChipSelectCase &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    sim::Scenario Settings;
    Settings.LpcConfig[Enables] = {Case.PrimaryBefore, 2};
    // The enables register of chip select 1, 2 or 3.
    const std::uint32_t ChipSelectEnables[] = {0, 0xA0, 0x200, 0x240};
    const std::uint32_t ChipSelect = ChipSelectEnables[(Case.Attributes >> 8) & 0xF];
    Settings.LpcConfig[ChipSelect] = {Case.ChipSelectBefore, 2};
    Settings.PcrWindow[EnablesMirror] = {Case.MirrorBefore, 2};
    sim::Board Board(Settings);
    EXPECT_EQ(Decode(Board, Case.Port, Case.Size, Case.Attributes), EfiSuccess);
    EXPECT_EQ(Board.lpcConfig().read16(Enables), Case.BothAfter);
    EXPECT_EQ(Board.lpcConfig().read16(ChipSelect), Case.BothAfter);
    EXPECT_EQ(Board.pcr().read16(EnablesMirror), Case.MirrorAfter);
  }
}

TEST(IoDecode, ChipSelectsTwoAndThreeReachTheirEnablesThroughEcam) {
  for (const std::uint32_t Target : {2u, 3u}) {
    SCOPED_TRACE(Target);
    const std::uint32_t Register = Target == 2 ? 0x200 : 0x240;
    sim::Scenario Settings;
    Settings.LpcConfig[Enables] = {0x0400, 2};
    sim::Board Board(Settings);
    EXPECT_EQ(Decode(Board, 0x4E, 2, Target << 8 | 0xFF), EfiSuccess);
    const std::vector<std::string> Ops = RegisterOps(Board);
    const std::vector<std::string> Enabling(Ops.begin() + 4, Ops.end());
    const std::vector<std::string> Expected = {
        Op("ECAM", false, 2, Register, 0x0000), Op("CFG", false, 2, 0x082, 0x0400),
        Op("CFG", true, 2, 0x082, 0x2400),      Op("ECAM", true, 2, Register, 0x2400),
        Op("PCR", false, 2, 0x2774, 0x0000),    Op("PCR", true, 2, 0x2774, 0x2000)};
    EXPECT_EQ(Enabling, Expected);
  }
}

// Generic window first, then ranges and their mirror, then the enables and their mirror.
TEST(IoDecode, FullCallOnTarget0AccessesRegistersInOrder) {
  sim::Board Board(Registers(0x0010, 0x0001));
  EXPECT_EQ(Decode(Board, 0x6C, 2, 0x00FF), EfiSuccess);
  const std::vector<std::string> Expected = {
      Op("CFG", false, 4, 0x084, 0x00000000), Op("CFG", true, 4, 0x084, 0x0000006D),
      Op("PCR", true, 4, 0x2730, 0x0000006D), Op("CFG", false, 2, 0x080, 0x0010),
      Op("CFG", true, 2, 0x080, 0x0010),      Op("PCR", false, 2, 0x2770, 0x0010),
      Op("PCR", true, 2, 0x2770, 0x0010),     Op("CFG", false, 2, 0x082, 0x0001),
      Op("CFG", true, 2, 0x082, 0x0001),      Op("PCR", false, 2, 0x2774, 0x0001),
      Op("PCR", true, 2, 0x2774, 0x0001)};
  EXPECT_EQ(RegisterOps(Board), Expected);
}

TEST(IoDecode, FullCallOnTarget1AccessesRegistersInOrder) {
  sim::Scenario Settings;
  Settings.LpcConfig[Enables] = {0x0400, 2};
  Settings.LpcConfig[0xA0] = {0x0001, 2};
  Settings.PcrWindow[EnablesMirror] = {0x0400, 2};
  sim::Board Board(Settings);
  EXPECT_EQ(Decode(Board, 0x2E, 2, 0x01FF), EfiSuccess);
  const std::vector<std::string> Expected = {
      Op("CFG", false, 2, 0x080, 0x0000),  Op("CFG", true, 2, 0x080, 0x0000),
      Op("PCR", false, 2, 0x2770, 0x0000), Op("PCR", true, 2, 0x2770, 0x0000),
      Op("CFG", false, 2, 0x0A0, 0x0001),  Op("CFG", false, 2, 0x082, 0x0400),
      Op("CFG", true, 2, 0x082, 0x1401),   Op("CFG", true, 2, 0x0A0, 0x1401),
      Op("PCR", false, 2, 0x2774, 0x0400), Op("PCR", true, 2, 0x2774, 0x1400)};
  EXPECT_EQ(RegisterOps(Board), Expected);
}

TEST(IoDecode, WindowOnTarget1WithSizeZeroGoesTo256BytesOnTarget0) {
  sim::Board Board;
  EXPECT_EQ(Decode(Board, 0xA00, 0, 0x01FF), EfiSuccess);
  EXPECT_EQ(Board.lpcConfig().read32(0x84), 0x00FC0A01u);
  EXPECT_EQ(Board.lpcConfig().read32(0xA4), 0u);
  // Window and its mirror, ranges and its mirror, 0x82, 0xA0, the enables mirror.
  EXPECT_EQ(CountWrites(Board), 7u);
}

// A refused window is not the request's failure: ranges and enables are still written.
TEST(IoDecode, RefusedGenericWindowStillSucceeds) {
  struct Case {
    const char *Name;
    bool SlotsTaken;
    std::uint16_t Port;
    std::uint8_t Size;
  };
  const Case Cases[] = {{"size 0 on target 0", false, 0xA00, 0}, {"no slot free", true, 0x280, 2}};
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    sim::Scenario Settings;
    if (Each.SlotsTaken) {
      for (std::uint32_t Slot = 0; Slot < 4; ++Slot) {
        Settings.LpcConfig[0x84 + 4 * Slot] = {0x00000301 + 0x100 * Slot, 4};
      }
    }
    sim::Board Board(Settings);
    EXPECT_EQ(Decode(Board, Each.Port, Each.Size, 0x00FF), EfiSuccess);
    for (std::uint32_t Slot = 0; Slot < 4; ++Slot) {
      EXPECT_EQ(Board.pcr().read32(0x2730 + 4 * Slot), 0u);
    }
    EXPECT_EQ(CountWrites(Board), 4u); // ranges, its mirror, enables, its mirror
  }
}

} // namespace
