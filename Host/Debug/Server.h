// A gdb remote-protocol server for a machine that runs synchronously: the machine runs until it
// must stop (a breakpoint, a finished step, a fault, the end of its run), then calls stopped(),
// which serves gdb's packets until gdb resumes and returns what gdb asked for. Between stops the
// server does nothing on its own; console() and interruptRequested() are the machine's to call
// while it runs.
#pragma once

#include "PacketCodec.h"
#include "Requests.h"
#include "Socket.h"
#include "StopReason.h"
#include "Target.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace gdbremote {

class Server {
public:
  // Listens on 127.0.0.1 only; port 0 picks a free port. Throws ServerError with the reason.
  explicit Server(std::uint16_t Port);

  std::uint16_t port() const { return Listen.port(); }
  // Waits for gdb to connect (without a timeout: as long as it takes); false when the time ran
  // out. After a disconnect gdb may connect again the same way.
  bool accept(std::optional<std::chrono::milliseconds> Timeout = std::nullopt);
  bool connected() const { return Link.open(); }

  // Tells gdb why the machine stopped (once gdb is waiting for it) and serves its packets until
  // it resumes. Kill: end the run now. Detach (also when gdb disconnects, or was never
  // connected): run on to the end without stopping; the breakpoints are then cleared.
  Resume stopped(Target &Machine, const StopReason &Reason);
  // The run ended with this exit code: tells gdb (W) and serves it until it detaches, kills or
  // disconnects; registers and memory are then refused, a resume gets the end again.
  void exited(int Code);
  // Console output for gdb to print while the machine runs; dropped while stopped or when no
  // gdb is connected.
  void console(std::string_view Text);
  // Whether gdb sent its interrupt (Ctrl-C) since the machine resumed; never blocks. The machine
  // answers it by stopping with StopKind::Interrupt.
  bool interruptRequested();
  // The addresses of gdb's inserted breakpoints (Z0 and Z1), where the machine must stop.
  const std::set<std::uint64_t> &breakpoints() const { return Handler.breakpoints(); }

private:
  Resume serve(Target *Machine, const std::string &StopReply);
  std::optional<std::string> nextPacket();
  bool sendPacket(std::string_view Payload);
  bool waitForAck(const std::string &Framed);
  bool readMore(std::optional<std::chrono::milliseconds> Timeout);
  void disconnect();

  Listener Listen;
  Connection Link;
  PacketReader Reader;
  Requests Handler;
  std::string LastSent; // framed, for gdb's '-'
  bool NoAck = false;
  bool Running = false; // gdb resumed the machine and waits for its stop reply
  bool Interrupted = false;
};

} // namespace gdbremote
