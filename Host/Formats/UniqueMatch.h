// Finding the one element a name should pick out, and telling "none" from "more than one": a
// symbol looked up by its readable name may be defined twice (the same inline function kept by
// two objects, a static function in two files), and then it names nothing.
#pragma once

#include <cstddef>

namespace formats {

template <typename Element> struct UniqueMatch {
  const Element *Found = nullptr; // set only when exactly one element matched
  std::size_t Count = 0;
};

template <typename Range, typename Predicate>
auto FindUnique(const Range &Elements, Predicate Matches) {
  UniqueMatch<typename Range::value_type> Result;
  for (const auto &Each : Elements) {
    if (Matches(Each) && Result.Count++ == 0) {
      Result.Found = &Each;
    }
  }
  if (Result.Count != 1) {
    Result.Found = nullptr;
  }
  return Result;
}

} // namespace formats
