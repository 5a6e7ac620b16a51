#pragma once
// A UDP socket connected to the agent. Owns its Winsock session and socket; not copyable.

#include <cstdint>
#include <string>

#include <winsock2.h>

#include <opentracing/string_view.h>

#include "jaeger/src/UniqueResource.h"

namespace jaegertracing {

class WinsockSession {
 public:
  // Throws std::runtime_error when Winsock cannot start.
  WinsockSession();
  ~WinsockSession();
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
};

// While the process runs the socket blocks, as the system's refusal of a datagram (ICMP port
// unreachable) is then reported by the next send; Wine loses it on a non-blocking socket, and
// for the first datagram of any socket, whose refusal it keeps as the socket's error instead:
// that is asked for once, and a socket that has it is replaced, since Wine keeps reporting it.
// At process exit, where nothing may wait, sends go through a non-blocking socket of their own.
// One sending thread at a time.
class UdpSender {
 public:
  // "host:port" with an IPv4 address or name. Throws std::invalid_argument when it does not
  // resolve and std::runtime_error when no socket can be made.
  explicit UdpSender(const std::string& hostPort);
  ~UdpSender();
  UdpSender(const UdpSender&) = delete;
  UdpSender& operator=(const UdpSender&) = delete;

  enum class Outcome { Sent, WouldBlock, Failed };
  struct Result {
    Outcome outcome = Outcome::Failed;
    // The system reported that an earlier datagram was refused: the agent did not take it. This
    // datagram was then tried once more.
    bool earlierRefused = false;
    // This datagram, sent, is already known to be refused.
    bool refused = false;
  };

  // Sends one datagram made of count pieces, gathered by the system rather than copied
  // together. WouldBlock only after sendWithoutBlocking.
  Result send(const opentracing::string_view* pieces, size_t count) noexcept;

  // True when the system holds a refusal of the last datagram sent. Does not wait; asking
  // consumes the refusal, so only when no datagram follows (close, exit).
  bool earlierRefused() noexcept;

  // From now on sends go through the non-blocking socket made for this with the sender. For the
  // flush at exit: a thread killed in the middle of a send (by ExitProcess) leaves its socket
  // stalling every later send, and under Wine making or first using a socket then may receive
  // the descriptor that the killed thread was being passed.
  void sendWithoutBlocking() noexcept;

 private:
  static UniqueSocket openSocket(const sockaddr_in& agent, bool nonBlocking, int& error) noexcept;
  // The socket's error is a refusal.
  bool errorIsRefusal() noexcept;
  // A socket whose error Wine keeps reporting goes; the next datagram takes a new one.
  void replaceSocket() noexcept;

  WinsockSession _session;
  sockaddr_in _agent = {};
  UniqueSocket _blocking;
  UniqueSocket _exitSocket;
  SOCKET _socket = INVALID_SOCKET;  // the one sends go through: _blocking's, then _exitSocket's
  bool _nonBlocking = false;
  uint64_t _sent = 0;  // datagrams sent through this socket
};

// The host's name and its first IPv4 address as dotted text ("127.0.0.1" when it has none).
std::string localHostName();
std::string localIPv4Address();

}  // namespace jaegertracing
