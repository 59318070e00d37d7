// The budget options of the budget tools (--max-bytes): a whole number of bytes, decimal or 0x
// hexadecimal, from 1 to MaximumBudget. The text is checked before the argument library converts
// it, since a conversion to an unsigned type would turn "-1" into the largest budget there is.
#pragma once

#include "CommandLine.h"

#include <cstdint>
#include <string>

namespace tooloutput {

// Far above any module's flash space or stack; a larger budget is a typing mistake.
inline constexpr std::uint64_t MaximumBudget = std::uint64_t{1} << 32;

// Adds the check to the budget option.
inline CLI::Option *ByteBudget(CLI::Option *Option) {
  return NumberFrom(Option, 1, MaximumBudget, "bytes");
}

// What is left of a budget, or how far over it a figure is: "88 left", "912 bytes over".
inline std::string BudgetLeft(std::uint64_t Used, std::uint64_t Budget) {
  return Used <= Budget ? std::to_string(Budget - Used) + " left"
                        : std::to_string(Used - Budget) + " bytes over";
}

} // namespace tooloutput
