// Parsing of boardsim's numeric arguments: numbers, requests and register presets. Every error
// names the bad input and what was expected.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace boardsim {

class UsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Decimal or 0x hexadecimal, at most Bits wide. What names the argument in the message.
std::uint64_t ParseNumber(const std::string &Text, unsigned Bits, const std::string &What);

// Comma-separated fields of the given widths in bits; What names the argument in messages
// ("request '0x3F8,0'").
std::vector<std::uint64_t> ParseRequest(const std::string &Text,
                                        const std::vector<unsigned> &FieldBits,
                                        const std::string &Form, const std::string &What);

struct RegisterPreset {
  std::uint32_t Offset = 0;
  std::uint32_t Value = 0;
  unsigned Width = 4; // bytes
};

// OFFSET=VALUE for a register window of WindowSize bytes; 16-bit registers are listed, every
// other register is 32 bits wide and 4-byte aligned.
RegisterPreset ParsePreset(const std::string &Text, std::uint32_t WindowSize,
                           const std::vector<std::uint32_t> &Registers16,
                           const std::string &Option);

} // namespace boardsim
