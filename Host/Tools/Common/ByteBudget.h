// The budget options of the budget tools (--max-bytes): a whole number of bytes, decimal or 0x
// hexadecimal, from 1 to MaximumBudget. The text is checked before the argument library converts
// it, since a conversion to an unsigned type would turn "-1" into the largest budget there is.
#pragma once

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdint>
#include <string>

namespace tooloutput {

// Far above any module's flash space or stack; a larger budget is a typing mistake.
inline constexpr std::uint64_t MaximumBudget = std::uint64_t{1} << 32;

inline CLI::Validator ByteBudget() {
  return CLI::Validator(
      [](std::string &Text) -> std::string {
        const bool Hex = Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X');
        const char *First = Text.data() + (Hex ? 2 : 0);
        const char *Last = Text.data() + Text.size();
        std::uint64_t Value = 0;
        const auto [End, Error] = std::from_chars(First, Last, Value, Hex ? 16 : 10);
        if (First == Last || Error != std::errc() || End != Last || Value == 0 ||
            Value > MaximumBudget) {
          return "'" + Text + "' is not a number of bytes from 1 to " +
                 std::to_string(MaximumBudget);
        }
        Text = std::to_string(Value);
        return "";
      },
      "BYTES");
}

} // namespace tooloutput
