#include "diagnostics/vexception.h"

#include <gtest/gtest.h>

#include <typeinfo>

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
