#include "tests/diagnostics/log/logTestSupport.h"

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
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}
