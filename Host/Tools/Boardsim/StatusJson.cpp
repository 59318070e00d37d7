#include "StatusJson.h"

#include "Trace.h"

namespace boardsim {

constexpr unsigned BitsPerHexDigit = 4;

nlohmann::ordered_json StatusName(std::optional<std::uint64_t> Status, const sim::Operation &Made) {
  if (!Status) {
    return nullptr;
  }
  const char *Name = sim::StatusName(*Status, sim::StatusBits(Made));
  return Name != nullptr ? nlohmann::ordered_json(Name) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json StatusHex(std::optional<std::uint64_t> Status, const sim::Operation &Made) {
  if (!Status) {
    return nullptr;
  }
  return sim::HexText(*Status, static_cast<int>(sim::StatusBits(Made) / BitsPerHexDigit));
}

} // namespace boardsim
