#include "BoardInitPeiEntry.h"

#include "BoardTables.h"
#include "IoDecode.h"
#include "IoScript.h"
#include "SpiPeripheral.h"

extern "C" EFI_STATUS EFIAPI BoardInitPeiEntry(EFI_PEI_FILE_HANDLE, const EFI_PEI_SERVICES **) {
  if (SpiPeripheralPresent()) {
    SpiPeripheralBringUp();
  }
  // A refused request leaves its device undecoded; the others do not depend on it.
  for (const DecodeRequestRow &Row : BoardTables::DecodeTable) {
    SetIoDecode(Row.Port, Row.Size, Row.Attributes);
  }
  RunIoScript(BoardTables::SuperIoScript, BoardTables::SuperIoScriptRows);
  return 0;
}
