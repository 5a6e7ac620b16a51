// A host that ends its process with spans still queued loses none of them.

#include <gtest/gtest.h>

#include <windows.h>

#include "tests/support/AgentListener.h"

namespace {

DWORD runHost(const std::string& hostPort, int spans, const std::string& mode) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self);
  folder.resize(folder.find_last_of(L'\\') + 1);
  std::wstring command = L"\"" + folder + L"jaeger_exit_host.exe\" " + std::wstring(hostPort.begin(), hostPort.end()) +
                         L" " + std::to_wstring(spans) + L" " + std::wstring(mode.begin(), mode.end());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "CreateProcessW failed with " << GetLastError();
    return 0xffffffff;
  }
  DWORD code = 0xffffffff;
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

}  // namespace

TEST(JaegerExit, QueuedSpansAreSentHoweverTheHostEnds) {
  for (const char* mode : {"return", "exit", "global"}) {
    testsupport::AgentListener listener;
    ASSERT_EQ(0u, runHost(listener.hostPort(), 250, mode)) << mode;
    auto spans = listener.waitForSpans(250, std::chrono::seconds(10));
    EXPECT_EQ(250u, spans.size()) << mode;
    if (!spans.empty()) {
      EXPECT_EQ(std::string("exit.") + mode, spans[0].service);
    }
  }
}
