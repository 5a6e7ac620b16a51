#include "platform/VEnvironmentVariables.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "diagnostics/vexception.h"
#include "tests/platform/raised.h"

namespace {
// Builds a block from entries: each ends with a zero and the block with one more.
std::wstring block(std::initializer_list<const wchar_t*> entries) {
  std::wstring text;
  for (const wchar_t* e : entries) {
    text += e;
    text.push_back(L'\0');
  }
  text.push_back(L'\0');
  return text;
}
}  // namespace

TEST(VEnvironmentVariables, ParsesNamesValuesAndCaseLikeWindows) {
  VEnvironmentVariables env;
  env.load(block({L"Path=a", L"X=a=b", L"LONELY", L"PATH=b", L"=D:=D:\\work", L"=C:=C:\\"}).c_str());
  ASSERT_EQ(env.size(), 5u);
  auto path = env.find(L"path");
  ASSERT_NE(path, env.end());
  EXPECT_EQ(path->first, L"Path");  // first spelling stays, last value wins
  EXPECT_EQ(path->second, L"b");
  EXPECT_EQ(env[L"X"], L"a=b");
  EXPECT_TRUE(env.contains(L"lonely"));
  EXPECT_EQ(env[L"LONELY"], L"");
  EXPECT_EQ(env[L"=D:"], L"D:\\work");
  EXPECT_EQ(env[L"=c:"], L"C:\\");
  EXPECT_FALSE(env.contains(L""));
}

TEST(VEnvironmentVariables, LoadAddsToWhatIsThereAndEmptyBlockAddsNothing) {
  VEnvironmentVariables env;
  env.load(block({L"A=1"}).c_str());
  env.load(L"\0");
  env.load(block({L"B=2", L"a=3"}).c_str());
  ASSERT_EQ(env.size(), 2u);
  EXPECT_EQ(env[L"A"], L"3");
  EXPECT_EQ(env[L"B"], L"2");
}

TEST(VEnvironmentVariables, ReadsTheProcessEnvironment) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"KESTRIN_ENV_TEST", L"x=y z"));
  VEnvironmentVariables env;
  env.load();
  EXPECT_TRUE(env.contains(L"kestrin_env_test"));
  EXPECT_EQ(env[L"KESTRIN_ENV_TEST"], L"x=y z");
  SetEnvironmentVariableW(L"KESTRIN_ENV_TEST", nullptr);
}

TEST(VEnvironmentVariables, NullBlockRaisesWithItsSite) {
  VEnvironmentVariables env;
  env.load(block({L"KEEP=1"}).c_str());
  const auto e = raised<vexception>([&] { env.load(nullptr); });
  EXPECT_EQ(e.message, L"Parameter is null");
  ASSERT_EQ(e.sites.size(), 1u);
  EXPECT_EQ(e.sites.at(0).function + ":" + std::to_string(e.sites[0].line), "VEnvironmentVariables::load:21");
  EXPECT_EQ(env[L"KEEP"], L"1");
}
