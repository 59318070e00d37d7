// The stack walk's view of a module's code: the objects as Host/Formats disassembles them, and the
// refusal of code whose stack cannot be bounded.
#pragma once

#include "Disassembly.h"

#include <stdexcept>

namespace stack {

using formats::Function;
using formats::Instruction;
using formats::ObjectCode;

class AnalysisError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

} // namespace stack
