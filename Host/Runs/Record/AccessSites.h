// Where in a shipped image a run's accesses were made, read off its records as they are made: each
// instruction that made one, with how many it made, and the site of each of the last accesses. A
// run of the host build has no sites.
#pragma once

#include "Board.h"
#include "Trace.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace runs {

struct SiteCount {
  sim::AccessSite Site;
  std::uint64_t Accesses = 0;
  std::size_t FirstRecord = 0; // the run's record (counted from 0) of its first access
};

class AccessSites {
public:
  void observe(const sim::TraceRecord &Record, const sim::Board &Source);

  // In the order of their first access.
  const std::vector<SiteCount> &sites() const { return Sites_; }
  // For each of the Count last accesses of the board (sim::Board::lastAccesses, oldest first), the
  // index of its site in sites(); nullopt where the run could not tell, or the access was made
  // before this run (an earlier phase of a boot).
  std::vector<std::optional<std::size_t>> lastSites(std::size_t Count) const;

private:
  std::vector<SiteCount> Sites_;
  std::unordered_map<const sim::AccessSite *, std::size_t> Index_;
  std::size_t Records_ = 0;
  static constexpr std::size_t NoSite = ~std::size_t{0};
  std::array<std::size_t, sim::LastAccessCount> Last_{};
  std::size_t LastNext_ = 0, LastKept_ = 0;
};

} // namespace runs
