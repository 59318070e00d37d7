// Answers to gdb's packets while the machine is stopped: one payload in, the reply and what gdb
// asked the machine to do next out. The framing and the socket are Server's.
#pragma once

#include "StopReason.h"
#include "Target.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace gdbremote {

struct Outcome {
  std::optional<std::string> Reply; // nothing: gdb waits for no reply ('k')
  std::optional<Resume> Action;     // gdb resumed, killed or detached
  bool StartNoAck = false;          // acknowledgements end after this reply
};

class Requests {
public:
  // Machine is null once the run has ended: registers and memory are then refused.
  Outcome handle(std::string_view Payload, Target *Machine, const std::string &StopReply);
  const std::set<std::uint64_t> &breakpoints() const { return Breakpoints; }
  void clearBreakpoints() { Breakpoints.clear(); }

private:
  std::string query(std::string_view Payload, Target *Machine);
  std::string breakpoint(std::string_view Payload);
  std::set<std::uint64_t> Breakpoints;
};

// Replies gdb reads as errors; the number is informational only.
inline constexpr std::string_view ErrorBadPacket = "E01";
inline constexpr std::string_view ErrorNoAccess = "E14";
inline constexpr std::string_view ErrorNoMachine = "E02";
inline constexpr std::string_view Okay = "OK";

// The register and memory packets, in files of their own.
std::string readRegisters(const Target &Machine);
std::string writeRegisters(Target &Machine, std::string_view Hex);
std::string readRegister(const Target &Machine, std::string_view Number);
std::string writeRegister(Target &Machine, std::string_view Assignment);
std::string readMemory(Target &Machine, std::string_view Arguments);
std::string writeMemoryHex(Target &Machine, std::string_view Arguments);
std::string writeMemoryBinary(Target &Machine, std::string_view Arguments);
std::string readFeatures(Architecture Arch, std::string_view Arguments);

} // namespace gdbremote
