#include "tests/diagnostics/crash/dumpFiles.h"

#include <dbghelp.h>

#include <algorithm>

#include "platform/UniqueHandle.h"

std::vector<std::wstring> dumpNames(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  const UniqueFindHandle find(FindFirstFileW((folder + L"\\*.dmp").c_str(), &entry));
  if (!find) return names;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
  } while (FindNextFileW(find.get(), &entry));
  std::sort(names.begin(), names.end());
  return names;
}

DumpFacts readDump(const std::wstring& path) {
  DumpFacts facts;
  const UniqueFileHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return facts;
  const UniqueKernelHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return facts;
  void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) return facts;
  facts.signature = static_cast<const MINIDUMP_HEADER*>(view)->Signature == MINIDUMP_SIGNATURE;
  void* stream = nullptr;
  ULONG streamSize = 0;
  if (MiniDumpReadDumpStream(view, ExceptionStream, nullptr, &stream, &streamSize)) {
    const auto* exception = static_cast<const MINIDUMP_EXCEPTION_STREAM*>(stream);
    facts.exceptionThread = exception->ThreadId;
    facts.exceptionCode = exception->ExceptionRecord.ExceptionCode;
  }
  if (MiniDumpReadDumpStream(view, ThreadListStream, nullptr, &stream, &streamSize)) {
    const auto* threads = static_cast<const MINIDUMP_THREAD_LIST*>(stream);
    for (ULONG i = 0; i < threads->NumberOfThreads; ++i) {
      if (threads->Threads[i].ThreadId == facts.exceptionThread) facts.threadListed = true;
    }
  }
  UnmapViewOfFile(view);
  return facts;
}

void setDumpRoot(ProductSettings& settings, const std::wstring& root) {
  settings.set(L"PRODUCT_ROOT_D", root);
  for (const wchar_t* name : {L"CrashDumpsEnabled", L"CrashDumpsLocation", L"CrashDumpsMaxCount"}) settings.remove(name);
}
