// The board's firmware modules as the platform integrator receives them: each one's file-name
// GUID, file type, dependency expression and the machine its image must be built for.
#pragma once

#include "FfsLayout.h"
#include "Pe/PeFormat.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace ffsfile {

namespace FileName {
// {D7D47718-8DA2-466A-BE65-76595DDA1461}
inline constexpr Guid BoardInitPei = {
    0xD7D47718, 0x8DA2, 0x466A, {0xBE, 0x65, 0x76, 0x59, 0x5D, 0xDA, 0x14, 0x61}};
// {57C8DA1A-93FE-4147-99DF-9F2BA2DB482F}
inline constexpr Guid BoardInitDxe = {
    0x57C8DA1A, 0x93FE, 0x4147, {0x99, 0xDF, 0x9F, 0x2B, 0xA2, 0xDB, 0x48, 0x2F}};
} // namespace FileName

struct Module {
  const char *Name;  // also the user-interface name
  const char *Entry; // the entry function: an image whose entry point is another is not the module
  Guid FileName;
  std::uint8_t FileType;
  std::optional<std::uint8_t> DepexSectionType;
  std::uint16_t Machine;
  // The PEI core runs the module from flash, so the image's section alignment must hold in
  // the volume; a driver is copied into memory by the loader and needs no placement.
  bool ExecuteInPlace;
};

// BoardInitDxe needs nothing at its entry but the boot services and the configuration table,
// which the DXE core provides before it dispatches any driver; a file without an expression
// would be held back until every architectural protocol is installed, so it carries TRUE.
inline constexpr Module Modules[] = {
    {"BoardInitPei", "BoardInitPeiEntry", FileName::BoardInitPei, FileType::Peim,
     SectionType::PeiDepex, PeMachine::I386, true},
    {"BoardInitDxe", "BoardInitDxeEntry", FileName::BoardInitDxe, FileType::Driver,
     SectionType::DxeDepex, PeMachine::X64, false},
};

inline const Module *FindModule(std::string_view Name) {
  for (const Module &Each : Modules) {
    if (Name == Each.Name) {
      return &Each;
    }
  }
  return nullptr;
}

} // namespace ffsfile
