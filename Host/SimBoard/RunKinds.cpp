#include "RunKinds.h"

#include <algorithm>
#include <string>
#include <vector>

namespace sim {
namespace {

constexpr RunKindRow Table[] = {
    {RunKind::Pei, "pei", "BoardInitPei", PeiEntryCall{}, "BoardInitPei",
     "run the BoardInitPei entry, as the PEI core enters it", ""},
    {RunKind::Dxe, "dxe", "BoardInitDxe", DxeEntryCall{}, "BoardInitDxe",
     "run the BoardInitDxe entry, inside a simulated DXE firmware", ""},
    {RunKind::Decode, "decode", "BoardInitPei", SetIoDecodeCall{}, "SetIoDecode requests",
     "run SetIoDecode for each request, in order", "PORT,SIZE,ATTRIBUTES..."},
    {RunKind::Window, "window", "BoardInitPei", SetGenericIoRangeCall{},
     "SetGenericIoRange requests", "run SetGenericIoRange for each request, in order",
     "PORT,SIZEWORD..."},
};

static_assert([] {
  for (std::size_t Row = 0; Row < std::size(Table); ++Row) {
    if (static_cast<std::size_t>(Table[Row].Kind) != Row) {
      return false;
    }
  }
  return true;
}());

} // namespace

std::span<const RunKindRow> RunKinds() {
  return Table;
}

const RunKindRow &RunKindOf(RunKind Kind) {
  return Table[static_cast<std::size_t>(Kind)];
}

const RunKindRow *FindRunKind(std::string_view Name) {
  const auto Found = std::find_if(std::begin(Table), std::end(Table),
                                  [&](const RunKindRow &Each) { return Name == Each.Name; });
  return Found == std::end(Table) ? nullptr : Found;
}

std::string RunNames(unsigned Runs) {
  std::vector<std::string> Names;
  for (const RunKindRow &Each : Table) {
    if ((Runs & RunBit(Each.Kind)) != 0) {
      Names.emplace_back(Each.Name);
    }
  }
  std::string Text;
  for (std::size_t Index = 0; Index < Names.size(); ++Index) {
    Text += (Index == 0 ? "" : Index + 1 == Names.size() ? " and " : ", ") + Names[Index];
  }
  return Text;
}

} // namespace sim
