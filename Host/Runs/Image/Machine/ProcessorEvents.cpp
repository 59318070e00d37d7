#include "ProcessorEvents.h"

#include <algorithm>

namespace imagerun {

const ProcessorEvent *ProcessorEventAt(std::span<const std::uint8_t> Bytes, std::size_t Length) {
  for (const ProcessorEvent &Event : ProcessorEvents) {
    if ((Length == 0 || Length == Event.Length) && Bytes.size() >= Event.Length &&
        std::equal(Event.Bytes.begin(), Event.Bytes.begin() + Event.Length, Bytes.begin())) {
      return &Event;
    }
  }
  return nullptr;
}

} // namespace imagerun
