// The firmware files the board's modules are delivered in, one row for each module of the
// modules' table: the file-name GUID, the file type and the dependency expression the platform
// integrator's volume needs. Name, entry, machine and execute in place are the module's row's.
#pragma once

#include "FfsLayout.h"
#include "Modules.h"

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

struct ModuleFile {
  modules::ModuleId Module;
  Guid FileName;
  std::uint8_t FileType;
  std::optional<std::uint8_t> DepexSectionType;

  const modules::Module &row() const { return modules::ModuleOf(Module); }
};

// BoardInitDxe needs nothing at its entry but the boot services and the configuration table,
// which the DXE core provides before it dispatches any driver; a file without an expression
// would be held back until every architectural protocol is installed, so it carries TRUE.
inline constexpr ModuleFile ModuleFiles[] = {
    {modules::ModuleId::BoardInitPei, FileName::BoardInitPei, FileType::Peim,
     SectionType::PeiDepex},
    {modules::ModuleId::BoardInitDxe, FileName::BoardInitDxe, FileType::Driver,
     SectionType::DxeDepex},
};

// Every module has its file, in the table's order.
static_assert([] {
  if (std::size(ModuleFiles) != std::size(modules::Modules)) {
    return false;
  }
  for (std::size_t Row = 0; Row < std::size(ModuleFiles); ++Row) {
    if (ModuleFiles[Row].Module != modules::Modules[Row].Id) {
      return false;
    }
  }
  return true;
}());

// nullptr when no module has that name.
inline const ModuleFile *FindModuleFile(std::string_view Name) {
  const modules::Module *Row = modules::FindModule(Name);
  return Row ? &ModuleFiles[static_cast<std::size_t>(Row->Id)] : nullptr;
}

} // namespace ffsfile
