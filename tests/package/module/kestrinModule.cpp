// A module that traces two nested scopes through the driver and uses the platform layer's text
// formatting, built only from the installed headers and libraries.
#include <cstdio>

#include "driver/OpenTracingDriver.h"
#include "platform/formatString.h"

namespace {

void inner() {
  const auto span = OpenTracingDriver::StartSpan(__func__, __LINE__, "");
  span->SetTag("installed", "yes");
}

}  // namespace

int main() {
  {
    const auto span = OpenTracingDriver::StartSpan(__func__, __LINE__, "outer");
    inner();
  }
  std::printf("%s\n", formatString("tracing %s", OpenTracingDriver::IsEnabled() ? "on" : "off").c_str());
  return 0;
}
