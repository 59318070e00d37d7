// The summary's lines kept to a width a terminal and a review tool show whole: a longer line is
// broken at its last blank that fits, the rest indented under it.
#pragma once

#include <cstddef>
#include <string>

namespace boardsim {

// The widest line a summary prints.
inline constexpr std::size_t SummaryWidth = 100;

// Text with every line longer than Width broken at blanks; each continuation is indented two
// columns deeper than the line it continues. A word longer than the room left stays whole.
std::string WrapLines(const std::string &Text, std::size_t Width = SummaryWidth);

} // namespace boardsim
