#include "Server.h"

#include "StopReply.h"

namespace gdbremote {

namespace {

// gdb resends a packet we refused; a link that keeps refusing ours is given up after this many.
constexpr int MaxResends = 8;
// Console text is sent as hex, two digits a byte, after the 'O'.
constexpr std::size_t ConsoleChunk = MaxPacketPayload / 2 - 1;
constexpr std::chrono::milliseconds NoWait{0};

} // namespace

Server::Server(std::uint16_t Port) : Listen(Port) {}

bool Server::accept(std::optional<std::chrono::milliseconds> Timeout) {
  if (connected())
    return true;
  auto Accepted = Listen.acceptOne(Timeout);
  if (!Accepted)
    return false;
  Link = std::move(*Accepted);
  Reader = PacketReader();
  NoAck = false;
  Running = false;
  Interrupted = false;
  return true;
}

Resume Server::stopped(Target &Machine, const StopReason &Reason) {
  if (!connected())
    return Resume::Detach;
  return serve(&Machine, stopReply(Reason));
}

void Server::exited(int Code) {
  if (connected())
    serve(nullptr, exitReply(Code));
  disconnect();
}

void Server::console(std::string_view Text) {
  if (!connected() || !Running)
    return;
  while (!Text.empty()) {
    const std::string_view Piece = Text.substr(0, ConsoleChunk);
    if (!sendPacket("O" + toHex(Piece)))
      return;
    Text.remove_prefix(Piece.size());
  }
}

bool Server::interruptRequested() {
  if (connected() && Running && !readMore(NoWait))
    disconnect();
  while (const Received *Front = Reader.peek()) {
    if (Front->What == Received::Kind::Interrupt)
      Interrupted = true;
    else if (Front->What != Received::Kind::Ack)
      break; // a packet: kept for the next stop
    Reader.next();
  }
  const bool Asked = Interrupted;
  Interrupted = false;
  return Asked;
}

Resume Server::serve(Target *Machine, const std::string &StopReply) {
  if (Running) {
    Running = false;
    sendPacket(StopReply);
  }
  for (;;) {
    const auto Payload = nextPacket();
    if (!Payload) {
      disconnect();
      return Resume::Detach;
    }
    const Outcome Result = Handler.handle(*Payload, Machine, StopReply);
    if (Result.Reply)
      sendPacket(*Result.Reply);
    // gdb acknowledges the OK to QStartNoAckMode; nothing after it.
    if (Result.StartNoAck)
      NoAck = true;
    if (!Result.Action)
      continue;
    if (*Result.Action == Resume::Kill || *Result.Action == Resume::Detach) {
      disconnect();
      return *Result.Action;
    }
    Running = true;
    Interrupted = false;
    return *Result.Action;
  }
}

std::optional<std::string> Server::nextPacket() {
  for (;;) {
    auto Event = Reader.next();
    if (!Event) {
      if (!readMore(std::nullopt))
        return std::nullopt;
      continue;
    }
    switch (Event->What) {
    case Received::Kind::Packet:
      if (!NoAck)
        Link.send(std::string(1, Ack));
      return std::move(Event->Payload);
    case Received::Kind::BadPacket:
      if (!NoAck)
        Link.send(std::string(1, Nack));
      break;
    case Received::Kind::Nack:
      if (!NoAck && !LastSent.empty())
        Link.send(LastSent);
      break;
    case Received::Kind::Interrupt:
      // The machine is already stopped: nothing to interrupt.
    case Received::Kind::Ack:
      break;
    }
  }
}

bool Server::sendPacket(std::string_view Payload) {
  LastSent = frame(Payload);
  if (!Link.send(LastSent))
    return false;
  return NoAck || waitForAck(LastSent);
}

bool Server::waitForAck(const std::string &Framed) {
  int Resends = 0;
  for (;;) {
    const Received *Front = Reader.peek();
    if (!Front) {
      if (!readMore(std::nullopt))
        return false;
      continue;
    }
    switch (Front->What) {
    case Received::Kind::Ack:
      Reader.next();
      return true;
    case Received::Kind::Nack:
      Reader.next();
      if (++Resends > MaxResends || !Link.send(Framed))
        return connected();
      break;
    case Received::Kind::Interrupt:
      Reader.next();
      Interrupted = true;
      break;
    default:
      // gdb went on to its next packet: it had what it needed.
      return true;
    }
  }
}

bool Server::readMore(std::optional<std::chrono::milliseconds> Timeout) {
  const auto Bytes = Link.receive(Timeout);
  if (!Bytes)
    return false;
  Reader.feed(*Bytes);
  return true;
}

void Server::disconnect() {
  Link.close();
  Handler.clearBreakpoints();
  Running = false;
  Interrupted = false;
}

} // namespace gdbremote
