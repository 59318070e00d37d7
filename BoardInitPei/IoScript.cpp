#include "IoScript.h"

#include "HwAccess.h"

void RunIoScript(const IoScriptRow *Table, std::size_t Count) {
  for (std::size_t Index = 0; Index < Count; ++Index) {
    const IoScriptRow &Row = Table[Index];
    std::uint8_t Value = Row.OrValue;
    if (Row.AndMask != IoScriptPlainWrite) {
      Value = static_cast<std::uint8_t>((PortRead8(Row.Port) & Row.AndMask) | Row.OrValue);
    }
    PortWrite8(Row.Port, Value);
  }
}
