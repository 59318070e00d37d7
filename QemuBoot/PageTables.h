// Identity map of the first 4 GiB for long mode.
#pragma once

#include <cstdint>

// Builds the tables and returns the physical address of the top level, for CR3.
std::uint32_t BuildIdentityMap();
