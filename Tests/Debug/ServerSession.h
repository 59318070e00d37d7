// A server on a loopback port, serving a FakeTarget in a thread of its own, and the raw client
// end the tests talk to it through, byte by byte.
#pragma once

#include "FakeTarget.h"
#include "Server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace gdbremote::testing {

inline constexpr std::chrono::milliseconds ReplyTimeout{3000};

// What the machine does when gdb lets it run on.
enum class OnContinue { StopAtBreakpoint, Exit, WaitForInterrupt };
inline constexpr int ExitCode = 3;
inline constexpr std::string_view ConsoleText = "run\n";

class ServerSession {
public:
  explicit ServerSession(Architecture Arch, OnContinue Then = OnContinue::StopAtBreakpoint)
      : Machine(Arch), Debugger(0), Behaviour(Then) {
    Runner = std::thread([this] { run(); });
    Client = ::socket(AF_INET, SOCK_STREAM, 0);
    // As gdb does: an acknowledgement and the next packet each go out at once.
    const int On = 1;
    ::setsockopt(Client, IPPROTO_TCP, TCP_NODELAY, &On, sizeof On);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons(Debugger.port());
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(Client, reinterpret_cast<sockaddr *>(&Address), sizeof Address);
  }
  ~ServerSession() {
    closeClient();
    Runner.join();
  }

  void send(std::string_view Bytes) { ::send(Client, Bytes.data(), Bytes.size(), MSG_NOSIGNAL); }
  // Reads until Count bytes came or the time ran out.
  std::string receive(std::size_t Count) {
    std::string Got;
    const auto Deadline = std::chrono::steady_clock::now() + ReplyTimeout;
    while (Got.size() < Count) {
      const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
          Deadline - std::chrono::steady_clock::now());
      pollfd Entry{Client, POLLIN, 0};
      if (Left.count() <= 0 || ::poll(&Entry, 1, static_cast<int>(Left.count())) <= 0)
        break;
      char Buffer[256];
      const ssize_t N = ::recv(Client, Buffer, std::min(sizeof Buffer, Count - Got.size()), 0);
      if (N <= 0)
        break;
      Got.append(Buffer, static_cast<std::size_t>(N));
    }
    return Got;
  }
  // Reads until what came ends with Ending or the time ran out.
  std::string receiveUntil(std::string_view Ending) {
    std::string Got;
    for (std::string More = receive(1); !More.empty(); More = receive(1)) {
      Got += More;
      if (Got.ends_with(Ending))
        break;
    }
    return Got;
  }
  // True when the server closed its end.
  bool closedByServer() {
    pollfd Entry{Client, POLLIN, 0};
    char Byte;
    return ::poll(&Entry, 1, static_cast<int>(ReplyTimeout.count())) > 0 &&
           ::recv(Client, &Byte, 1, 0) == 0;
  }
  void closeClient() {
    if (Client >= 0)
      ::close(Client);
    Client = -1;
  }
  // What the machine was asked to do, in order; once the session ended.
  std::vector<Resume> finish() {
    closeClient();
    Runner.join();
    Runner = std::thread([] {});
    return Resumes;
  }
  std::size_t breakpointsLeft() const { return BreakpointsAtEnd; }

private:
  void run() {
    Debugger.accept();
    StopReason Reason;
    for (;;) {
      const Resume Action = Debugger.stopped(Machine, Reason);
      Resumes.push_back(Action);
      if (Action == Resume::Kill || Action == Resume::Detach)
        break;
      Reason = execute(Action);
    }
    // The run goes on without the debugger; every call must come back at once.
    BreakpointsAtEnd = Debugger.breakpoints().size();
    Debugger.console(ConsoleText);
    Debugger.exited(0);
  }

  StopReason execute(Resume Action) {
    switch (Action) {
    case Resume::Step:
      Machine.step(1);
      return {StopKind::Step};
    case Resume::ReverseStep:
      Machine.step(-1);
      return {StopKind::ReplayBegin};
    case Resume::ReverseContinue:
      return {StopKind::ReplayBegin};
    default:
      break;
    }
    Debugger.console(ConsoleText);
    if (Behaviour == OnContinue::Exit) {
      Debugger.exited(ExitCode);
      return {};
    }
    if (Behaviour == OnContinue::WaitForInterrupt) {
      const auto Deadline = std::chrono::steady_clock::now() + ReplyTimeout;
      while (!Debugger.interruptRequested() && std::chrono::steady_clock::now() < Deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return {StopKind::Interrupt};
    }
    return {StopKind::Breakpoint};
  }

  FakeTarget Machine;
  Server Debugger;
  OnContinue Behaviour;
  std::vector<Resume> Resumes;
  std::size_t BreakpointsAtEnd = 0;
  std::thread Runner;
  int Client = -1;
};

// One step of an exchange: the bytes the client sends and the bytes it must get back. A reply
// packet is acknowledged unless Acknowledge is false.
struct Exchange {
  const char *Case;
  std::string Sent;
  std::string Expected;
  bool Acknowledge = true;
};

inline void play(ServerSession &Session, const std::vector<Exchange> &Script) {
  for (const Exchange &Step : Script) {
    Session.send(Step.Sent);
    EXPECT_EQ(Session.receive(Step.Expected.size()), Step.Expected) << Step.Case;
    if (Step.Acknowledge && Step.Expected.find('$') != std::string::npos)
      Session.send("+");
  }
}

} // namespace gdbremote::testing
