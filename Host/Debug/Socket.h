// The server's TCP ends: a listener on the loopback address only (the debugged machine is never
// offered to other hosts) and the one connection gdb makes to it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace gdbremote {

// A listener that cannot be set up, with the reason in words ("port 1234 is in use").
class ServerError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class Connection {
public:
  Connection() = default;
  explicit Connection(int Descriptor) : Fd(Descriptor) {}
  Connection(Connection &&Other) noexcept;
  Connection &operator=(Connection &&Other) noexcept;
  Connection(const Connection &) = delete;
  Connection &operator=(const Connection &) = delete;
  ~Connection() { close(); }

  bool open() const { return Fd >= 0; }
  void close();
  // False when the peer is gone; the connection is then closed.
  bool send(std::string_view Bytes);
  // Waits for bytes (no timeout: as long as it takes). Nothing when the peer is gone (the
  // connection is then closed); an empty text when the time ran out.
  std::optional<std::string> receive(std::optional<std::chrono::milliseconds> Timeout);

private:
  int Fd = -1;
};

class Listener {
public:
  // Port 0 lets the system pick a free port; port() tells which.
  explicit Listener(std::uint16_t Port);
  Listener(const Listener &) = delete;
  Listener &operator=(const Listener &) = delete;
  ~Listener();

  std::uint16_t port() const { return BoundPort; }
  // Nothing when no one connected in time.
  std::optional<Connection> acceptOne(std::optional<std::chrono::milliseconds> Timeout);

private:
  int Fd = -1;
  std::uint16_t BoundPort = 0;
};

} // namespace gdbremote
