#include "jaeger/src/UdpSender.h"

#include <cstring>
#include <stdexcept>
#include <utility>

#include <ws2tcpip.h>

namespace jaegertracing {

namespace {

// getaddrinfo's result list.
class AddressList {
 public:
  AddressList(const std::string& host, const char* port, int family, int socketType) {
    addrinfo hints = {};
    hints.ai_family = family;
    hints.ai_socktype = socketType;
    _status = getaddrinfo(host.c_str(), port, &hints, _list.put());
  }

  int status() const { return _status; }
  const addrinfo* first() const { return _status == 0 ? _list.get() : nullptr; }

 private:
  UniqueAddressList _list;
  int _status = 0;
};

}  // namespace

WinsockSession::WinsockSession() {
  WSADATA data;
  int status = WSAStartup(MAKEWORD(2, 2), &data);
  if (status != 0) throw std::runtime_error("WSAStartup failed with " + std::to_string(status));
}

WinsockSession::~WinsockSession() { WSACleanup(); }

UdpSender::UdpSender(const std::string& hostPort) {
  size_t colon = hostPort.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == hostPort.size()) {
    throw std::invalid_argument("agent address \"" + hostPort + "\" is not host:port");
  }
  std::string host = hostPort.substr(0, colon);
  std::string port = hostPort.substr(colon + 1);
  AddressList addresses(host, port.c_str(), AF_INET, SOCK_DGRAM);
  const addrinfo* address = addresses.first();
  if (!address) {
    throw std::invalid_argument("agent address \"" + hostPort + "\" does not resolve (" +
                                std::to_string(addresses.status()) + ")");
  }
  std::memcpy(&_agent, address->ai_addr, sizeof _agent);
  int error = 0;
  _blocking = openSocket(_agent, false, error);
  if (_blocking) _exitSocket = openSocket(_agent, true, error);
  if (!_exitSocket) {
    throw std::runtime_error("the agent's socket failed with " + std::to_string(error));
  }
  _socket = _blocking.get();
}

// Connected, which lets the system report an absent agent (ICMP port unreachable) on a later
// send; the tracer never reads from it. Asking how many bytes wait makes this thread the socket's
// first user: a socket layer that hands a socket to the thread first using it (a compatibility
// layer may) then never does so for a background thread that ExitProcess can kill half way, which
// would leave the hand-over to the next first use, the flush at exit.
UniqueSocket UdpSender::openSocket(const sockaddr_in& agent, bool nonBlocking, int& error) noexcept {
  UniqueSocket made(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  u_long mode = nonBlocking ? 1 : 0;
  u_long waiting = 0;
  if (!made || ioctlsocket(made.get(), FIONBIO, &mode) != 0 ||
      connect(made.get(), reinterpret_cast<const sockaddr*>(&agent), sizeof agent) != 0 ||
      ioctlsocket(made.get(), FIONREAD, &waiting) != 0) {
    error = WSAGetLastError();
    return UniqueSocket();
  }
  return made;
}

void UdpSender::sendWithoutBlocking() noexcept {
  // The blocking socket is left open: a killed thread may have been inside a send on it.
  _blocking.release();
  _socket = _exitSocket.get();
  _nonBlocking = true;
  _sent = 0;
}

UdpSender::~UdpSender() = default;

namespace {

// The agent's port was unreachable for a datagram sent before: Windows says WSAECONNRESET, Wine
// passes on the refusal of the system beneath.
bool isRefusal(int error) { return error == WSAECONNRESET || error == WSAECONNREFUSED; }

}  // namespace

UdpSender::Result UdpSender::send(const opentracing::string_view* pieces, size_t count) noexcept {
  Result result;
  WSABUF buffers[8];
  if (count > sizeof buffers / sizeof buffers[0]) return result;
  size_t total = 0;
  for (size_t i = 0; i < count; ++i) {
    buffers[i].buf = const_cast<char*>(pieces[i].data());
    buffers[i].len = static_cast<ULONG>(pieces[i].size());
    total += pieces[i].size();
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD sent = 0;
    if (WSASend(_socket, buffers, static_cast<DWORD>(count), &sent, 0, nullptr, nullptr) == 0) {
      result.outcome = sent == total ? Outcome::Sent : Outcome::Failed;
      if (++_sent == 1 && errorIsRefusal()) {
        result.refused = true;
        if (!_nonBlocking) replaceSocket();
      }
      return result;
    }
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      result.outcome = Outcome::WouldBlock;
      return result;
    }
    // The error belongs to an earlier datagram and is now consumed: this one gets its own try.
    if (!isRefusal(error) || result.earlierRefused) break;
    result.earlierRefused = true;
  }
  result.outcome = Outcome::Failed;
  return result;
}

void UdpSender::replaceSocket() noexcept {
  int error = 0;
  UniqueSocket fresh = openSocket(_agent, false, error);
  if (!fresh) return;
  _blocking = std::move(fresh);
  _socket = _blocking.get();
  _sent = 0;
}

bool UdpSender::errorIsRefusal() noexcept {
  int error = 0;
  int size = sizeof error;
  return getsockopt(_socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 && isRefusal(error);
}

bool UdpSender::earlierRefused() noexcept {
  // Wine and the Linux socket beneath keep it as the socket's error.
  if (errorIsRefusal()) return true;
  // Windows reports it on a read, which finds nothing else: the agent never answers.
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(_socket, &readable);
  timeval now = {0, 0};
  char byte;
  return select(0, &readable, nullptr, nullptr, &now) == 1 && recv(_socket, &byte, 1, MSG_PEEK) == SOCKET_ERROR &&
         isRefusal(WSAGetLastError());
}

std::string localHostName() {
  WinsockSession session;
  char name[256] = {};
  if (gethostname(name, sizeof name) != 0) return "localhost";
  return name;
}

std::string localIPv4Address() {
  WinsockSession session;
  AddressList addresses(localHostName(), nullptr, AF_INET, SOCK_DGRAM);
  for (const addrinfo* a = addresses.first(); a; a = a->ai_next) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text)) return text;
  }
  return "127.0.0.1";
}

}  // namespace jaegertracing
