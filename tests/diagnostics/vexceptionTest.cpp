#include "diagnostics/vexception.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <typeinfo>

namespace {

// The system's own sentence for a code, as FormatMessageW gives it, without trailing line breaks.
std::wstring systemText(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0x400, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer != nullptr ? buffer : L"", n);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  return text;
}

}  // namespace

// Callers catch the family as a whole, and a structured exception must never be taken for one.
static_assert(std::is_base_of_v<vexception, ArgumentException> && !std::is_base_of_v<vexception, cwrpexception>);

// Codes no real failure in the other tests reaches; the common ones (missing file or path, refused
// access, sharing violation, bad handle or name, existing file) are raised for real there.
TEST(ThrowOSError, RaisesTheClassOfItsCodeOrAPlainOsException) {
  const struct {
    uint32_t code;
    const std::type_info& type;
  } rows[] = {{14, typeid(VOutOfMemoryException)},          {145, typeid(VDirectoryNotEmptyException)},
              {183, typeid(VAlreadyExistsException)},        {1060, typeid(VServiceDoesNotExistException)},
              {1332, typeid(VNoneMappedException)},          {2245, typeid(VPasswordTooShortException)},
              {0, typeid(vosexception)},                     {87, typeid(vosexception)},
              {0x2fffffffu, typeid(vosexception)}};
  for (const auto& row : rows) {
    try {
      throwOSError(L"probe", row.code, ExceptionSite("probe", 9));
      ADD_FAILURE() << "throwOSError returned for " << row.code;
    } catch (const vosexception& e) {
      EXPECT_EQ(e.code, row.code);
      EXPECT_TRUE(typeid(e) == row.type) << "code " << row.code << " raised " << typeid(e).name();
      ASSERT_EQ(e.sites.size(), 1u);
      EXPECT_EQ(e.sites[0].function, "probe");
      EXPECT_EQ(e.message, getOSErrorMessage(row.code, L"probe"));
    }
  }
}

TEST(OSErrorMessage, ComposesSystemTextCodeAndWhatFailed) {
  ASSERT_EQ(systemText(5).back(), L'.') << "the check below needs a text that ends in a full stop";
  const struct {
    uint32_t code;
    const wchar_t* what;
    std::wstring expected;
  } rows[] = {
      {5, L"create mutex kestrinlog_x_mutex", systemText(5) + L" (Error code 5) at create mutex kestrinlog_x_mutex"},
      {5, nullptr, systemText(5) + L" (Error code 5)"},
      {0, nullptr, systemText(0) + L" (Error code 0)"},
      {0x2fffffffu, nullptr, L"Unknown error (Error code 805306367)"},
      {0x2fffffffu, L"RegisterEventSource", L"Unknown error (Error code 805306367) at RegisterEventSource"},
  };
  for (const auto& row : rows) EXPECT_EQ(getOSErrorMessage(row.code, row.what), row.expected);
}
