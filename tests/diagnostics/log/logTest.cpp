// The log's levels, switches and catch ladders, with its sinks observed as Wine and the registry show them.
#include <comdef.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <stdexcept>
#include <thread>

#include "diagnostics/ExecuteContext.h"
#include "diagnostics/LogSettings.h"
#include "diagnostics/log/ILogListener.h"
#include "diagnostics/log/LogFile.h"
#include "diagnostics/log/LogManager.h"
#include "diagnostics/log/errorText.h"
#include "diagnostics/log/loggedCall.h"
#include "diagnostics/log/tracedCall.h"
#include "driver/OpenTracingDriver.h"
#include "platform/formatString.h"
#include "platform/stringConversion.h"
#include "tests/diagnostics/log/logTestSupport.h"
#include "tests/support/AgentListener.h"

class Recorder : public ILogListener {
 public:
  void onLog(int32_t level, const vexception& error) override {
    calls.push_back(std::to_wstring(level) + L" " + formatExceptionText(error));
  }
  std::vector<std::wstring> calls;
};

const std::wstring kAccessDenied = getOSErrorMessage(5, L"open thing") + L"\n   at (openThing line 77)";

constexpr LadderLines kLadder{120, 124, 128, 132, 136};

// Per kind the ladders tell apart: its throw, span tag, text with the caller's site, tag value (without).
const struct {
  void (*raise)();
  const char* tag;
  std::wstring text;
  std::string value;
} kKinds[] = {
    {[] { throw std::runtime_error("standard failure"); }, "std::exception",
     L"standard failure\n   at Unable to call work(x)(work line 120)", "standard failure"},
    {[] { throw VAccessDeniedException(5, L"open thing", ExceptionSite("openThing", 77)); }, "vexception",
     kAccessDenied + L"\n   at Unable to call work(x)(work line 124)", cstr(kAccessDenied, CP_ACP)},
    {[] { throw _com_error(static_cast<HRESULT>(0x80040201)); }, "_com_error",
     L"IDispatch error #1 (COM Error 80040201)\n   at Unable to call work(x)\n   at (work line 128)",
     "IDispatch error #1"},
    {[] { throw cwrpexception(0xc0000005); }, "cwrpexception",
     L"C structured exception: 0xc0000005\n   at Unable to call work(x)(work line 132)",
     "C structured exception: 0xc0000005"},
    {[] { throw 42; }, "unknown", L"Unexpected error\n   at Unable to call work(x)(work line 136)", "..."},
};

const wchar_t* const kEventLogKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Kestrin";
const wchar_t* const kSourceKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Kestrin\\loghost.exe";

struct UnixRun {
  int exitCode;  // -1 when it did not end within the wait limit
  std::string out, err;
};

// Runs loghost.exe in folder as Unix runs it, with Wine's event log channels on and in the time zone.
static UnixRun runLogHostUnix(const std::wstring& folder, const std::string& arguments,
                              const std::string& zone = "") {
  const std::string command = "env WINEDEBUG=err+eventlog,warn+eventlog,trace+eventlog,fixme+advapi " + zone +
                              " " + wineCommand(executableFolder() + L"\\loghost.exe") + " " + arguments;
  const int exitCode = runLinuxShell(folder, command + " >out 2>err </dev/null");
  return {exitCode, readBytes(folder + L"\\out"), readBytes(folder + L"\\err")};
}

template <class Text>
static std::vector<Text> matches(const Text& text, const std::basic_regex<typename Text::value_type>& pattern) {
  std::vector<Text> found;
  using Iterator = std::regex_iterator<typename Text::const_iterator>;
  for (Iterator at(text.begin(), text.end(), pattern), end; at != end; ++at) found.push_back((*at)[1].str());
  return found;
}

// "MaxSize Retention TypesSupported EventMessageFile " of the log and the source; 4294967295: missing.
static std::wstring registration() {
  const auto number = [](const wchar_t* key, const wchar_t* name) {
    DWORD value = 0xFFFFFFFF, size = sizeof(value);
    RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return std::to_wstring(value) + L" ";
  };
  wchar_t file[MAX_PATH] = L"";
  DWORD size = sizeof(file);
  RegGetValueW(HKEY_LOCAL_MACHINE, kSourceKey, L"EventMessageFile", RRF_RT_REG_SZ, nullptr, file, &size);
  return number(kEventLogKey, L"MaxSize") + number(kEventLogKey, L"Retention") +
         number(kSourceKey, L"TypesSupported") + file + L" ";
}

// Sets the DACL, in SDDL, of the event source's key (made when missing).
static void restrictSource(const wchar_t* dacl) {
  HKEY key = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr);
  ConvertStringSecurityDescriptorToSecurityDescriptorW(dacl, SDDL_REVISION_1, &descriptor, nullptr);
  EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
  LocalFree(descriptor);
  RegCloseKey(key);
}


// Both ladders add the caller's site with the handler's line; levels out of range reach listeners too.
TEST(LogCore, DebugTakesEffectWithin16CallsAndEachLadderHandlerLogsOrTracesWithTheCallersSite) {
  ProductSettings values;
  for (const int debug : {1, 0}) {
    values.set(L"Debug", debug);
    int calls = 1;
    while (isDebugLogging() != (debug == 1) && calls < 40) ++calls;
    EXPECT_LE(calls, 16) << "Debug " << debug;
  }
  values.remove(L"PRODUCT_ROOT_D");  // the file and event sinks fail quietly
  values.set(L"opentracing_enabled", 1);
  testsupport::AgentListener agent(6831);
  static Recorder recorder;  // at the end of the process's list for the rest of the process
  LogListenerList& list = getLogSettings(getExecuteContext())->listeners;
  auto* node = new LogListenerNode{list.sentinel, list.sentinel->previous, &recorder};
  list.sentinel->previous = list.sentinel->previous->next = node;
  ++list.size;
  EXPECT_STREQ(levelName(static_cast<LogLevel>(6)), "Unknown level");
  std::vector<std::wstring> logged;
  for (int32_t level : {-1, 6, 0x7fffffff}) {
    LogManager::instance().log(static_cast<LogLevel>(level), vexception(L"odd level", ExceptionSite("t", 1)));
    logged.push_back(std::to_wstring(level) + L" odd level\n   at (t line 1)");
  }
  for (int kind = 0; kind < 5; ++kind) {
    EXPECT_FALSE(callLogged(L"Unable to call work(x)", "work", kLadder, kKinds[kind].raise));
    logged.push_back(L"3 " + kKinds[kind].text);
    const auto span = OpenTracingDriver::StartSpan("work", 110, "ladder " + std::to_string(kind));
    try {
      callTraced(*span, L"Unable to call work(x)", "work", kLadder, [kind] { kKinds[kind].raise(); return 0; });
      ADD_FAILURE() << "nothing thrown on";
    } catch (const vexception& error) {
      EXPECT_EQ(formatExceptionText(error), kKinds[kind].text) << kKinds[kind].tag;
    }
  }
  EXPECT_TRUE(callLogged(L"Unable to call work(x)", "work", kLadder, [] {}));
  EXPECT_EQ(recorder.calls, logged);

  const auto spans = agent.waitForSpans(5);
  const auto valueOf = [](const testsupport::ReceivedTag* tag) { return tag ? tag->value : "(none)"; };
  for (int kind = 0; kind < 5; ++kind) {
    const auto* span = testsupport::findSpan(spans, "NEW: ladder " + std::to_string(kind) + " (work 110)");
    ASSERT_NE(span, nullptr) << kind;
    EXPECT_EQ(valueOf(span->tag(kKinds[kind].tag)) + " | " + valueOf(span->tag("error_description")),
              kKinds[kind].value + " | Unable to call work(x)");
  }
}

// UTC+14 and UTC-11 are never on the same date: the day's log is named by the writer's local date.
TEST(LogSinks, EachLevelReachesTheSinksDebugSelectsAsItsEventTypeInTheWritersDaysLog) {
  ProductSettings values;
  const std::wstring root = makeProductRoot(values, L"levels");
  const char* const names[] = {"Info", "Warning", "Result", "Error", "Unexpected"};
  const char* const types[] = {"0x0004", "0x0002", "0x0000", "0x0001", "0x0001"};
  for (const int debug : {0, 1}) {
    values.set(L"Debug", debug);
    ULARGE_INTEGER local;
    GetSystemTimeAsFileTime(reinterpret_cast<FILETIME*>(&local));
    const UnixRun run = runLogHostUnix(root, "log 0 Info 1 Warning 2 Result 3 Error 4 Unexpected",
                                       debug == 0 ? "TZ=Pacific/Kiritimati" : "TZ=Pacific/Pago_Pago");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    local.QuadPart += (debug == 0 ? 14 : -11) * 36000000000LL;
    SYSTEMTIME date;
    FileTimeToSystemTime(reinterpret_cast<FILETIME*>(&local), &date);
    std::string shown;
    std::vector<std::string> reported;
    std::vector<std::wstring> filed;
    for (int level = 0; level < 5; ++level) {
      const std::string name = names[level];
      if (level >= 2) shown += (shown.empty() ? "" : "\r\n") + name + "\r\n   at (loghost line 30)";
      if (debug == 0 && level < 3) continue;
      filed.push_back(std::wstring(name.begin(), name.end()) + L": " + std::wstring(name.begin(), name.end()));
      reported.push_back(types[level]);
      const std::string event = ":eventlog:ReportEventW L\"" + name + "\\n   at (loghost line 30)\"\n";
      EXPECT_NE(run.err.find(event), std::string::npos) << event;
    }
    EXPECT_EQ(run.out, shown);
    EXPECT_EQ(matches(run.err, std::regex("ReportEventW \\(\\w+,(0x\\w{4}),")), reported) << run.err;
    EXPECT_NE(run.err.find("\\\\bin\\\\loghost.exe\"\n"), std::string::npos) << run.err;
    const std::wstring day = formatString(L"%04d%02d%02d", date.wYear, date.wMonth, date.wDay);
    const std::wstring file = fromUtf16(readBytes(root + L"\\admin\\logs\\kestrinlog_debug" + day + L".log"));
    const std::wregex line(L"\\.\\d{3} \\d+ \\d+ (\\w+: \\w+)\n   at \\(loghost line 30\\)\r\n");
    EXPECT_EQ(matches(file, line), filed);
  }
}

// A change by this process or another counts from the next line; a switched-off log keeps no mutex.
TEST(LogSinks, ASwitchOrRootChangedBetweenTwoLinesTakesEffectWithTheNextLine) {
  ProductSettings values;
  const std::wstring root = makeProductRoot(values, L"switched");
  const auto mutexHeld = [] {
    const HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"kestrinlog_switched_mutex");
    return mutex != nullptr && CloseHandle(mutex) != FALSE;
  };
  const auto write = [](const wchar_t* text) { LogFile(L"switched", true).write(text); };
  const std::wstring other = root + L"\\other";
  write(L"one");
  EXPECT_TRUE(mutexHeld()) << "the mutex is kept between lines";
  values.set(L"PRODUCT_ROOT_D", other);
  write(L"two");
  values.set(L"log_switched_enabled", 0);
  values.set(L"PRODUCT_ROOT_D", root + L"\\missing");
  EXPECT_FALSE(LogFile(L"switched", true).isEnabled());  // what a module asks before it builds a line
  write(L"three");
  EXPECT_FALSE(mutexHeld()) << "a switched-off log keeps its mutex";
  EXPECT_EQ(GetFileAttributesW((root + L"\\missing").c_str()), INVALID_FILE_ATTRIBUTES);
  values.set(L"PRODUCT_ROOT_D", other);
  const ProcessResult reg = runProcess(L"C:\\windows\\system32\\reg.exe",
                                       L"add \"HKLM\\SOFTWARE\\Kestrin\\Ondra Config\\Config\" /v log_switched_enabled "
                                       L"/t REG_DWORD /d 1 /reg:32 /f");
  ASSERT_EQ(reg.exitCode, 0u) << reg.output;
  write(L"four");
  values.set(L"PRODUCT_ROOT_D", root);
  write(L"five");
  const std::wregex text(L" (\\w+)\r\n");
  EXPECT_EQ(matches(fromUtf16(readBytes(todaysLogFile(root, L"switched"))), text),
            (std::vector<std::wstring>{L"one", L"five"}));
  EXPECT_EQ(matches(fromUtf16(readBytes(todaysLogFile(other, L"switched"))), text),
            (std::vector<std::wstring>{L"two", L"four"}));
}

// A second prefix shares files but no named objects, as session 0 and a desktop session do.
TEST(LogSinks, WritersWithAndWithoutACommonMutexWriteWholeLinesInOrderUnderOneMark) {
  ProductSettings values;
  const std::wstring root = makeProductRoot(values, L"race");
  constexpr int kLines = 2000;
  const std::string folder = unixPath(root);
  std::string shared = "Z:" + folder;  // the same folder by the same name in both prefixes
  std::replace(shared.begin(), shared.end(), '/', '\\');
  values.set(L"PRODUCT_ROOT_D", std::wstring(shared.begin(), shared.end()));
  const std::string second = "WINEPREFIX='" + unixPath(executableFolder() + L"\\..") + "/wineprefix-second' ";
  const std::string host = wineCommand(executableFolder() + L"\\loghost.exe") + " lines race " +
                           std::to_string(kLines) + " '" + shared + "\\gate' ";
  const int status = runLinuxShell(
      root,
      "{ mkdir gate; " + second + wineCommand(L"C:\\windows\\system32\\reg.exe") + " add "
      "'HKLM\\SOFTWARE\\Kestrin\\Ondra Config\\Config' /v PRODUCT_ROOT_D /t REG_SZ /d '" + shared + "' /reg:32 /f\n" +
      host + "A & a=$!\n" +
      host + "B & b=$!\n" +
      second + host + "C & c=$!\n" +
      "for t in A B C; do until [ -e '" + folder + "/gate/ready.'$t ]; do sleep 0.05; done; done\n"
      "touch '" + folder + "/gate/go'\n"
      "wait $a && wait $b && wait $c; } >race.out 2>&1 </dev/null",
      280000);
  ASSERT_EQ(status, 0) << readBytes(root + L"\\race.out");

  const std::string bytes = readBytes(todaysLogFile(root, L"race"));
  ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  const std::wstring text = fromUtf16(bytes.substr(2));
  const std::wregex line(L"\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "
                         L"(\\d+) (\\d+) ([ABC])\\.([12])\\.(\\d+)\r\n");
  std::map<std::wstring, std::wstring> processId;  // as each writer process found its own
  for (const wchar_t* process : {L"A", L"B", L"C"}) {
    processId[process] = wstr(readBytes(root + L"\\gate\\ready." + process), CP_ACP);
  }
  std::map<std::wstring, int> next;
  std::map<std::wstring, std::wstring> threadOf;  // writer to the thread id its lines carry
  size_t count = 0;
  for (std::wsregex_iterator at(text.begin(), text.end(), line), end; at != end; ++at, ++count) {
    const std::wsmatch& parts = *at;
    ASSERT_EQ(parts.prefix().length(), 0) << "line " << count << " is torn";
    ASSERT_EQ(parts[1].str(), processId[parts[3].str()]) << "line " << count << " has another process id";
    const std::wstring writer = parts[3].str() + parts[4].str();
    ASSERT_EQ(std::stoi(parts[5].str()), next[writer]++) << "a line of a writer lost or out of order";
    ASSERT_EQ(threadOf.emplace(writer, parts[2].str()).first->second, parts[2].str()) << "line " << count;
  }
  EXPECT_EQ(count, 6u * kLines);
  for (const auto& [process, id] : processId) EXPECT_NE(threadOf[process + L"1"], threadOf[process + L"2"]);
}

// A standard user's process reports through a registration it may read but not change.
TEST(LogSinks, RegistrationWaitsForTheGlobalMutexKeepsLimitsAndEachFailedSinkOrReportFailsAlone) {
  ProductSettings values;
  const std::wstring root = makeProductRoot(values, L"registration");
  restrictSource(L"D:(A;;KA;;;WD)");  // lets this process remove the keys a test before left
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kEventLogKey);
  const HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Global\\{F485C63C-FF60-4c1a-A4BF-A3958C9F3D32}");
  ProcessResult first;
  std::thread child([&] { first = runHost(L"loghost.exe", L"log 3 registering"); });
  Sleep(2000);  // the child is well past its start-up, held at the registration
  EXPECT_EQ(registration(), L"4294967295 4294967295 4294967295  ") << "registered before the mutex was free";
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  child.join();
  ASSERT_EQ(first.exitCode, 0u);
  const std::wstring messageFile = root + L"\\admin\\bin64\\eventmsg.dll ";
  EXPECT_EQ(registration(), L"8388608 0 7 " + messageFile);

  const DWORD maxSize = 1048576, retention = 604800;
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kEventLogKey, L"MaxSize", REG_DWORD, &maxSize, 4);
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kEventLogKey, L"Retention", REG_DWORD, &retention, 4);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSourceKey);
  ASSERT_EQ(runHost(L"loghost.exe", L"log 3 again").exitCode, 0u);
  EXPECT_EQ(registration(), L"1048576 604800 7 " + messageFile);

  restrictSource(L"D:(A;;KR;;;WD)");
  HKEY writable = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, KEY_SET_VALUE, &writable), ERROR_ACCESS_DENIED);
  // A refused report closes the source; the next registers and opens it again.
  const UnixRun run = runLogHostUnix(root, "failreport 3 refused 3 'read only'");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(matches(run.err, std::regex(":advapi:(RegisterEventSourceW|DeregisterEventSource|ReportEventW) ")),
            (std::vector<std::string>{"RegisterEventSourceW", "DeregisterEventSource", "RegisterEventSourceW",
                                      "ReportEventW", "DeregisterEventSource"}))
      << run.err;
  EXPECT_NE(run.err.find("err:eventlog:ReportEventW L\"read only\\n"), std::string::npos) << run.err;
  restrictSource(L"D:");  // the event log fails in both modules; the console still takes their messages
  const ProcessResult refused = runHost(L"loghost.exe", L"modules first \"second \u00e9\u2192\u2713\"");
  restrictSource(L"D:(A;;KA;;;WD)");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kEventLogKey);
  EXPECT_EQ(refused.output, "first\r\n   at (loghost line 82)\r\n"
                            "second \xc3\xa9\xe2\x86\x92\xe2\x9c\x93\r\n   at (LogModuleLog line 9)");
}
