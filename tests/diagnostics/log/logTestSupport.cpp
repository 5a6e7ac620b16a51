#include "tests/diagnostics/log/logTestSupport.h"

#include <cstring>

#include "platform/VDateTime.h"
#include "tests/support/removeTree.h"

std::wstring makeProductRoot(ProductSettings& values, const std::wstring& name) {
  CreateDirectoryW(L"C:\\kestrin-logtest", nullptr);
  const std::wstring root = L"C:\\kestrin-logtest\\" + name;
  removeTree(root);
  CreateDirectoryW(root.c_str(), nullptr);
  values.set(L"PRODUCT_ROOT_D", root);
  return root;
}

std::wstring todaysLogFile(const std::wstring& root, const std::wstring& name) {
  return root + L"\\admin\\logs\\kestrinlog_" + name + VDateTime().dateStamp() + L".log";
}

std::wstring fromUtf16(const std::string& bytes) {
  std::wstring text(bytes.size() / 2, L'\0');
  std::memcpy(&text[0], bytes.data(), text.size() * sizeof(wchar_t));
  return text;
}
