#include "Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace gdbremote {

namespace {

constexpr std::size_t ReceiveChunk = 4096;
constexpr int OneWaiting = 1; // gdb is the one client a stopped machine serves

int pollTimeout(std::optional<std::chrono::milliseconds> Timeout) {
  constexpr int Forever = -1;
  return Timeout ? static_cast<int>(Timeout->count()) : Forever;
}

// Waits for the descriptor to be readable; false when the time ran out.
bool waitReadable(int Fd, std::optional<std::chrono::milliseconds> Timeout) {
  pollfd Entry{Fd, POLLIN, 0};
  for (;;) {
    const int Ready = ::poll(&Entry, 1, pollTimeout(Timeout));
    if (Ready >= 0)
      return Ready > 0;
    if (errno != EINTR)
      return true; // the read that follows reports the failure
  }
}

std::string reason(int Error, std::uint16_t Port) {
  if (Error == EADDRINUSE)
    return "port " + std::to_string(Port) + " is in use";
  if (Error == EACCES)
    return "port " + std::to_string(Port) + " needs privileges this process lacks";
  return "cannot listen on 127.0.0.1:" + std::to_string(Port) + ": " + std::strerror(Error);
}

} // namespace

Connection::Connection(Connection &&Other) noexcept : Fd(Other.Fd) {
  Other.Fd = -1;
}

Connection &Connection::operator=(Connection &&Other) noexcept {
  if (this != &Other) {
    close();
    Fd = Other.Fd;
    Other.Fd = -1;
  }
  return *this;
}

void Connection::close() {
  if (Fd >= 0)
    ::close(Fd);
  Fd = -1;
}

bool Connection::send(std::string_view Bytes) {
  while (open() && !Bytes.empty()) {
    // No SIGPIPE for a peer that went away: the run goes on without it.
    const ssize_t Sent = ::send(Fd, Bytes.data(), Bytes.size(), MSG_NOSIGNAL);
    if (Sent < 0 && errno == EINTR)
      continue;
    if (Sent <= 0) {
      close();
      return false;
    }
    Bytes.remove_prefix(static_cast<std::size_t>(Sent));
  }
  return open();
}

std::optional<std::string> Connection::receive(std::optional<std::chrono::milliseconds> Timeout) {
  if (!open())
    return std::nullopt;
  if (!waitReadable(Fd, Timeout))
    return std::string();
  char Buffer[ReceiveChunk];
  for (;;) {
    const ssize_t Got = ::recv(Fd, Buffer, sizeof Buffer, 0);
    if (Got < 0 && errno == EINTR)
      continue;
    if (Got <= 0) {
      close();
      return std::nullopt;
    }
    return std::string(Buffer, static_cast<std::size_t>(Got));
  }
}

Listener::Listener(std::uint16_t Port) {
  Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (Fd < 0)
    throw ServerError(reason(errno, Port));
  // A port left in TIME_WAIT by the last session may be taken again at once.
  const int On = 1;
  ::setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &On, sizeof On);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_port = htons(Port);
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t Length = sizeof Address;
  if (::bind(Fd, reinterpret_cast<sockaddr *>(&Address), sizeof Address) != 0 ||
      ::listen(Fd, OneWaiting) != 0 ||
      ::getsockname(Fd, reinterpret_cast<sockaddr *>(&Address), &Length) != 0) {
    const int Error = errno;
    ::close(Fd);
    throw ServerError(reason(Error, Port));
  }
  BoundPort = ntohs(Address.sin_port);
}

Listener::~Listener() {
  if (Fd >= 0)
    ::close(Fd);
}

std::optional<Connection> Listener::acceptOne(std::optional<std::chrono::milliseconds> Timeout) {
  if (!waitReadable(Fd, Timeout))
    return std::nullopt;
  int Client;
  do
    Client = ::accept4(Fd, nullptr, nullptr, SOCK_CLOEXEC);
  while (Client < 0 && errno == EINTR);
  if (Client < 0)
    return std::nullopt;
  // Packets are small and answered one by one: send each at once.
  const int On = 1;
  ::setsockopt(Client, IPPROTO_TCP, TCP_NODELAY, &On, sizeof On);
  return Connection(Client);
}

} // namespace gdbremote
