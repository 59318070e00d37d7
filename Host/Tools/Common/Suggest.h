// "did you mean": the nearest of the names a tool knows to a name it does not, so that a typing
// slip (`pie` for pei, `--scenaro` for --scenario) is answered with the name meant.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tooloutput {

// The edits (insert, delete, replace, swap two neighbours) that turn A into B.
std::size_t EditDistance(std::string_view A, std::string_view B);

// The known name nearest to Given, when it is near enough to be a slip: at most two edits, and
// fewer than half of the known name's letters. The first of equally near names wins.
std::optional<std::string> NearestName(std::string_view Given,
                                       const std::vector<std::string> &Known);

// " (did you mean NAME?)", or "" when no known name is near.
std::string DidYouMean(std::string_view Given, const std::vector<std::string> &Known);

} // namespace tooloutput
