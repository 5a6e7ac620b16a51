// The sinks observed for real: log files in the prefix's drive, the event log through Wine's
// eventlog debug channel and the registry, the console as the host's standard output.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "diagnostics/ExclusiveTask.h"
#include "diagnostics/log/LogFile.h"
#include "platform/VFileName.h"
#include "platform/formatString.h"
#include "platform/stringConversion.h"
#include "platform/moduleName.h"
#include "tests/diagnostics/log/logTestSupport.h"

namespace {

const std::string kAllEventChannels = "WINEDEBUG=err+eventlog,warn+eventlog,trace+eventlog,fixme+advapi";
const wchar_t* const kEventLogKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Kestrin";
const wchar_t* const kSourceKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Kestrin\\loghost.exe";

DWORD readDword(const wchar_t* subKey, const wchar_t* name) {
  DWORD value = 0xFFFFFFFF;
  DWORD size = sizeof(value);
  RegGetValueW(HKEY_LOCAL_MACHINE, subKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}

// Whether Wine printed a line on channel ("err", "warn" or "trace") of the eventlog channel
// that holds text.
bool eventLine(const std::string& output, const std::string& channel, const std::string& text) {
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(channel + ":eventlog:") != std::string::npos && line.find(text) != std::string::npos) return true;
  }
  return false;
}

// Each match of pattern's first group in text, in order.
template <class Text>
std::vector<Text> matches(const Text& text, const std::basic_regex<typename Text::value_type>& pattern) {
  std::vector<Text> found;
  using Iterator = std::regex_iterator<typename Text::const_iterator>;
  for (Iterator at(text.begin(), text.end(), pattern), end; at != end; ++at) found.push_back((*at)[1].str());
  return found;
}

// Standard output is in text mode, as in any console program: "\n" goes out as CR LF.
std::string console(std::string text) {
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) text.insert(at, 1, '\r');
  return text;
}

// Sets the DACL, in SDDL, of the event source's key (made when missing).
void restrictSource(const wchar_t* dacl) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(dacl, SDDL_REVISION_1, &descriptor, nullptr));
  EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
  LocalFree(descriptor);
  RegCloseKey(key);
}

// Removes the Kestrin event log's keys, unlocking the source's key first.
void removeKestrinEventLog() {
  restrictSource(L"D:(A;;KA;;;WD)");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kEventLogKey);
}

class LogSinks : public ::testing::Test {
 protected:
  void SetUp() override {
    values.remove(L"Debug");
    values.remove(L"log_debug_enabled");
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    root = makeProductRoot(values, std::wstring(test.begin(), test.end()));
  }
  std::wstring debugLog() { return fromUtf16(readBytes(todaysLogFile(root, L"debug"))); }

  ProductSettings values;
  std::wstring root;
};

}  // namespace

// The console takes Result and above; the day's log and the event log take Error and above, and
// every level while Debug is on. The day's log is named by the writer's local date: UTC+14 and
// UTC-11 are never on the same date.
TEST_F(LogSinks, EachLevelReachesTheSinksDebugSelectsAsItsEventTypeInTheWritersDaysLog) {
  const struct {
    const wchar_t* name;
    const char* text;
    const char* channel;
    const char* type;
  } levels[] = {{L"Info", "info", "trace", "0x0004"},
                {L"Warning", "warning", "warn", "0x0002"},
                {L"Result", "result", "trace", "0x0000"},
                {L"Error", "error", "err", "0x0001"},
                {L"Unexpected", "unexpected", "err", "0x0001"}};
  for (const int debug : {0, 1}) {
    values.set(L"Debug", debug);
    ULARGE_INTEGER local;
    GetSystemTimeAsFileTime(reinterpret_cast<FILETIME*>(&local));
    const std::string zone = debug == 0 ? "TZ=Pacific/Kiritimati " : "TZ=Pacific/Pago_Pago ";
    const UnixRun run =
        runLogHostUnix(root, zone + kAllEventChannels, "log 0 info 1 warning 2 result 3 error 4 unexpected");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    local.QuadPart += (debug == 0 ? 14 : -11) * 3600LL * 10000000LL;
    SYSTEMTIME date;
    FileTimeToSystemTime(reinterpret_cast<FILETIME*>(&local), &date);
    const std::wstring path =
        root + formatString(L"\\admin\\logs\\kestrinlog_debug%04d%02d%02d.log", date.wYear, date.wMonth, date.wDay);
    std::string shown;
    std::vector<std::string> types;
    std::vector<std::wstring> filed;
    for (int level = 0; level < 5; ++level) {
      const std::string text = levels[level].text;
      if (level >= 2) shown += (shown.empty() ? "" : "\n") + text + "\n   at (loghost line 30)";
      if (debug == 0 && level < 3) continue;
      filed.push_back(levels[level].name + (L": " + std::wstring(text.begin(), text.end())));
      types.push_back(levels[level].type);
      EXPECT_TRUE(eventLine(run.err, levels[level].channel, "L\"" + text + "\\n")) << text << " not on its channel";
    }
    EXPECT_EQ(run.out, console(shown));
    EXPECT_EQ(matches(run.err, std::regex("ReportEventW \\([0-9A-Fa-f]+,(0x[0-9a-f]{4}),")), types) << run.err;
    EXPECT_TRUE(eventLine(run.err, "err", "L\"error\\n   at (loghost line 30)\"")) << run.err;
    EXPECT_TRUE(eventLine(run.err, "err", "\\\\bin\\\\loghost.exe\"")) << run.err;
    const std::wstring file = fromUtf16(readBytes(path));
    EXPECT_EQ(file.rfind(L"\xFEFF", 0), 0u) << "no byte-order mark in " << cstr(path, CP_UTF8);
    const std::wregex line(L"\\.\\d{3} \\d+ \\d+ (\\w+: \\w+)\n   at \\(loghost line 30\\)\r\n");
    EXPECT_EQ(matches(file, line), filed);
  }
}

// A refused report closes the source; the next report registers and opens it again.
TEST_F(LogSinks, AfterAFailedReportTheNextRegistersTheSourceAgain) {
  const UnixRun run = runLogHostUnix(root, kAllEventChannels, "failreport 3 refused 3 'after it'");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(matches(run.err, std::regex(":advapi:(RegisterEventSourceW|DeregisterEventSource|ReportEventW) ")),
            (std::vector<std::string>{"RegisterEventSourceW", "DeregisterEventSource", "RegisterEventSourceW",
                                      "ReportEventW", "DeregisterEventSource"}))
      << run.err;
  EXPECT_TRUE(eventLine(run.err, "err", "L\"after it\\n")) << run.err;
}

TEST_F(LogSinks, ConsoleMessagesOfTwoModulesAreSeparatedByOneNewlineInUtf8) {
  const ProcessResult run = runHost(L"loghost.exe", L"modules first \"second \u00e9\u2192\u2713\"");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(run.output,
            console("first\n   at (loghost line 82)\nsecond \xc3\xa9\xe2\x86\x92\xe2\x9c\x93\n   at (LogModuleLog line 9)"));
}

// The module keeps a log's switch, root and mutex between lines while the product's settings stay
// as they are; a change, here or by another process, counts from the next line on. A switched-off
// log reads no folder, writes nothing and keeps no mutex.
TEST_F(LogSinks, ASwitchOrRootChangedBetweenTwoLinesTakesEffectWithTheNextLine) {
  const auto mutexExists = [] {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"kestrinlog_switched_mutex");
    if (mutex != nullptr) CloseHandle(mutex);
    return mutex != nullptr;
  };
  const auto write = [](const wchar_t* text) { LogFile(L"switched", true).write(text); };
  const std::wstring other = root + L"\\other";
  write(L"one");
  EXPECT_TRUE(mutexExists()) << "the mutex is kept between lines";
  values.set(L"PRODUCT_ROOT_D", other);
  write(L"two");
  values.set(L"log_switched_enabled", 0);
  values.set(L"PRODUCT_ROOT_D", root + L"\\missing");
  EXPECT_FALSE(LogFile(L"switched", true).isEnabled());
  write(L"three");
  EXPECT_FALSE(mutexExists()) << "a switched-off log keeps its mutex";
  EXPECT_EQ(GetFileAttributesW((root + L"\\missing").c_str()), INVALID_FILE_ATTRIBUTES);
  values.set(L"PRODUCT_ROOT_D", other);
  // An operator's command: another process.
  const ProcessResult reg = runProcess(L"C:\\windows\\system32\\reg.exe",
                                       L"add \"HKLM\\SOFTWARE\\Kestrin\\Ondra Config\\Config\" /v log_switched_enabled "
                                       L"/t REG_DWORD /d 1 /reg:32 /f");
  ASSERT_EQ(reg.exitCode, 0u) << reg.output;
  write(L"four");
  values.set(L"PRODUCT_ROOT_D", root);
  write(L"five");

  const std::wstring first = fromUtf16(readBytes(todaysLogFile(root, L"switched")));
  const std::wstring second = fromUtf16(readBytes(todaysLogFile(other, L"switched")));
  const auto has = [](const std::wstring& file, const wchar_t* text) {
    return file.find(std::wstring(L" ") + text + L"\r\n") != std::wstring::npos;
  };
  EXPECT_TRUE(has(first, L"one") && has(first, L"five")) << std::string(first.begin(), first.end());
  EXPECT_TRUE(has(second, L"two") && has(second, L"four")) << std::string(second.begin(), second.end());
  EXPECT_FALSE(has(first, L"two") || has(first, L"four") || has(second, L"five"));
  EXPECT_FALSE(has(first, L"three") || has(second, L"three"));
}

// A second Wine prefix shares files but no named objects, as session 0 and a desktop session do:
// two processes here and one there, two threads each, start writing one new file at once.
TEST_F(LogSinks, WritersWithAndWithoutACommonMutexWriteWholeLinesInOrderUnderOneMark) {
  constexpr int kLines = 2000;
  const std::string folder = unixPath(root);
  std::string shared = "Z:" + folder;  // the same folder by the same name in both prefixes
  std::replace(shared.begin(), shared.end(), '/', '\\');
  values.set(L"PRODUCT_ROOT_D", std::wstring(shared.begin(), shared.end()));
  CreateDirectoryW((root + L"\\gate").c_str(), nullptr);
  const std::wstring bin = VFileName::directory(moduleName(nullptr));
  const std::string second = "WINEPREFIX='" + unixPath(VFileName::directory(bin)) + "/wineprefix-second' ";
  const std::string host = wineCommand(VFileName::combine(bin, L"loghost.exe")) + " lines race " +
                           std::to_string(kLines) + " ";
  const std::string gate = " '" + shared + "\\gate'";
  const int status = runLinuxShell(
      root,
      "{ " + second + wineCommand(L"C:\\windows\\system32\\reg.exe") + " add "
      "'HKLM\\SOFTWARE\\Kestrin\\Ondra Config\\Config' /v PRODUCT_ROOT_D /t REG_SZ /d '" + shared + "' /reg:32 /f\n" +
      host + "A" + gate + " & a=$!\n" +
      host + "B" + gate + " & b=$!\n" +
      second + host + "C" + gate + " & c=$!\n" +
      "for t in A B C; do until [ -e '" + folder + "/gate/ready.'$t ]; do sleep 0.05; done; done\n"
      "touch '" + folder + "/gate/go'\n"
      "wait $a && wait $b && wait $c; } >race.out 2>&1 </dev/null",
      280000);
  ASSERT_EQ(status, 0) << readBytes(root + L"\\race.out");

  const std::string bytes = readBytes(todaysLogFile(root, L"race"));
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  const std::wstring text = fromUtf16(bytes.substr(2));
  EXPECT_EQ(text.find(L'\xFEFF'), std::wstring::npos) << "a second byte-order mark";
  const std::wregex line(L"\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} (\\d+) (\\d+) ([ABC])\\.([12])\\.(\\d+)");
  std::map<std::wstring, int> next;
  std::map<std::wstring, std::wstring> processOf;  // process to the process id its lines carry
  std::map<std::wstring, std::wstring> threadOf;   // writer to the thread id its lines carry
  size_t count = 0;
  for (size_t start = 0; start < text.size(); ++count) {
    const size_t end = text.find(L"\r\n", start);
    ASSERT_NE(end, std::wstring::npos) << "an unfinished line";
    std::wsmatch parts;
    const std::wstring one = text.substr(start, end - start);
    ASSERT_TRUE(std::regex_match(one, parts, line)) << "line " << count << " is torn";
    const std::wstring writer = parts[3].str() + parts[4].str();
    ASSERT_EQ(std::stoi(parts[5].str()), next[writer]++) << "a line of a writer lost or out of order";
    ASSERT_EQ(processOf.emplace(parts[3].str(), parts[1].str()).first->second, parts[1].str()) << "line " << count;
    ASSERT_EQ(threadOf.emplace(writer, parts[2].str()).first->second, parts[2].str()) << "line " << count;
    start = end + 2;
  }
  EXPECT_EQ(count, 6u * kLines);
  EXPECT_NE(processOf[L"A"], processOf[L"B"]);
  for (const std::wstring process : {L"A", L"B", L"C"}) EXPECT_NE(threadOf[process + L"1"], threadOf[process + L"2"]);
}

// The first registration waits for the machine-wide mutex and creates the log with its limits; a
// later one keeps those of an existing log. A standard user's process may read a standing
// registration but not change it, and reports through it.
TEST_F(LogSinks, RegistrationWaitsForTheGlobalMutexKeepsTheLogsLimitsAndAReadOnlySourceServes) {
  removeKestrinEventLog();
  auto holder = std::make_unique<ExclusiveTask>();
  holder->Initialize(L"Global\\{F485C63C-FF60-4c1a-A4BF-A3958C9F3D32}", INFINITE);
  ProcessResult first;
  std::thread child([&] { first = runHost(L"loghost.exe", L"log 3 registering"); });
  Sleep(2000);  // the child is well past its start-up, held at the registration
  EXPECT_EQ(readDword(kEventLogKey, L"MaxSize"), 0xFFFFFFFFu) << "registered while another process held the mutex";
  holder.reset();
  child.join();
  ASSERT_EQ(first.exitCode, 0u);
  EXPECT_EQ(readDword(kEventLogKey, L"MaxSize"), 8388608u);
  EXPECT_EQ(readDword(kEventLogKey, L"Retention"), 0u);
  EXPECT_EQ(readDword(kSourceKey, L"TypesSupported"), 7u);
  wchar_t file[MAX_PATH] = L"";
  DWORD size = sizeof(file);
  RegGetValueW(HKEY_LOCAL_MACHINE, kSourceKey, L"EventMessageFile", RRF_RT_REG_SZ, nullptr, file, &size);
  EXPECT_EQ(file, root + L"\\admin\\bin64\\eventmsg.dll");

  const DWORD maxSize = 1048576, retention = 604800;
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kEventLogKey, L"MaxSize", REG_DWORD, &maxSize, 4);
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kEventLogKey, L"Retention", REG_DWORD, &retention, 4);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSourceKey);
  ASSERT_EQ(runHost(L"loghost.exe", L"log 3 again").exitCode, 0u);
  EXPECT_EQ(readDword(kEventLogKey, L"MaxSize"), maxSize);
  EXPECT_EQ(readDword(kEventLogKey, L"Retention"), retention);
  EXPECT_EQ(readDword(kSourceKey, L"TypesSupported"), 7u);

  restrictSource(L"D:(A;;KR;;;WD)");
  HKEY writable = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, KEY_SET_VALUE, &writable), ERROR_ACCESS_DENIED);
  const UnixRun run = runLogHostUnix(root, kAllEventChannels, "log 3 'read only'");
  removeKestrinEventLog();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(eventLine(run.err, "err", "L\"read only\\n")) << run.err;
}

TEST_F(LogSinks, EachFailingSinkLeavesTheOthersWorking) {
  // The log folder is a file: the file sink fails; the event log still reports.
  CreateDirectoryW((root + L"\\admin").c_str(), nullptr);
  CloseHandle(CreateFileW((root + L"\\admin\\logs").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  UnixRun unixRun = runLogHostUnix(root, kAllEventChannels, "log 3 'no folder'");
  EXPECT_EQ(unixRun.exitCode, 0);
  EXPECT_EQ(unixRun.out, console("no folder\n   at (loghost line 30)"));
  EXPECT_TRUE(eventLine(unixRun.err, "err", "no folder")) << unixRun.err;

  // The source's key refuses everything: the event log fails; the file still takes the line.
  DeleteFileW((root + L"\\admin\\logs").c_str());
  restrictSource(L"D:");
  unixRun = runLogHostUnix(root, kAllEventChannels, "log 3 'no source'");
  removeKestrinEventLog();
  EXPECT_EQ(unixRun.exitCode, 0);
  EXPECT_EQ(unixRun.out, console("no source\n   at (loghost line 30)"));
  EXPECT_EQ(unixRun.err.find(":eventlog:"), std::string::npos) << unixRun.err;
  EXPECT_NE(debugLog().find(L"Error: no source"), std::wstring::npos);
}
