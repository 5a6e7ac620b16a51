#include "platform/processEnding.h"

#include <windows.h>
#include <tlhelp32.h>

#include <atomic>

#include "platform/UniqueHandle.h"

namespace {

// Threads of the process that may run now: those running when the module loaded and those started
// since, less those that ended through the loader. A thread stopped by ExitProcess never ends
// through it, so at the end of the process any count above one (the exiting thread) means one
// may have been stopped. -1 while not counted. Changed under the loader lock only.
std::atomic<long> threads{-1};

// Many, when the system gives no snapshot: no end of the process then counts as clean.
constexpr long kUnknownThreads = 1 << 20;

using ShutdownQuery = BOOLEAN(NTAPI*)();

// Exported by ntdll (and by Wine) though not declared by every SDK. Looked up when the module
// loads: the fiber-local destructors ask at every thread's end, where a lookup would take the
// loader's lock inside the system's lock of fiber-local data, the reverse of the order a thread
// starting up takes them in; and not in a function's static, whose guard a stopped thread could
// hold.
const ShutdownQuery shutdownInProgress = reinterpret_cast<ShutdownQuery>(
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress")));

long threadsOfThisProcess() noexcept {
  const UniqueSnapshotHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return kUnknownThreads;
  const DWORD self = GetCurrentProcessId();
  long count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID == self) ++count;
  }
  return count > 0 ? count : kUnknownThreads;
}

}  // namespace

bool processIsEnding() noexcept { return shutdownInProgress != nullptr && shutdownInProgress() != FALSE; }

void startThreadCount() noexcept { threads = threadsOfThisProcess(); }

void countThreads(unsigned long reason) noexcept {
  if (threads.load() < 0) return;
  if (reason == DLL_THREAD_ATTACH) ++threads;
  if (reason == DLL_THREAD_DETACH) --threads;
}

bool processEndStoppedThreads() noexcept {
  if (!processIsEnding()) return false;
  const long count = threads.load();
  return count < 0 || count > 1;
}
