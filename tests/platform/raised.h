#pragma once
// The catching of an expected exception by its class, for the tests to look into: fails the test
// when nothing is raised. site names where an exception was raised as the logs show it; failure
// tells what a call raised as "<message> at <site>" when it is a family exception without a
// Windows error code, "Windows error <code>" when it has one, "nothing raised" when it returns.

#include <stdexcept>
#include <string>

#include "diagnostics/vexception.h"

template <class E, class Call>
E raised(Call call) {
  try {
    call();
  } catch (const E& e) {
    return e;
  }
  throw std::runtime_error("the expected exception was not raised");
}

inline std::string site(const vexception& e) { return e.sites.at(0).function + ":" + std::to_string(e.sites[0].line); }

template <class Call>
std::wstring failure(Call call) {
  try {
    call();
  } catch (const vosexception& e) {
    return L"Windows error " + std::to_wstring(e.code);
  } catch (const vexception& e) {
    const std::string where = site(e);
    return e.message + L" at " + std::wstring(where.begin(), where.end());
  }
  return L"nothing raised";
}
