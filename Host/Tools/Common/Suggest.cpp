#include "Suggest.h"

#include <algorithm>

namespace tooloutput {
namespace {

// A slip is a letter or two: beyond that the name is another word, and a suggestion misleads.
constexpr std::size_t MaxSlipEdits = 2;

} // namespace

std::size_t EditDistance(std::string_view A, std::string_view B) {
  // Rows of the edit table: two back for the swap of neighbours, one back, and this one.
  std::vector<std::size_t> Before(B.size() + 1), Previous(B.size() + 1), Current(B.size() + 1);
  for (std::size_t J = 0; J <= B.size(); ++J) {
    Previous[J] = J;
  }
  for (std::size_t I = 1; I <= A.size(); ++I) {
    Current[0] = I;
    for (std::size_t J = 1; J <= B.size(); ++J) {
      const std::size_t Replace = Previous[J - 1] + (A[I - 1] == B[J - 1] ? 0 : 1);
      Current[J] = std::min({Previous[J] + 1, Current[J - 1] + 1, Replace});
      if (I > 1 && J > 1 && A[I - 1] == B[J - 2] && A[I - 2] == B[J - 1]) {
        Current[J] = std::min(Current[J], Before[J - 2] + 1);
      }
    }
    std::swap(Before, Previous);
    std::swap(Previous, Current);
  }
  return Previous[B.size()];
}

std::optional<std::string> NearestName(std::string_view Given,
                                       const std::vector<std::string> &Known) {
  std::optional<std::string> Best;
  std::size_t BestEdits = MaxSlipEdits + 1;
  for (const std::string &Each : Known) {
    const std::size_t Edits = EditDistance(Given, Each);
    if (Edits < BestEdits && Edits * 2 < Each.size()) {
      Best = Each;
      BestEdits = Edits;
    }
  }
  return Best;
}

std::string DidYouMean(std::string_view Given, const std::vector<std::string> &Known) {
  const auto Nearest = NearestName(Given, Known);
  return Nearest ? " (did you mean " + *Nearest + "?)" : "";
}

} // namespace tooloutput
