// The compiler's per-function stack-usage records (-fstack-usage): one line per function,
// "file:line:name<TAB>bytes<TAB>qualifier".
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace stack {

struct UsageRecord {
  std::uint64_t Bytes = 0;
  std::string Qualifier; // "static" for a fixed frame; "dynamic..." for a variable one
};

// Keyed by the compiler's name for the function.
std::map<std::string, UsageRecord> ParseStackUsage(const std::string &Path,
                                                   const std::string &Text);

} // namespace stack
