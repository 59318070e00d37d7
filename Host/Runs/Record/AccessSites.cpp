#include "AccessSites.h"

#include <algorithm>

namespace runs {

void AccessSites::observe(const sim::TraceRecord &Record, const sim::Board &Source) {
  const std::size_t Made = Records_++;
  if (Record.Kind == sim::AccessKind::Note) {
    return;
  }
  std::size_t Found = NoSite;
  if (const sim::AccessSite *Site = Source.accessSource()) {
    const auto [Known, New] = Index_.try_emplace(Site, Sites_.size());
    if (New) {
      Sites_.push_back({*Site, 0, Made});
    }
    Found = Known->second;
    ++Sites_[Found].Accesses;
  }
  Last_[LastNext_] = Found;
  LastNext_ = (LastNext_ + 1) % Last_.size();
  LastKept_ = std::min(LastKept_ + 1, Last_.size());
}

std::vector<std::optional<std::size_t>> AccessSites::lastSites(std::size_t Count) const {
  std::vector<std::optional<std::size_t>> Sites(Count);
  const std::size_t Ours = std::min(Count, LastKept_);
  for (std::size_t Index = 0; Index < Ours; ++Index) {
    const std::size_t Site = Last_[(LastNext_ + Last_.size() - Ours + Index) % Last_.size()];
    if (Site != NoSite) {
      Sites[Count - Ours + Index] = Site;
    }
  }
  return Sites;
}

} // namespace runs
