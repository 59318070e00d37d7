// Where the image tests find the firmware flavour's images; a test skips when they were not built.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace imagetest {

inline std::string FirmwareFile(const char *Name) {
  return std::string(FIRMWARE_DIR) + "/" + Name;
}

inline const std::string PeiImagePath = FirmwareFile("BoardInitPei.efi");
inline const std::string DxeImagePath = FirmwareFile("BoardInitDxe.efi");

} // namespace imagetest

// Skips the test when the driver's image has not been built.
#define SKIP_WITHOUT_DXE_IMAGE()                                                                   \
  if (!std::filesystem::exists(imagetest::DxeImagePath)) {                                         \
    GTEST_SKIP() << imagetest::DxeImagePath << " is not built (cmake --build --preset firmware)";  \
  }

// Skips the test when the early-init image has not been built (cmake --preset firmware).
#define SKIP_WITHOUT_PEI_IMAGE()                                                                   \
  if (!std::filesystem::exists(imagetest::PeiImagePath)) {                                         \
    GTEST_SKIP() << imagetest::PeiImagePath << " is not built (cmake --build --preset firmware)";  \
  }
