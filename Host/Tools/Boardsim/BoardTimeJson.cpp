#include "BoardTimeJson.h"

namespace boardsim {

using namespace runs;

nlohmann::ordered_json BoardTimeJson(const runs::BoardTime &Time) {
  using Json = nlohmann::ordered_json;
  Json Waits = Json::array();
  for (const TimedWait &Wait : Time.waits()) {
    Waits.push_back({{"kind", WaitKindName(Wait.Kind)},
                     {"register", Wait.Register},
                     {"port", Wait.IsPort ? Json(Wait.Address) : Json(nullptr)},
                     {"address", Wait.IsPort ? Json(nullptr) : Json(Wait.Address)},
                     {"reads", Wait.Reads},
                     {"ticks", Wait.Ticks},
                     {"microseconds", Microseconds(Wait.Ticks)},
                     {"finished", Wait.Finished},
                     {"running", Wait.Running}});
  }
  const auto Reading = [](std::optional<std::uint32_t> Value) {
    return Value ? Json(*Value) : Json(nullptr);
  };
  const TimedWait *HungIn = Time.hungIn();
  return {{"pm_timer_hz", PmTimerHz},
          {"pm_timer_reads", Time.pmTimerReads()},
          {"first_reading", Reading(Time.firstReading())},
          {"last_reading", Reading(Time.lastReading())},
          {"ticks", Time.ticks()},
          {"microseconds", Microseconds(Time.ticks())},
          {"waits", Waits},
          {"hung_in", HungIn != nullptr ? Json(WaitText(*HungIn)) : Json(nullptr)}};
}

} // namespace boardsim
