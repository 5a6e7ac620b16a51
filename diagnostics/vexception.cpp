#include "diagnostics/vexception.h"

#include <windows.h>

#include "platform/UniqueHandle.h"

vexception::vexception(std::wstring message, ExceptionSite site) : message(std::move(message)) {
  sites.push_back(std::move(site));
}

vexception::~vexception() = default;

vosexception::vosexception(uint32_t code, const wchar_t* text, ExceptionSite site)
    : vexception(getOSErrorMessage(code, text), std::move(site)), code(code) {}

uint32_t lastErrorCode() { return GetLastError(); }

std::wstring systemMessage(uint32_t code) {
  // Inserts are ignored: the caller has no arguments for them, and without the flag the call
  // either fails or reads arguments that do not exist.
  UniqueLocal<wchar_t> buffer;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0x400, reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
  std::wstring text = length != 0 && buffer ? std::wstring(buffer.get(), length) : std::wstring();
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
  return text;
}

std::string qualifiedFunctionName(const char* signature) {
  std::string name(signature);
  for (const char* anonymous : {"{anonymous}::", "(anonymous namespace)::", "`anonymous-namespace'::"}) {
    const std::string part(anonymous);
    for (size_t at = name.find(part); at != std::string::npos; at = name.find(part, at)) name.erase(at, part.size());
  }
  // The name is what stands between the return type and the parameter list, outside template
  // brackets: the first parenthesis there ends it, the last space before it starts it.
  size_t begin = 0;
  int depth = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '<') {
      ++depth;
    } else if (c == '>') {
      --depth;
    } else if (depth == 0 && c == ' ') {
      begin = i + 1;
    } else if (depth == 0 && c == '(') {
      return name.substr(begin, i - begin);
    }
  }
  return name;
}

std::wstring getOSErrorMessage(uint32_t code, const wchar_t* text) {
  std::wstring result = L" (Error code " + std::to_wstring(code) + L")";
  if (text != nullptr) {
    result += L" at ";
    result += text;
  }
  const std::wstring system = systemMessage(code);
  return (system.empty() ? L"Unknown error" : system) + result;
}

namespace {

template <class E>
[[noreturn]] void raise(uint32_t code, const wchar_t* text, ExceptionSite& site) {
  throw E(code, text, std::move(site));
}

}  // namespace

void throwOSError(const wchar_t* text, uint32_t code, ExceptionSite site) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND: raise<VFileNotFoundException>(code, text, site);
    case ERROR_PATH_NOT_FOUND: raise<VPathNotFoundException>(code, text, site);
    case ERROR_ACCESS_DENIED: raise<VAccessDeniedException>(code, text, site);
    case ERROR_INVALID_HANDLE: raise<VInvalidHandleException>(code, text, site);
    case ERROR_OUTOFMEMORY: raise<VOutOfMemoryException>(code, text, site);
    case ERROR_INVALID_DRIVE: raise<VInvalidDriveException>(code, text, site);
    case ERROR_NOT_DOS_DISK: raise<VNotDosDiskException>(code, text, site);
    case ERROR_SHARING_VIOLATION: raise<VSharingViolationException>(code, text, site);
    case ERROR_LOCK_VIOLATION: raise<VLockViolationException>(code, text, site);
    case ERROR_WRONG_DISK: raise<VWrongDiskException>(code, text, site);
    case ERROR_SHARING_BUFFER_EXCEEDED: raise<VSharingBufferExceededException>(code, text, site);
    case ERROR_HANDLE_EOF: raise<VEOFException>(code, text, site);
    case ERROR_FILE_EXISTS: raise<VFileExistsException>(code, text, site);
    case ERROR_INSUFFICIENT_BUFFER: raise<VInsufficientBufferException>(code, text, site);
    case ERROR_INVALID_NAME: raise<VInvalidNameException>(code, text, site);
    case ERROR_DIR_NOT_EMPTY: raise<VDirectoryNotEmptyException>(code, text, site);
    case ERROR_BAD_PATHNAME: raise<VInvalidPathException>(code, text, site);
    case ERROR_ALREADY_EXISTS: raise<VAlreadyExistsException>(code, text, site);
    case ERROR_NO_DATA: raise<VPipeClosedException>(code, text, site);
    case ERROR_DIRECTORY: raise<VInvalidDirectoryNameException>(code, text, site);
    case ERROR_SERVICE_DOES_NOT_EXIST: raise<VServiceDoesNotExistException>(code, text, site);
    case ERROR_SERVICE_MARKED_FOR_DELETE: raise<VServiceMarkedForDeleteException>(code, text, site);
    case ERROR_SERVICE_EXISTS: raise<VServiceAlreadyExistsException>(code, text, site);
    case ERROR_NONE_MAPPED: raise<VNoneMappedException>(code, text, site);
    case ERROR_NO_SUCH_MEMBER: raise<VNoSuchMemberException>(code, text, site);
    case 2245: raise<VPasswordTooShortException>(code, text, site);  // NERR_PasswordTooShort
    default: raise<vosexception>(code, text, site);
  }
}

void throwOSError(const std::wstring& text, uint32_t code, ExceptionSite site) {
  throwOSError(text.c_str(), code, std::move(site));
}
