#include "security/callerToken.h"

#include "diagnostics/vexception.h"

namespace RunTime {

TokenHandle openCallerToken(HANDLE process, DWORD access, const char* function) {
  TokenHandle token;
  if (process != GetCurrentProcess()) {
    if (!OpenProcessToken(process, access, token.put())) {
      throwLastError({function, __LINE__}, L"Unable to open process token");
    }
    return token;
  }
  if (OpenThreadToken(GetCurrentThread(), access, FALSE, token.put())) return token;
  const DWORD error = GetLastError();
  if (error != ERROR_NO_TOKEN) {
    throwOSError(L"Unable to open a thread token", error, SiteName{function, __LINE__});
  }
  if (!OpenProcessToken(GetCurrentProcess(), access, token.put())) {
    throwLastError({function, __LINE__}, L"Unable to open a process token");
  }
  return token;
}

std::unique_ptr<BYTE[]> tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, const wchar_t* text,
                             const char* function) {
  DWORD size = 0;
  if (!GetTokenInformation(token, kind, nullptr, 0, &size)) {
    const DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) throwOSError(text, error, SiteName{function, __LINE__});
  }
  std::unique_ptr<BYTE[]> buffer(new BYTE[size]);
  if (!GetTokenInformation(token, kind, buffer.get(), size, &size)) {
    throwLastError({function, __LINE__}, text);
  }
  return buffer;
}

}  // namespace RunTime
