// QEMU's access log read as accesses, cut by the boot program's markers, and compared with the
// host build's run answered from it.
#include "QemuTraceLog.h"
#include "Board.h"
#include "HostBuildRuns.h"
#include "Q35Comparison.h"
#include "RunRecord.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

namespace {

using sim::AccessKind;

struct LineCase {
  const char *Name;
  const char *Line;
  bool IsAccess;
  AccessKind Kind;
  unsigned Width;
  std::uint64_t Address;
  std::uint64_t Value;
  bool ValueLogged;
  const char *Region;
};

// Each case shows as its name in the test list.
void PrintTo(const LineCase &Case, std::ostream *Out) {
  *Out << Case.Name;
}

const LineCase LineCases[] = {
    {"PortRead",
     "memory_region_ops_read cpu 0 mr 0x5584b03e8e10 addr 0x1808 value 0xad4b4 size 4 "
     "name 'acpi-tmr'",
     true, AccessKind::PortIn, 4, 0x1808, 0xad4b4, true, "acpi-tmr"},
    {"PortWriteOfPciLatch",
     "memory_region_ops_write cpu 0 mr 0x5584afe803d0 addr 0xcf8 value "
     "0x8000f880 size 4 name 'pci-conf-idx'",
     true, AccessKind::PortOut, 4, 0xCF8, 0x8000F880, true, "pci-conf-idx"},
    {"PortJustBelowMemory",
     "memory_region_ops_read cpu 0 mr 0x1 addr 0xffff value 0xff size 1 "
     "name 'io'",
     true, AccessKind::PortIn, 1, 0xFFFF, 0xFF, true, "io"},
    {"DeviceMemoryWrite",
     "memory_region_ops_write cpu 0 mr 0x5584b07cce80 addr 0xfebff004 value "
     "0x80000000 size 4 name 'ahci'",
     true, AccessKind::MemWrite, 4, 0xFEBFF004, 0x80000000, true, "ahci"},
    {"FirstAddressAbovePorts",
     "memory_region_ops_read cpu 1 mr 0x1 addr 0x10000 value 0x0 size 2 "
     "name 'x'",
     true, AccessKind::MemRead, 2, 0x10000, 0, true, "x"},
    {"TimestampPrefix",
     "4242@1765336000.123456:memory_region_ops_write cpu 0 mr 0x1 addr 0x80 "
     "value 0xe1 size 1 name 'ioport80'",
     true, AccessKind::PortOut, 1, 0x80, 0xE1, true, "ioport80"},
    {"UnclaimedRead", "Invalid read at addr 0xFE033002, size 2, region '(null)', reason: rejected",
     true, AccessKind::MemRead, 2, 0xFE033002, q35::UnclaimedReadValue, false, ""},
    {"UnclaimedWrite",
     "Invalid write at addr 0xFD882730, size 4, region '(null)', reason: rejected", true,
     AccessKind::MemWrite, 4, 0xFD882730, 0, false, ""},
    {"MadeByNoProcessor",
     "memory_region_ops_write cpu -1 mr 0x5584afce1ca0 addr 0xfee00000 value "
     "0x0 size 4 name 'apic-msi'",
     false, AccessKind::PortIn, 0, 0, 0, true, ""},
    {"OtherEvent", "memory_region_subpage_read cpu 0 mr 0x1 offset 0x8 value 0x1 size 4", false,
     AccessKind::PortIn, 0, 0, 0, true, ""},
    {"ConsoleText", "QemuBoot: PM timer counting at port 0x1808", false, AccessKind::PortIn, 0, 0,
     0, true, ""},
    {"EmptyLine", "", false, AccessKind::PortIn, 0, 0, 0, true, ""},
};

class LogLine : public testing::TestWithParam<LineCase> {};

TEST_P(LogLine, ReadsAsTheAccessItRecords) {
  const LineCase &Case = GetParam();
  const std::optional<q35::LoggedAccess> Access = q35::ParseLogLine(Case.Line, 7);
  ASSERT_EQ(Access.has_value(), Case.IsAccess);
  if (!Case.IsAccess) {
    return;
  }
  EXPECT_EQ(Access->Kind, Case.Kind);
  EXPECT_EQ(Access->Width, Case.Width);
  EXPECT_EQ(Access->Address, Case.Address);
  EXPECT_EQ(Access->Value, Case.Value);
  EXPECT_EQ(Access->ValueLogged, Case.ValueLogged);
  EXPECT_EQ(Access->Region, Case.Region);
  EXPECT_EQ(Access->Line, 7u);
}

INSTANTIATE_TEST_SUITE_P(QemuTraceLog, LogLine, testing::ValuesIn(LineCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

struct MalformedCase {
  const char *Name;
  const char *Line;
};

// Each case shows as its name in the test list.
void PrintTo(const MalformedCase &Case, std::ostream *Out) {
  *Out << Case.Name;
}

const MalformedCase MalformedCases[] = {
    {"AddressNotHexadecimal",
     "memory_region_ops_read cpu 0 mr 0x1 addr 1808 value 0x0 size 4 name 'acpi-tmr'"},
    {"NoValue", "memory_region_ops_write cpu 0 mr 0x1 addr 0x80 size 1 name 'ioport80'"},
    {"SizeZero", "memory_region_ops_read cpu 0 mr 0x1 addr 0x80 value 0x0 size 0 name 'x'"},
    {"SizeWiderThanAnyAccess",
     "memory_region_ops_read cpu 0 mr 0x1 addr 0x80 value 0x0 size 16 name 'x'"},
    {"NoProcessor", "memory_region_ops_read mr 0x1 addr 0x80 value 0x0 size 1 name 'x'"},
    {"UnclaimedWithoutAddress", "Invalid read at addr FE033002, size 2, region '(null)'"},
};

class MalformedLine : public testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedLine, IsRefusedNamingItsLine) {
  try {
    q35::ParseLogLine(GetParam().Line, 12);
    FAIL() << "accepted";
  } catch (const q35::LogError &Error) {
    EXPECT_EQ(std::string(Error.what()).rfind("line 12: ", 0), 0u) << Error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(QemuTraceLog, MalformedLine, testing::ValuesIn(MalformedCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

std::string Marker(unsigned Value) {
  return "memory_region_ops_write cpu 0 mr 0x1 addr 0x80 value " + sim::HexText(Value, 2) +
         " size 1 name 'ioport80'\n";
}

std::string Uart(unsigned Value) {
  return "memory_region_ops_write cpu 0 mr 0x2 addr 0x3f8 value " + sim::HexText(Value, 2) +
         " size 1 name 'serial'\n";
}

struct CutCase {
  const char *Name;
  std::string Log;
  std::size_t PeiAccesses;
  std::size_t DxeAccesses;
  const char *Error; // a part of the message; nullptr when the cut succeeds
};

// Each case shows as its name in the test list.
void PrintTo(const CutCase &Case, std::ostream *Out) {
  *Out << Case.Name;
}

const CutCase CutCases[] = {
    {"EachModuleBetweenItsMarkers",
     Uart(0x41) + Marker(0xE1) + Uart(1) + Uart(2) + Marker(0xE2) + Uart(0x42) + Marker(0xE3) +
         Uart(3) + Marker(0xE4) + Uart(0x43),
     2, 1, nullptr},
    {"EmptyPhases", Marker(0xE1) + Marker(0xE2) + Marker(0xE3) + Marker(0xE4), 0, 0, nullptr},
    {"MarkerValueAtAnotherPortIsNoMarker",
     Marker(0xE1) + Uart(0xE2) + Marker(0xE2) + Marker(0xE3) + Marker(0xE4), 1, 0, nullptr},
    {"MissingEndMarker", Marker(0xE1) + Uart(1) + Marker(0xE3) + Marker(0xE4), 0, 0,
     "marker 0xE2 (an 8-bit write to port 0x80) is not in the log"},
    {"MarkerTwice", Marker(0xE1) + Marker(0xE1) + Marker(0xE2) + Marker(0xE3) + Marker(0xE4), 0, 0,
     "marker 0xE1 (an 8-bit write to port 0x80) appears twice, at lines 1 and 2"},
    {"EndBeforeStart", Marker(0xE2) + Marker(0xE1) + Marker(0xE3) + Marker(0xE4), 0, 0,
     "marker 0xE2 (an 8-bit write to port 0x80) comes before marker 0xE1"},
    {"DriverBeforeEarlyModuleEnds", Marker(0xE1) + Marker(0xE3) + Marker(0xE2) + Marker(0xE4), 0, 0,
     "marker 0xE3 (an 8-bit write to port 0x80) comes before marker 0xE2"},
};

class Cut : public testing::TestWithParam<CutCase> {};

TEST_P(Cut, KeepsEachModulesAccessesOrNamesTheMarker) {
  const CutCase &Case = GetParam();
  const std::vector<q35::LoggedAccess> Log = q35::ParseLog(Case.Log);
  if (Case.Error == nullptr) {
    const q35::ModuleAccesses Modules = q35::CutByMarkers(Log);
    EXPECT_EQ(Modules.Pei.size(), Case.PeiAccesses);
    EXPECT_EQ(Modules.Dxe.size(), Case.DxeAccesses);
    return;
  }
  try {
    q35::CutByMarkers(Log);
    FAIL() << "cut a log without its markers";
  } catch (const q35::LogError &Error) {
    EXPECT_NE(std::string(Error.what()).find(Case.Error), std::string::npos) << Error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(QemuTraceLog, Cut, testing::ValuesIn(CutCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

q35::LoggedAccess Access(AccessKind Kind, unsigned Width, std::uint64_t Address,
                         std::uint64_t Value, bool Logged = true) {
  q35::LoggedAccess Made;
  Made.Kind = Kind;
  Made.Width = Width;
  Made.Address = Address;
  Made.Value = Value;
  Made.ValueLogged = Logged;
  return Made;
}

TEST(Q35Comparison, AnswersAreEachReadsValueLittleEndianAtItsWidthWritesLeftOut) {
  const std::vector<q35::LoggedAccess> Log = {
      Access(AccessKind::PortOut, 4, 0xCF8, 0x8000F880),
      Access(AccessKind::PortIn, 2, 0xCFE, 0x3C03),
      Access(AccessKind::MemRead, 4, 0xFE032008, 0x11223344),
      Access(AccessKind::MemWrite, 1, 0xFE032010, 0x55),
      Access(AccessKind::PortIn, 1, 0x3FD, 0x60),
      Access(AccessKind::MemRead, 2, 0xFE033002, 0, false),
  };
  EXPECT_EQ(q35::ReadAnswers(Log),
            (std::vector<std::uint8_t>{0x03, 0x3C, 0x44, 0x33, 0x22, 0x11, 0x60, 0x00, 0x00}));
}

sim::TraceRecord Record(AccessKind Kind, unsigned Width, std::uint64_t Address,
                        std::uint64_t Value) {
  sim::TraceRecord Made;
  Made.Kind = Kind;
  Made.Width = Width;
  Made.Address = Address;
  Made.Value = Value;
  Made.Text = "register names are no part of the access";
  return Made;
}

struct DifferenceCase {
  const char *Name;
  std::vector<q35::LoggedAccess> OnQ35;
  std::vector<sim::TraceRecord> OnBoard;
  std::optional<std::size_t> First;
};

// Each case shows as its name in the test list.
void PrintTo(const DifferenceCase &Case, std::ostream *Out) {
  *Out << Case.Name;
}

const std::vector<q35::LoggedAccess> TwoAccesses = {
    Access(AccessKind::PortOut, 4, 0xCF8, 0x8000F880), Access(AccessKind::PortIn, 2, 0xCFC, 0x70)};

const DifferenceCase DifferenceCases[] = {
    {"Same",
     TwoAccesses,
     {Record(AccessKind::PortOut, 4, 0xCF8, 0x8000F880),
      Record(AccessKind::PortIn, 2, 0xCFC, 0x70)},
     std::nullopt},
    {"Value",
     TwoAccesses,
     {Record(AccessKind::PortOut, 4, 0xCF8, 0x8000F884),
      Record(AccessKind::PortIn, 2, 0xCFC, 0x70)},
     0},
    {"Width",
     TwoAccesses,
     {Record(AccessKind::PortOut, 4, 0xCF8, 0x8000F880),
      Record(AccessKind::PortIn, 4, 0xCFC, 0x70)},
     1},
    {"Address",
     TwoAccesses,
     {Record(AccessKind::PortOut, 4, 0xCF8, 0x8000F880),
      Record(AccessKind::PortIn, 2, 0xCFE, 0x70)},
     1},
    {"Direction",
     TwoAccesses,
     {Record(AccessKind::PortOut, 4, 0xCF8, 0x8000F880),
      Record(AccessKind::PortOut, 2, 0xCFC, 0x70)},
     1},
    {"PortAgainstMemory",
     TwoAccesses,
     {Record(AccessKind::MemWrite, 4, 0xCF8, 0x8000F880),
      Record(AccessKind::PortIn, 2, 0xCFC, 0x70)},
     0},
    {"HostBuildStopsEarly", TwoAccesses, {Record(AccessKind::PortOut, 4, 0xCF8, 0x8000F880)}, 1},
    {"HostBuildGoesOn",
     TwoAccesses,
     {Record(AccessKind::PortOut, 4, 0xCF8, 0x8000F880), Record(AccessKind::PortIn, 2, 0xCFC, 0x70),
      Record(AccessKind::PortIn, 2, 0xCFC, 0x70)},
     2},
    {"ValueNotLoggedIsNotCompared",
     {Access(AccessKind::MemWrite, 2, 0xFD882770, 0, false)},
     {Record(AccessKind::MemWrite, 2, 0xFD882770, 0x0405)},
     std::nullopt},
    {"ValueNotLoggedStillComparesWidth",
     {Access(AccessKind::MemWrite, 2, 0xFD882770, 0, false)},
     {Record(AccessKind::MemWrite, 4, 0xFD882770, 0x0405)},
     0},
};

class Difference : public testing::TestWithParam<DifferenceCase> {};

TEST_P(Difference, IsTheFirstRecordWhereTheSequencesPart) {
  const DifferenceCase &Case = GetParam();
  EXPECT_EQ(q35::FirstDifference(Case.OnQ35, Case.OnBoard), Case.First);
}

INSTANTIATE_TEST_SUITE_P(Q35Comparison, Difference, testing::ValuesIn(DifferenceCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// The host build's own run as a q35 log would give it: its accesses, each with its value.
std::vector<q35::LoggedAccess> HostBuildAccesses(sim::RunKind What) {
  sim::Board Board;
  const runs::RunRecord Record = runs::RecordRun(runs::HostBuild(), Board, What);
  std::vector<q35::LoggedAccess> Accesses;
  for (const sim::TraceRecord &Each : Record.Trace) {
    if (sim::IsBusAccess(Each.Kind)) {
      Accesses.push_back(Access(Each.Kind, Each.Width, Each.Address, Each.Value));
    }
  }
  return Accesses;
}

TEST(Q35Comparison, TheHostBuildAnsweredWithItsOwnReadsAgreesWithItself) {
  for (const sim::RunKind What : {sim::RunKind::Pei, sim::RunKind::Dxe}) {
    const q35::PhaseComparison Compared =
        q35::ComparePhase(runs::HostBuild(), What, {}, HostBuildAccesses(What));
    EXPECT_TRUE(Compared.same()) << q35::ReportText(Compared);
    EXPECT_EQ(Compared.AnswerBytesUsed, Compared.AnswerBytes);
  }
}

// A q35 whose SPI controller reads as absent takes the early module down another path: the
// comparison must show it at the access after the device-ID read, with both sides in the report.
TEST(Q35Comparison, AnotherAnswerTakesTheModuleAnotherWayAndTheReportShowsWhere) {
  std::vector<q35::LoggedAccess> Accesses = HostBuildAccesses(sim::RunKind::Pei);
  ASSERT_FALSE(Accesses.empty());
  ASSERT_EQ(Accesses[0].Address, 0xFE033002u); // the SPI device ID
  Accesses[0].Value = 0xFFFF;
  const q35::PhaseComparison Compared =
      q35::ComparePhase(runs::HostBuild(), sim::RunKind::Pei, {}, Accesses);
  ASSERT_FALSE(Compared.same());
  EXPECT_EQ(*Compared.Differs, 1u);
  const std::string Report = q35::ReportText(Compared);
  EXPECT_NE(Report.find("first difference at access 1"), std::string::npos) << Report;
  EXPECT_NE(Report.find("  > 1: RD32 0xFE032000"), std::string::npos) << Report;
  EXPECT_NE(Report.find("  > 1: IN32 0x0CF8"), std::string::npos) << Report;
}

} // namespace
