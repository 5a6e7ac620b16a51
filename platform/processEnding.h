#pragma once
// Whether the process is ending: ExitProcess has stopped every other thread and the loader is
// detaching the libraries. Work done then must not free what those threads held or wait for
// what they may have left locked (the heap's lock among them); the system reclaims it all.
// Any thread may ask; nothing here raises.

#include <new>
#include <utility>

bool processIsEnding() noexcept;

// Starts counting the process's threads for processEndStoppedThreads: those running now (a
// snapshot of the system's, which takes a while), then those started and ended, which the
// module's DllMain passes to countThreads. Called under the loader lock, from a static
// initialiser of a module that has work worth doing at a clean end of the process.
void startThreadCount() noexcept;
void countThreads(unsigned long reason) noexcept;

// At the end of the process: whether ExitProcess may have stopped another thread in the middle of
// its work, so that a lock it took (the heap's among them) may never be released. Known only in
// a module that counts its threads; elsewhere any end of the process may have. False while the
// process runs.
bool processEndStoppedThreads() noexcept;

// A static object whose destruction frees memory or takes locks: destroyed at unload and at an
// end of the process that stopped no thread, left to the system where one may have been stopped
// holding what the destruction needs. Built in place with the given arguments; any thread.
template <typename T>
class ProcessStatic {
 public:
  template <typename... Args>
  explicit ProcessStatic(Args&&... args) {
    new (&_value) T(std::forward<Args>(args)...);
  }
  ~ProcessStatic() {
    if (!processEndStoppedThreads()) _value.~T();
  }
  ProcessStatic(const ProcessStatic&) = delete;
  ProcessStatic& operator=(const ProcessStatic&) = delete;

  T& get() noexcept { return _value; }
  const T& get() const noexcept { return _value; }
  T* operator->() noexcept { return &_value; }

 private:
  union {
    T _value;
  };
};
