// Spans from our tracer, decoded by the independent listener: every field and tag type, the
// process, references, text encodings, batching into datagrams, drops and the flush at close.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include <windows.h>

#include <tlhelp32.h>

#include "jaegertracing/Tracer.h"
#include "tests/support/AgentListener.h"

using testsupport::AgentListener;
using testsupport::findSpan;
using Texts = std::vector<std::string>;

namespace {

using std::chrono::seconds;

jaegertracing::Config config(const std::string& hostPort, const std::string& sampler = "const", double param = 1,
                             std::chrono::steady_clock::duration flush = seconds(1), bool disabled = false) {
  return jaegertracing::Config(disabled, jaegertracing::samplers::Config(sampler, param),
                               jaegertracing::reporters::Config(100, flush, false, hostPort));
}

// Our tracer, whose statistics the tests read.
std::shared_ptr<jaegertracing::Tracer> make(const std::string& service, const jaegertracing::Config& config) {
  return std::dynamic_pointer_cast<jaegertracing::Tracer>(jaegertracing::Tracer::make(service, config));
}

std::set<DWORD> threadsOfThisProcess() {
  std::set<DWORD> ids;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{sizeof entry};
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
  }
  CloseHandle(snapshot);
  return ids;
}

// Each tag as "key type value", in the order received.
Texts texts(const std::vector<testsupport::ReceivedTag>& tags) {
  Texts result;
  for (const auto& tag : tags) result.push_back(tag.key + " " + tag.type + " " + tag.value);
  return result;
}

}  // namespace

// Text in the ANSI code page (1252: "\xE9" is E9) arrives as UTF-8 (C3 A9), UTF-8 as it is. Spans
// that a sampler or a disabled tracer refuse never arrive; a span may outlive its tracer.
TEST(JaegerReporting, EverySampledSpanReachesTheAgentWithEachField) {
  if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 1252";
  AgentListener listener;
  for (const auto& refusing : {config(listener.hostPort(), "const", 0), config(listener.hostPort(), "probabilistic", 0),
                               config(listener.hostPort(), "const", 1, seconds(1), true)}) {
    auto tracer = jaegertracing::Tracer::make("refusing", refusing);
    auto unsampled = tracer->StartSpan("unsampled root");
    tracer->StartSpan("unsampled child", {opentracing::ChildOf(&unsampled->context())});
  }
  std::unique_ptr<opentracing::Span> survivor;
  std::weak_ptr<opentracing::Tracer> weak;
  {
    auto always = make("always.test", config(listener.hostPort(), "probabilistic", 1));
    weak = always;
    survivor = always->StartSpan("survivor");
  }
  survivor->SetTag("late", true);
  survivor.reset();
  EXPECT_TRUE(weak.expired());

  auto tracer = make("Caf\xE9", config(listener.hostPort()));
  auto start = std::chrono::system_clock::now() - seconds(5);
  {
    auto root = tracer->StartSpan("fonction \xE9t\xE9", {opentracing::StartTimestamp(start)});
    // A key set again keeps its place with the later value.
    for (const auto& tag : std::initializer_list<std::pair<const char*, opentracing::Value>>{
             {"bool", true}, {"int", -42}, {"small.unsigned", 7u}, {"big.unsigned", uint64_t(18446744073709551615ULL)},
             {"double", 2.5}, {"string", std::string("text")}, {"cl\xE9", "valeur \xE9"}, {"utf8", "\xCE\xA9 \xC3\xA9"},
             {"int", 43}, {"cl\xE9", "remplac\xE9" "e"}}) {
      root->SetTag(tag.first, tag.second);
    }
    root->Log({{"event", "something"}, {"count", 3}});
    root->Log({{"\xE9v\xE9nement", "d\xE9" "but"}});
    auto child = tracer->StartSpan("child", {opentracing::ChildOf(&root->context())});
    auto follower = tracer->StartSpan("follower", {opentracing::FollowsFrom(&child->context())});
    follower->Finish();
    tracer->StartSpan("joined", {opentracing::ChildOf(&root->context()), opentracing::FollowsFrom(&child->context())});
    child->SetOperationName("renomm\xE9" "e");
    child->Finish();
    root->Finish({opentracing::FinishTimestamp(std::chrono::steady_clock::now() + std::chrono::milliseconds(250))});
  }
  tracer->Close();
  EXPECT_EQ(0, listener.stop().undecodable);
  const auto spans = listener.spans();
  ASSERT_EQ(5u, spans.size());
  const auto* survived = findSpan(spans, "survivor");
  ASSERT_TRUE(survived);
  EXPECT_EQ((Texts{"sampler.type STRING probabilistic", "sampler.param DOUBLE 1.0", "late BOOL true"}),
            texts(survived->tags));
  const auto* root = findSpan(spans, "fonction \xC3\xA9t\xC3\xA9");
  const auto* child = findSpan(spans, "renomm\xC3\xA9" "e");
  const auto* follower = findSpan(spans, "follower");
  const auto* joined = findSpan(spans, "joined");
  ASSERT_TRUE(root && child && follower && joined);

  EXPECT_EQ("Caf\xC3\xA9", root->service);
  std::map<std::string, std::string> process;
  for (const auto& tag : root->processTags) process[tag.key] = tag.value;
  EXPECT_EQ("C++-0.5.0", process["jaeger.version"]);
  EXPECT_FALSE(process["hostname"].empty());
  EXPECT_EQ(3, std::count(process["ip"].begin(), process["ip"].end(), '.'));

  EXPECT_EQ(0u, root->traceIdHigh);
  using std::chrono::microseconds;
  EXPECT_EQ(std::chrono::duration_cast<microseconds>(start.time_since_epoch()).count(), root->startTime);
  EXPECT_GE(root->duration, 5250000);  // started 5 s back, finished 250 ms ahead
  EXPECT_EQ((Texts{"sampler.type STRING const", "sampler.param BOOL true", "bool BOOL true", "int LONG 43",
                   "small.unsigned LONG 7", "big.unsigned STRING 18446744073709551615", "double DOUBLE 2.5",
                   "string STRING text", "cl\xC3\xA9 STRING remplac\xC3\xA9" "e",
                   "utf8 STRING \xCE\xA9 \xC3\xA9"}),
            texts(root->tags));
  ASSERT_EQ(2u, root->logs.size());
  EXPECT_EQ((Texts{"event STRING something", "count LONG 3"}), texts(root->logs[0]));
  EXPECT_EQ((Texts{"\xC3\xA9v\xC3\xA9nement STRING d\xC3\xA9" "but"}), texts(root->logs[1]));

  // Only the root of a trace carries the sampler's decision.
  EXPECT_TRUE(texts(child->tags).empty());
  EXPECT_NE(root->spanId, child->spanId);
  using Refs = decltype(child->references);
  EXPECT_EQ((Refs{{"FOLLOWS_FROM", child->spanId}}), follower->references);
  EXPECT_EQ((Refs{{"CHILD_OF", root->spanId}, {"FOLLOWS_FROM", child->spanId}}), joined->references);
}

// Bursts beyond the waiting datagrams' bound, where the finishing thread sends; a span too large for
// a datagram of its own and one after close are dropped and counted.
TEST(JaegerReporting, BurstsSplitIntoDatagramsWithNothingLost) {
  for (const auto& c : {std::make_pair(10000, size_t(0)), std::make_pair(500, size_t(30000))}) {
    AgentListener listener;
    auto tracer = make("burst.test", config(listener.hostPort(), "const", 1, seconds(600)));
    for (int i = 0; i < c.first; ++i) {
      auto span = tracer->StartSpan("CHILD: burst " + std::to_string(i));
      span->SetTag("Function", "burstFunction");
      span->SetTag("padding", std::string(c.second, 'p'));
    }
    tracer->StartSpan("too large")->SetTag("padding", std::string(70000, 'y'));
    tracer->Close();
    tracer->StartSpan("after close");
    auto stats = tracer->statistics();
    EXPECT_EQ(uint64_t(c.first), stats.reported);
    EXPECT_EQ(1u, stats.droppedTooLarge);
    EXPECT_EQ(1u, stats.droppedClosed);
    EXPECT_EQ(0u, stats.droppedQueueFull);
    EXPECT_GT(stats.datagrams, 15u);  // over 100 bytes a span: at least 16 datagrams of 65000
    EXPECT_LE(stats.bytesSent, stats.datagrams * 65000);
    listener.stop();
    const auto spans = listener.spans();
    ASSERT_EQ(size_t(c.first), spans.size());
    std::set<int64_t> datagrams;
    for (const auto& span : spans) datagrams.insert(span.datagram);
    EXPECT_EQ(stats.datagrams, datagrams.size());
  }
}

TEST(JaegerReporting, RefusedDatagramsAreNotReportedAndTheAgentIsFoundAgain) {
  const int freePort = AgentListener().port();  // bound once, now closed: nobody listens there
  const auto agentConfig = config("127.0.0.1:" + std::to_string(freePort), "const", 1, std::chrono::milliseconds(50));
  auto absent = make("absent.test", agentConfig);
  // Each span in a datagram of its own: the port's refusal of one comes back before the next.
  for (int round = 0; round < 5; ++round) {
    absent->StartSpan("into the void")->Finish();
    Sleep(100);
  }
  absent->Close();
  auto stats = absent->statistics();
  EXPECT_EQ(0u, stats.reported);
  EXPECT_EQ(5u, stats.droppedSendFailed);
  EXPECT_EQ(5u, stats.sendFailures);

  // The agent comes back after a burst: the first datagram is not lost to the burst's last refusal.
  auto returning = make("returning.test", agentConfig);
  for (int i = 0; i < 2000; ++i) returning->StartSpan("burst into the void");
  Sleep(100);
  AgentListener agent(freePort);
  returning->StartSpan("back again")->Finish();
  returning->Close();
  stats = returning->statistics();
  EXPECT_EQ(2001u, stats.reported + stats.droppedSendFailed);
  agent.stop();
  const auto spans = agent.spans();
  EXPECT_TRUE(findSpan(spans, "back again"));
  EXPECT_EQ(spans.size(), stats.reported);
}

TEST(JaegerReporting, MakeRefusesWhatItCannotServe) {
  const std::string agent = "127.0.0.1:6831";
  const std::pair<std::string, jaegertracing::Config> refused[] = {
      {"", config(agent)}, {"x", config(agent, "sometimes")}, {"x", config(agent, "remote")},
      {"x", config("no-port-here")}};
  for (const auto& c : refused) {
    EXPECT_THROW(jaegertracing::Tracer::make(c.first, c.second), std::invalid_argument) << c.first;
  }
  EXPECT_TRUE(make("x", config(agent, "CONST")));  // type names compare without regard to case
}

// Senders suspended, perhaps mid-send, under four threads finishing spans: the statistics summed
// over the lanes hold each span in one outcome, queue-full drops included.
TEST(JaegerReporting, QueueFullDropsOfEveryLaneCountInTheStatistics) {
  AgentListener listener(0, AgentListener::Record::SummaryOnly);
  const std::set<DWORD> before = threadsOfThisProcess();
  auto tracer = make("drops.test", config(listener.hostPort(), "const", 1, seconds(600)));
  std::vector<HANDLE> senders;
  for (DWORD id : threadsOfThisProcess()) {
    if (!before.count(id)) senders.push_back(OpenThread(THREAD_SUSPEND_RESUME, FALSE, id));
  }
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> finished{0};
  const std::string padding(30000, 'f');
  std::vector<std::thread> finishing;
  for (int k = 0; k < 4; ++k) {
    finishing.emplace_back([&] {
      for (; !stop; ++finished) tracer->StartSpan("flood")->SetTag("padding", padding);
    });
  }
  // A sender stopped outside a send leaves the finishing threads to send: stopped until drops show.
  for (int attempt = 0; attempt < 30 && tracer->statistics().droppedQueueFull == 0; ++attempt) {
    Sleep(20);
    for (HANDLE sender : senders) SuspendThread(sender);
    Sleep(400);
    for (HANDLE sender : senders) ResumeThread(sender);
  }
  stop = true;
  for (auto& thread : finishing) thread.join();
  for (HANDLE sender : senders) CloseHandle(sender);
  tracer->Close();
  const auto stats = tracer->statistics();
  EXPECT_GT(stats.droppedQueueFull, 0u);
  EXPECT_EQ(finished.load(), stats.reported + stats.droppedQueueFull);
  EXPECT_EQ(0u, stats.droppedSendFailed + stats.droppedOutOfMemory + stats.droppedClosed + stats.lostAtExit);
  const auto summary = listener.stop();
  EXPECT_EQ(int64_t(stats.reported), summary.spans);
  EXPECT_EQ(0, summary.duplicates);
}
