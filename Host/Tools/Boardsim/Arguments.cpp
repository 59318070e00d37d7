#include "Arguments.h"

#include <algorithm>
#include <charconv>

namespace boardsim {

std::uint64_t ParseNumber(const std::string &Text, unsigned Bits, const std::string &What) {
  const bool Hex = Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X');
  const std::string Digits = Hex ? Text.substr(2) : Text;
  std::uint64_t Value = 0;
  const char *End = Digits.data() + Digits.size();
  const auto [Stop, Error] = std::from_chars(Digits.data(), End, Value, Hex ? 16 : 10);
  if (Error == std::errc::result_out_of_range) {
    throw UsageError(What + ": '" + Text + "' is out of range");
  }
  if (Error != std::errc{} || Stop != End) {
    throw UsageError(What + ": '" + Text + "' is not a number (decimal or 0x hexadecimal)");
  }
  if (Bits < 64 && Value >> Bits != 0) {
    throw UsageError(What + ": '" + Text + "' does not fit in " + std::to_string(Bits) + " bits");
  }
  return Value;
}

std::vector<std::uint64_t> ParseRequest(const std::string &Text,
                                        const std::vector<unsigned> &FieldBits,
                                        const std::string &Form, const std::string &What) {
  std::vector<std::string> Fields;
  std::string::size_type Start = 0;
  for (;;) {
    const std::string::size_type Comma = Text.find(',', Start);
    Fields.push_back(Text.substr(Start, Comma - Start));
    if (Comma == std::string::npos) {
      break;
    }
    Start = Comma + 1;
  }
  if (Fields.size() != FieldBits.size()) {
    throw UsageError(What + ": expected " + Form + " (" + std::to_string(FieldBits.size()) +
                     " fields), got " + std::to_string(Fields.size()));
  }
  std::vector<std::uint64_t> Values;
  for (std::size_t Index = 0; Index < Fields.size(); ++Index) {
    Values.push_back(ParseNumber(Fields[Index], FieldBits[Index], What));
  }
  return Values;
}

RegisterPreset ParsePreset(const std::string &Text, std::uint32_t WindowSize,
                           const std::vector<std::uint32_t> &Registers16,
                           const std::string &Option) {
  const std::string::size_type Equals = Text.find('=');
  if (Equals == std::string::npos) {
    throw UsageError(Option + " '" + Text + "': expected OFFSET=VALUE");
  }
  RegisterPreset Preset;
  Preset.Offset = static_cast<std::uint32_t>(
      ParseNumber(Text.substr(0, Equals), 32, Option + " offset in '" + Text + "'"));
  const bool Is16 =
      std::find(Registers16.begin(), Registers16.end(), Preset.Offset) != Registers16.end();
  Preset.Width = Is16 ? 2 : 4;
  if (!Is16 && Preset.Offset % 4 != 0) {
    throw UsageError(Option + " '" + Text + "': a 32-bit register offset must be a multiple of 4");
  }
  if (std::uint64_t{Preset.Offset} + Preset.Width > WindowSize) {
    throw UsageError(Option + " '" + Text + "': offset lies outside the register window");
  }
  Preset.Value = static_cast<std::uint32_t>(
      ParseNumber(Text.substr(Equals + 1), Preset.Width * 8, Option + " value in '" + Text + "'"));
  return Preset;
}

} // namespace boardsim
