// partial_write_host <path>: writes 2 MB through VFile, all asked, then part allowed; prints each outcome.
#include <cstdio>

#include "diagnostics/vexception.h"
#include "platform/VFile.h"

int wmain(int, wchar_t** argv) {
  const std::string data(2097152, 'p');
  VFile file(argv[1], GENERIC_WRITE, 0, CREATE_NEW, 0);  // raising from here ends the process abnormally
  for (bool whole : {true, false}) {
    file.seek(0, nullptr, FILE_BEGIN);
    try {
      file.write(data.data(), static_cast<uint32_t>(data.size()), whole);
      std::printf("wrote\n");
    } catch (const vexception& e) {
      std::printf("raised %d %ls\n", e.sites.at(0).line, e.message.c_str());
    }
  }
  return 0;
}
