#include "platform/VFileName.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "diagnostics/vexception.h"

TEST(VFileName, NormalizeResolvesDotsAndSeparatorsKeepingPrefixesAndEnds) {
  EXPECT_EQ(VFileName::normalize(L"D:/a/./b/../c/"), L"D:\\a\\c\\");
  EXPECT_EQ(VFileName::normalize(L"a\\..\\..\\x"), L"..\\x");
  EXPECT_EQ(VFileName::normalize(L"..\\x"), L"..\\x");
  EXPECT_EQ(VFileName::normalize(L"a\\B\\..\\..\\..\\..\\x"), L"..\\..\\x");
  EXPECT_EQ(VFileName::normalize(L"D:\\a\\.\\.\\b\\.."), L"D:\\a");
  EXPECT_EQ(VFileName::normalize(L"\\\\?\\D:\\a\\..\\b"), L"\\\\?\\D:\\b");
  EXPECT_EQ(VFileName::normalize(L"//?/D:/a"), L"\\\\?\\D:\\a");
  EXPECT_EQ(VFileName::normalize(L"\\\\.\\pipe\\x"), L"\\\\.\\pipe\\x");
  EXPECT_EQ(VFileName::normalize(L"\\\\server\\share\\x"), L"\\server\\share\\x");
  EXPECT_EQ(VFileName::normalize(L"\\"), L"\\");
  EXPECT_EQ(VFileName::normalize(L""), L"");
  EXPECT_EQ(VFileName::normalize(L"D:\\a\\\\\\b"), L"D:\\a\\b");
  EXPECT_EQ(VFileName::normalize(L"D:\\..\\..\\x"), L"D:\\x");
  EXPECT_EQ(VFileName::normalize(L"\\\\?\\D:\\..\\x"), L"\\\\?\\D:\\x");
}

TEST(VFileName, LongPathPrefixesOnlyDriveLetterPaths) {
  EXPECT_EQ(VFileName::longPath(L"D:"), L"\\\\?\\D:\\");
  EXPECT_EQ(VFileName::longPath(L"D:\\a\\..\\b"), L"\\\\?\\D:\\b");
  EXPECT_EQ(VFileName::longPath(L"D:/a/b/"), L"\\\\?\\D:\\a\\b\\");
  EXPECT_EQ(VFileName::longPath(L"\\\\server\\share"), L"\\\\server\\share");
  EXPECT_EQ(VFileName::longPath(L"relative\\x"), L"relative\\x");
  EXPECT_EQ(VFileName::longPath(L"\\\\?\\D:\\a\\..\\b"), L"\\\\?\\D:\\a\\..\\b");
  EXPECT_EQ(VFileName::longPath(L"D:\\a\\..\\..\\x"), L"\\\\?\\D:\\x");
  EXPECT_EQ(VFileName::addBackslash(L""), L"\\");
  EXPECT_EQ(VFileName::addBackslash(L"D:\\x\\"), L"D:\\x\\");
  EXPECT_EQ(VFileName::addBackslash(L"D:\\x"), L"D:\\x\\");
}

TEST(VFileName, CombineJoinsWithoutLongPrefixEvenBeyondMaxPath) {
  // Whether the inner "/" becomes "\" is the system's choice; the leading separators must not
  // make the relative part root-relative.
  std::wstring joined = VFileName::combine(L"D:\\logs", L"\\\\sub/file.log");
  for (wchar_t& c : joined) {
    if (c == L'/') c = L'\\';
  }
  EXPECT_EQ(joined, L"D:\\logs\\sub\\file.log");
  EXPECT_EQ(VFileName::combine(L"D:\\logs\\", L"a.log"), L"D:\\logs\\a.log");
  EXPECT_EQ(VFileName::combine(L"D:\\a\\..\\b", L"c"), L"D:\\b\\c");
  const std::wstring deep = L"C:\\" + std::wstring(300, L'd');
  EXPECT_EQ(VFileName::combine(deep, L"f.txt"), deep + L"\\f.txt");
}

TEST(VFileName, CombineReportsTheSystemFailureWithTheCallersArguments) {
  // Longer than the extended-length maximum of 32767 characters: the join cannot succeed.
  const std::wstring huge = L"C:\\" + std::wstring(40000, L'x');
  try {
    VFileName::combine(huge, L"/y");
    FAIL() << "a path beyond the system limit cannot be combined";
  } catch (const vosexception&) {
    FAIL() << "the failure carries an HRESULT, not a Windows error code";
  } catch (const vexception& e) {
    EXPECT_EQ(e.message.rfind(L"PathAllocCombine(" + huge + L", /y) failed: error code 0x", 0), 0u);
    EXPECT_EQ(e.sites.at(0).function + ":" + std::to_string(e.sites[0].line), "VFileName::combine:70");
  }
}

TEST(VFileName, RemoveFileSpecCutsTheLastComponentAndKeepsRoots) {
  EXPECT_EQ(VFileName::removeFileSpec(L"D:\\a\\b.txt"), L"D:\\a");
  EXPECT_EQ(VFileName::removeFileSpec(L"D:/a/./c/../b.txt"), L"D:\\a");
  EXPECT_EQ(VFileName::removeFileSpec(L"D:\\"), L"D:\\");
  EXPECT_EQ(VFileName::removeFileSpec(L"D:"), L"D:\\");
  const std::wstring deep = L"C:\\" + std::wstring(300, L'd');
  EXPECT_EQ(VFileName::removeFileSpec(deep + L"\\f.txt"), deep);
}

TEST(VFileName, NamePartsFollowTheLastComponent) {
  EXPECT_EQ(VFileName::fileName(L"D:\\dir\\file.txt"), L"file.txt");
  EXPECT_EQ(VFileName::fileName(L"D:/dir/file.txt"), L"file.txt");
  EXPECT_EQ(VFileName::fileName(L"file.txt"), L"file.txt");
  EXPECT_EQ(VFileName::extension(L"D:\\a.b\\c"), L"");
  EXPECT_EQ(VFileName::extension(L"x.tar.gz"), L".gz");
  EXPECT_EQ(VFileName::removeExtension(L"D:\\bin\\provider.dll"), L"D:\\bin\\provider");
  EXPECT_EQ(VFileName::removeExtension(L"D:\\a.b\\c"), L"D:\\a.b\\c");
  EXPECT_EQ(VFileName::directory(L"D:\\dir\\file.txt"), L"D:\\dir");
  EXPECT_EQ(VFileName::directory(L"D:\\dir//file.txt"), L"D:\\dir");
  EXPECT_EQ(VFileName::directory(L"file.txt"), L"");
  EXPECT_EQ(VFileName::removeBackslash(L"D:\\dir\\\\/"), L"D:\\dir");
  EXPECT_EQ(VFileName::removeBackslash(L"\\/\\"), L"");
  EXPECT_EQ(VFileName::removeBackslash(L"D:\\dir"), L"D:\\dir");
}

TEST(VFileName, ExpandEnvironmentStringsReplacesDefinedReferencesOnly) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"KESTRIN_PATH_TEST", L"C:\\kestrin"));
  EXPECT_EQ(VFileName::expandEnvironmentStrings(L"%KESTRIN_PATH_TEST%\\logs"), L"C:\\kestrin\\logs");
  EXPECT_EQ(VFileName::expandEnvironmentStrings(L"%KESTRIN_UNDEFINED_VARIABLE%\\x"),
            L"%KESTRIN_UNDEFINED_VARIABLE%\\x");
  EXPECT_EQ(VFileName::expandEnvironmentStrings(L""), L"");
  const std::wstring longValue(5000, L'v');
  ASSERT_TRUE(SetEnvironmentVariableW(L"KESTRIN_PATH_TEST", longValue.c_str()));
  EXPECT_EQ(VFileName::expandEnvironmentStrings(L"<%KESTRIN_PATH_TEST%>"), L"<" + longValue + L">");
  SetEnvironmentVariableW(L"KESTRIN_PATH_TEST", nullptr);
}
