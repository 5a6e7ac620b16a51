#pragma once
// The catching of an expected exception by its class, for the tests to look into: fails the test
// when nothing is raised. site names where an exception was raised as the logs show it.

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
