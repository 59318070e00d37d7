// Section names of a COFF object file, to find static-initialiser tables before the link
// merges them out of sight.
#pragma once

#include <string>
#include <vector>

namespace pe {

// Throws FormatError when the file is not a COFF object.
std::vector<std::string> ObjectSectionNames(const std::string &Path);

} // namespace pe
