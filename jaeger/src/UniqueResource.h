#pragma once
// The Jaeger client's one owner of a system resource: a socket, a block of the process heap, an
// address list. The client is a library of its own, so it has its own small owner rather than
// the platform layer's. The owner releases what it holds through a noexcept closer on every path,
// is moved but never copied and never raises; release() hands the resource over unreleased. Any
// thread may use an owner that it alone holds.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <utility>

namespace jaegertracing {

template <class Resource, Resource Empty, void (*Close)(Resource) noexcept>
class UniqueResource {
 public:
  UniqueResource() noexcept = default;
  explicit UniqueResource(Resource value) noexcept : _value(value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(UniqueResource&& other) noexcept : _value(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Resource get() const noexcept { return _value; }
  explicit operator bool() const noexcept { return _value != Empty; }
  Resource release() noexcept { return std::exchange(_value, Empty); }
  void reset(Resource value = Empty) noexcept {
    const Resource old = std::exchange(_value, value);
    if (old != Empty) Close(old);
  }
  // Releases what is held and lends the slot to a call that returns a new value through it.
  Resource* put() noexcept {
    reset();
    return &_value;
  }

 private:
  Resource _value = Empty;
};

inline void closeSocket(SOCKET socket) noexcept { closesocket(socket); }
// Blocks come from the process heap rather than the C run-time's, so that a thread ending after
// the run-time has shut down can still give its memory back.
inline void freeHeapBlock(void* block) noexcept { HeapFree(GetProcessHeap(), 0, block); }
inline void freeAddressList(addrinfo* list) noexcept { freeaddrinfo(list); }

using UniqueSocket = UniqueResource<SOCKET, INVALID_SOCKET, closeSocket>;
using UniqueHeapBlock = UniqueResource<void*, nullptr, freeHeapBlock>;
using UniqueAddressList = UniqueResource<addrinfo*, nullptr, freeAddressList>;

}  // namespace jaegertracing
