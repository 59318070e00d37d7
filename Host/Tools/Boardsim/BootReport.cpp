#include "BootReport.h"

#include "BoardTimeJson.h"
#include "DeviceReport.h"
#include "StatusJson.h"
#include "TableJson.h"
#include "TextWrap.h"

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
  Out["status_hex"] = StatusHex(Result.EntryStatus, EntryOperation(Phase.Report.Which));
  Out["board_time"] = Phase.Ran ? BoardTimeJson(Phase.Report.Time) : Json();
  return Out;
}

} // namespace

std::size_t BootWarningCount(const BootReport &Boot) {
  const sim::BoardState &Board = Boot.end();
  std::size_t Count = SuperIoWarningCount(Board) + SerialLossWarningCount(Board);
  for (const BootPhase *Phase : {&Boot.Pei, &Boot.Dxe}) {
    Count += Phase->Ran && Phase->SerialBytesLost != 0 ? 1 : 0;
  }
  return Count;
}

std::string BootSummary(const BootReport &Boot, bool Verbose) {
  const sim::BoardState &Board = Boot.end();
  std::ostringstream Out;
  Out << "Boot on the simulated board: BoardInitPei (" << Implementation(Boot.Pei)
      << "), then BoardInitDxe (" << Implementation(Boot.Dxe) << "), on one board\n"
      << ReplacedTablesSummary(Boot.Pei.Report.Settings.Tables) << "\n";
  const std::size_t Warnings = BootWarningCount(Boot);
  Out << "Findings:\n  "
      << (Warnings == 0 ? std::string("no warnings")
                        : std::to_string(Warnings) + (Warnings == 1 ? " warning" : " warnings") +
                              ", each marked WARNING beside what it concerns")
      << "\n";
  for (const BootPhase *Phase : {&Boot.Pei, &Boot.Dxe}) {
    if (Phase->Ran && Phase->Report.Facts.spiState() == SpiState::Present) {
      const std::uint64_t RanOut = Phase->Report.Facts.spiWaitsRanOut();
      Out << "  " << PhaseName(*Phase) << ": " << RanOut
          << (RanOut == 1 ? " bounded SPI wait ran out" : " bounded SPI waits ran out") << "\n";
    }
  }
  Out << "\n";
  const std::vector<sim::DeviceReach> *Before = &Boot.AtStart;
  for (const BootPhase *Phase : {&Boot.Pei, &Boot.Dxe}) {
    Out << PhaseName(*Phase) << ": " << Ending(*Phase);
    if (Phase->Ran) {
      Out << "\n  " << Phase->Accesses << (Phase->Accesses == 1 ? " step" : " steps")
          << " (bus accesses and processor events)";
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
  Out << BoardTimeHeading();
  for (const BootPhase *Phase : {&Boot.Pei, &Boot.Dxe}) {
    if (Phase->Ran) {
      Out << BoardTimeSummary(Phase->Report.Time, PhaseName(*Phase), Verbose);
    }
  }
  return WrapLines(Out.str());
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
  Out["warning_count"] = BootWarningCount(Boot);
  return Out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace boardsim
