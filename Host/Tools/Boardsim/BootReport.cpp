#include "BootReport.h"

#include "BoardTimeJson.h"
#include "DeviceReport.h"
#include "TableJson.h"

#include <nlohmann/json.hpp>

#include <sstream>

namespace boardsim {
namespace {

using Json = nlohmann::ordered_json;

constexpr int SchemaVersion = 1;

const char *PhaseName(const BootPhase &Phase) {
  return sim::RunModule(sim::RunKindOf(Phase.Report.Which)).Name;
}

const char *Implementation(const BootPhase &Phase) {
  return Phase.Report.Result.Ran == runs::Implementation::Image ? "image" : "host build";
}

std::string Ending(const BootPhase &Phase) {
  const runs::RunResult &Result = Phase.Report.Result;
  if (!Phase.Ran) {
    return "did not run: the phase before it did not end";
  }
  if (Result.Image && Result.Image->Breach) {
    return "STOPPED, the firmware broke a rule: " + *Result.Image->Breach;
  }
  if (Result.Hung) {
    return "HUNG";
  }
  if (Result.EntryStatus) {
    return "entry returned " + sim::StatusText(*Result.EntryStatus,
                                               sim::StatusBits(EntryOperation(Phase.Report.Which)));
  }
  return "ended";
}

bool WasReachable(const std::vector<sim::DeviceReach> &Before, sim::DeviceId Device) {
  for (const sim::DeviceReach &Each : Before) {
    if (Each.Device == Device) {
      return Each.reachable();
    }
  }
  return false;
}

// The devices the phase made reachable, those it left reachable, those still out of reach.
void Reach(std::ostringstream &Out, const std::vector<sim::DeviceReach> &Before,
           const std::vector<sim::DeviceReach> &After) {
  for (const sim::DeviceReach &Each : After) {
    const bool Was = WasReachable(Before, Each.Device);
    const char *How = Each.reachable() ? (Was ? "reachable, as before" : "made reachable")
                      : Each.partly()  ? "partly reachable"
                      : Was            ? "NO LONGER REACHABLE"
                                       : "not reachable";
    Out << "    " << Each.Name << ": " << How << ": " << sim::ReachText(Each) << "\n";
  }
}

Json ReachJson(const std::vector<sim::DeviceReach> &Before,
               const std::vector<sim::DeviceReach> &After) {
  Json Devices = Json::array();
  for (const sim::DeviceReach &Each : After) {
    Devices.push_back({{"device", Each.Name},
                       {"reachable", Each.reachable()},
                       {"partly", Each.partly()},
                       {"made_reachable", Each.reachable() && !WasReachable(Before, Each.Device)},
                       {"where", sim::ReachText(Each)}});
  }
  return Devices;
}

Json PhaseJson(const BootPhase &Phase, const std::vector<sim::DeviceReach> &Before) {
  const runs::RunResult &Result = Phase.Report.Result;
  const unsigned Bits = sim::StatusBits(EntryOperation(Phase.Report.Which));
  const char *Name = Result.EntryStatus ? sim::StatusName(*Result.EntryStatus, Bits) : nullptr;
  Json Out = {
      {"module", ModuleName(Phase.Report.Which)},
      {"ran", Phase.Ran},
      {"implementation", Implementation(Phase)},
      {"image", Phase.Report.ImagePath.empty() ? Json() : Json(Phase.Report.ImagePath)},
      {"status", Result.EntryStatus ? Json(*Result.EntryStatus) : Json()},
      {"status_name", Name != nullptr ? Json(Name) : Json()},
      {"hung", Result.Hung},
      {"breach", Result.Image && Result.Image->Breach ? Json(*Result.Image->Breach) : Json()},
      {"accesses", Phase.Accesses},
      {"serial_bytes_lost", Phase.SerialBytesLost},
      {"devices", ReachJson(Before, Phase.Reachable)}};
  Out["board_time"] = Phase.Ran ? BoardTimeJson(Phase.Report.Time) : Json();
  return Out;
}

} // namespace

std::string BootSummary(const BootReport &Boot) {
  const sim::BoardState &Board = Boot.end();
  std::ostringstream Out;
  Out << "Boot on the simulated board: BoardInitPei (" << Implementation(Boot.Pei)
      << "), then BoardInitDxe (" << Implementation(Boot.Dxe) << "), on one board\n"
      << ReplacedTablesSummary(Boot.Pei.Report.Settings.Tables) << "\n";
  const std::vector<sim::DeviceReach> *Before = &Boot.AtStart;
  for (const BootPhase *Phase : {&Boot.Pei, &Boot.Dxe}) {
    Out << PhaseName(*Phase) << ": " << Ending(*Phase);
    if (Phase->Ran) {
      Out << "; " << Phase->Accesses << " accesses";
    }
    Out << "\n";
    if (!Phase->Ran) {
      continue;
    }
    Out << "  devices behind the bridge after it:\n";
    Reach(Out, *Before, Phase->Reachable);
    if (Phase->SerialBytesLost != 0) {
      Out << "  WARNING: " << Phase->SerialBytesLost
          << " bytes it wrote to the UART reached no UART\n";
    }
    Before = &Phase->Reachable;
  }
  Out << "\n" << SuperIoChipSummary(Board);
  Out << "Serial console:\n";
  if (Board.serialOutput().empty()) {
    Out << "  (nothing)\n";
  }
  std::istringstream Lines(Board.serialOutput());
  for (std::string Line; std::getline(Lines, Line);) {
    std::erase(Line, '\r');
    if (!Lines.eof() || !Line.empty()) {
      Out << "  " << Line << "\n";
    }
  }
  Out << SerialLossSummary(Board);
  for (const BootPhase *Phase : {&Boot.Pei, &Boot.Dxe}) {
    if (Phase->Ran) {
      Out << BoardTimeSummary(Phase->Report.Time, PhaseName(*Phase));
    }
  }
  return Out.str();
}

std::string BootJson(const BootReport &Boot) {
  const sim::BoardState &Board = Boot.end();
  Json Out;
  Out["schema_version"] = SchemaVersion;
  Out["module"] = "boot";
  Out["phases"] = {PhaseJson(Boot.Pei, Boot.AtStart), PhaseJson(Boot.Dxe, Boot.Pei.Reachable)};
  Out["hung"] = Boot.Pei.Report.Result.Hung || Boot.Dxe.Report.Result.Hung;
  Out["serial"] = Board.serialOutput();
  Out["serial_bytes_lost"] = Board.deliveries(sim::DeviceId::Uart).LostBytes;
  Out["superio"] = SuperIoJson(Board);
  Out["devices"] = DevicesJson(Board);
  Out["superio_writes"] = Board.SuperIoWrites;
  Out["spi_frames"] = Board.spiFrames();
  Out["accesses"] = Board.Accesses;
  Out["replaced_tables"] = ReplacedTablesJson(Boot.Pei.Report.Settings.Tables);
  return Out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace boardsim
