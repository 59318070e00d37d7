#include "RunKinds.h"

#include <algorithm>
#include <string>
#include <vector>

namespace sim {
namespace {

// Where a row's help names what the run calls.
constexpr std::string_view SubjectMark = "{}";

constexpr RunKindRow Table[] = {
    {RunKind::Pei, "pei", PeiEntryCall{}, "run the {} entry, as the PEI core enters it", ""},
    {RunKind::Dxe, "dxe", DxeEntryCall{}, "run the {} entry, inside a simulated DXE firmware", ""},
    {RunKind::Decode, "decode", SetIoDecodeCall{}, "run {} for each request, in order",
     "PORT,SIZE,ATTRIBUTES..."},
    {RunKind::Window, "window", SetGenericIoRangeCall{}, "run {} for each request, in order",
     "PORT,SIZEWORD..."},
};

bool EntryRun(const RunKindRow &Row) {
  return FunctionCalled(Row.Entry) == RunModule(Row).entry().Id;
}

// Rows in the order of RunKind, each help with a place for its subject.
static_assert([] {
  for (std::size_t Row = 0; Row < std::size(Table); ++Row) {
    if (static_cast<std::size_t>(Table[Row].Kind) != Row ||
        std::string_view(Table[Row].Help).find(SubjectMark) == std::string_view::npos) {
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

const modules::Module &RunModule(const RunKindRow &Row) {
  return ModuleOf(Row.Entry);
}

std::string RunSubject(const RunKindRow &Row) {
  return EntryRun(Row) ? RunModule(Row).Name : OperationName(Row.Entry);
}

std::string RunTitle(const RunKindRow &Row) {
  return RunSubject(Row) + (EntryRun(Row) ? "" : " requests");
}

std::string RunHelp(const RunKindRow &Row) {
  std::string Text = Row.Help;
  Text.replace(Text.find(SubjectMark), SubjectMark.size(), RunSubject(Row));
  return Text;
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
