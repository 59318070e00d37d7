// Multiboot (version 1) hand-over: the record the loader leaves in EBX, 32-bit fields only.
#pragma once

#include <cstdint>

namespace Multiboot {
inline constexpr std::uint32_t LoaderMagic = 0x2BADB002; // in EAX at entry
inline constexpr std::uint32_t InfoMemory = 1u << 0;
inline constexpr std::uint32_t InfoCommandLine = 1u << 2;
inline constexpr std::uint32_t InfoModules = 1u << 3;
inline constexpr std::uint32_t KiB = 1024;
inline constexpr std::uint32_t UpperMemoryStart = 0x00100000;
} // namespace Multiboot

struct MultibootInfo {
  std::uint32_t Flags;
  std::uint32_t MemoryLowerKiB;
  std::uint32_t MemoryUpperKiB; // from 1 MiB up to the first hole
  std::uint32_t BootDevice;
  std::uint32_t CommandLine;
  std::uint32_t ModuleCount;
  std::uint32_t ModuleList;
};

struct MultibootModule {
  std::uint32_t Start;
  std::uint32_t End; // first byte after the module
  std::uint32_t Name;
  std::uint32_t Reserved;
};
static_assert(sizeof(MultibootModule) == 16);
