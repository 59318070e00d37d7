#include "HostBuildRuns.h"

#include "BoardInitDxe/DxeEntry.h"
#include "BoardInitDxe/DxeModuleData.h"
#include "BoardInitPeiEntry.h"
#include "BoardTables.h"
#include "DxeEnvironment.h"
#include "GenericIoRange.h"
#include "IoDecode.h"

// The early-init module's own calls to SetIoDecode and SetGenericIoRange reach these wrappers
// (the harness links with --wrap for both), so every call, from the module or from a harness
// request, shows in the trace with its arguments and its result, and the module stays as it ships.
Pei::Status RealSetIoDecode(std::uint16_t Port, std::uint8_t Size,
                            std::uint32_t Attributes) asm("__real__Z11SetIoDecodethj");
Pei::Status RealSetGenericIoRange(std::uint16_t Port,
                                  std::uint16_t SizeWord) asm("__real__Z17SetGenericIoRangett");
Pei::Status WrapSetIoDecode(std::uint16_t Port, std::uint8_t Size,
                            std::uint32_t Attributes) asm("__wrap__Z11SetIoDecodethj");
Pei::Status WrapSetGenericIoRange(std::uint16_t Port,
                                  std::uint16_t SizeWord) asm("__wrap__Z17SetGenericIoRangett");

namespace runs {
namespace {

template <typename Request, typename Call>
RunResult RunRequests(sim::Board &Target, std::span<const Request> Requests, Call &&Invoke) {
  RunResult Result;
  static_cast<sim::RunOutcome &>(Result) = sim::RunOnBoard(Target, [&] {
    for (const Request &Each : Requests) {
      Result.Statuses.push_back(Invoke(Each));
    }
  });
  return Result;
}

class HostBuildRuns final : public ModuleRuns {
public:
  Implementation implementation() const override { return Implementation::HostBuild; }

  RunResult runPei(sim::Board &Target) const override {
    RunResult Result;
    static_cast<sim::RunOutcome &>(Result) = sim::RunOnBoard(Target, [&] {
      const std::size_t Call = Target.enterCall(sim::PeiEntryCall{});
      Result.EntryStatus = BoardInitPeiEntry(nullptr, nullptr);
      Target.returnCall(Call, *Result.EntryStatus);
    });
    return Result;
  }

  // Loads the driver afresh (zeroed module data) and calls its entry with a system table built
  // from the board's scenario.
  RunResult runDxe(sim::Board &Target) const override {
    gDxeModuleData = {};
    sim::DxeEnvironment Environment(Target.scenario().Firmware);
    // Any handle will do: the driver does not use its own.
    static int ImageHandleStandIn;
    RunResult Result;
    static_cast<sim::RunOutcome &>(Result) = sim::RunOnBoard(Target, [&] {
      const std::size_t Call = Target.enterCall(sim::DxeEntryCall{});
      Result.EntryStatus = BoardInitDxeEntry(&ImageHandleStandIn, Environment.systemTable());
      Target.returnCall(Call, *Result.EntryStatus);
    });
    Result.Dxe = DxeFacts{gDxeModuleData.HobList != nullptr, gDxeModuleData.InSmm != 0,
                          Environment.locateProtocolCalls(), Environment.inSmmCalls()};
    return Result;
  }

  RunResult runDecodeRequests(sim::Board &Target,
                              std::span<const DecodeRequestRow> Requests) const override {
    return RunRequests(Target, Requests, [](const DecodeRequestRow &Row) {
      return SetIoDecode(Row.Port, Row.Size, Row.Attributes);
    });
  }

  RunResult runWindowRequests(sim::Board &Target,
                              std::span<const WindowRequest> Requests) const override {
    return RunRequests(Target, Requests, [](const WindowRequest &Window) {
      return SetGenericIoRange(Window.Port, Window.SizeWord);
    });
  }
};

} // namespace

const ModuleRuns &HostBuild() {
  static const HostBuildRuns Runs;
  return Runs;
}

} // namespace runs

namespace sim {

RunOutcome RunScript(Board &Target, std::span<const IoScriptRow> Rows) {
  return RunOnBoard(Target, [&] { RunIoScript(Rows.data(), Rows.size()); });
}

std::span<const DecodeRequestRow> BoardDecodeTable() {
  return BoardTables::DecodeTable;
}
std::span<const IoScriptRow> BoardSuperIoScript() {
  return BoardTables::SuperIoScript;
}

} // namespace sim

Pei::Status WrapSetIoDecode(std::uint16_t Port, std::uint8_t Size, std::uint32_t Attributes) {
  sim::Board &Target = sim::BoundBoard();
  const std::size_t Call = Target.enterCall(sim::SetIoDecodeCall{Port, Size, Attributes});
  const Pei::Status Status = RealSetIoDecode(Port, Size, Attributes);
  Target.returnCall(Call, Status);
  return Status;
}

Pei::Status WrapSetGenericIoRange(std::uint16_t Port, std::uint16_t SizeWord) {
  sim::Board &Target = sim::BoundBoard();
  const std::size_t Call = Target.enterCall(sim::SetGenericIoRangeCall{Port, SizeWord});
  const Pei::Status Status = RealSetGenericIoRange(Port, SizeWord);
  Target.returnCall(Call, Status);
  return Status;
}
