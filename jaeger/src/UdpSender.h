#pragma once
// A UDP socket connected to the agent. Owns its Winsock session and socket; not copyable.

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

class UdpSender {
 public:
  // "host:port" with an IPv4 address or name. Throws std::invalid_argument when it does not
  // resolve and std::runtime_error when no socket can be made.
  explicit UdpSender(const std::string& hostPort);
  ~UdpSender();
  UdpSender(const UdpSender&) = delete;
  UdpSender& operator=(const UdpSender&) = delete;

  // Sends one datagram made of count pieces, gathered by the system rather than copied
  // together. False when the system refused it; nothing is retried.
  bool send(const opentracing::string_view* pieces, size_t count) noexcept;

 private:
  WinsockSession _session;
  SOCKET _socket = INVALID_SOCKET;
};

// The host's name and its first IPv4 address as dotted text ("127.0.0.1" when it has none).
std::string localHostName();
std::string localIPv4Address();

}  // namespace jaegertracing
