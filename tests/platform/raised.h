#pragma once
// Expected exceptions caught to look into: by class, by site ("function:line"), or as one text.

#include <stdexcept>

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
