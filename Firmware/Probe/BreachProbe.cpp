// A deliberately broken image: writable data and a static constructor, the two things an
// execute-in-place module must never carry. The image inspection must reject it.
#include "HwAccess.h"
#include "PmTimer.h"

namespace {
std::uint32_t WrittenAtRunTime;

struct Constructed {
  Constructed() : Value(PortRead32(PmTimer::Port)) {}
  std::uint32_t Value;
};
Constructed NeedsAConstructor;
} // namespace

extern "C" std::uint32_t BreachProbeEntry(void *, void *) {
  WrittenAtRunTime = PortRead32(PmTimer::Port);
  return WrittenAtRunTime + NeedsAConstructor.Value;
}
