// The rules the board's firmware relies on for each of its modules' images, keyed by the module's
// row: `pe-check --module NAME` checks all of them, so the build's inspection of an image and a
// user's check of it are the same check. The machine, the entry point and executing in place
// come from the module's row itself.
#pragma once

#include "Modules.h"
#include "Pe/PeFormat.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace pecheck {

struct ModuleRules {
  modules::ModuleId Module;
  std::uint16_t Subsystem;
  // A module run from flash has nowhere to write: a byte of data in it would be read-only.
  bool NoWritableData;
  // Both phases load a module without resolving imports, and relocate it where it is placed.
  bool NoImports;
  bool Relocatable;
};

inline constexpr ModuleRules BoardRules[] = {
    {modules::ModuleId::BoardInitPei, OptionalHeader::SubsystemEfiBootServiceDriver, true, true,
     true},
    {modules::ModuleId::BoardInitDxe, OptionalHeader::SubsystemEfiBootServiceDriver, false, true,
     true},
};

static_assert(std::size(BoardRules) == std::size(modules::Modules));

constexpr const ModuleRules &RulesOf(modules::ModuleId Which) {
  return *std::find_if(std::begin(BoardRules), std::end(BoardRules),
                       [&](const ModuleRules &Each) { return Each.Module == Which; });
}

} // namespace pecheck
