// The log core in this process: COM and structured-exception texts, the Debug switch, and the
// five handlers of both catch ladders as a listener and the agent see them.
#include <comdef.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "diagnostics/ExecuteContext.h"
#include "diagnostics/LogSettings.h"
#include "diagnostics/log/ILogListener.h"
#include "diagnostics/log/LogManager.h"
#include "diagnostics/log/errorText.h"
#include "diagnostics/log/loggedCall.h"
#include "diagnostics/log/tracedCall.h"
#include "driver/OpenTracingDriver.h"
#include "platform/stringConversion.h"
#include "tests/diagnostics/log/logTestSupport.h"
#include "tests/support/AgentListener.h"

namespace {

std::wstring systemText(HRESULT code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0x400, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring result = text != nullptr ? text : L"";
  LocalFree(text);
  return result;
}

IErrorInfo* errorInfoWith(const wchar_t* description) {
  ICreateErrorInfo* create = nullptr;
  CreateErrorInfo(&create);
  create->SetDescription(const_cast<wchar_t*>(description));
  IErrorInfo* made = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&made));
  SetErrorInfo(0, made);
  made->Release();
  create->Release();
  IErrorInfo* info = nullptr;
  GetErrorInfo(0, &info);
  return info;
}

// Error information from managed code: answers the .NET exception interface (or fails to, with
// a code of the test's choosing), whose first own method gives the exception's string form.
struct ManagedExceptionInterface : public IDispatch {
  // The first method after the dispatch methods: ToString.
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

class Recorder : public ILogListener {
 public:
  void onLog(int32_t level, const vexception& error) override {
    levels.push_back(level);
    texts.push_back(formatExceptionText(error));
  }
  std::vector<int32_t> levels;
  std::vector<std::wstring> texts;
};

// Adds a listener to the process's list for the life of the object.
class Listening {
 public:
  explicit Listening(ILogListener* listener) {
    LogSettings& settings = *getLogSettings(getExecuteContext());
    list_ = &settings.listeners;
    node_ = {list_->sentinel, list_->sentinel->previous, listener};
    list_->sentinel->previous->next = &node_;
    list_->sentinel->previous = &node_;
    ++list_->size;
  }
  ~Listening() {
    node_.previous->next = node_.next;
    node_.next->previous = node_.previous;
    --list_->size;
  }

 private:
  LogListenerList* list_;
  LogListenerNode node_;
};

// Throws one of the five kinds the ladders tell apart.
[[noreturn]] void raiseKind(int kind) {
  switch (kind) {
    case 0: throw std::runtime_error("standard failure");
    case 1: throw VAccessDeniedException(5, L"open thing", ExceptionSite("openThing", 77));
    case 2: throw _com_error(static_cast<HRESULT>(0x80040201));
    case 3: throw cwrpexception(0xc0000005);
    default: throw 42;
  }
}

const std::wstring kAccessDenied = getOSErrorMessage(5, L"open thing");

// Each handler of the ladders names its own line.
constexpr LadderLines kLadder{120, 124, 128, 132, 136};

const wchar_t* const kExpectedTexts[] = {
    L"standard failure\n   at Unable to call work(x)(work line 120)",
    nullptr,  // built from the system's text in the test
    L"IDispatch error #1 (COM Error 80040201)\n   at Unable to call work(x)\n   at (work line 128)",
    L"C structured exception: 0xc0000005\n   at Unable to call work(x)(work line 132)",
    L"Unexpected error\n   at Unable to call work(x)(work line 136)",
};

std::wstring expectedText(int kind) {
  if (kind == 1) return kAccessDenied + L"\n   at (openThing line 77)\n   at Unable to call work(x)(work line 124)";
  return kExpectedTexts[kind];
}

}  // namespace

// The system's text comes with its inserts left in place: "Bad EXE format for %1." and the like.
TEST(ComErrorText, SystemTextWithAndWithoutInsertsIDispatchErrorAndUnknownCode) {
  const struct {
    HRESULT code;
    const wchar_t* insert;  // what the system's text must hold, or null for no system text
    const wchar_t* fallback;
  } cases[] = {
      {E_ACCESSDENIED, L"", nullptr},
      {HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), L"%1", nullptr},
      {static_cast<HRESULT>(0x80040201), nullptr, L"IDispatch error #1"},
      {static_cast<HRESULT>(0x8004FFFF), nullptr, L"IDispatch error #65023"},
      {static_cast<HRESULT>(0x80040200), nullptr, L"Unknown error 0x80040200"},
      {static_cast<HRESULT>(0x8123ABCD), nullptr, L"Unknown error 0x8123ABCD"},
  };
  for (const auto& one : cases) {
    std::wstring expected = one.fallback != nullptr ? one.fallback : systemText(one.code);
    if (one.insert != nullptr) {
      ASSERT_NE(expected.find(one.insert), std::wstring::npos) << std::hex << one.code << " has no such system text";
      if (expected.back() == L'\n') expected.pop_back();
      if (expected.back() == L'\r') expected.pop_back();
    }
    EXPECT_EQ(comErrorMessage(_com_error(one.code)), expected) << std::hex << one.code;
  }
}

TEST(ComErrorText, DescriptionFromSetErrorInfo) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const _com_error error(static_cast<HRESULT>(0x80040201), errorInfoWith(L"the widget broke"));
  const vexception described = describeComError(error, L"Unable to call work(x)", "work", 12);
  EXPECT_EQ(described.message,
            L"IDispatch error #1 (COM Error 80040201, Description: the widget broke)\n   at Unable to call work(x)");
}

TEST(ComErrorText, ManagedExceptionInterface) {
  ManagedError managed(S_OK);
  {
    const _com_error error(static_cast<HRESULT>(0x80131509), &managed, true);
    EXPECT_EQ(describeComError(error, L"ctx", "f", 1).message,
              L"Unknown error 0x80131509 (COM Interop Error 80131509, Description: System.InvalidOperationException: "
              L"managed failure\r\n   at Managed.Call())\n   at ctx");
  }
  EXPECT_EQ(managed.references(), 1u) << "a reference leaked";
}

TEST(ComErrorText, AFailedQueryForTheManagedInterfaceIsRaised) {
  ManagedError refusing(E_ACCESSDENIED);
  const _com_error error(static_cast<HRESULT>(0x80131509), &refusing, true);
  try {
    describeComError(error, L"ctx", "f", 1);
    FAIL() << "the failed query was not raised";
  } catch (const _com_error& raised) {
    EXPECT_EQ(raised.Error(), E_ACCESSDENIED);
  }
}

TEST(LogCore, LevelNamesAndOutOfRangeLevelsAreSafe) {
  EXPECT_STREQ(levelName(LogLevel::Unexpected), "Unexpected");
  EXPECT_STREQ(levelName(static_cast<LogLevel>(6)), "Unknown level");
  Recorder recorder;
  Listening listening(&recorder);
  for (int32_t level : {-1, 6, 0x7fffffff}) {
    LogManager::instance().log(static_cast<LogLevel>(level), vexception(L"odd level", ExceptionSite("t", 1)));
  }
  EXPECT_EQ(recorder.levels, (std::vector<int32_t>{-1, 6, 0x7fffffff}));
}

TEST(LogCore, AChangeOfDebugTakesEffectWithin16Calls) {
  ProductSettings values;
  values.set(L"Debug", 0);
  EXPECT_FALSE(isDebugLogging());
  values.set(L"Debug", 1);
  int calls = 1;
  while (!isDebugLogging() && calls < 40) ++calls;
  EXPECT_LE(calls, 16);
  values.set(L"Debug", 0);
  calls = 1;
  while (isDebugLogging() && calls < 40) ++calls;
  EXPECT_LE(calls, 16);
}

TEST(LoggingLadder, EachHandlerLogsAnErrorWithTheCallersSite) {
  ProductSettings values;
  values.remove(L"PRODUCT_ROOT_D");  // the file and event sinks fail quietly
  Recorder recorder;
  Listening listening(&recorder);
  for (int kind = 0; kind < 5; ++kind) {
    EXPECT_FALSE(callLogged(L"Unable to call work(x)", "work", kLadder, [kind] { raiseKind(kind); }));
  }
  EXPECT_TRUE(callLogged(L"Unable to call work(x)", "work", kLadder, [] {}));
  ASSERT_EQ(recorder.texts.size(), 5u);
  for (int kind = 0; kind < 5; ++kind) {
    EXPECT_EQ(recorder.levels[kind], 3);
    EXPECT_EQ(recorder.texts[kind], expectedText(kind)) << "kind " << kind;
  }
}

TEST(TracingLadder, EachHandlerTagsTheSpanMarksTheErrorAndThrowsOn) {
  ProductSettings values;
  values.set(L"opentracing_enabled", 1);
  testsupport::AgentListener agent(6831);
  const char* const kinds[] = {"std::exception", "vexception", "_com_error", "cwrpexception", "unknown"};
  for (int kind = 0; kind < 5; ++kind) {
    const auto span = OpenTracingDriver::StartSpan("work", 110, "ladder " + std::to_string(kind));
    ASSERT_TRUE(span->IsEnabled());
    try {
      callTraced(*span, L"Unable to call work(x)", "work", kLadder, [kind]() -> int { raiseKind(kind); return 0; });
      ADD_FAILURE() << "nothing thrown on";
    } catch (const vexception& error) {
      EXPECT_EQ(formatExceptionText(error), expectedText(kind)) << kinds[kind];
    }
  }
  const auto spans = agent.waitForSpans(5);
  const std::string tagValues[] = {"standard failure", "", "IDispatch error #1", "C structured exception: 0xc0000005",
                                 "..."};
  for (int kind = 0; kind < 5; ++kind) {
    const testsupport::ReceivedSpan* span = nullptr;
    for (const auto& received : spans) {
      if (received.operationName.find("ladder " + std::to_string(kind)) != std::string::npos) span = &received;
    }
    ASSERT_NE(span, nullptr) << kind;
    const testsupport::ReceivedTag* tag = span->tag(kinds[kind]);
    ASSERT_NE(tag, nullptr) << kinds[kind];
    // The vexception's tag is its full text before the ladder added its own site.
    EXPECT_EQ(tag->value, kind == 1 ? cstr(kAccessDenied + L"\n   at (openThing line 77)", CP_ACP) : tagValues[kind]);
    const testsupport::ReceivedTag* error = span->tag("error_description");
    ASSERT_NE(error, nullptr) << kinds[kind];
    EXPECT_EQ(error->value, "Unable to call work(x)");
  }
}
