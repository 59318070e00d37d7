// The stop replies gdb reads when the machine stops or the run ends.
#pragma once

#include "StopReason.h"

#include <string>

namespace gdbremote {

// gdb's thread id of the one thread a machine runs: "thread:01;" in every stop reply.
inline constexpr std::string_view ThreadId = "01";

std::string stopReply(const StopReason &Reason);
// The exit code's low byte, as a process's status carries it.
std::string exitReply(int Code);

} // namespace gdbremote
