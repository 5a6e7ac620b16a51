#include "diagnostics/ExclusiveTask.h"

#include <string>

#include "diagnostics/vexception.h"

void ExclusiveTask::Initialize(const wchar_t* name, uint32_t timeout) {
  // A second Initialize gives the first mutex back rather than keep it owned with its handle gone.
  mutex.reset();

  // Held here until acquired, so that a failed or timed-out wait leaves nothing to release.
  UniqueKernelHandle created(CreateMutexW(nullptr, FALSE, name));
  if (!created) throwLastError(KESTRIN_SITE, L"create mutex ", name);
  const DWORD result = WaitForSingleObject(created.get(), timeout);
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
    mutex.reset(created.release());
    return;
  }
  if (result == WAIT_TIMEOUT) {
    // Not an error the system recorded: the wait's own result is the code.
    throwOSError(std::wstring(L"WaitForSingleObject failed for mutex ") + (name != nullptr ? name : L""), WAIT_TIMEOUT,
                 KESTRIN_SITE);
  }
  throwLastError(KESTRIN_SITE, L"WaitForSingleObject failed for mutex ", name);
}
