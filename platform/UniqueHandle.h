#pragma once
// The one owner of every kind of Windows resource the library holds: a kernel handle, a file
// search, a registry key, a loaded library, a LocalAlloc block, a system-allocated SID, a critical
// section, a mutex held by its thread. The kind is a small traits type naming the empty value, what
// counts as held and how it is closed (a noexcept closer); the owner closes what it holds on every
// path, is moved but never copied, and never raises. Closing keeps the thread's last error, so an
// owner that goes out of scope between a failed call and the read of its error does not hide the
// cause. Any thread may use an owner that it alone holds; one owner is not shared between threads.

#include <windows.h>

#include <new>
#include <utility>

template <class Traits>
class UniqueHandle {
 public:
  using pointer = typename Traits::pointer;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(pointer value) noexcept : value_(value) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  pointer get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return Traits::held(value_); }

  // Closes what is held and takes value instead; the thread's last error stays as it was.
  void reset(pointer value = Traits::empty()) noexcept {
    const pointer old = std::exchange(value_, value);
    if (!Traits::held(old)) return;
    const DWORD error = GetLastError();
    Traits::close(old);
    SetLastError(error);
  }

  // Gives up ownership without closing.
  pointer release() noexcept { return std::exchange(value_, Traits::empty()); }

  // Closes what is held and lends the slot to a system call that returns a new value through it.
  pointer* put() noexcept {
    reset();
    return &value_;
  }

 private:
  pointer value_ = Traits::empty();
};

// Traits for resources whose empty value is null.
template <class Pointer, auto Close>
struct NullEmptyTraits {
  using pointer = Pointer;
  static constexpr pointer empty() noexcept { return nullptr; }
  static bool held(pointer value) noexcept { return value != nullptr; }
  static void close(pointer value) noexcept { Close(value); }
};

// Traits for resources named by a number with a "none" value of its own (a fiber-local slot).
template <class Index, Index None, auto Close>
struct IndexTraits {
  using pointer = Index;
  static constexpr pointer empty() noexcept { return None; }
  static bool held(pointer value) noexcept { return value != None; }
  static void close(pointer value) noexcept { Close(value); }
};

// Traits for kernel handles that use INVALID_HANDLE_VALUE for "none", and treat null as none too.
template <auto Close>
struct InvalidEmptyTraits {
  using pointer = HANDLE;
  static pointer empty() noexcept { return INVALID_HANDLE_VALUE; }
  static bool held(pointer value) noexcept { return value != nullptr && value != INVALID_HANDLE_VALUE; }
  static void close(pointer value) noexcept { Close(value); }
};

inline void closeKernelHandle(HANDLE handle) noexcept { CloseHandle(handle); }
inline void releaseAndCloseMutex(HANDLE mutex) noexcept {
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}
inline void closeFind(HANDLE handle) noexcept { FindClose(handle); }
inline void closeRegistryKey(HKEY key) noexcept { RegCloseKey(key); }
inline void freeLibrary(HMODULE module) noexcept { FreeLibrary(module); }
inline void freeLocal(void* memory) noexcept { LocalFree(memory); }
inline void freeSid(PSID sid) noexcept { FreeSid(sid); }
inline void freeFiberSlot(DWORD slot) noexcept { FlsFree(slot); }
inline void deleteCriticalSection(CRITICAL_SECTION* section) noexcept {
  DeleteCriticalSection(section);
  delete section;
}

// A kernel object (mutex, thread, process, token): null when none is held.
using UniqueKernelHandle = UniqueHandle<NullEmptyTraits<HANDLE, closeKernelHandle>>;
// A mutex this thread acquired: given back, then closed.
using UniqueAcquiredMutex = UniqueHandle<NullEmptyTraits<HANDLE, releaseAndCloseMutex>>;
// An open file: INVALID_HANDLE_VALUE when none is held, as CreateFileW reports it.
using UniqueFileHandle = UniqueHandle<InvalidEmptyTraits<closeKernelHandle>>;
// A duplicated handle: INVALID_HANDLE_VALUE when the source named none.
using UniqueDuplicateHandle = UniqueHandle<InvalidEmptyTraits<closeKernelHandle>>;
// A CreateToolhelp32Snapshot of the system.
using UniqueSnapshotHandle = UniqueHandle<InvalidEmptyTraits<closeKernelHandle>>;
// A FindFirstFileW enumeration.
using UniqueFindHandle = UniqueHandle<InvalidEmptyTraits<closeFind>>;
using UniqueRegistryKey = UniqueHandle<NullEmptyTraits<HKEY, closeRegistryKey>>;
using UniqueLibrary = UniqueHandle<NullEmptyTraits<HMODULE, freeLibrary>>;
// A block the system allocated with LocalAlloc for the caller (FormatMessageW, security calls).
template <class T>
using UniqueLocal = UniqueHandle<NullEmptyTraits<T*, freeLocal>>;
// A fiber-local slot from FlsAlloc.
using UniqueFiberSlot = UniqueHandle<IndexTraits<DWORD, FLS_OUT_OF_INDEXES, freeFiberSlot>>;
// A SID that AllocateAndInitializeSid made.
using UniqueSid = UniqueHandle<NullEmptyTraits<PSID, freeSid>>;
// A critical section on the heap, initialised by makeCriticalSection.
using UniqueCriticalSection = UniqueHandle<NullEmptyTraits<CRITICAL_SECTION*, deleteCriticalSection>>;

// A new, initialised critical section; null when no memory is left.
inline UniqueCriticalSection makeCriticalSection() noexcept {
  auto* section = new (std::nothrow) CRITICAL_SECTION;
  if (section != nullptr) InitializeCriticalSection(section);
  return UniqueCriticalSection(section);
}
