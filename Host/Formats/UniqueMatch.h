// Finding the one element a name should pick out, and telling "none" from "more than one": a
// symbol looked up by its readable name may be defined twice (the same inline function kept by
// two objects, a static function in two files), and then it names nothing.
#pragma once

#include <cstddef>
#include <iterator>
#include <type_traits>

namespace formats {

template <typename Element> struct UniqueMatch {
  const Element *Found = nullptr; // set only when exactly one element matched
  std::size_t Count = 0;
};

template <typename Range>
using ElementOf =
    std::remove_cv_t<std::remove_reference_t<decltype(*std::begin(std::declval<Range &>()))>>;

template <typename Range, typename Predicate>
UniqueMatch<ElementOf<const Range>> FindUnique(const Range &Elements, Predicate Matches) {
  UniqueMatch<ElementOf<const Range>> Result;
  const ElementOf<const Range> *First = nullptr;
  for (const auto &Each : Elements) {
    if (Matches(Each) && Result.Count++ == 0) {
      First = &Each;
    }
  }
  Result.Found = Result.Count == 1 ? First : nullptr;
  return Result;
}

} // namespace formats
