// Builds one firmware-file-system file around a PE32 image: optional TRUE dependency expression,
// the image, and its user-interface name.
#pragma once

#include "FfsLayout.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ffsfile {

class FfsError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct FileRequest {
  Guid Name;
  std::uint8_t Type = 0;
  // Section type of a dependency expression that is TRUE, or none for no expression.
  std::optional<std::uint8_t> DepexSectionType;
  std::vector<std::uint8_t> Pe32;
  // Boundary the image's first byte must keep in flash (1: any). An image that runs in place
  // needs its section alignment here.
  std::uint32_t Pe32Alignment = 1;
  std::string UiName; // printable ASCII, stored as UCS-2 with a terminating NUL
};

// Throws FfsError naming what cannot be represented.
std::vector<std::uint8_t> BuildFile(const FileRequest &Request);

} // namespace ffsfile
