#include "tests/provider/providerTestSupport.h"

#include <winsock2.h>

#include <opentracing/tracer.h>

#include <algorithm>
#include <stdexcept>

#include "diagnostics/vexception.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"
#include "tests/support/runProcess.h"

namespace {

constexpr u_short kAgentPort = 6831;

std::wstring besideTest(const std::wstring& fileName) {
  return VFileName::combine(VFileName::directory(moduleName(nullptr)), fileName);
}

// True while some process holds the agent's UDP port: binding it ourselves is refused then.
bool agentPortTaken() {
  const SOCKET probe = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (probe == INVALID_SOCKET) throw std::runtime_error("socket: " + std::to_string(WSAGetLastError()));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(kAgentPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool taken = bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR;
  closesocket(probe);
  return taken;
}

void waitForFreeAgentPort() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  // A listener stops within a tenth of a second of its stop file; the bound leaves room for the
  // tests of another build folder, which take the same port.
  for (int i = 0; i < 2400 && agentPortTaken(); ++i) Sleep(100);
  const bool taken = agentPortTaken();
  WSACleanup();
  if (taken) throw std::runtime_error("127.0.0.1:6831 stays taken by another process");
}

}  // namespace

AgentPortListener::AgentPortListener(testsupport::AgentListener::Record record) {
  waitForFreeAgentPort();
  listener_ = std::make_unique<testsupport::AgentListener>(kAgentPort, record);
}

testsupport::AgentSummary AgentPortListener::flushAndSummarize() {
  opentracing::Tracer::Global()->Close();
  return listener_->stop();
}

AgentPortListener::~AgentPortListener() {
  listener_.reset();
  try {
    waitForFreeAgentPort();
  } catch (const std::exception&) {
    // The next test reports the port it cannot get.
  }
}

std::vector<testsupport::ReceivedSpan> AgentPortListener::flushAndWait(size_t count,
                                                                      const std::vector<std::string>& services) const {
  opentracing::Tracer::Global()->Close();
  std::vector<testsupport::ReceivedSpan> ours;
  // A bound for a listener that lost the spans, not a measure of anything.
  for (int i = 0; i < 600 && ours.size() < count; ++i) {
    if (i > 0) Sleep(50);
    ours.clear();
    for (auto& span : listener_->spans()) {
      if (std::find(services.begin(), services.end(), span.service) != services.end()) ours.push_back(std::move(span));
    }
  }
  return ours;
}

DWORD runHost(const std::wstring& fileName, const std::wstring& arguments) {
  const ProcessResult result = runProcess(besideTest(fileName), arguments);
  if (!result.finished) throw std::runtime_error("the host did not end: " + result.output);
  return result.exitCode;
}

const testsupport::ReceivedSpan& spanNamed(const std::vector<testsupport::ReceivedSpan>& spans,
                                           const std::string& operationName) {
  const testsupport::ReceivedSpan* span = testsupport::findSpan(spans, operationName);
  if (!span) throw std::runtime_error("no span named \"" + operationName + "\" among " + std::to_string(spans.size()));
  return *span;
}

std::string tagValue(const testsupport::ReceivedSpan& span, const std::string& key) {
  const testsupport::ReceivedTag* tag = span.tag(key);
  if (!tag) throw std::runtime_error("span \"" + span.operationName + "\" has no tag " + key);
  return tag->type + ":" + tag->value;
}

std::unique_ptr<OpenTracingDriver::ISpanContextProvider> openSpan(const ProviderLibrary& provider,
                                                                  OpenTracingDriver::TracerPtr& tracer,
                                                                  const std::string& function, int32_t line,
                                                                  const std::string& name) {
  return std::unique_ptr<OpenTracingDriver::ISpanContextProvider>(provider.getSpanContext(tracer, function, line, name));
}

::testing::AssertionResult childOf(const testsupport::ReceivedSpan& child, const testsupport::ReceivedSpan& parent) {
  if (child.traceIdLow != parent.traceIdLow || child.traceIdHigh != parent.traceIdHigh)
    return ::testing::AssertionFailure() << child.operationName << " is in another trace than " << parent.operationName;
  if (child.parentSpanId != parent.spanId)
    return ::testing::AssertionFailure() << child.operationName << " has another parent than " << parent.operationName;
  // The tracer sends a lone child-of reference as the parent id alone.
  if (!child.references.empty())
    return ::testing::AssertionFailure() << child.operationName << " carries references besides its parent";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult startsATrace(const testsupport::ReceivedSpan& span) {
  if (span.parentSpanId != 0 || !span.references.empty())
    return ::testing::AssertionFailure() << span.operationName << " has a parent";
  return ::testing::AssertionSuccess();
}
