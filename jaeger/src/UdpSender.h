#pragma once
// A UDP socket connected to the agent. Owns its Winsock session and socket; not copyable.

#include <chrono>
#include <cstdint>
#include <string>

#include <winsock2.h>

#include <opentracing/string_view.h>

namespace jaegertracing {

class WinsockSession {
 public:
  // Throws std::runtime_error when Winsock cannot start.
  WinsockSession();
  ~WinsockSession();
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
};

// The socket never blocks: a send that would wait for room fails at once with WouldBlock, and
// the caller decides whether to wait (while the process runs) or give up (at its exit). One
// sending thread at a time.
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
    // The system reported that an earlier datagram was refused (ICMP port unreachable): the
    // agent did not take it. This datagram was then tried once more.
    bool earlierRefused = false;
  };

  // Sends one datagram made of count pieces, gathered by the system rather than copied
  // together. One sending thread at a time.
  Result send(const opentracing::string_view* pieces, size_t count) noexcept;

  // True when the system holds a refusal of an earlier datagram, which it then forgets. Does
  // not wait.
  bool earlierRefused() noexcept;

  // Waits at most timeout until a send would not block; false when it still would.
  bool waitWritable(std::chrono::milliseconds timeout) noexcept;

  // Sends from a new socket from now on. A thread killed in the middle of a send (by
  // ExitProcess, say) leaves its socket refusing every later send as would-block. The old one is
  // left open with closeOld false, at process exit, where closing it could wait on the dead
  // send. False, with the old one kept, when no socket can be made.
  bool reopen(bool closeOld) noexcept;

 private:
  static SOCKET openSocket(const sockaddr_in& agent, int& error) noexcept;

  WinsockSession _session;
  sockaddr_in _agent = {};
  SOCKET _socket = INVALID_SOCKET;
};

// The host's name and its first IPv4 address as dotted text ("127.0.0.1" when it has none).
std::string localHostName();
std::string localIPv4Address();

}  // namespace jaegertracing
