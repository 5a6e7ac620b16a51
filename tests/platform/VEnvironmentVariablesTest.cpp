#include "platform/VEnvironmentVariables.h"

#include <gtest/gtest.h>

#include "tests/platform/raised.h"

namespace {

// Builds a block from entries: each ends with a zero and the block with one more.
std::wstring block(std::initializer_list<const wchar_t*> entries) {
  std::wstring text;
  for (const wchar_t* e : entries) text += e + std::wstring(1, L'\0');
  return text + L'\0';
}

TEST(VEnvironmentVariables, ParsesBlocksLikeWindowsAddingToWhatIsThere) {
  VEnvironmentVariables env;
  env.load(block({L"Path=a", L"X=a=b", L"LONELY", L"PATH=b", L"=D:=D:\\work", L"=C:=C:\\"}).c_str());
  ASSERT_EQ(env.size(), 5u);
  const auto path = env.find(L"path");
  ASSERT_NE(path, env.end());
  EXPECT_EQ(path->first + L"=" + path->second, L"Path=b");  // first spelling stays, last value wins
  EXPECT_EQ(env[L"X"], L"a=b");
  EXPECT_TRUE(env.contains(L"lonely"));
  EXPECT_EQ(env[L"LONELY"], L"");
  EXPECT_EQ(env[L"=c:"], L"C:\\");
  EXPECT_FALSE(env.contains(L""));
  env.load(L"\0");
  env.load(block({L"B=2", L"x=3"}).c_str());
  EXPECT_EQ(env.size(), 6u);
  EXPECT_EQ(env[L"X"], L"3");
  EXPECT_EQ(failure([&] { env.load(nullptr); }), L"Parameter is null at VEnvironmentVariables::load:21");
  EXPECT_EQ(env.size(), 6u);
}

}  // namespace
