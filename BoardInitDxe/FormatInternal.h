// Building blocks of the formatter, shared with its unit tests only.
#pragma once

#include <cstdint>

// Writes the digits of Value into Text least significant first, then a NUL, and returns the
// position of the last character before the NUL; the caller reads the text backwards.
// Base is 10 or 16 (any other base is treated as 10). A negative value in base 10 prints as
// its magnitude followed by "-"; in base 16 it prints as unsigned 64-bit when Wide is set and as
// its low 32 bits otherwise (a sign-extended 32-bit value). Text needs room for 21 characters.
std::uint32_t ValueToText(std::uint64_t Value, char *Text, std::uint32_t Base, std::uint8_t Wide);

// Reads a field width at Text: blanks and tabs, an optional "-" then an optional "+", then
// decimal digits. The running value wraps modulo 2^32 and is tested after each digit: once it
// reaches 0x80000000 (exceeds it, after "-") the width saturates to 0x7FFFFFFF (-0x80000000)
// for good. *End receives the first character not consumed.
std::int32_t ParseFieldWidth(const char *Text, const char **End);
