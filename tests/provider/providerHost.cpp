// provider_host: a host process of the provider for the tests. It traces one scope, as a process
// started by a traced parent or under a name of the test's choosing would, and sends its spans
// before it exits; with the argument "oversized" its scope carries a tag too large for any
// datagram. Exit code 0 when it traced, 2 when the provider raised.
#include <cstdio>
#include <cstring>
#include <string>

#include "diagnostics/vexception.h"
#include "tests/provider/ProviderLibrary.h"

int main(int argc, char** argv) {
  try {
    const ProviderLibrary provider;
    OpenTracingDriver::TracerPtr tracer(provider.getTracer());
    const auto span = provider.open(tracer, "hostMain", 1, "host");
    if (argc > 1 && std::strcmp(argv[1], "oversized") == 0) span->SetTag("payload", std::string(70000, 'x'));
    return 0;
  } catch (const vexception& e) {
    std::fwprintf(stderr, L"provider_host: %ls\n", e.message.c_str());
    return 2;
  }
}
