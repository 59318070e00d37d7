#include "DxeRun.h"

#include "BoardInitDxe/DxeEntry.h"
#include "BoardInitDxe/DxeModuleData.h"

namespace sim {

DxeRunResult RunDxe(Board &Target, const DxeEnvironmentSettings &Settings) {
  // A fresh image starts with zeroed module data.
  gDxeModuleData = {};
  DxeEnvironment Environment(Settings);
  // Any handle will do: the driver does not use its own.
  static int ImageHandleStandIn;
  DxeRunResult Result;
  const RunOutcome Outcome = RunOnBoard(Target, [&] {
    Result.EntryStatus = BoardInitDxeEntry(&ImageHandleStandIn, Environment.systemTable());
  });
  Result.Hung = Outcome.Hung;
  Result.LastAccesses = Outcome.LastAccesses;
  Result.InSmm = gDxeModuleData.InSmm != 0;
  Result.LocateProtocolCalls = Environment.locateProtocolCalls();
  Result.InSmmCalls = Environment.inSmmCalls();
  return Result;
}

} // namespace sim
