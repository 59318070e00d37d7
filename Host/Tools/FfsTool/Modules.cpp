#include "Modules.h"

#include "PeFile.h"

namespace ffsfile {

const std::vector<Module> &Modules() {
  // BoardInitDxe needs nothing at its entry but the boot services and the configuration table,
  // which the DXE core provides before it dispatches any driver; a file without an expression
  // would be held back until every architectural protocol is installed, so it carries TRUE.
  static const std::vector<Module> Table = {
      {"BoardInitPei", FileName::BoardInitPei, FileType::Peim, SectionType::PeiDepex,
       PeMachine::I386, true},
      {"BoardInitDxe", FileName::BoardInitDxe, FileType::Driver, SectionType::DxeDepex,
       PeMachine::X64, false},
  };
  return Table;
}

const Module *FindModule(const std::string &Name) {
  for (const Module &Each : Modules()) {
    if (Name == Each.Name) {
      return &Each;
    }
  }
  return nullptr;
}

} // namespace ffsfile
