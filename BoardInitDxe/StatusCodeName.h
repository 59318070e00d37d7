// Symbolic names of 64-bit UEFI status values, for the driver's serial debug output.
#pragma once

#include <cstdint>

// Returns the constant, NUL-terminated name of the status value, or null when it has none.
// The top three bits select the class (warning, PI warning, error, PI error, OEM error) and the
// low 61 bits the code within it. No state, no side effects, constant time.
const char *GetStatusCodeName(std::uint64_t Status);
