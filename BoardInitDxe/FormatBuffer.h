// The driver's own formatter for debug text: a percent-sign syntax over 8-byte argument slots.
//
//   %s %a  8-bit text          %S  16-bit text (low byte of each unit)   %c  one byte
//   %g %G  GUID, lower/upper   %r  64-bit status by name, else "Status Code(hex)"
//   %d %i  signed decimal      %x %X  hexadecimal, lower/upper case      %p  64-bit upper hex
//   %%     one "%"
// A number takes an optional "0" flag (zero pad), a width (digits, or "*" taking one slot
// before the value's) and "l" for a 64-bit value; without "l" it reads the slot's low 32 bits.
// An unmatched conversion character is copied as plain text.
#pragma once

#include <cstdarg>
#include <cstdint>

// Expands Format into Buffer and returns the number of bytes written before the terminating NUL.
// Capacity counts the bytes Buffer may receive, the NUL included; 0 means no limit. When the
// room runs out the text is cut where it stands and NUL-terminated. A null Buffer or Format
// returns all ones and writes nothing.
std::uint64_t FormatBufferV(char *Buffer, std::uint64_t Capacity, const char *Format,
                            va_list Arguments);

// FormatBufferV over this call's own variable arguments.
std::uint64_t FormatBuffer(char *Buffer, std::uint64_t Capacity, const char *Format, ...);
