#include "diagnostics/log/errorText.h"

#include <comdef.h>
#include <gtest/gtest.h>

namespace {

// The system's own sentence for a code, as FormatMessageW gives it, without trailing line breaks.
std::wstring systemText(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0x400, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer != nullptr ? buffer : L"", n);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  return text;
}

// Error information from managed code: answers the .NET exception interface (or fails to, with
// a code of the test's choosing), whose first own method gives the exception's string form.
struct ManagedExceptionInterface : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE ToString(BSTR* text) = 0;
};

class ManagedError : public IErrorInfo, public ManagedExceptionInterface {
 public:
  explicit ManagedError(HRESULT answer) : answer_(answer) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    static const IID managed = {0xB36B5C63, 0x42EF, 0x38BC, {0xA0, 0x7E, 0x0B, 0x34, 0xC9, 0x8F, 0x16, 0x4A}};
    *out = nullptr;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IErrorInfo)) *out = static_cast<IErrorInfo*>(this);
    if (IsEqualIID(id, managed)) {
      if (FAILED(answer_)) return answer_;
      *out = static_cast<ManagedExceptionInterface*>(this);
    }
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetGUID(GUID* id) override { *id = GUID_NULL; return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* text) override { *text = nullptr; return S_OK; }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* text) override { *text = SysAllocString(L"managed failure"); return S_OK; }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* text) override { *text = nullptr; return S_OK; }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* context) override { *context = 0; return S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ToString(BSTR* text) override {
    *text = SysAllocString(L"System.InvalidOperationException: managed failure\r\n   at Managed.Call()");
    return S_OK;
  }
  ULONG references() const { return references_; }

 private:
  HRESULT answer_;
  ULONG references_ = 1;
};

}  // namespace

TEST(ExceptionText, TheMessageAloneOrWithWideContextsAndNegativeLines) {
  vexception bare(L"only the message", ExceptionSite("f", 1));
  bare.sites.clear();
  EXPECT_EQ(formatExceptionText(bare), L"only the message");
  EXPECT_EQ(formatExceptionText(vexception(L"m", ExceptionSite(L"\u00e9tape", "ns::f", -7))),
            L"m\n   at \u00e9tape(ns::f line -7)");
}

TEST(OSErrorMessage, ComposesSystemTextCodeAndWhatFailed) {
  ASSERT_EQ(systemText(5).back(), L'.') << "the check below needs a text that ends in a full stop";
  const struct {
    uint32_t code;
    const wchar_t* what;
    std::wstring expected;
  } rows[] = {
      {5, L"create mutex kestrinlog_x_mutex", systemText(5) + L" (Error code 5) at create mutex kestrinlog_x_mutex"},
      {0, nullptr, systemText(0) + L" (Error code 0)"},
      {0x2fffffffu, nullptr, L"Unknown error (Error code 805306367)"},
      {0x2fffffffu, L"RegisterEventSource", L"Unknown error (Error code 805306367) at RegisterEventSource"},
  };
  for (const auto& row : rows) EXPECT_EQ(getOSErrorMessage(row.code, row.what), row.expected);
}

// The system's text comes with its inserts left in place: "Bad EXE format for %1." and the like.
TEST(ComErrorText, SystemTextWithAndWithoutInsertsIDispatchErrorAndUnknownCode) {
  const struct {
    HRESULT code;
    const wchar_t* expected;  // null: the system's text
  } cases[] = {
      {E_ACCESSDENIED, nullptr},
      {HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), nullptr},
      {static_cast<HRESULT>(0x80040201), L"IDispatch error #1"},
      {static_cast<HRESULT>(0x8004FFFF), L"IDispatch error #65023"},
      {static_cast<HRESULT>(0x80040200), L"Unknown error 0x80040200"},
      {static_cast<HRESULT>(0x8123ABCD), L"Unknown error 0x8123ABCD"},
  };
  ASSERT_NE(systemText(HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT)).find(L"%1"), std::wstring::npos);
  for (const auto& one : cases) {
    EXPECT_EQ(comErrorMessage(_com_error(one.code)), one.expected != nullptr ? one.expected : systemText(one.code))
        << std::hex << one.code;
  }
}

// The description comes from the error information, or from a .NET exception's string form; a
// failed query for the .NET interface is raised.
TEST(ComErrorText, DescriptionsFromErrorInformationAndManagedExceptions) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetDescription(const_cast<wchar_t*>(L"the widget broke"));
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  create->Release();
  EXPECT_EQ(describeComError(_com_error(static_cast<HRESULT>(0x80040201), info), L"Unable to call work(x)", "work", 12)
                .message,
            L"IDispatch error #1 (COM Error 80040201, Description: the widget broke)\n   at Unable to call work(x)");

  ManagedError managed(S_OK);
  EXPECT_EQ(describeComError(_com_error(static_cast<HRESULT>(0x80131509), &managed, true), L"ctx", "f", 1).message,
            L"Unknown error 0x80131509 (COM Interop Error 80131509, Description: System.InvalidOperationException: "
            L"managed failure\r\n   at Managed.Call())\n   at ctx");
  EXPECT_EQ(managed.references(), 1u) << "a reference leaked";

  ManagedError refusing(E_ACCESSDENIED);
  try {
    describeComError(_com_error(static_cast<HRESULT>(0x80131509), &refusing, true), L"ctx", "f", 1);
    ADD_FAILURE() << "the failed query was not raised";
  } catch (const _com_error& raised) {
    EXPECT_EQ(raised.Error(), E_ACCESSDENIED);
  }
}
