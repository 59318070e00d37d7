// The execute-in-place rule: the layout a module needs to run from flash as its file bytes lie.
#include "PeImage.h"

PeStatus PeCheckExecuteInPlace(const PeImage &Image, std::uint16_t *Section) {
  if (Image.SectionAlignment != Image.FileAlignment) {
    return PeStatus::AlignmentsDiffer;
  }
  for (std::uint16_t Index = 0; Index < Image.SectionCount; ++Index) {
    const PeSection Each = PeSectionAt(Image, Index);
    // In place, nothing moves a section to its address or fills its tail with zeros.
    if (Each.PointerToRawData != Each.VirtualAddress || Each.Span != Each.CopySize) {
      if (Section != nullptr) {
        *Section = Index;
      }
      return PeStatus::SectionNotInPlace;
    }
  }
  return PeStatus::Ok;
}
