// The log core in this process: levels, the Debug switch, and the five handlers of both catch
// ladders as a listener and the agent see them.
#include <comdef.h>
#include <gtest/gtest.h>

#include <algorithm>
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

class Recorder : public ILogListener {
 public:
  void onLog(int32_t level, const vexception& error) override {
    levels.push_back(level);
    texts.push_back(formatExceptionText(error));
  }
  std::vector<int32_t> levels;
  std::vector<std::wstring> texts;
};

// Adds a listener to the end of the process's list for the rest of the process.
void listen(ILogListener* listener) {
  LogListenerList& list = getLogSettings(getExecuteContext())->listeners;
  auto* node = new LogListenerNode{list.sentinel, list.sentinel->previous, listener};
  list.sentinel->previous = list.sentinel->previous->next = node;
  ++list.size;
}

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

const std::wstring kAccessDenied = getOSErrorMessage(5, L"open thing") + L"\n   at (openThing line 77)";

// Each handler of the ladders names its own line.
constexpr LadderLines kLadder{120, 124, 128, 132, 136};

// Per kind: its span's tag, its text with the caller's site added, and the tag's value (a
// vexception's full text before the ladder added its own site).
const struct {
  const char* tag;
  std::wstring text;
  std::string value;
} kKinds[] = {
    {"std::exception", L"standard failure\n   at Unable to call work(x)(work line 120)", "standard failure"},
    {"vexception", kAccessDenied + L"\n   at Unable to call work(x)(work line 124)", cstr(kAccessDenied, CP_ACP)},
    {"_com_error", L"IDispatch error #1 (COM Error 80040201)\n   at Unable to call work(x)\n   at (work line 128)",
     "IDispatch error #1"},
    {"cwrpexception", L"C structured exception: 0xc0000005\n   at Unable to call work(x)(work line 132)",
     "C structured exception: 0xc0000005"},
    {"unknown", L"Unexpected error\n   at Unable to call work(x)(work line 136)", "..."},
};

}  // namespace

TEST(LogCore, AChangeOfDebugTakesEffectWithin16Calls) {
  ProductSettings values;
  for (const int debug : {1, 0}) {
    values.set(L"Debug", debug);
    int calls = 1;
    while (isDebugLogging() != (debug == 1) && calls < 40) ++calls;
    EXPECT_LE(calls, 16) << "Debug " << debug;
  }
}

// The logging ladder logs at level Error and returns false; the tracing ladder tags and marks the
// span and throws on. Both add the caller's site with the line of the handler that caught it.
// Levels out of range reach the listeners too.
TEST(Ladders, EachHandlerLogsOrTracesTheErrorWithTheCallersSite) {
  ProductSettings values;
  values.remove(L"PRODUCT_ROOT_D");  // the file and event sinks fail quietly
  values.set(L"opentracing_enabled", 1);
  testsupport::AgentListener agent(6831);
  static Recorder recorder;
  listen(&recorder);
  EXPECT_STREQ(levelName(static_cast<LogLevel>(6)), "Unknown level");
  for (int32_t level : {-1, 6, 0x7fffffff}) {
    LogManager::instance().log(static_cast<LogLevel>(level), vexception(L"odd level", ExceptionSite("t", 1)));
  }
  for (int kind = 0; kind < 5; ++kind) {
    EXPECT_FALSE(callLogged(L"Unable to call work(x)", "work", kLadder, [kind] { raiseKind(kind); }));
    const auto span = OpenTracingDriver::StartSpan("work", 110, "ladder " + std::to_string(kind));
    ASSERT_TRUE(span->IsEnabled());
    try {
      callTraced(*span, L"Unable to call work(x)", "work", kLadder, [kind]() -> int { raiseKind(kind); return 0; });
      ADD_FAILURE() << "nothing thrown on";
    } catch (const vexception& error) {
      EXPECT_EQ(formatExceptionText(error), kKinds[kind].text) << kKinds[kind].tag;
    }
  }
  EXPECT_TRUE(callLogged(L"Unable to call work(x)", "work", kLadder, [] {}));
  EXPECT_EQ(recorder.levels, (std::vector<int32_t>{-1, 6, 0x7fffffff, 3, 3, 3, 3, 3}));
  for (size_t kind = 3; kind < recorder.texts.size(); ++kind) EXPECT_EQ(recorder.texts[kind], kKinds[kind - 3].text);

  const auto spans = agent.waitForSpans(5);
  for (int kind = 0; kind < 5; ++kind) {
    const auto span = std::find_if(spans.begin(), spans.end(), [kind](const testsupport::ReceivedSpan& received) {
      return received.operationName.find("ladder " + std::to_string(kind)) != std::string::npos;
    });
    ASSERT_NE(span, spans.end()) << kind;
    const testsupport::ReceivedTag* tag = span->tag(kKinds[kind].tag);
    ASSERT_NE(tag, nullptr) << kKinds[kind].tag;
    EXPECT_EQ(tag->value, kKinds[kind].value);
    const testsupport::ReceivedTag* error = span->tag("error_description");
    ASSERT_NE(error, nullptr) << kKinds[kind].tag;
    EXPECT_EQ(error->value, "Unable to call work(x)");
  }
}
