#include "IoScript.h"

#include "HwAccess.h"
#include "Register.h"

void RunIoScript(const IoScriptRow *Table, std::size_t Count) {
  for (std::size_t Index = 0; Index < Count; ++Index) {
    const IoScriptRow &Row = Table[Index];
    std::uint8_t Value = Row.OrValue;
    if (Row.AndMask != IoScriptPlainWrite) {
      const std::uint8_t Current = PortRead8(Row.Port);
      Value = MergeBits<std::uint8_t>(Current, Row.AndMask, Row.OrValue);
    }
    PortWrite8(Row.Port, Value);
  }
}
