#pragma once
// The token that acts for a process: for the current process, the thread's token while it
// impersonates, else the process token. The owner closes the handle on every path.

#include <windows.h>

#include <memory>

#include "platform/UniqueHandle.h"

namespace RunTime {

using TokenHandle = UniqueKernelHandle;

// Opens the token of process with access; failures raise with site function. Any thread.
TokenHandle openCallerToken(HANDLE process, DWORD access, const char* function);

// GetTokenInformation into a new buffer of the needed size (the structures point into it);
// failures raise with text.
std::unique_ptr<BYTE[]> tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, const wchar_t* text,
                             const char* function);

}  // namespace RunTime
