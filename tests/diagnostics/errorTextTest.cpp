#include "diagnostics/log/errorText.h"

#include <comdef.h>
#include <gtest/gtest.h>

// Callers catch the family as a whole, and a structured exception must never be taken for one.
static_assert(std::is_base_of_v<vexception, ArgumentException> && !std::is_base_of_v<vexception, cwrpexception>);

// Error information, managed unless answer fails: its first own method gives the exception's string form.
struct ManagedExceptionInterface : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE ToString(BSTR* text) = 0;
};

struct ManagedError : public IErrorInfo, public ManagedExceptionInterface {
  explicit ManagedError(HRESULT answer) : answer(answer) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    static const IID managed = {0xB36B5C63, 0x42EF, 0x38BC, {0xA0, 0x7E, 0x0B, 0x34, 0xC9, 0x8F, 0x16, 0x4A}};
    *out = nullptr;
    if (IsEqualIID(id, managed) && FAILED(answer)) return answer;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IErrorInfo)) *out = static_cast<IErrorInfo*>(this);
    if (IsEqualIID(id, managed)) *out = static_cast<ManagedExceptionInterface*>(this);
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE GetGUID(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* text) override { *text = SysAllocString(L"managed failure"); return S_OK; }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD*) override { return E_NOTIMPL; }
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
  HRESULT answer;
  ULONG references = 1;
};


// The system's texts come without their line break, and with inserts as they are ("for %1.").
TEST(ErrorText, ExceptionTextsWithWideContextsAndNegativeLinesAndOSErrorMessages) {
  vexception bare(L"only the message", ExceptionSite("f", 1));
  bare.sites.clear();
  EXPECT_EQ(formatExceptionText(bare), L"only the message");
  EXPECT_EQ(formatExceptionText(vexception(L"m", ExceptionSite(L"\u00e9tape", "ns::f", -7))),
            L"m\n   at \u00e9tape(ns::f line -7)");
  EXPECT_EQ(systemMessage(5).back(), L'.');
  EXPECT_NE(systemMessage(HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT)).find(L"%1"), std::wstring::npos);
  const struct {
    uint32_t code;
    const wchar_t* what;
    std::wstring expected;
  } rows[] = {
      {5, L"create mutex kestrinlog_x_mutex", systemMessage(5) + L" (Error code 5) at create mutex kestrinlog_x_mutex"},
      {0, nullptr, systemMessage(0) + L" (Error code 0)"},
      {0x2fffffffu, nullptr, L"Unknown error (Error code 805306367)"},
      {0x2fffffffu, L"RegisterEventSource", L"Unknown error (Error code 805306367) at RegisterEventSource"},
  };
  for (const auto& row : rows) EXPECT_EQ(getOSErrorMessage(row.code, row.what), row.expected);
}

// Codes no real failure in the other tests reaches; they raise the common ones for real.
TEST(ThrowOSError, RaisesTheClassOfItsCodeOrAPlainOsException) {
  const struct {
    uint32_t code;
    const std::type_info& type;
  } rows[] = {{14, typeid(VOutOfMemoryException)},          {145, typeid(VDirectoryNotEmptyException)},
              {183, typeid(VAlreadyExistsException)},        {1060, typeid(VServiceDoesNotExistException)},
              {1332, typeid(VNoneMappedException)},          {2245, typeid(VPasswordTooShortException)},
              {0, typeid(vosexception)},                     {87, typeid(vosexception)},
              {0x2fffffffu, typeid(vosexception)}};
  for (const auto& row : rows) {
    try {
      throwOSError(L"probe", row.code, ExceptionSite("probe", 9));
      ADD_FAILURE() << "throwOSError returned for " << row.code;
    } catch (const vosexception& e) {
      EXPECT_EQ(e.code, row.code);
      EXPECT_TRUE(typeid(e) == row.type) << "code " << row.code << " raised " << typeid(e).name();
    }
  }
}

TEST(ComErrorText, SystemIDispatchAndUnknownTextsAndDescriptionsFromErrorInfoAndManagedExceptions) {
  const struct {
    HRESULT code;
    const wchar_t* expected;  // null: the system's text
  } cases[] = {
      {E_ACCESSDENIED, nullptr},
      {HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), nullptr},
      {static_cast<HRESULT>(0x8004FFFF), L"IDispatch error #65023"},
      {static_cast<HRESULT>(0x80040200), L"Unknown error 0x80040200"},
      {static_cast<HRESULT>(0x8123ABCD), L"Unknown error 0x8123ABCD"},
  };
  for (const auto& one : cases) {
    EXPECT_EQ(comErrorMessage(_com_error(one.code)), one.expected != nullptr ? one.expected : systemMessage(one.code))
        << std::hex << one.code;
  }

  ManagedError plain(E_NOINTERFACE);
  EXPECT_EQ(describeComError(_com_error(static_cast<HRESULT>(0x80040201), &plain, true), L"ctx", "f", 1).message,
            L"IDispatch error #1 (COM Error 80040201, Description: managed failure)\n   at ctx");

  ManagedError managed(S_OK);
  EXPECT_EQ(describeComError(_com_error(static_cast<HRESULT>(0x80131509), &managed, true), L"ctx", "f", 1).message,
            L"Unknown error 0x80131509 (COM Interop Error 80131509, Description: System.InvalidOperationException: "
            L"managed failure\r\n   at Managed.Call())\n   at ctx");
  EXPECT_EQ(managed.references, 1u) << "a reference leaked";

  ManagedError refusing(E_ACCESSDENIED);
  try {
    describeComError(_com_error(static_cast<HRESULT>(0x80131509), &refusing, true), L"ctx", "f", 1);
    ADD_FAILURE() << "the failed query was not raised";
  } catch (const _com_error& raised) {
    EXPECT_EQ(raised.Error(), E_ACCESSDENIED);
  }
}
