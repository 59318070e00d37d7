#include "PeiStandIn.h"

#include "LittleEndian.h"

namespace standin::pei {
namespace {

// Header field offsets.
constexpr std::uint32_t SignatureOffset = 0;
constexpr std::uint32_t RevisionOffset = 8;
constexpr std::uint32_t HeaderSizeOffset = 12;

} // namespace

void BuildServicesTable(std::uint8_t *Table, std::uint32_t TrapBase, std::uint32_t TrapStride) {
  for (std::uint32_t Offset = 0; Offset < TableSize; ++Offset) {
    Table[Offset] = 0;
  }
  peimage::Write64(Table + SignatureOffset, Signature);
  peimage::Write32(Table + RevisionOffset, Revision);
  peimage::Write32(Table + HeaderSizeOffset, TableSize);
  for (std::uint32_t Index = 0; Index < ServiceCount; ++Index) {
    peimage::Write32(Table + TableHeaderSize + PointerSize * Index, TrapBase + Index * TrapStride);
  }
}

} // namespace standin::pei
