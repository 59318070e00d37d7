#include "Board.h"
#include "HwAccess.h"
#include "TraceText.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using sim::test::Lines;

struct DefaultCase {
  const char *Name;
  std::function<void()> Body;
  std::vector<std::string> Expected;
};

// The board's fixed defaults: every trace taken from them is the same.
TEST(SimBoard, DefaultDevicesAnswerAsTheBoardDoes) {
  const DefaultCase Cases[] = {
      {"cpu flags and interrupt flag",
       [] {
         ReadFlags();
         DisableInterrupts();
         ReadFlags();
         EnableInterrupts();
         CpuPause();
       },
       {"FLAGS 0x00000202", "CLI", "FLAGS 0x00000002", "STI", "PAUSE"}},
      {"time-stamp counter counts reads",
       [] {
         ReadTimeStampCounter();
         ReadTimeStampCounter();
       },
       {"RDTSC 0x0000000000000001", "RDTSC 0x0000000000000002"}},
      {"address latch reads back",
       [] {
         PortRead32(0xCF8);
         PortWrite32(0xCF8, 0x8000F880);
         PortRead32(0xCF8);
       },
       {"IN32 0x0CF8 0x00000000", "OUT32 0x0CF8 0x8000F880", "IN32 0x0CF8 0x8000F880"}},
      {"data port without enable bit reads all ones",
       [] {
         PortWrite32(0xCF8, 0x0000F880);
         PortRead16(0xCFE);
       },
       {"OUT32 0x0CF8 0x0000F880", "IN16 0x0CFE 0xFFFF"}},
      {"bridge space by port, byte lanes by port offset",
       [] {
         PortWrite32(0xCF8, 0x8000F880);
         PortWrite16(0xCFE, 0x3C03);
         PortRead8(0xCFF);
         PortRead32(0xCFC);
       },
       {"OUT32 0x0CF8 0x8000F880", "OUT16 0x0CFE 0x3C03", "IN8 0x0CFF 0x3C",
        "IN32 0x0CFC 0x3C030000"}},
      {"other function: writes dropped, reads all ones",
       [] {
         PortWrite32(0xCF8, 0x8000F980);
         PortWrite32(0xCFC, 0x12345678);
         PortRead32(0xCFC);
         PortWrite32(0xCF8, 0x8000F880);
         PortRead32(0xCFC);
       },
       {"OUT32 0x0CF8 0x8000F980", "OUT32 0x0CFC 0x12345678", "IN32 0x0CFC 0xFFFFFFFF",
        "OUT32 0x0CF8 0x8000F880", "IN32 0x0CFC 0x00000000"}},
      {"ECAM: bridge window is the config space, the rest all ones",
       [] {
         MmioWrite32(0xE00F8084, 0x0000006D);
         PortWrite32(0xCF8, 0x8000F884);
         PortRead32(0xCFC);
         MmioRead32(0xE0000000);
         MmioRead16(0xE00F9000);
       },
       {"WR32 0xE00F8084 0x0000006D", "OUT32 0x0CF8 0x8000F884", "IN32 0x0CFC 0x0000006D",
        "RD32 0xE0000000 0xFFFFFFFF", "RD16 0xE00F9000 0xFFFF"}},
      {"PM timer returns then advances",
       [] {
         PortRead32(0x1808);
         PortRead32(0x1808);
       },
       {"IN32 0x1808 0x00000000", "IN32 0x1808 0x00000001"}},
      {"private-configuration window is memory",
       [] {
         MmioWrite16(0xFD882774, 0x3C03);
         MmioRead16(0xFD882774);
         MmioRead32(0xFD88FFFC);
       },
       {"WR16 0xFD882774 0x3C03", "RD16 0xFD882774 0x3C03", "RD32 0xFD88FFFC 0x00000000"}},
      {"SPI configuration window has the device ID",
       [] {
         MmioRead16(0xFE033002);
         MmioRead32(0xFE033000);
         MmioRead16(0xFE033004);
       },
       {"RD16 0xFE033002 0x4B2B", "RD32 0xFE033000 0x4B2B0000", "RD16 0xFE033004 0x0000"}},
      {"SPI registers: constants, data records frames and reads 0",
       [] {
         MmioRead32(0xFE032008);
         MmioWrite32(0xFE032010, 0x0700);
         MmioRead32(0xFE032010);
         MmioWrite32(0xFE032040, 7);
         MmioRead32(0xFE032040);
       },
       {"RD32 0xFE032008 0x00000004", "WR32 0xFE032010 0x00000700", "RD32 0xFE032010 0x00000000",
        "WR32 0xFE032040 0x00000007", "RD32 0xFE032040 0x00000007"}},
      {"everything else reads all ones",
       [] {
         PortRead8(0x80);
         PortRead16(0x1234);
         MmioRead32(0x1000);
         PortWrite8(0x80, 0x55);
       },
       {"IN8 0x0080 0xFF", "IN16 0x1234 0xFFFF", "RD32 0x00001000 0xFFFFFFFF", "OUT8 0x0080 0x55"}},
  };
  for (const DefaultCase &Case : Cases) {
    sim::Board Board;
    sim::RunOnBoard(Board, Case.Body);
    EXPECT_EQ(Lines(Board), Case.Expected) << Case.Name;
  }
}

TEST(SimBoard, DevicesKeepWhatTheyReceived) {
  sim::Board Board;
  Board.startAfterEarlyInit();
  sim::RunOnBoard(Board, [] {
    PortWrite8(0x3F8, 'o');
    PortWrite8(0x3F8, 'k');
    PortWrite8(0x2E, 0x07);
    PortWrite8(0x2F, 0x0D);
    MmioWrite32(0xFE032010, 0x0401);
  });
  EXPECT_EQ(Board.serialOutput(), "ok");
  const std::vector<std::pair<std::uint16_t, std::uint8_t>> SuperIo = {{0x2E, 0x07}, {0x2F, 0x0D}};
  EXPECT_EQ(Board.superIoWrites(), SuperIo);
  EXPECT_EQ(Board.spiFrames(), std::vector<std::uint32_t>{0x0401});
}

TEST(SimBoard, ScenarioPresetsAndTimerWrap) {
  sim::Scenario Settings;
  Settings.PmTimerStart = 0xFFFFFF;
  Settings.LpcConfig[0x82] = {0x1000, 2};
  Settings.PcrWindow[0x2730] = {0x0000006D, 4};
  Settings.Spi.Presence = sim::SpiPresence::Dead;
  sim::Board Board(Settings);
  sim::RunOnBoard(Board, [] {
    PortRead32(0x1808);
    PortRead32(0x1808);
    MmioRead32(0xE00F8080);
    MmioRead32(0xFD882730);
    MmioRead32(0xFE032000);
  });
  EXPECT_EQ(Lines(Board),
            (std::vector<std::string>{"IN32 0x1808 0x00FFFFFF", "IN32 0x1808 0x00000000",
                                      "RD32 0xE00F8080 0x10000000", "RD32 0xFD882730 0x0000006D",
                                      "RD32 0xFE032000 0xFFFFFFFF"}));
}

TEST(SimBoard, StepBudgetStopsASpinAndKeepsTheLastAccesses) {
  // Kept or not, the trace does not decide what a hung run reports: its last accesses (never
  // annotations) and the call it was in.
  for (const bool Keep : {true, false}) {
    sim::Scenario Settings;
    Settings.MaxSteps = 100;
    Settings.RecordTrace = Keep;
    sim::Board Board(Settings);
    Board.startAfterEarlyInit();
    std::size_t Observed = 0;
    Board.addObserver([&](const sim::TraceRecord &) { ++Observed; });
    const sim::RunOutcome Outcome = sim::RunOnBoard(Board, [&] {
      Board.enterCall(sim::DxeEntryCall{});
      while ((PortRead8(0x3FD) & 0x80) == 0) {
        Board.annotate("still waiting");
        CpuPause();
      }
    });
    EXPECT_TRUE(Outcome.Hung);
    EXPECT_EQ(Board.steps(), 101u);
    EXPECT_EQ(Board.trace().size(), Keep ? Observed : 0u);
    ASSERT_EQ(Outcome.LastAccesses.size(), 16u);
    for (const sim::TraceRecord &Record : Outcome.LastAccesses) {
      EXPECT_NE(Record.Kind, sim::AccessKind::Note);
    }
    EXPECT_EQ(sim::FormatRecord(Outcome.LastAccesses.back()),
              "IN8 0x03FD 0x60  ; UART line status");
    ASSERT_EQ(Outcome.Running.size(), 1u);
    EXPECT_EQ(sim::CallText(Outcome.Running[0]), "BoardInitDxeEntry(ImageHandle, SystemTable)");
  }
}

// Each call as the trace prints it once it returned: the operation's arguments, its status at the
// width of the module that returns it (a 32-bit error keeps its name), what a service stored.
TEST(SimBoard, CallRecordsPrintArgumentsAndStatusAtTheirModulesWidth) {
  constexpr EFI_GUID SmmBase2 = {
      0xF4CCBFB7, 0xF6E0, 0x47FD, {0x9D, 0xD4, 0x10, 0xA8, 0xF1, 0x50, 0xC1, 0x91}};
  using Instance = sim::InSmmCall::Instance;
  struct Case {
    sim::Operation Made;
    std::uint64_t Status;
    std::string Expected;
  };
  const Case Cases[] = {
      {sim::PeiEntryCall{}, 0,
       "BoardInitPeiEntry(FileHandle, PeiServices) -> EFI_SUCCESS (0x00000000)"},
      {sim::SetIoDecodeCall{0x3F8, 0, 6}, 0x80000003,
       "SetIoDecode(0x03F8, 0x00, 0x00000006) -> EFI_UNSUPPORTED (0x80000003)"},
      {sim::SetGenericIoRangeCall{0xA00, 0x190}, 0x80000009,
       "SetGenericIoRange(0x0A00, 0x0190) -> EFI_OUT_OF_RESOURCES (0x80000009)"},
      // The 64-bit encoding of an error is no 32-bit status: no name.
      {sim::SetGenericIoRangeCall{0x6C, 2}, 0x8000000000000003,
       "SetGenericIoRange(0x006C, 0x0002) -> status (0x8000000000000003)"},
      // Nor is the 32-bit encoding a 64-bit one.
      {sim::DxeEntryCall{}, 0x8000000E,
       "BoardInitDxeEntry(ImageHandle, SystemTable) -> status (0x000000008000000E)"},
      {sim::DxeEntryCall{}, 0x8000000000000007,
       "BoardInitDxeEntry(ImageHandle, SystemTable) -> EFI_DEVICE_ERROR (0x8000000000000007)"},
      {sim::LocateProtocolCall{SmmBase2, false, true, false}, 0x800000000000000E,
       "LocateProtocol({F4CCBFB7-F6E0-47FD-9DD4-10A8F150C191}, NULL, Interface) -> EFI_NOT_FOUND "
       "(0x800000000000000E)"},
      {sim::LocateProtocolCall{std::nullopt, true, false, true}, 0,
       "LocateProtocol(NULL, Registration, NULL) -> EFI_SUCCESS (0x0000000000000000); hands back "
       "NULL"},
      {sim::InSmmCall{Instance::SmmBase2, true, true}, 0,
       "InSmm(SmmBase2, InSmram) -> EFI_SUCCESS (0x0000000000000000); stores TRUE"},
      {sim::InSmmCall{Instance::Other, false, std::nullopt}, 0x8000000000000002,
       "InSmm(This, NULL) -> EFI_INVALID_PARAMETER (0x8000000000000002)"},
  };
  for (const Case &Each : Cases) {
    const sim::CallRecord Call{Each.Made, 0, Each.Status};
    EXPECT_EQ(sim::CallText(Call) + " -> " + sim::ResultText(Call), Each.Expected);
  }
}

TEST(SimBoard, TraceCommentsNameTheRegisters) {
  sim::Board Board;
  sim::RunOnBoard(Board, [] {
    PortWrite32(0xCF8, 0x8000F880);
    PortRead16(0xCFE);
    MmioRead16(0xFD882774);
    MmioRead32(0xFE032008);
    MmioRead32(0xE00F8204);
  });
  Board.annotate("LocateProtocol -> EFI_NOT_FOUND");
  EXPECT_EQ(sim::FormatTrace(Board.trace()), "OUT32 0x0CF8 0x8000F880  ; PCI address\n"
                                             "IN16 0x0CFE 0x0000  ; I/O Enables\n"
                                             "RD16 0xFD882774 0x0000  ; I/O Enables mirror\n"
                                             "RD32 0xFE032008 0x00000004  ; SPI status\n"
                                             "RD32 0xE00F8204 0x00000000  ; eSPI CS2 Generic I/O "
                                             "Range (ECAM)\n"
                                             "# LocateProtocol -> EFI_NOT_FOUND\n");
  EXPECT_EQ(sim::CountAccesses(Board.trace()), 5u);
}

} // namespace

namespace {

// A bridge register preset through the ECAM window, as a test row gives it.
struct BridgePreset {
  std::uint32_t Offset;
  std::uint32_t Value;
  unsigned Width;
};

struct RouteCase {
  const char *Name;
  bool AfterEarlyInit; // the bridge as BoardInitPei leaves the default board
  std::vector<BridgePreset> Bridge;
  std::function<void()> Body;
  std::vector<std::string> Expected; // with comments
  std::string Serial;                // what the UART sent
  std::uint64_t LostBytes;           // transmit writes that reached no UART
  std::uint64_t SuperIoReached;      // accesses that reached the Super I/O chip
};

} // namespace

// Devices behind the LPC bridge see a cycle only when the bridge decodes its port to the LPC bus;
// otherwise a read floats high and a write reaches nothing. Devices inside the PCH answer
// whatever the bridge decodes.
TEST(SimBoard, DevicesBehindTheBridgeSeeOnlyWhatItDecodesToThem) {
  const auto UartAndSuperIo = [] {
    PortRead8(0x3FD);
    PortWrite8(0x3F8, 'A');
    PortWrite8(0x2E, 0x87);
    PortRead8(0x2F);
  };
  const RouteCase Cases[] = {
      {"after early init: COM A and 0x2E decoded to LPC",
       true,
       {},
       UartAndSuperIo,
       {"IN8 0x03FD 0x60  ; UART line status", "OUT8 0x03F8 0x41  ; UART transmit",
        "OUT8 0x002E 0x87  ; Super I/O index", "IN8 0x002F 0xFF  ; Super I/O data"},
       "A",
       0,
       2},
      {"at reset nothing behind the bridge is decoded",
       false,
       {},
       UartAndSuperIo,
       {"IN8 0x03FD 0xFF  ; UART line status (not decoded: reached no device)",
        "OUT8 0x03F8 0x41  ; UART transmit (not decoded: reached no device)",
        "OUT8 0x002E 0x87  ; Super I/O index (not decoded: reached no device)",
        "IN8 0x002F 0xFF  ; Super I/O data (not decoded: reached no device)"},
       "",
       1,
       0},
      {"COM A decoded to eSPI CS1 only: the UART on LPC never sees it",
       false,
       {{0x80, 0x0000, 2}, {0xA0, 0x0001, 2}},
       [] { PortWrite8(0x3F8, 'A'); },
       {"OUT8 0x03F8 0x41  ; UART transmit (decoded to another target: reached no device)"},
       "",
       1,
       0},
      {"0x2E claimed by LPC and eSPI CS1: the fixed decoder of the primary target takes it",
       false,
       {{0x82, 0x1000, 2}, {0xA0, 0x1000, 2}},
       [] { PortWrite8(0x2E, 0x87); },
       {"OUT8 0x002E 0x87  ; Super I/O index"},
       "",
       0,
       1},
      {"a generic window on LPC at 0x2C holds 0x2E",
       false,
       {{0x84, 0x0000002D, 4}},
       [] { PortWrite8(0x2E, 0x87); },
       {"OUT8 0x002E 0x87  ; Super I/O index"},
       "",
       0,
       1},
      {"a fixed decoder on CS1 beats an LPC window: the cycle goes to CS1",
       false,
       {{0xA0, 0x1000, 2}, {0x84, 0x0000002D, 4}},
       [] { PortWrite8(0x2E, 0x87); },
       {"OUT8 0x002E 0x87  ; Super I/O index (decoded to another target: reached no device)"},
       "",
       0,
       0},
      // The PCH's own devices are not behind the bridge.
      {"PM timer and PCI ports answer at reset",
       false,
       {},
       [] {
         PortRead32(0x1808);
         PortWrite32(0xCF8, 0x8000F880);
         PortRead16(0xCFC);
       },
       {"IN32 0x1808 0x00000000  ; PM timer", "OUT32 0x0CF8 0x8000F880  ; PCI address",
        "IN16 0x0CFC 0x0000  ; I/O Decode Ranges"},
       "",
       0,
       0},
  };
  for (const RouteCase &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    sim::Scenario Settings;
    for (const BridgePreset &Each : Case.Bridge) {
      Settings.LpcConfig[Each.Offset] = {Each.Value, Each.Width};
    }
    sim::Board Board(Settings);
    if (Case.AfterEarlyInit) {
      Board.startAfterEarlyInit();
    }
    sim::RunOnBoard(Board, Case.Body);
    EXPECT_EQ(sim::test::LinesWithComments(Board), Case.Expected);
    EXPECT_EQ(Board.serialOutput(), Case.Serial);
    EXPECT_EQ(Board.deliveries(sim::DeviceId::Uart).LostBytes, Case.LostBytes);
    EXPECT_EQ(Board.deliveries(sim::DeviceId::SuperIo).Reached, Case.SuperIoReached);
  }
}

// The chip takes configuration only between its entry key and the leave bit; the index port
// chooses the register, logical-device select the device whose registers follow.
TEST(SimBoard, SuperIoChipTakesConfigurationOnlyInConfigurationMode) {
  sim::Board Board;
  Board.startAfterEarlyInit();
  sim::RunOnBoard(Board, [] {
    PortWrite8(0x2F, 0x11); // data before the key: ignored
    for (const std::uint8_t Key : {0x87, 0x01, 0x55, 0x55}) {
      PortWrite8(0x2E, Key);
    }
    PortWrite8(0x2E, 0x07);
    PortWrite8(0x2F, 0x0D);
    PortWrite8(0x2E, 0x30);
    PortWrite8(0x2F, 0x01);
    PortWrite8(0x2E, 0x70);
    PortWrite8(0x2F, 0x1A);
    PortRead8(0x2F); // reads back the interrupt select in configuration mode
    PortWrite8(0x2E, 0x02);
    PortWrite8(0x2F, 0x02); // leave
    PortWrite8(0x2E, 0x30);
    PortWrite8(0x2F, 0x00); // after leaving: ignored
  });
  const sim::SuperIoChip &Chip = Board.superIo();
  EXPECT_FALSE(Chip.inConfigMode());
  EXPECT_EQ(Chip.entries(), 1u);
  EXPECT_EQ(Chip.exits(), 1u);
  EXPECT_EQ(Chip.ignoredWrites(), 3u);
  const sim::SuperIoChip::Registers Device0D = {{0x30, 0x01}, {0x70, 0x1A}};
  ASSERT_EQ(Chip.logicalDevices().size(), 1u);
  EXPECT_EQ(Chip.logicalDevices().at(0x0D), Device0D);
  EXPECT_EQ(sim::test::Lines(Board).at(11), "IN8 0x002F 0x1A");
}

// The bridge and mirrors a driver run starts from are those BoardInitPei leaves on the default
// board: I/O Decode Ranges 0x0070, I/O Enables 0x3C03, windows at 0x6C, 0x280, 0x200, 0xA00.
TEST(SimBoard, DriverPhaseStartsFromTheEarlyPhasesBridge) {
  sim::Board Board;
  Board.startAfterEarlyInit();
  EXPECT_EQ(Board.lpcConfig().read16(0x80), 0x0070);
  EXPECT_EQ(Board.lpcConfig().read16(0x82), 0x3C03);
  EXPECT_EQ(Board.pcr().read16(0x2770), 0x0070);
  EXPECT_EQ(Board.pcr().read16(0x2774), 0x3C03);
  const std::uint32_t Windows[] = {0x0000006D, 0x00000281, 0x00FC0201, 0x00FC0A01};
  for (std::uint32_t Slot = 0; Slot < 4; ++Slot) {
    EXPECT_EQ(Board.lpcConfig().read32(0x84 + 4 * Slot), Windows[Slot]) << Slot;
    EXPECT_EQ(Board.pcr().read32(0x2730 + 4 * Slot), Windows[Slot]) << Slot;
  }
}
