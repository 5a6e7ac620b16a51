// The long loop of exits under load, counted at the independent decoder: hosts that end by
// ExitProcess, exit or returning from main while four threads trace at full speed through the
// driver (which needs the agent's port 6831 free), and Jaeger client hosts that call ExitProcess
// right after a burst of 10,000 spans. Prints hangs, spans sent twice,
// spans finished before the exit call that did not arrive, and how long a host with 10,000
// spans queued takes from its exit call to its end.
// Usage: bench_jaeger_exit [exits per busy mode, 25] [bursts, 20]
//        bench_jaeger_exit driver [exits per mode, 100] [dumps]
// The second form runs only the driver's hosts, and prints the output of each host that hung;
// with "dumps" the product's root is a fresh folder with crash dumps on, so that every host
// also builds the provider's dump settings and runs its dump clean-up as it ends.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/AgentListener.h"
#include "tests/support/busyExit.h"
#include "tests/support/productSettings.h"
#include "tests/support/runProcess.h"

namespace {

std::wstring besideThis(const wchar_t* name) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self);
  folder.resize(folder.find_last_of(L'\\') + 1);
  return folder + name;
}

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

struct Tally {
  int runs = 0, hangs = 0, failures = 0;
  int64_t finished = 0, missing = 0, duplicates = 0, undecodable = 0, worstMissing = 0;
};

// mode "driver-<how>" runs the host that traces through the driver and the provider, which
// report to the agent's fixed port; the others run the Jaeger client's own host.
void runOne(const std::string& mode, int amount, Tally& tally) {
  const bool driver = mode.compare(0, 7, "driver-") == 0;
  testsupport::AgentListener listener(driver ? 6831 : 0, testsupport::AgentListener::Record::SummaryOnly);
  const ProcessResult host =
      driver ? runProcess(besideThis(L"driver_exit_host.exe"), wide(std::to_string(amount) + " " + mode.substr(7)), L"", 30000)
             : runProcess(besideThis(L"jaeger_exit_host.exe"),
                          wide(listener.hostPort() + " " + std::to_string(amount) + " " + mode), L"", 30000);
  const testsupport::AgentSummary summary = listener.stop();
  ++tally.runs;
  if (!host.finished) {
    ++tally.hangs;
    std::printf("%s hung; its output:\n%s\n", mode.c_str(), host.output.c_str());
  }
  if (host.finished && host.exitCode != (driver ? 0u : 7u)) ++tally.failures;
  tally.duplicates += summary.duplicates;
  tally.undecodable += summary.undecodable;
  int64_t finished = amount, missing = summary.missingBelow("exit span", amount);
  if (driver) {
    const testsupport::BusyExitCount busy = testsupport::countBusyExit(host.output, summary, "NEW: ");
    finished = busy.finished;
    missing = busy.missing;
  }
  tally.finished += finished;
  tally.missing += missing;
  tally.worstMissing = std::max(tally.worstMissing, missing);
}

void print(const std::string& what, const Tally& t) {
  std::printf("%-22s %3d exits: %d hung, %d failed, %lld spans sent twice, %lld undecodable datagrams, "
              "%lld of %lld finished spans missing (worst exit %lld)\n",
              what.c_str(), t.runs, t.hangs, t.failures, static_cast<long long>(t.duplicates),
              static_cast<long long>(t.undecodable), static_cast<long long>(t.missing),
              static_cast<long long>(t.finished), static_cast<long long>(t.worstMissing));
  std::fflush(stdout);
}

// ms of a host's whole run, from its start to its end.
double hostRunMs(const std::string& mode, int spans) {
  testsupport::AgentListener listener(0, testsupport::AgentListener::Record::SummaryOnly);
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult host = runProcess(besideThis(L"jaeger_exit_host.exe"),
                                        wide(listener.hostPort() + " " + std::to_string(spans) + " " + mode), L"", 30000);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  listener.stop();
  return host.finished ? ms : -1;
}

// A fresh folder under the temporary one, for the product's root.
std::wstring freshFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"exitbench" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

// Runs each mode perMode times and prints its tally; the hangs of all.
int runModes(std::initializer_list<const char*> modes, int perMode) {
  int hangs = 0;
  for (const char* mode : modes) {
    Tally tally;
    for (int i = 0; i < perMode; ++i) runOne(mode, 150, tally);
    print(mode, tally);
    hangs += tally.hangs;
  }
  return hangs;
}

}  // namespace

int main(int argc, char** argv) {
  // The driver's hosts trace only with the machine's switch on, put back at the end.
  ProductSettings settings;
  settings.set(L"opentracing_enabled", DWORD{1});
  if (argc > 1 && std::string(argv[1]) == "driver") {
    if (argc > 3 && std::string(argv[3]) == "dumps") {
      settings.set(L"PRODUCT_ROOT_D", freshFolder());
      settings.set(L"CrashDumpsEnabled", DWORD{1});
    }
    return runModes({"driver-exitprocess", "driver-exit", "driver-return"}, argc > 2 ? std::atoi(argv[2]) : 100) == 0
               ? 0
               : 1;
  }
  const int perMode = argc > 1 ? std::atoi(argv[1]) : 25;
  const int bursts = argc > 2 ? std::atoi(argv[2]) : 20;
  runModes({"driver-exitprocess", "driver-exit", "driver-return"}, perMode);
  Tally burst;
  for (int i = 0; i < bursts; ++i) runOne("exitprocess", 10000, burst);
  print("burst + ExitProcess", burst);

  // A host's run with no span, then with 10,000 queued at its exit call: the difference is what
  // the spans add, making them (about 10 ms) and sending them at exit.
  for (const char* mode : {"exitprocess", "exit", "return"}) {
    std::vector<double> empty, full;
    for (int i = 0; i < 5; ++i) {
      empty.push_back(hostRunMs(mode, 0));
      full.push_back(hostRunMs(mode, 10000));
    }
    std::sort(empty.begin(), empty.end());
    std::sort(full.begin(), full.end());
    std::printf("host run, %-11s no span %.0f ms, 10,000 spans queued %.0f ms: %+.0f ms (medians of 5; worst %.0f ms)\n",
                mode, empty[2], full[2], full[2] - empty[2], full[4]);
  }
  return 0;
}
