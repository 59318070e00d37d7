#include "TableJson.h"

namespace boardsim {
namespace {

using Json = nlohmann::ordered_json;

template <typename Row, typename Object>
Json RowsJson(const std::optional<std::vector<Row>> &Rows, Object &&Fields) {
  if (!Rows) {
    return nullptr;
  }
  Json Out = Json::array();
  for (const Row &Each : *Rows) {
    Out.push_back(Fields(Each));
  }
  return Out;
}

std::string Given(sim::BoardTable Which, const auto &Rows) {
  const std::string Name = sim::TableName(Which);
  if (!Rows) {
    return Name + " was the module's own";
  }
  return Name + " was replaced (" + std::to_string(Rows->size()) +
         (Rows->size() == 1 ? " row" : " rows") + " given)";
}

} // namespace

Json ReplacedTablesJson(const sim::TableRows &Given) {
  return {
      {"decode",
       RowsJson(Given.Decode,
                [](const sim::DecodeTableRow &Row) -> Json {
                  return {{"port", Row.Port}, {"size", Row.Size}, {"attributes", Row.Attributes}};
                })},
      {"script", RowsJson(Given.Script, [](const sim::ScriptTableRow &Row) -> Json {
         return {{"port", Row.Port}, {"and_mask", Row.AndMask}, {"or_value", Row.OrValue}};
       })}};
}

std::string ReplacedTablesSummary(const sim::TableRows &Rows) {
  if (!Rows.replaces()) {
    return {};
  }
  return "Replaced tables ran: " + Given(sim::BoardTable::Decode, Rows.Decode) + ";\n  " +
         Given(sim::BoardTable::Script, Rows.Script) + "\n";
}

} // namespace boardsim
