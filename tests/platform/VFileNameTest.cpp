#include "platform/VFileName.h"

#include <gtest/gtest.h>

#include "tests/platform/raised.h"

namespace {

TEST(VFileName, PathsAreCutAndJoinedLikeWindowsKeepingPrefixesRootsAndEnds) {
  using Change = std::wstring (*)(const std::wstring&);
  const struct {
    Change change;
    const wchar_t* path;
    const wchar_t* expected;
  } rows[] = {
      {VFileName::normalize, L"D:/a/./b/../c/", L"D:\\a\\c\\"},
      {VFileName::normalize, L"a\\B\\..\\..\\..\\..\\x", L"..\\..\\x"},
      {VFileName::normalize, L"D:\\a\\.\\.\\b\\..", L"D:\\a"},
      {VFileName::normalize, L"//?/D:/a", L"\\\\?\\D:\\a"},
      {VFileName::normalize, L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"},
      {VFileName::normalize, L"\\\\server\\share\\x", L"\\server\\share\\x"},
      {VFileName::normalize, L"\\", L"\\"},
      {VFileName::normalize, L"", L""},
      {VFileName::normalize, L"\\\\?\\D:\\..\\x", L"\\\\?\\D:\\x"},
      {VFileName::longPath, L"D:", L"\\\\?\\D:\\"},
      {VFileName::longPath, L"D:/a/../b/", L"\\\\?\\D:\\b\\"},
      {VFileName::longPath, L"\\\\server\\share", L"\\\\server\\share"},
      {VFileName::addBackslash, L"", L"\\"},
      {VFileName::addBackslash, L"D:\\x\\", L"D:\\x\\"},
      {VFileName::removeFileSpec, L"D:/a/./c/../b.txt", L"D:\\a"},
      {VFileName::removeFileSpec, L"D:", L"D:\\"},
      {VFileName::fileName, L"D:/dir/file.txt", L"file.txt"},
      {VFileName::extension, L"D:\\a.b\\c", L""},
      {VFileName::extension, L"x.tar.gz", L".gz"},
      {VFileName::removeExtension, L"D:\\bin\\provider.dll", L"D:\\bin\\provider"},
      {VFileName::removeExtension, L"D:\\a.b\\c", L"D:\\a.b\\c"},
      {VFileName::directory, L"D:\\dir//file.txt", L"D:\\dir"},
      {VFileName::directory, L"file.txt", L""},
      {VFileName::removeBackslash, L"D:\\dir\\\\/", L"D:\\dir"},
      {VFileName::removeBackslash, L"\\/\\", L""},
      {VFileName::removeBackslash, L"D:\\dir", L"D:\\dir"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.change(row.path), row.expected) << "from " << row.path;

  // Whether the inner "/" becomes "\" is the system's choice; the leading separators must not
  // make the relative part root-relative.
  std::wstring joined = VFileName::combine(L"D:\\logs", L"\\\\sub/file.log");
  for (wchar_t& c : joined) c = c == L'/' ? L'\\' : c;
  EXPECT_EQ(joined, L"D:\\logs\\sub\\file.log");
  EXPECT_EQ(VFileName::combine(L"D:\\a\\..\\b\\", L"c"), L"D:\\b\\c");
  const std::wstring deep = L"C:\\" + std::wstring(300, L'd');
  EXPECT_EQ(VFileName::combine(deep, L"f.txt"), deep + L"\\f.txt");
  EXPECT_EQ(VFileName::removeFileSpec(deep + L"\\f.txt"), deep);
  // Longer than the extended-length maximum of 32767 characters: the join cannot succeed, and the
  // failure carries an HRESULT, not a Windows error code.
  const std::wstring huge = L"C:\\" + std::wstring(40000, L'x');
  const std::wstring text = failure([&] { VFileName::combine(huge, L"/y"); });
  EXPECT_EQ(text.rfind(L"PathAllocCombine(" + huge + L", /y) failed: error code 0x", 0), 0u);
  EXPECT_NE(text.find(L" at VFileName::combine:70"), std::wstring::npos);
}

}  // namespace
