// The shipped images against the host build of the same sources: every scenario runs both ways on
// its own board, and the two traces must agree record for record (annotations, firmware service
// calls, processor events and register comments included), as must the results, the driver's
// module facts and, for a hung run, the record it hung at, its last accesses and the calls it was
// in.
#include "FirmwareImages.h"
#include "HostBuildRuns.h"
#include "ImageRuns.h"
#include "NamedScenarios.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

enum class Run { Entry, Decode, Window, DxeEntry };

struct Comparison {
  std::string Name;
  Run What = Run::Entry;
  sim::Scenario Settings;
  std::vector<DecodeRequestRow> Decode;
  std::vector<runs::WindowRequest> Window;
};

struct Outcome {
  std::vector<std::string> Trace;
  std::vector<std::uint64_t> Results; // the entry's status, or each request's
  bool Hung = false;
  std::vector<std::string> LastAccesses;
  std::vector<std::string> Running;
  std::optional<std::string> Breach;
  // The driver's: HOB list found, in SMM, LocateProtocol calls, InSmm calls.
  std::vector<std::uint64_t> DxeFacts;
};

// Device types and decode targets of the attributes word.
constexpr std::uint32_t Floppy = 1, Keyboard = 2, Serial = 6, Parallel = 7, GamePort = 8,
                        Other = 0xFF;
constexpr std::uint32_t Cs1 = 0x100, Cs2 = 0x200, Cs3 = 0x300, Target4 = 0x400, Target9 = 0x900,
                        Target15 = 0xF00;
// Bridge registers and mirrors the scenarios preset.
constexpr std::uint32_t IoEnables = 0x82, GenericRange1 = 0x84, EspiCs1Enables = 0xA0;
constexpr std::uint32_t EnablesMirror = 0x2774;

DecodeRequestRow D(std::uint16_t Port, std::uint8_t Size, std::uint32_t Attributes) {
  return {Port, Size, 0, Attributes};
}

sim::Scenario AllOnes(std::uint64_t MaxSteps = 1000000) {
  sim::Scenario Settings;
  Settings.AllOnesEverywhere = true;
  Settings.MaxSteps = MaxSteps;
  return Settings;
}

// Every device type on the primary target, with every way each is accepted or refused: both
// floppy bases, keyboard types 2-5, the four standard COM ports (each opening the 0x200 window),
// listed and unlisted serial bases on each selector, a bad selector, every parallel base, both
// game ports, the Super I/O pairs, both edges of the embedded controller's block and the ports
// just outside it (a generic window each), a window of size 0, unknown types, turning each off,
// and attribute bits 31:12 that are not read.
std::vector<DecodeRequestRow> EveryDeviceType() {
  return {D(0x3F0, 0, Floppy),   D(0x370, 0, Floppy),
          D(0x3F2, 0, Floppy),   D(0, 0, Floppy),
          D(0x60, 0, Keyboard),  D(0x60, 0, 3),
          D(0x64, 0, 4),         D(0x60, 0, 5),
          D(0, 0, Keyboard),     D(0x3F8, 0, Serial),
          D(0x3E8, 1, Serial),   D(0x2F8, 1, Serial),
          D(0x2E8, 0, Serial),   D(0x220, 0, Serial),
          D(0x238, 1, Serial),   D(0x338, 0, Serial),
          D(0x3E8, 1, Serial),   D(0x2F0, 0, Serial),
          D(0x2E0, 1, Serial),   D(0x3F8, 2, Serial),
          D(0, 0, Serial),       D(0, 1, Serial),
          D(0, 2, Serial),       D(0x378, 0, Parallel),
          D(0x278, 0, Parallel), D(0x3BC, 0, Parallel),
          D(0x3BD, 0, Parallel), D(0, 0, Parallel),
          D(0x200, 0, GamePort), D(0x208, 0, GamePort),
          D(0x201, 0, GamePort), D(0, 0, GamePort),
          D(0x2E, 2, Other),     D(0x4E, 2, Other),
          D(0x62, 2, Other),     D(0x66, 2, Other),
          D(0x61, 2, Other),     D(0x67, 2, Other),
          D(0x6C, 0, Other),     D(0, 0, Other),
          D(0x3F8, 0, 0),        D(0x3F8, 0, 9),
          D(0x3F8, 0, 0xFE),     D(0x60, 0, 0xFFFFF000 | Keyboard)};
}

// Every decode target: the chip selects (their enables kept as one union with the primary
// register, preset here so the union shows), targets beyond them (refused after the shared
// decode-ranges write), windows on each chip select until its one slot is taken, and off.
std::vector<DecodeRequestRow> EveryTarget() {
  return {D(0x3F8, 0, Cs1 | Serial),   D(0x2F8, 1, Cs2 | Serial),     D(0x60, 0, Cs3 | Keyboard),
          D(0x378, 0, Target4 | 7),    D(0x220, 0, Target9 | Serial), D(0x62, 0, Target15 | Other),
          D(0xA00, 0x10, Cs1 | Other), D(0xB00, 0x10, Cs1 | Other),   D(0xC00, 4, Cs2 | Other),
          D(0xD00, 4, Cs3 | Other),    D(0xE00, 4, Target4 | Other),  D(0, 0, Cs1 | Floppy),
          D(0, 0, Cs2 | GamePort),     D(0x2E, 0, Cs3 | Other)};
}

// The four primary slots taken, a fifth window refused, then a slot reused at its own base.
std::vector<DecodeRequestRow> PrimarySlotsExhausted() {
  return {D(0x100, 4, Other), D(0x110, 4, Other), D(0x120, 4, Other),
          D(0x130, 4, Other), D(0x140, 4, Other), D(0x100, 8, Other)};
}

std::vector<Comparison> Comparisons() {
  std::vector<Comparison> Table;
  const auto Entry = [&](std::string Name, sim::Scenario Settings) {
    Table.push_back({std::move(Name), Run::Entry, std::move(Settings), {}, {}});
  };
  const auto Decode = [&](std::string Name, sim::Scenario Settings,
                          std::vector<DecodeRequestRow> Requests) {
    Table.push_back({std::move(Name), Run::Decode, std::move(Settings), std::move(Requests), {}});
  };
  const auto Window = [&](std::string Name, sim::Scenario Settings,
                          std::vector<runs::WindowRequest> Requests) {
    Table.push_back({std::move(Name), Run::Window, std::move(Settings), {}, std::move(Requests)});
  };

  const auto Dxe = [&](std::string Name, sim::Scenario Settings) {
    Table.push_back({std::move(Name), Run::DxeEntry, std::move(Settings), {}, {}});
  };

  Entry("entry, default board", {});
  for (const sim::NamedScenario &Named : sim::NamedScenarios()) {
    Entry(std::string("entry, scenario ") + Named.Name, Named.Settings);
  }
  sim::Scenario Foreign;
  Foreign.LpcConfig[GenericRange1] = {0x00000A01, 4};
  Foreign.LpcConfig[IoEnables] = {0x8000, 2};
  Foreign.PcrWindow[EnablesMirror] = {0x4000, 2};
  Entry("entry, bits and a window another agent left", Foreign);
  for (const std::uint64_t Steps : {1, 100, 333, 1000}) {
    sim::Scenario Budget;
    Budget.MaxSteps = Steps;
    Entry("entry, hung by a step budget of " + std::to_string(Steps), Budget);
  }

  Decode("decode, every device type", {}, EveryDeviceType());
  Decode("decode, every device type, all ones", AllOnes(), EveryDeviceType());
  sim::Scenario Union;
  Union.LpcConfig[IoEnables] = {0x0003, 2};
  Union.LpcConfig[EspiCs1Enables] = {0x1000, 2};
  Decode("decode, every target", Union, EveryTarget());
  Decode("decode, primary slots exhausted", {}, PrimarySlotsExhausted());
  Decode("decode, hung in the window it opens", AllOnes(5), {D(0x6C, 2, Other)});
  sim::Scenario Budget;
  Budget.MaxSteps = 400;
  Decode("decode, hung midway", Budget, EveryDeviceType());

  // Size 0 refused; below 4 counts as 4; an unaligned port gets its own slot, based at the
  // aligned address; a slot reused at its own base; the full 256-byte word; 255; no slot left.
  Window("window, sizes and slots", {},
         {{0x6C, 0x0000},
          {0x6C, 0x0001},
          {0x6D, 0x0004},
          {0x6C, 0x0002},
          {0x100, 0x0100},
          {0x300, 0x00FF},
          {0xFFFF, 0x0080}});
  Window("window, sizes round up to a power of two", {},
         {{0x13, 0x0005}, {0x20, 0x0009}, {0x47, 0x0011}, {0x80, 0x0081}});
  Window("window, every target", {},
         {{0xA00, 0x0190},
          {0xA00, 0x0110},
          {0xB00, 0x0104},
          {0xC00, 0x0204},
          {0xD00, 0x0304},
          {0xD00, 0x0380},
          {0xE00, 0x0404},
          {0xF00, 0x0F04},
          {0x400, 0x0200}});
  Window("window, a slot another agent took", Foreign,
         {{0x6C, 0x0004}, {0xA00, 0x0100}, {0xA00, 0x0004}});
  Window("window, all ones", AllOnes(), {{0x6C, 0x0004}, {0xA00, 0x0190}});
  Window("window, hung", AllOnes(3), {{0x6C, 0x0004}});

  Dxe("dxe, default board", {});
  for (const sim::NamedScenario &Named : sim::NamedScenarios()) {
    Dxe(std::string("dxe, scenario ") + Named.Name, Named.Settings);
  }
  // The firmware around the driver, one setting at a time: the HOB list, the timer HOB, a
  // header-only HOB that ends the walk (length below 8) or is merely passed over, and each way
  // SMM Base2 can answer; then hung midway by the step budget.
  const auto Firmware = [&](std::string Name, auto Change) {
    sim::Scenario Settings;
    Change(Settings.Firmware);
    Dxe("dxe, " + std::move(Name), Settings);
  };
  Firmware("no HOB list", [](sim::DxeEnvironmentSettings &F) { F.HobListInConfigTable = false; });
  Firmware("timer HOB", [](sim::DxeEnvironmentSettings &F) { F.TimerHob = true; });
  Firmware("zero-length HOB before the timer HOB", [](sim::DxeEnvironmentSettings &F) {
    F.TimerHob = true;
    F.ExtraHob = {true, EFI_HOB_TYPE_GUID_EXTENSION, 0};
  });
  Firmware("4-byte HOB", [](sim::DxeEnvironmentSettings &F) { F.ExtraHob = {true, 0x0004, 4}; });
  Firmware("24-byte HOB before the timer HOB", [](sim::DxeEnvironmentSettings &F) {
    F.TimerHob = true;
    F.ExtraHob = {true, 0x0003, 24};
  });
  for (const auto &[Name, Mode] :
       {std::pair{"absent", sim::SmmMode::Absent}, std::pair{"outside", sim::SmmMode::Outside},
        std::pair{"inside", sim::SmmMode::Inside},
        std::pair{"null interface", sim::SmmMode::NullInterface}}) {
    Firmware(std::string("SMM ") + Name,
             [Mode = Mode](sim::DxeEnvironmentSettings &F) { F.Smm = Mode; });
  }
  for (const std::uint64_t Steps : {1, 50, 500, 5000}) {
    sim::Scenario Budget;
    Budget.MaxSteps = Steps;
    Budget.Firmware.TimerHob = true;
    Dxe("dxe, hung by a step budget of " + std::to_string(Steps), Budget);
  }
  return Table;
}

std::vector<std::string> Formatted(const std::vector<sim::TraceRecord> &Records) {
  std::vector<std::string> Lines;
  Lines.reserve(Records.size());
  for (const sim::TraceRecord &Record : Records) {
    Lines.push_back(sim::FormatRecord(Record));
  }
  return Lines;
}

std::vector<std::uint64_t> Facts(const std::optional<runs::DxeFacts> &Dxe) {
  if (!Dxe) {
    return {};
  }
  return {Dxe->HobListFound, Dxe->InSmm, Dxe->LocateProtocolCalls, Dxe->InSmmCalls};
}

Outcome RunWith(const runs::ModuleRuns &Runs, const Comparison &Case) {
  sim::Board Board(Case.Settings);
  const runs::RunResult Result = Case.What == Run::DxeEntry ? Runs.runDxe(Board)
                                 : Case.What == Run::Entry  ? Runs.runPei(Board)
                                 : Case.What == Run::Decode
                                     ? Runs.runDecodeRequests(Board, Case.Decode)
                                     : Runs.runWindowRequests(Board, Case.Window);
  Outcome Out;
  Out.Trace = Formatted(Board.trace());
  Out.Results = Result.Statuses;
  if (Result.EntryStatus) {
    Out.Results.push_back(*Result.EntryStatus);
  }
  Out.Hung = Result.Hung;
  Out.LastAccesses = Formatted(Result.LastAccesses);
  for (const sim::CallRecord &Call : Result.Running) {
    Out.Running.push_back(sim::CallText(Call));
  }
  if (Result.Image) {
    Out.Breach = Result.Image->Breach;
  }
  Out.DxeFacts = Facts(Result.Dxe);
  return Out;
}

// The first record where the traces part, with three records either side of it in each.
std::string FirstDifference(const std::vector<std::string> &Host,
                            const std::vector<std::string> &Image) {
  const auto Parted = std::mismatch(Host.begin(), Host.end(), Image.begin(), Image.end());
  if (Parted.first == Host.end() && Parted.second == Image.end()) {
    return {};
  }
  const std::size_t At = static_cast<std::size_t>(Parted.first - Host.begin());
  constexpr std::size_t Context = 3;
  std::ostringstream Out;
  Out << "the traces part at record " << At << " (host build " << Host.size() << " records, image "
      << Image.size() << "; is the firmware build up to date?)\n";
  const auto Show = [&](const char *Title, const std::vector<std::string> &Trace) {
    Out << Title << ":\n";
    const std::size_t First = At > Context ? At - Context : 0;
    for (std::size_t Index = First; Index < std::min(Trace.size(), At + Context + 1); ++Index) {
      Out << (Index == At ? "  > " : "    ") << Index << ": " << Trace[Index] << "\n";
    }
    if (At >= Trace.size()) {
      Out << "  > " << At << ": (end of trace)\n";
    }
  };
  Show("host build", Host);
  Show("image", Image);
  return Out.str();
}

TEST(ImageComparison, ImageAndHostBuildAgreeRecordForRecord) {
  SKIP_WITHOUT_PEI_IMAGE();
  SKIP_WITHOUT_DXE_IMAGE();
  const imagerun::ImageRuns Images(imagerun::LoadPeiImage(imagetest::PeiImagePath),
                                   imagerun::LoadDxeImage(imagetest::DxeImagePath));
  for (const Comparison &Case : Comparisons()) {
    SCOPED_TRACE(Case.Name);
    const Outcome Host = RunWith(runs::HostBuild(), Case);
    const Outcome Emulated = RunWith(Images, Case);
    EXPECT_FALSE(Emulated.Breach) << *Emulated.Breach;
    const std::string Difference = FirstDifference(Host.Trace, Emulated.Trace);
    EXPECT_TRUE(Difference.empty()) << Difference;
    EXPECT_EQ(Emulated.Results, Host.Results);
    EXPECT_EQ(Emulated.Hung, Host.Hung);
    EXPECT_EQ(Emulated.LastAccesses, Host.LastAccesses);
    EXPECT_EQ(Emulated.Running, Host.Running);
    EXPECT_EQ(Emulated.DxeFacts, Host.DxeFacts);
  }
}

} // namespace
