// The target description gdb reads through qXfer:features:read:target.xml: the architecture and
// every register of registerLayout, so the 'g' reply's length and the widths match what gdb
// expects.
#pragma once

#include "Target.h"

#include <string>

namespace gdbremote {

std::string targetDescription(Architecture Arch);

} // namespace gdbremote
