#include "DxeRun.h"

#include "BoardInitDxe/DxeEntry.h"
#include "BoardInitDxe/DxeModuleData.h"

namespace sim {

DxeRunResult RunDxe(Board &Target) {
  // A fresh image starts with zeroed module data.
  gDxeModuleData = {};
  DxeEnvironment Environment(Target.scenario().Firmware);
  // Any handle will do: the driver does not use its own.
  static int ImageHandleStandIn;
  constexpr unsigned StatusBits = 64;
  DxeRunResult Result;
  const RunOutcome Outcome = RunOnBoard(Target, [&] {
    const std::size_t Call = Target.enterCall("BoardInitDxeEntry", {}, "ImageHandle, SystemTable");
    Result.EntryStatus = BoardInitDxeEntry(&ImageHandleStandIn, Environment.systemTable());
    Target.returnCall(Call, Result.EntryStatus, FormatStatus(Result.EntryStatus, StatusBits));
  });
  Result.Hung = Outcome.Hung;
  Result.LastAccesses = Outcome.LastAccesses;
  Result.Running = Outcome.Running;
  Result.HobListFound = gDxeModuleData.HobList != nullptr;
  Result.InSmm = gDxeModuleData.InSmm != 0;
  Result.LocateProtocolCalls = Environment.locateProtocolCalls();
  Result.InSmmCalls = Environment.inSmmCalls();
  return Result;
}

} // namespace sim
