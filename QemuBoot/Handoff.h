// What the 32-bit part hands to the 64-bit part across the switch to long mode. Fixed-width
// fields only: both parts see the same bytes whatever their pointer width.
#pragma once

#include <cstdint>

// The firmware environment the 64-bit driver is run in.
enum class DxeConfiguration : std::uint32_t {
  // HOB list without the timer GUID HOB, SMM Base2 absent.
  Plain = 0,
  // Timer GUID HOB present, SMM Base2 located and reporting "not in SMM".
  TimerHobAndSmm = 1,
};

struct LongModeHandoff {
  std::uint32_t DxeFile; // physical address of the module file as the loader left it
  std::uint32_t DxeFileSize;
  std::uint32_t FreeMemoryStart; // images may be placed in [Start, End)
  std::uint32_t FreeMemoryEnd;
  DxeConfiguration Configuration;
  std::uint32_t EarlierChecksPassed;
};
