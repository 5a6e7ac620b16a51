// The sinks observed for real: log files in the prefix's drive, the event log through Wine's
// eventlog debug channel and the registry, the console as the host's standard output.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "diagnostics/ExclusiveTask.h"
#include "diagnostics/log/LogFile.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"
#include "tests/diagnostics/log/logTestSupport.h"

namespace {

const char* const kAllEventChannels = "WINEDEBUG=err+eventlog,warn+eventlog,trace+eventlog";
const wchar_t* const kEventLogKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Kestrin";

DWORD readDword(const std::wstring& subKey, const wchar_t* name) {
  DWORD value = 0xFFFFFFFF;
  DWORD size = sizeof(value);
  RegGetValueW(HKEY_LOCAL_MACHINE, subKey.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}

// Whether Wine printed a line on channel ("err", "warn" or "trace") of the eventlog channel
// that holds text.
bool eventLine(const std::string& output, const std::string& channel, const std::string& text) {
  const std::string marker = channel + ":eventlog:";
  for (size_t start = 0; start < output.size();) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(start, end - start);
    if (line.find(marker) != std::string::npos && line.find(text) != std::string::npos) return true;
    start = end + 1;
  }
  return false;
}

// Standard output is in text mode, as in any console program: "\n" goes out as CR LF.
std::string console(std::string text) {
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) text.insert(at, 1, '\r');
  return text;
}

std::wstring readString(const std::wstring& subKey, const wchar_t* name) {
  wchar_t value[1024] = L"";
  DWORD size = sizeof(value);
  RegGetValueW(HKEY_LOCAL_MACHINE, subKey.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size);
  return value;
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

TEST_F(LogSinks, WithoutDebugAnErrorReachesEverySinkAndAWarningNone) {
  const UnixRun run = runLogHostUnix(root, kAllEventChannels, "log 1 'a warning' 3 'an error'");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::wstring file = debugLog();
  EXPECT_NE(file.find(L"Error: an error\n   at (loghost line 30)\r\n"), std::wstring::npos) << file;
  EXPECT_EQ(file.find(L"a warning"), std::wstring::npos);
  // The console: the error's full text, nothing else.
  EXPECT_EQ(run.out, console("an error\n   at (loghost line 30)"));
  // The event: on the err channel, with both insertion strings, and nothing else.
  EXPECT_TRUE(eventLine(run.err, "err", "L\"an error\\n   at (loghost line 30)\"")) << run.err;
  EXPECT_TRUE(eventLine(run.err, "err", "\\\\bin\\\\loghost.exe\"")) << run.err;
  EXPECT_EQ(run.err.find("warn:eventlog"), std::string::npos) << run.err;
}

TEST_F(LogSinks, WithDebugAnInfoReachesTheFileAndTheEventLogButNotTheConsole) {
  values.set(L"Debug", 1);
  const UnixRun run = runLogHostUnix(root, kAllEventChannels, "log 0 'some info'");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(debugLog().find(L"Info: some info"), std::wstring::npos);
  EXPECT_TRUE(eventLine(run.err, "trace", "L\"some info")) << run.err;
  EXPECT_EQ(run.out, "") << "on the console";
}

// Wine's report prints each insertion string on the channel of the event's type and, on its
// fixme channel, the call's arguments with the type itself, which tells success from information.
TEST_F(LogSinks, EachLevelIsReportedWithItsEventType) {
  values.set(L"Debug", 1);
  const struct {
    const char* text;
    const char* channel;
    const char* type;
  } levels[] = {{"info", "trace", "0x0004"},
                {"warning", "warn", "0x0002"},
                {"result", "trace", "0x0000"},
                {"error", "err", "0x0001"},
                {"unexpected", "err", "0x0001"}};
  const UnixRun run = runLogHostUnix(root, std::string(kAllEventChannels) + ",fixme+advapi",
                                     "log 0 info 1 warning 2 result 3 error 4 unexpected");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> types;  // of the reports in order
  const std::regex report("ReportEventW \\([0-9A-Fa-f]+,(0x[0-9a-f]{4}),");
  for (std::sregex_iterator at(run.err.begin(), run.err.end(), report), end; at != end; ++at) {
    types.push_back((*at)[1].str());
  }
  ASSERT_EQ(types.size(), 5u) << run.err;
  for (size_t level = 0; level < 5; ++level) {
    EXPECT_EQ(types[level], levels[level].type) << levels[level].text;
    EXPECT_TRUE(eventLine(run.err, levels[level].channel, std::string("L\"") + levels[level].text + "\\n"))
        << levels[level].text << " not on " << levels[level].channel;
  }
}

// A standard user's process may read the event log's keys but not change them; where the source's
// registration stands it reports through it.
TEST_F(LogSinks, AProcessThatMayOnlyReadAStandingRegistrationReportsThroughIt) {
  removeKestrinEventLog();
  ASSERT_EQ(runLogHost(L"log 3 registering").exitCode, 0u);
  HKEY key = nullptr;
  const std::wstring source = std::wstring(kEventLogKey) + L"\\loghost.exe";
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, source.c_str(), 0, WRITE_DAC, &key), ERROR_SUCCESS);
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  alignas(DWORD) BYTE aclBytes[256];
  auto* acl = reinterpret_cast<ACL*>(aclBytes);
  InitializeAcl(acl, sizeof(aclBytes), ACL_REVISION);
  AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, everyone);
  SECURITY_DESCRIPTOR readOnly;
  InitializeSecurityDescriptor(&readOnly, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&readOnly, TRUE, acl, FALSE);
  const LSTATUS set = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &readOnly);
  RegCloseKey(key);
  FreeSid(everyone);
  ASSERT_EQ(set, ERROR_SUCCESS);
  HKEY writable = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, source.c_str(), 0, KEY_SET_VALUE, &writable), ERROR_ACCESS_DENIED);

  const UnixRun run = runLogHostUnix(root, kAllEventChannels, "log 3 'read only'");
  removeKestrinEventLog();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(eventLine(run.err, "err", "L\"read only\\n")) << run.err;
}

// A refused report closes the source; the next report registers and opens it again.
TEST_F(LogSinks, AfterAFailedReportTheNextRegistersTheSourceAgain) {
  const UnixRun run =
      runLogHostUnix(root, std::string(kAllEventChannels) + ",fixme+advapi", "failreport 3 refused 3 'after it'");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> calls;
  const std::regex call(":advapi:(RegisterEventSourceW|DeregisterEventSource|ReportEventW) ");
  for (std::sregex_iterator at(run.err.begin(), run.err.end(), call), end; at != end; ++at) {
    calls.push_back((*at)[1].str());
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"RegisterEventSourceW", "DeregisterEventSource", "RegisterEventSourceW",
                                             "ReportEventW", "DeregisterEventSource"}))
      << run.err;
  EXPECT_TRUE(eventLine(run.err, "err", "L\"after it\\n")) << run.err;
}

TEST_F(LogSinks, ConsoleMessagesOfTwoModulesAreSeparatedByOneNewlineInUtf8) {
  const ProcessResult run = runLogHost(L"modules first \"second \u00e9\u2192\u2713\"");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(run.output,
            console("first\n   at (loghost line 82)\nsecond \xc3\xa9\xe2\x86\x92\xe2\x9c\x93\n   at (LogModuleLog line 9)"));
}

// Wine takes local time from the Unix time zone of each process; UTC+14 and UTC-11 are never on
// the same date.
TEST_F(LogSinks, TheLogFileNameFollowsEachWritersLocalDate) {
  SYSTEMTIME utc;
  GetSystemTime(&utc);
  FILETIME now;
  SystemTimeToFileTime(&utc, &now);
  std::vector<std::wstring> files;
  for (const auto& [zone, hours] : {std::pair<const char*, int64_t>{"Pacific/Kiritimati", 14},
                                     std::pair<const char*, int64_t>{"Pacific/Pago_Pago", -11}}) {
    const UnixRun run = runLogHostUnix(root, std::string("TZ=") + zone, "date zones");
    ASSERT_EQ(run.exitCode, 0) << zone << run.err;
    // The date the zone is on right now (a write a moment later may cross midnight: rare, and
    // then the test fails visibly rather than passing wrongly).
    ULARGE_INTEGER local{{now.dwLowDateTime, now.dwHighDateTime}};
    local.QuadPart += hours * 3600LL * 10000000LL;
    const FILETIME shifted{local.LowPart, local.HighPart};
    SYSTEMTIME date;
    FileTimeToSystemTime(&shifted, &date);
    wchar_t stamp[16];
    swprintf(stamp, 16, L"%04d%02d%02d", date.wYear, date.wMonth, date.wDay);
    files.push_back(root + L"\\admin\\logs\\kestrinlog_zones" + stamp + L".log");
  }
  ASSERT_NE(files[0], files[1]);
  for (const std::wstring& file : files) {
    const std::wstring text = fromUtf16(readBytes(file));
    EXPECT_NE(text.find(L"dated line\r\n"), std::wstring::npos) << "missing: " << std::string(file.begin(), file.end());
    EXPECT_EQ(text.rfind(L"\xFEFF", 0), 0u);
  }
}

TEST_F(LogSinks, ASwitchedOffLogReadsNoFolderWritesNothingAndMakesNoMutex) {
  values.set(L"log_debug_enabled", 0);
  values.set(L"PRODUCT_ROOT_D", root + L"\\missing");
  const ProcessResult run = runLogHost(L"mutex 3 \"not written\"");
  EXPECT_EQ(run.exitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << run.output;
  EXPECT_EQ(GetFileAttributesW((root + L"\\missing").c_str()), INVALID_FILE_ATTRIBUTES);
}

// The module keeps a log's switch, root and mutex between lines while the product's settings stay
// as they are; a change, here or by another process, counts from the next line on.
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
  EXPECT_FALSE(LogFile(L"switched", true).isEnabled());
  write(L"three");
  EXPECT_FALSE(mutexExists()) << "a switched-off log keeps its mutex";
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

// Two Wine prefixes are two servers, which share files but no named objects: writers there have
// no mutex in common, as a service in session 0 and a tool in a desktop session on Windows. Two
// processes here and one in a second prefix (kept beside this one), two threads each, are held at
// a gate until all have started and then write to one new file at once.
TEST_F(LogSinks, WritersWithAndWithoutACommonMutexWriteWholeLinesInOrderUnderOneMark) {
  constexpr int kLines = 2000;
  const std::string folder = unixPath(root);
  std::string shared = "Z:" + folder;  // the same folder by the same name in both prefixes
  std::replace(shared.begin(), shared.end(), '/', '\\');
  values.set(L"PRODUCT_ROOT_D", std::wstring(shared.begin(), shared.end()));
  CreateDirectoryW((root + L"\\gate").c_str(), nullptr);
  const std::string second =
      unixPath(VFileName::directory(VFileName::directory(moduleName(nullptr)))) + "/wineprefix-second";
  const std::string host =
      wineCommand(VFileName::combine(VFileName::directory(moduleName(nullptr)), L"loghost.exe"));
  const std::string lines = " lines race " + std::to_string(kLines) + " ";
  const std::string gate = " '" + shared + "\\gate'";
  const int status = runLinuxShell(
      root,
      "{ "
      "WINEPREFIX='" + second + "' " + wineCommand(L"C:\\windows\\system32\\reg.exe") + " add "
      "'HKLM\\SOFTWARE\\Kestrin\\Ondra Config\\Config' /v PRODUCT_ROOT_D /t REG_SZ /d '" + shared + "' /reg:32 /f\n" +
      host + lines + "A" + gate + " & a=$!\n" +
      host + lines + "B" + gate + " & b=$!\n" +
      "WINEPREFIX='" + second + "' " + host + lines + "C" + gate + " & c=$!\n" +
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
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find(L"\r\n", start);
    ASSERT_NE(end, std::wstring::npos) << "an unfinished line";
    std::wsmatch parts;
    const std::wstring one = text.substr(start, end - start);
    ASSERT_TRUE(std::regex_match(one, parts, line)) << "line " << count << " is torn";
    const std::wstring writer = parts[3].str() + parts[4].str();
    ASSERT_EQ(std::stoi(parts[5].str()), next[writer]++) << "a line of a writer lost or out of order";
    // Each line names its writer's process and thread.
    ASSERT_EQ(processOf.emplace(parts[3].str(), parts[1].str()).first->second, parts[1].str()) << "line " << count;
    ASSERT_EQ(threadOf.emplace(writer, parts[2].str()).first->second, parts[2].str()) << "line " << count;
    ++count;
    start = end + 2;
  }
  EXPECT_EQ(count, 6u * kLines);
  EXPECT_NE(processOf[L"A"], processOf[L"B"]);
  for (const std::wstring process : {L"A", L"B", L"C"}) EXPECT_NE(threadOf[process + L"1"], threadOf[process + L"2"]);
}

TEST_F(LogSinks, RegistrationCreatesTheLogWithItsLimitsAndKeepsThoseOfAnExistingOne) {
  removeKestrinEventLog();
  ASSERT_EQ(runLogHost(L"log 3 registering").exitCode, 0u);
  const std::wstring source = std::wstring(kEventLogKey) + L"\\loghost.exe";
  EXPECT_EQ(readDword(kEventLogKey, L"MaxSize"), 8388608u);
  EXPECT_EQ(readDword(kEventLogKey, L"Retention"), 0u);
  EXPECT_EQ(readDword(source, L"TypesSupported"), 7u);
  EXPECT_EQ(readString(source, L"EventMessageFile"), root + L"\\admin\\bin64\\eventmsg.dll");

  HKEY log = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEventLogKey, 0, KEY_ALL_ACCESS, &log), ERROR_SUCCESS);
  const DWORD maxSize = 1048576, retention = 604800;
  RegSetValueExW(log, L"MaxSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&maxSize), 4);
  RegSetValueExW(log, L"Retention", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&retention), 4);
  RegDeleteTreeW(log, L"loghost.exe");
  RegCloseKey(log);
  ASSERT_EQ(runLogHost(L"log 3 again").exitCode, 0u);
  EXPECT_EQ(readDword(kEventLogKey, L"MaxSize"), maxSize);
  EXPECT_EQ(readDword(kEventLogKey, L"Retention"), retention);
  EXPECT_EQ(readDword(source, L"TypesSupported"), 7u);
}

TEST_F(LogSinks, ASecondRegistrationWaitsForTheGlobalMutex) {
  removeKestrinEventLog();
  auto holder = std::make_unique<ExclusiveTask>();
  holder->Initialize(L"Global\\{F485C63C-FF60-4c1a-A4BF-A3958C9F3D32}", INFINITE);
  const std::wstring host = VFileName::combine(VFileName::directory(moduleName(nullptr)), L"loghost.exe");
  ProcessResult run;
  std::thread child([&] { run = runProcess(host, L"log 3 waiting"); });
  Sleep(2000);  // the child is well past its start-up, held at the registration
  EXPECT_FALSE(RegGetValueW(HKEY_LOCAL_MACHINE, kEventLogKey, L"MaxSize", RRF_RT_REG_DWORD, nullptr, nullptr,
                            nullptr) == ERROR_SUCCESS)
      << "registered while another process held the registration";
  holder.reset();
  child.join();
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(readDword(kEventLogKey, L"MaxSize"), 8388608u);
}

TEST_F(LogSinks, EachFailingSinkLeavesTheOthersAndTheListenersWorking) {
  // No product root: neither the file nor the registration can be made.
  values.remove(L"PRODUCT_ROOT_D");
  const ProcessResult run = runLogHost(L"listen 3 \"no root\"");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, console("no root\n   at (loghost line 30)") + "[listener 3]");

  // The log folder is a file: the file sink fails; the event log still reports.
  values.set(L"PRODUCT_ROOT_D", root);
  CreateDirectoryW((root + L"\\admin").c_str(), nullptr);
  CloseHandle(CreateFileW((root + L"\\admin\\logs").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  UnixRun unixRun = runLogHostUnix(root, kAllEventChannels, "listen 3 'no folder'");
  EXPECT_EQ(unixRun.exitCode, 0);
  EXPECT_EQ(unixRun.out, console("no folder\n   at (loghost line 30)") + "[listener 3]");
  EXPECT_TRUE(eventLine(unixRun.err, "err", "no folder")) << unixRun.err;

  // The source's key refuses writes: the event log fails; the file still takes the line.
  DeleteFileW((root + L"\\admin\\logs").c_str());
  const std::wstring source = std::wstring(kEventLogKey) + L"\\loghost.exe";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, source.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  SECURITY_DESCRIPTOR empty;
  InitializeSecurityDescriptor(&empty, SECURITY_DESCRIPTOR_REVISION);
  ACL acl;
  InitializeAcl(&acl, sizeof(acl), ACL_REVISION);
  SetSecurityDescriptorDacl(&empty, TRUE, &acl, FALSE);
  ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &empty), ERROR_SUCCESS);
  RegCloseKey(key);
  unixRun = runLogHostUnix(root, kAllEventChannels, "listen 3 'no source'");
  removeKestrinEventLog();
  EXPECT_EQ(unixRun.exitCode, 0);
  EXPECT_EQ(unixRun.out, console("no source\n   at (loghost line 30)") + "[listener 3]");
  EXPECT_EQ(unixRun.err.find("eventlog"), std::string::npos) << unixRun.err;
  EXPECT_NE(debugLog().find(L"Error: no source"), std::wstring::npos);
}
