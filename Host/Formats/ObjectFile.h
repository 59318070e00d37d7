// COFF object files of the firmware build, read through LLVM's object reader: what pe-check
// scans for static initialisers and what the stack walk disassembles.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace formats {

// The file is not an i386 or x86-64 COFF object, or cannot be read; the message names it.
class ObjectError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Objects of these modules are tens of kilobytes; anything near this is not one of them.
inline constexpr std::uint64_t MaxObjectFileBytes = std::uint64_t{64} << 20;

// The names of the object's sections, in their order in the section table.
std::vector<std::string> ObjectSectionNames(const std::string &Path);

} // namespace formats
