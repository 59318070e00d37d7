// The run's result as JSON, numbers as JSON integers. Scripts read it: keys keep their names,
// types and meaning; new facts come as new keys.
#include "BoardSpi.h"
#include "BoardTimeJson.h"
#include "DecodeMapReport.h"
#include "DecodeState.h"
#include "DeviceReport.h"
#include "Findings.h"
#include "ImageStops.h"
#include "Report.h"
#include "StatusJson.h"
#include "TableJson.h"

#include <nlohmann/json.hpp>

namespace boardsim {
namespace {

using Json = nlohmann::ordered_json;

constexpr int SchemaVersion = 1;
// Time stamps are the processor's 64-bit counter, in the trace's width.
constexpr int TimeStampDigits = 16;

Json CallJson(const sim::CallRecord &Call) {
  Json Out;
  Out["call"] = sim::OperationName(Call.Made);
  if (const auto *Decode = std::get_if<sim::SetIoDecodeCall>(&Call.Made)) {
    Out["port"] = Decode->Port;
    Out["size"] = Decode->Size;
    Out["attributes"] = Decode->Attributes;
  } else if (const auto *Window = std::get_if<sim::SetGenericIoRangeCall>(&Call.Made)) {
    Out["port"] = Window->Port;
    Out["size_word"] = Window->SizeWord;
  }
  Out["status"] = Call.Status ? Json(*Call.Status) : Json(nullptr);
  Out["status_name"] = StatusName(Call.Status, Call.Made);
  Out["status_hex"] = StatusHex(Call.Status, Call.Made);
  return Out;
}

// Top-level requests, each with the calls it made nested under "calls".
Json RequestsJson(const RunRecord &Report) {
  Json Requests = Json::array();
  const std::vector<const sim::CallRecord *> Calls = RequestCalls(Report);
  if (Calls.empty()) {
    return Requests;
  }
  const unsigned BaseDepth = Calls.front()->Depth;
  for (const sim::CallRecord *Call : Calls) {
    Json Row = CallJson(*Call);
    if (Call->Depth == BaseDepth) {
      Row["calls"] = Json::array();
      Requests.push_back(std::move(Row));
    } else if (!Requests.empty()) {
      Requests.back()["calls"].push_back(std::move(Row));
    }
  }
  return Requests;
}

Json SpiJson(const RunRecord &Report) {
  const sim::BoardState &Board = Report.End;
  namespace Reg = sim::hw::Spi;
  Json Waits = Json::array();
  for (const SpiWaitRun &Wait : Report.Facts.spiWaits()) {
    Json Firmware = Json::array();
    for (const SpiFirmwareWait &Each : Wait.Waits) {
      Json Row = {{"wait", Each.Function},
                  {"waits_for", Each.WaitsFor},
                  {"reads", Each.Reads},
                  {"ran_out", Each.RanOut}};
      if (!Each.ReadsFrom.empty()) {
        Row["reads_from"] = Each.ReadsFrom; // the image's functions, as its map names them
      }
      Firmware.push_back(std::move(Row));
    }
    Waits.push_back({{"register", Wait.Register},
                     {"value", Wait.Value},
                     {"reads", Wait.Reads},
                     {"ran_out", Wait.RanOut},
                     {"after", Wait.After},
                     {"firmware_waits", Firmware}});
  }
  return {{"state", SpiStateName(Report.Facts.spiState())},
          {"waits_ran_out", Report.Facts.spiWaitsRanOut()},
          {"waits", Waits},
          {"control0", Board.Spi.registerValue(Reg::Control0)},
          {"control1", Board.Spi.registerValue(Reg::Control1)},
          {"clock", Board.Spi.registerValue(Reg::Clock)}};
}

Json DxeJson(const RunRecord &Report) {
  const runs::DxeFacts &Dxe = *Report.Result.Dxe;
  const auto &Interval = Report.Facts.interval();
  Json Out;
  Out["hob_list_found"] = Dxe.HobListFound;
  // Looked for only in a HOB list; unknown when the run hung before the timer start-up ended.
  const std::optional<bool> TimerHob = TimerHobFound(Report);
  Out["timer_hob_found"] = TimerHob ? Json(*TimerHob) : Json(nullptr);
  if (Interval) {
    Out["measuring_interval"] = {
        {"finished", Interval->Finished},
        {"pm_timer_start", Interval->PmTimerStart},
        {"pm_timer_end", Interval->Finished ? Json(Interval->PmTimerEnd) : Json(nullptr)},
        {"pm_timer_ticks", Interval->Finished ? Json(Interval->ticks()) : Json(nullptr)},
        {"time_stamps", Interval->Finished
                            ? Json::array({Interval->TimeStamps[0], Interval->TimeStamps[1]})
                            : Json::array({Interval->TimeStamps[0]})}};
    Json Hex = Json::array();
    for (const Json &Stamp : Out["measuring_interval"]["time_stamps"]) {
      Hex.push_back(sim::HexText(Stamp.get<std::uint64_t>(), TimeStampDigits));
    }
    Out["measuring_interval"]["time_stamps_hex"] = Hex;
  } else {
    Out["measuring_interval"] = nullptr;
  }
  return Out;
}

Json PresetsJson(const std::map<std::uint32_t, sim::Preset> &Presets) {
  Json Out = Json::array();
  for (const auto &[Offset, Preset] : Presets) {
    Out.push_back({{"offset", Offset}, {"value", Preset.Value}, {"width", Preset.Width}});
  }
  return Out;
}

template <typename T, std::size_t N>
const char *NameOf(const std::pair<const char *, T> (&Names)[N], T Value) {
  for (const auto &[Name, Each] : Names) {
    if (Each == Value) {
      return Name;
    }
  }
  return "?";
}

Json ScenarioJson(const RunRecord &Report, const sim::Scenario &Settings) {
  const sim::DxeEnvironmentSettings &Firmware = Settings.Firmware;
  Json ExtraHob = nullptr;
  if (Firmware.ExtraHob.Present) {
    ExtraHob = {{"type", Firmware.ExtraHob.Type}, {"length", Firmware.ExtraHob.Length}};
  }
  return {{"name", Report.ScenarioName.empty() ? Json(nullptr) : Json(Report.ScenarioName)},
          {"spi",
           {{"presence", NameOf(SpiPresenceNames, Settings.Spi.Presence)},
            {"status", Settings.Spi.Status},
            {"reg0c", Settings.Spi.Reg0C},
            {"drain", Settings.Spi.Drain},
            {"clock", Settings.Spi.Clock}}},
          {"pm_timer_start", Settings.PmTimerStart},
          {"pm_timer_stuck", Settings.PmTimerStuck},
          {"uart_line_status", Settings.UartLineStatus},
          {"all_ones", Settings.AllOnesEverywhere},
          {"interrupts_off", Settings.InterruptsOff},
          {"lpc_presets", PresetsJson(Settings.LpcConfig)},
          {"pcr_presets", PresetsJson(Settings.PcrWindow)},
          {"firmware",
           {{"hob_list", Firmware.HobListInConfigTable},
            {"timer_hob", Firmware.TimerHob},
            {"smm", NameOf(SmmModeNames, Firmware.Smm)},
            {"extra_hob", ExtraHob}}},
          {"max_steps", Settings.MaxSteps}};
}

Json AccessCountsJson(const RunRecord &Report) {
  auto Group = [&](const auto &Kinds) {
    Json Out;
    std::uint64_t Total = 0;
    for (const AccessGroupKind &Each : Kinds) {
      Out[Each.Key] = Report.count(Each.Kind);
      Total += Report.count(Each.Kind);
    }
    Out["total"] = Total;
    return Out;
  };
  return {{"bus", Group(BusKinds)}, {"processor", Group(ProcessorKinds)}};
}

} // namespace

std::string JsonText(const RunRecord &Report) {
  const sim::BoardState &Board = Report.End;
  const DecodeState State = ReadDecodeState(Board);
  const runs::RunResult &Result = Report.Result;
  Json Out;
  // The version of this layout; it grows when a key changes its name, type or meaning.
  Out["schema_version"] = SchemaVersion;
  Out["module"] = ModuleName(Report.Which);
  // Every key is in every run; null where it does not apply to the run's kind.
  const bool Entry = Report.Which == Module::Pei || Report.Which == Module::Dxe;
  Out["status"] = Entry && Result.EntryStatus ? Json(*Result.EntryStatus) : Json(nullptr);
  Out["results"] = Entry ? Json(nullptr) : Json(Result.Statuses);
  std::vector<std::uint32_t> LpcRanges, PcrRanges, EspiRanges, EspiMirrors;
  for (std::size_t Slot = 0; Slot < State.Windows.size(); ++Slot) {
    const bool Lpc = Slot < 4;
    (Lpc ? LpcRanges : EspiRanges).push_back(State.Windows[Slot].Register);
    (Lpc ? PcrRanges : EspiMirrors).push_back(State.Windows[Slot].Mirror);
  }
  Out["lpc"] = {{"io_decode_ranges", State.IoDecodeRanges},
                {"io_enables", State.IoEnables},
                {"generic_io_ranges", LpcRanges},
                {"espi_io_enables", State.EspiIoEnables},
                {"espi_generic_io_ranges", EspiRanges}};
  Out["pcr"] = {{"io_decode_ranges", State.IoDecodeRangesMirror},
                {"io_enables", State.IoEnablesMirror},
                {"generic_io_ranges", PcrRanges},
                {"espi_generic_io_ranges", EspiMirrors}};
  Out["spi_frames"] = Board.spiFrames();
  Out["superio_writes"] = Board.SuperIoWrites; // [port, value] pairs
  Out["serial"] = Board.serialOutput();
  Out["interrupts_enabled"] = Board.interruptsEnabled();
  Out["accesses"] = Report.accesses();
  Out["hung"] = Result.Hung;
  Out["in_smm"] = Result.Dxe ? Json(Result.Dxe->InSmm) : Json(nullptr);
  Out["locate_protocol_calls"] = Result.Dxe ? Json(Result.Dxe->LocateProtocolCalls) : Json(nullptr);
  Out["in_smm_calls"] = Result.Dxe ? Json(Result.Dxe->InSmmCalls) : Json(nullptr);

  // Added beside the keys above; these too keep their names, types and meaning.
  Out["status_name"] =
      Entry ? StatusName(Result.EntryStatus, EntryOperation(Report.Which)) : Json(nullptr);
  Out["requests"] = Report.Which != Module::Dxe ? RequestsJson(Report) : Json(nullptr);
  Out["spi"] = Entry ? SpiJson(Report) : Json(nullptr);
  Out["dxe"] = Result.Dxe ? DxeJson(Report) : Json(nullptr);
  Out["access_counts"] = AccessCountsJson(Report);
  Out["scenario"] = ScenarioJson(Report, Report.Settings);
  Out["last_accesses"] = Json::array();
  for (const sim::TraceRecord &Record : Result.LastAccesses) {
    Out["last_accesses"].push_back(sim::FormatRecord(Record));
  }
  // Where in the image each access was made: null for the host build.
  Out["last_access_sites"] = nullptr;
  Out["access_sites"] = nullptr;
  if (Result.Ran == runs::Implementation::Image) {
    const std::vector<runs::SiteCount> &Sites = Report.Sites.sites();
    Out["last_access_sites"] = Json::array();
    for (const std::optional<std::size_t> &Site :
         Report.Sites.lastSites(Result.LastAccesses.size())) {
      Out["last_access_sites"].push_back(Site ? SiteJson(Sites[*Site].Site) : Json(nullptr));
    }
    Out["access_sites"] = Json::array();
    for (const runs::SiteCount &Each : Sites) {
      Json Site = SiteJson(Each.Site);
      Site["accesses"] = Each.Accesses;
      Site["first_record"] = Each.FirstRecord;
      Out["access_sites"].push_back(std::move(Site));
    }
  }
  Out["running"] = Json::array();
  for (const sim::CallRecord &Call : Result.Running) {
    Out["running"].push_back(sim::CallText(Call));
  }
  Out["image"] = nullptr;
  if (Result.Image) {
    const runs::ImageFacts &Facts = *Result.Image;
    Out["image"] = {{"path", Report.ImagePath},
                    {"stack_high_water", Facts.StackHighWater},
                    {"stack_deepest_in", Facts.StackDeepestIn},
                    {"instructions", Facts.Instructions},
                    {"breach", Facts.Breach ? Json(*Facts.Breach) : Json(nullptr)},
                    {"stack_chain", Facts.StackChain}};
    AddStopsJson(Out["image"], Facts);
  }
  Out["decode_map"] = Report.Which != Module::Dxe ? DecodeMapJson(Report.Decode) : Json(nullptr);
  Out["board_time"] = BoardTimeJson(Report.Time);
  Out["superio"] = SuperIoJson(Board);
  Out["devices"] = DevicesJson(Board);
  Out["replaced_tables"] =
      Report.Which == Module::Pei ? ReplacedTablesJson(Report.Settings.Tables) : Json(nullptr);
  // The hexadecimal text of the 64-bit values above, and the summary's count of warnings.
  Out["status_hex"] =
      Entry ? StatusHex(Result.EntryStatus, EntryOperation(Report.Which)) : Json(nullptr);
  if (Entry) {
    Out["results_hex"] = nullptr;
  } else {
    const sim::Operation Made = Report.Which == Module::Decode
                                    ? sim::Operation(sim::SetIoDecodeCall{})
                                    : sim::Operation(sim::SetGenericIoRangeCall{});
    Out["results_hex"] = Json::array();
    for (const std::uint64_t Status : Result.Statuses) {
      Out["results_hex"].push_back(StatusHex(Status, Made));
    }
  }
  Out["warning_count"] = WarningCount(Report);
  // Serial output is firmware bytes, not necessarily UTF-8: replace rather than fail.
  return Out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace boardsim
