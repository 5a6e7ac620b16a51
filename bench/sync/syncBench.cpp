// bench_sync: nanoseconds per lock + unlock round trip on a named mutex, through VSyncObject::lock
// and VMutex::unlock and as the bare WaitForSingleObject/ReleaseMutex pair, measured in the same
// run, uncontended and with a second process taking the same mutex in a loop. Each figure is the
// median of several rounds, the two kinds alternating so that load on the machine falls on both.
//   bench_sync                        the figures
//   bench_sync contend NAME STOP KIND the second process: KIND "wrapper" or "bare", until STOP is set
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/VMutex.h"

namespace {

void wrapperRoundTrip(VMutex& mutex, uint32_t timeout) {
  mutex.lock(timeout);
  mutex.unlock();
}

void bareRoundTrip(VMutex& mutex, uint32_t timeout) {
  WaitForSingleObject(mutex.handle.get(), timeout);
  ReleaseMutex(mutex.handle.get());
}

using RoundTrip = void (*)(VMutex&, uint32_t);

double nanosecondsPerRoundTrip(VMutex& mutex, RoundTrip roundTrip, uint32_t timeout, long count) {
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i) roundTrip(mutex, timeout);
  const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / static_cast<double>(count);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Prints the median of rounds for the wrapper and the bare pair, measured alternately.
void compare(const char* what, VMutex& mutex, uint32_t timeout, long count) {
  std::vector<double> wrapper;
  std::vector<double> bare;
  for (int round = 0; round < 7; ++round) {
    wrapper.push_back(nanosecondsPerRoundTrip(mutex, wrapperRoundTrip, timeout, count));
    bare.push_back(nanosecondsPerRoundTrip(mutex, bareRoundTrip, timeout, count));
  }
  const double w = median(wrapper);
  const double b = median(bare);
  std::printf("%-48s wrapper %8.0f ns  bare %8.0f ns  wrapper/bare %.3f\n", what, w, b, w / b);
}

int contend(const wchar_t* name, const wchar_t* stopName, const std::wstring& kind) {
  VMutex mutex(false, name);
  const HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, stopName);
  const RoundTrip roundTrip = kind == L"bare" ? bareRoundTrip : wrapperRoundTrip;
  while (WaitForSingleObject(stop, 0) == WAIT_TIMEOUT) {
    for (int i = 0; i < 100; ++i) roundTrip(mutex, INFINITE);
  }
  CloseHandle(stop);
  return 0;
}

// A second process looping on the mutex in the same way while this one measures.
void compareContended(const std::wstring& name, VMutex& mutex, long count) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::vector<double> figures[2];
  const wchar_t* kinds[2] = {L"wrapper", L"bare"};
  const RoundTrip roundTrips[2] = {wrapperRoundTrip, bareRoundTrip};
  for (int round = 0; round < 5; ++round) {
    for (int k = 0; k < 2; ++k) {
      const std::wstring stopName = name + L"_stop";
      const HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, stopName.c_str());
      std::wstring command = L"\"" + std::wstring(self) + L"\" contend " + name + L" " + stopName + L" " + kinds[k];
      STARTUPINFOW startup{};
      startup.cb = sizeof startup;
      PROCESS_INFORMATION child{};
      if (!CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        std::printf("contended: the second process did not start (%lu)\n", GetLastError());
        return;
      }
      Sleep(300);  // lets the child start looping
      figures[k].push_back(nanosecondsPerRoundTrip(mutex, roundTrips[k], INFINITE, count));
      SetEvent(stop);
      WaitForSingleObject(child.hProcess, INFINITE);
      CloseHandle(child.hThread);
      CloseHandle(child.hProcess);
      CloseHandle(stop);
    }
  }
  const double w = median(figures[0]);
  const double b = median(figures[1]);
  std::printf("%-48s wrapper %8.0f ns  bare %8.0f ns  wrapper/bare %.3f\n", "two processes contending, INFINITE", w, b,
              w / b);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 5 && std::wstring(argv[1]) == L"contend") return contend(argv[2], argv[3], argv[4]);
  const std::wstring name = L"kestrin_bench_sync_" + std::to_wstring(GetCurrentProcessId());
  VMutex mutex(false, name.c_str());
  std::printf("lock + unlock round trip on a named mutex (median of rounds)\n");
  compare("uncontended, INFINITE (no clock read)", mutex, INFINITE, 10000);
  compare("uncontended, 1000 ms time-out (one clock read)", mutex, 1000, 10000);
  compareContended(name, mutex, 4000);
  return 0;
}
