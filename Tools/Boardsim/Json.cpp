// The run's result as JSON, numbers as JSON integers.
#include "DecodeState.h"
#include "Report.h"

#include <nlohmann/json.hpp>

namespace boardsim {

std::string JsonText(const RunReport &Report, const sim::Board &Board) {
  const DecodeState State = ReadDecodeState(Board);
  nlohmann::ordered_json Out;
  Out["module"] = ModuleName(Report.Which);
  if (Report.Which == Module::Pei || Report.Which == Module::Dxe) {
    Out["status"] = Report.EntryStatus ? nlohmann::ordered_json(*Report.EntryStatus)
                                       : nlohmann::ordered_json(nullptr);
  } else {
    Out["results"] = Report.Results;
  }
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
  nlohmann::ordered_json Writes = nlohmann::ordered_json::array();
  for (const auto &[Port, Value] : Board.superIoWrites()) {
    Writes.push_back({Port, Value});
  }
  Out["superio_writes"] = Writes;
  Out["serial"] = Board.serialOutput();
  Out["interrupts_enabled"] = Board.interruptsEnabled();
  Out["accesses"] = sim::CountAccesses(Board.trace());
  Out["hung"] = Report.Hung;
  if (Report.Dxe) {
    Out["in_smm"] = Report.Dxe->InSmm;
    Out["locate_protocol_calls"] = Report.Dxe->LocateProtocolCalls;
    Out["in_smm_calls"] = Report.Dxe->InSmmCalls;
  }
  // Serial output is firmware bytes, not necessarily UTF-8: replace rather than fail.
  return Out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

} // namespace boardsim
