// partial_write_host <path> <count>: writes count bytes through VFile into a new file at path,
// every byte asked for, then again from the start with part of them allowed. Prints for each
// "wrote", or "raised <line> <message>" (ASCII paths only).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "diagnostics/vexception.h"
#include "platform/VFile.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const uint32_t count = std::wcstoul(argv[2], nullptr, 10);
  const std::string data(count, 'p');
  VFile file(argv[1], GENERIC_WRITE, 0, CREATE_NEW, 0);  // raising from here ends the process abnormally
  for (bool whole : {true, false}) {
    file.seek(0, nullptr, FILE_BEGIN);
    try {
      file.write(data.data(), count, whole);
      std::printf("wrote\n");
    } catch (const vexception& e) {
      std::printf("raised %d %ls\n", e.sites.at(0).line, e.message.c_str());
    }
  }
  return 0;
}
