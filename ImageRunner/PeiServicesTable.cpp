#include "PeiServicesTable.h"

namespace imagerun::pei {
namespace {

void Put(std::vector<std::uint8_t> &Bytes, std::uint32_t Offset, std::uint64_t Value,
         unsigned Width) {
  for (unsigned Byte = 0; Byte < Width; ++Byte) {
    Bytes[Offset + Byte] = static_cast<std::uint8_t>(Value >> (8 * Byte));
  }
}

// Header field offsets.
constexpr std::uint32_t SignatureOffset = 0;
constexpr std::uint32_t RevisionOffset = 8;
constexpr std::uint32_t HeaderSizeOffset = 12;

} // namespace

std::vector<std::uint8_t> TableBytes(std::uint32_t TrapBase, std::uint32_t TrapStride) {
  std::vector<std::uint8_t> Bytes(TableSize, 0);
  Put(Bytes, SignatureOffset, Signature, 8);
  Put(Bytes, RevisionOffset, Revision, 4);
  Put(Bytes, HeaderSizeOffset, TableSize, 4);
  for (std::uint32_t Index = 0; Index < ServiceNames.size(); ++Index) {
    Put(Bytes, TableHeaderSize + PointerSize * Index, TrapBase + Index * TrapStride, PointerSize);
  }
  return Bytes;
}

} // namespace imagerun::pei
