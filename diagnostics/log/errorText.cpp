#include "diagnostics/log/errorText.h"

#include <comdef.h>

#include "platform/UniqueHandle.h"

#include "platform/formatString.h"
#include "platform/stringConversion.h"

std::wstring formatExceptionText(const vexception& error) {
  std::wstring text = error.message;
  for (const ExceptionSite& site : error.sites) {
    text += L"\n   at ";
    text += site.context;
    text += L"(";
    text += wstr(site.function, 0);
    text += formatString(L" line %d)", static_cast<int>(site.line));
  }
  return text;
}

// The .NET exception interface that a COM error raised by managed code answers to. Its first own
// method after the dispatch methods is ToString: the exception's full description with its stack.
// Implemented only in other modules: outside an unnamed namespace, so that the compiler does not
// conclude that nothing implements it.
struct ManagedException : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_ToString(BSTR* text) = 0;
};

namespace {

constexpr IID kManagedExceptionId = {0xB36B5C63, 0x42EF, 0x38BC, {0xA0, 0x7E, 0x0B, 0x34, 0xC9, 0x8F, 0x16, 0x4A}};

template <class Interface>
void releaseInterface(Interface* object) noexcept {
  object->Release();
}
template <class Interface>
using ComPointer = UniqueHandle<NullEmptyTraits<Interface*, releaseInterface<Interface>>>;
using UniqueBstr = UniqueHandle<NullEmptyTraits<BSTR, SysFreeString>>;

std::wstring bstrText(BSTR text) { return text == nullptr ? std::wstring() : std::wstring(text, SysStringLen(text)); }

}  // namespace

std::wstring comErrorMessage(const _com_error& error) {
  const auto code = static_cast<uint32_t>(error.Error());
  const std::wstring text = systemMessage(code);
  if (!text.empty()) return text;
  if (code >= 0x80040200u && code <= 0x8004FFFFu && (code & 0xFFFFu) != 0x200u) {
    return formatString(L"IDispatch error #%d", static_cast<int>((code - 0x200u) & 0xFFFFu));
  }
  return formatString(L"Unknown error 0x%0lX", static_cast<unsigned long>(code));
}

vexception describeComError(const _com_error& error, const std::wstring& context, const char* function,
                            int32_t line) {
  // ErrorInfo() hands out a reference of its own.
  ComPointer<IErrorInfo> info(error.ErrorInfo());
  ComPointer<ManagedException> managed;
  if (info) {
    const HRESULT asked = info.get()->QueryInterface(kManagedExceptionId, reinterpret_cast<void**>(managed.put()));
    if (FAILED(asked) && asked != E_NOINTERFACE) _com_issue_errorex(asked, info.get(), kManagedExceptionId);
  }
  std::wstring message = comErrorMessage(error);
  message += formatString(managed ? L" (COM Interop Error %08X" : L" (COM Error %08X",
                          static_cast<unsigned>(error.Error()));
  if (info) {
    UniqueBstr description;
    if (SUCCEEDED(info.get()->GetDescription(description.put())) && SysStringLen(description.get()) != 0) {
      message += L", Description: ";
      if (managed) {
        UniqueBstr managedText;
        if (SUCCEEDED(managed.get()->get_ToString(managedText.put()))) message += bstrText(managedText.get());
      } else {
        message += bstrText(description.get());
      }
    }
  }
  message += L")\n   at ";
  message += context;
  return vexception(std::move(message), ExceptionSite(function, line));
}

std::wstring describeStructuredException(const cwrpexception& error) {
  return formatString(L"C structured exception: 0x%x", static_cast<unsigned>(error.code));
}
