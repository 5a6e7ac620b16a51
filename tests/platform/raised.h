#pragma once
// The catching of an expected exception by its class, for the tests to look into: fails the test
// when nothing is raised.

#include <stdexcept>

template <class E, class Call>
E raised(Call call) {
  try {
    call();
  } catch (const E& e) {
    return e;
  }
  throw std::runtime_error("the expected exception was not raised");
}
