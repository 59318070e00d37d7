// The comparison as JSON. Scripts read it: keys keep their names, types and meaning; new facts
// come as new keys.
#include "Compare.h"

#include <nlohmann/json.hpp>

namespace boardsim {
namespace {

using Json = nlohmann::ordered_json;

Json OrNull(const std::string &Text) {
  return Text.empty() ? Json(nullptr) : Json(Text);
}

Json SideJson(const CompareSide &Side) {
  constexpr const char *Kinds[] = {"host", "image", "trace"};
  return {{"kind", Kinds[static_cast<std::size_t>(Side.What)]}, {"path", OrNull(Side.Path)}};
}

Json TraceSideJson(const comparison::TraceSide &Side) {
  Json Context = Json::array();
  for (const comparison::TraceSide::Line &Each : Side.Context) {
    Context.push_back({{"record", Each.Record}, {"text", Each.Text}});
  }
  return {{"records", Side.Records}, {"context", Context}, {"running", Side.Running}};
}

Json CaseJson(const CompareReport::Entry &Entry, const CompareReport::Entry &First) {
  const comparison::CaseComparison &Result = Entry.Result;
  Json Out;
  Out["name"] = Result.Name;
  Out["run"] = OrNull(Entry.Run);
  Out["scenario"] = OrNull(Entry.Scenario);
  Out["same"] = Result.same();
  Out["trace"] = nullptr;
  if (Result.Trace) {
    Out["trace"] = {{"record", Result.Trace->Record},
                    {"line", sim::TraceFileLine(Result.Trace->Record)},
                    {"a", TraceSideJson(Result.Trace->A)},
                    {"b", TraceSideJson(Result.Trace->B)}};
  }
  Json Results = Json::array();
  for (const comparison::ResultDifference &Each : Result.Results) {
    Results.push_back({{"what", Each.What}, {"a", Each.A}, {"b", Each.B}});
  }
  Out["results"] = Results;
  // The first case that parts the same way, when it is another.
  Out["parts_as"] = &First == &Entry ? Json(nullptr) : Json(First.Result.Name);
  return Out;
}

} // namespace

std::string CompareJson(const CompareReport &Report) {
  Json Out;
  Out["a"] = SideJson(Report.A);
  Out["b"] = SideJson(Report.B);
  Out["runs"] = Report.Runs;
  Json Cases = Json::array();
  const std::vector<std::size_t> Firsts = Report.partingFirsts();
  for (std::size_t Index = 0; Index < Report.Cases.size(); ++Index) {
    Cases.push_back(CaseJson(Report.Cases[Index], Report.Cases[Firsts[Index]]));
  }
  Out["cases"] = Cases;
  Out["same"] = Report.Cases.size() - Report.different();
  Out["different"] = Report.different();
  return Out.dump(2) + "\n";
}

} // namespace boardsim
