// Spans from our tracer, decoded by the independent listener: every field and tag type, the
// process, references, batching into datagrams, drops and the flush at close.

#include <gtest/gtest.h>

#include <opentracing/tracer.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include <windows.h>

#include <tlhelp32.h>

#include "jaegertracing/Tracer.h"
#include "tests/support/AgentListener.h"

using testsupport::AgentListener;
using testsupport::findSpan;

namespace {

jaegertracing::Config config(const AgentListener& listener, int queueSize = 100,
                             std::chrono::steady_clock::duration flush = std::chrono::seconds(1),
                             const std::string& sampler = "const", double param = 1) {
  return jaegertracing::Config(false, jaegertracing::samplers::Config(sampler, param),
                               jaegertracing::reporters::Config(queueSize, flush, false, listener.hostPort()));
}

std::shared_ptr<jaegertracing::Tracer> ours(const std::shared_ptr<opentracing::Tracer>& tracer) {
  auto result = std::dynamic_pointer_cast<jaegertracing::Tracer>(tracer);
  EXPECT_TRUE(result);
  return result;
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

}  // namespace

TEST(JaegerReporting, EverySpanFieldReachesTheAgent) {
  AgentListener listener;
  auto tracer = jaegertracing::Tracer::make("wire.test", config(listener));
  auto start = std::chrono::system_clock::now() - std::chrono::seconds(5);
  {
    auto root = tracer->StartSpan("root", {opentracing::StartTimestamp(start)});
    ASSERT_TRUE(root);
    root->SetTag("bool", true);
    root->SetTag("int", -42);
    root->SetTag("small.unsigned", 7u);
    root->SetTag("big.unsigned", uint64_t(18446744073709551615ULL));
    root->SetTag("double", 2.5);
    root->SetTag("string", std::string("text"));
    root->SetTag("chars", "literal");
    root->SetTag("int", 43);  // replaces the earlier value
    root->Log({{"event", "something"}, {"count", 3}});
    root->Log({{"event", "later"}});
    auto child = tracer->StartSpan("child", {opentracing::ChildOf(&root->context())});
    auto follower = tracer->StartSpan("follower", {opentracing::FollowsFrom(&child->context())});
    follower->Finish();
    tracer->StartSpan("joined", {opentracing::ChildOf(&root->context()), opentracing::FollowsFrom(&child->context())});
    child->SetOperationName("child renamed");
    child->Finish();
    root->Finish({opentracing::FinishTimestamp(std::chrono::steady_clock::now() + std::chrono::milliseconds(250))});
  }
  tracer->Close();
  auto spans = listener.waitForSpans(4);
  ASSERT_EQ(4u, spans.size());

  const auto* root = findSpan(spans, "root");
  const auto* child = findSpan(spans, "child renamed");
  const auto* follower = findSpan(spans, "follower");
  ASSERT_TRUE(root && child && follower);

  EXPECT_EQ("wire.test", root->service);
  ASSERT_TRUE(root->processTag("jaeger.version"));
  EXPECT_EQ("C++-0.5.0", root->processTag("jaeger.version")->value.text);
  ASSERT_TRUE(root->processTag("hostname"));
  EXPECT_FALSE(root->processTag("hostname")->value.text.empty());
  ASSERT_TRUE(root->processTag("ip"));
  EXPECT_EQ(3, std::count(root->processTag("ip")->value.text.begin(), root->processTag("ip")->value.text.end(), '.'));

  EXPECT_NE(0u, root->traceIdLow);
  EXPECT_EQ(0u, root->traceIdHigh);
  EXPECT_NE(0u, root->spanId);
  EXPECT_EQ(0u, root->parentSpanId);
  EXPECT_EQ(1, root->flags);
  int64_t startMicros = std::chrono::duration_cast<std::chrono::microseconds>(start.time_since_epoch()).count();
  EXPECT_EQ(startMicros, root->startTime);
  EXPECT_GE(root->duration, 5250000);  // started 5 s back, finished 250 ms ahead

  ASSERT_TRUE(root->tag("sampler.type") && root->tag("sampler.param"));
  EXPECT_EQ("const", root->tag("sampler.type")->value.text);
  EXPECT_EQ("BOOL", root->tag("sampler.param")->type);
  EXPECT_TRUE(root->tag("sampler.param")->value.flag);
  EXPECT_FALSE(child->tag("sampler.type"));  // only the root of a trace carries the decision

  struct Expected {
    const char* key;
    const char* type;
    const char* text;
  };
  for (const Expected& e : {Expected{"bool", "BOOL", ""}, Expected{"int", "LONG", "43"},
                            Expected{"small.unsigned", "LONG", "7"},
                            Expected{"big.unsigned", "STRING", "18446744073709551615"},
                            Expected{"double", "DOUBLE", "2.5"}, Expected{"string", "STRING", "text"},
                            Expected{"chars", "STRING", "literal"}}) {
    const auto* tag = root->tag(e.key);
    ASSERT_TRUE(tag) << e.key;
    EXPECT_EQ(e.type, tag->type) << e.key;
    if (tag->type == "BOOL") {
      EXPECT_TRUE(tag->value.flag);
    } else if (tag->type == "DOUBLE") {
      EXPECT_DOUBLE_EQ(2.5, tag->value.asDouble());
    } else {
      EXPECT_EQ(e.text, tag->value.text) << e.key;
    }
  }
  // The replaced tag keeps its place and is there once.
  std::vector<std::string> keys;
  for (const auto& tag : root->tags) keys.push_back(tag.key);
  EXPECT_EQ((std::vector<std::string>{"sampler.type", "sampler.param", "bool", "int", "small.unsigned", "big.unsigned",
                                      "double", "string", "chars"}),
            keys);
  ASSERT_EQ(2u, root->logs.items.size());
  const auto& fields = root->logs.items[0]["fields"].items;
  ASSERT_EQ(2u, fields.size());
  EXPECT_EQ("event", fields[0]["key"].text);
  EXPECT_EQ("something", fields[0]["value"].text);
  EXPECT_EQ("LONG", fields[1]["type"].text);
  EXPECT_EQ("3", fields[1]["value"].text);
  ASSERT_EQ(1u, root->logs.items[1]["fields"].items.size());
  EXPECT_EQ("later", root->logs.items[1]["fields"].items[0]["value"].text);

  EXPECT_EQ(root->traceIdLow, child->traceIdLow);
  EXPECT_EQ(root->spanId, child->parentSpanId);
  EXPECT_NE(root->spanId, child->spanId);
  EXPECT_EQ(child->spanId, follower->parentSpanId);
  ASSERT_EQ(1u, follower->references.items.size());
  EXPECT_EQ("FOLLOWS_FROM", follower->references.items[0]["refType"].text);
  EXPECT_EQ(child->spanId, follower->references.items[0]["spanId"].asUnsigned());
  // A lone child-of reference travels as the parent id only; several travel in full.
  EXPECT_TRUE(child->references.items.empty());
  const auto* joined = findSpan(spans, "joined");
  ASSERT_TRUE(joined);
  EXPECT_EQ(root->spanId, joined->parentSpanId);
  ASSERT_EQ(2u, joined->references.items.size());
  EXPECT_EQ("CHILD_OF", joined->references.items[0]["refType"].text);
  EXPECT_EQ(root->spanId, joined->references.items[0]["spanId"].asUnsigned());
  EXPECT_EQ("FOLLOWS_FROM", joined->references.items[1]["refType"].text);
  EXPECT_EQ(child->spanId, joined->references.items[1]["spanId"].asUnsigned());
}

TEST(JaegerReporting, LargeBurstsSplitIntoDatagramsWithNothingLost) {
  AgentListener listener;
  // The provider's queue of 100 against a burst of 10,000 spans as the driver makes them, as
  // fast as one thread goes, right after the tracer is made: the datagrams waiting for the
  // network take the burst, not the queue, even before the background thread first runs.
  auto tracer = ours(jaegertracing::Tracer::make("burst.test", config(listener, 100, std::chrono::seconds(30))));
  for (int i = 0; i < 10000; ++i) {
    auto span = tracer->StartSpan("CHILD: burst " + std::to_string(i));
    span->SetTag("Name", "");
    span->SetTag("Function", "burstFunction");
    span->SetTag("Line", int64_t(i));
  }
  // Alone in a datagram this span would still exceed it: dropped and counted, others unharmed.
  tracer->StartSpan("too large")->SetTag("padding", std::string(70000, 'y'));
  tracer->Close();
  auto stats = tracer->statistics();
  EXPECT_EQ(10000u, stats.reported);
  EXPECT_EQ(1u, stats.droppedTooLarge);
  EXPECT_EQ(0u, stats.droppedQueueFull);
  EXPECT_GT(stats.datagrams, 15u);  // 10,000 spans of over 100 bytes need at least 16 datagrams of 65000
  EXPECT_LE(stats.bytesSent, stats.datagrams * 65000);

  auto spans = listener.waitForSpans(10000);
  ASSERT_EQ(10000u, spans.size());
  std::set<int64_t> datagrams;
  for (const auto& span : spans) datagrams.insert(span.datagram);
  EXPECT_EQ(stats.datagrams, datagrams.size());
  EXPECT_FALSE(findSpan(listener.settle(), "too large"));
}

TEST(JaegerReporting, SpansFasterThanTheBackgroundThreadWaitForRoomWhileCloseSendsTheRest) {
  AgentListener listener;
  // Spans of 30 KB, two to a datagram, come faster than the background thread sends them: once
  // the datagrams waiting reach their bound, the finishing thread sends the oldest itself.
  auto tracer = ours(jaegertracing::Tracer::make("queue.test", config(listener, 10, std::chrono::minutes(10))));
  const int total = 500;
  const std::string padding(30000, 'q');
  for (int i = 0; i < total; ++i) tracer->StartSpan("queued")->SetTag("padding", padding);
  tracer->Close();
  auto stats = tracer->statistics();
  EXPECT_EQ(uint64_t(total), stats.reported);
  EXPECT_EQ(0u, stats.droppedQueueFull);
  EXPECT_EQ(stats.reported, listener.waitForSpans(stats.reported).size());

  // After close a span is refused and counted, not sent.
  tracer->StartSpan("after close");
  EXPECT_EQ(1u, tracer->statistics().droppedClosed);
  EXPECT_FALSE(findSpan(listener.settle(), "after close"));
}

TEST(JaegerReporting, UnsampledAndDisabledSendNothing) {
  AgentListener listener;
  auto disabled = jaegertracing::Tracer::make(
      "disabled.test", jaegertracing::Config(true, jaegertracing::samplers::Config("const", 1),
                                             jaegertracing::reporters::Config(100, std::chrono::seconds(1), false,
                                                                              listener.hostPort())));
  EXPECT_FALSE(std::dynamic_pointer_cast<jaegertracing::Tracer>(disabled));
  disabled->StartSpan("disabled span")->Finish();

  auto never = ours(jaegertracing::Tracer::make("never.test", config(listener, 100, std::chrono::seconds(1), "const", 0)));
  auto unsampled = never->StartSpan("unsampled root");
  auto unsampledChild = never->StartSpan("unsampled child", {opentracing::ChildOf(&unsampled->context())});
  unsampledChild->Finish();
  unsampled->Finish();
  auto none = ours(jaegertracing::Tracer::make("none.test", config(listener, 100, std::chrono::seconds(1), "probabilistic", 0)));
  none->StartSpan("probability zero")->Finish();
  never->Close();
  none->Close();
  EXPECT_EQ(0u, never->statistics().reported);

  // A sampled span through the same listener proves that it was listening all along.
  auto always = jaegertracing::Tracer::make("always.test", config(listener, 100, std::chrono::seconds(1), "probabilistic", 1));
  always->StartSpan("sampled")->Finish();
  always->Close();
  auto spans = listener.waitForSpans(1);
  spans = listener.settle();
  ASSERT_EQ(1u, spans.size());
  EXPECT_EQ("sampled", spans[0].operationName);
  ASSERT_TRUE(spans[0].tag("sampler.type"));
  EXPECT_EQ("probabilistic", spans[0].tag("sampler.type")->value.text);
  EXPECT_EQ("DOUBLE", spans[0].tag("sampler.param")->type);
}

TEST(JaegerReporting, RefusedDatagramsAreNotReportedAndTheAgentIsFoundAgain) {
  int freePort;
  { freePort = AgentListener().port(); }  // bound once, now closed: nobody listens there
  const auto agentConfig = jaegertracing::Config(
      false, jaegertracing::samplers::Config("const", 1),
      jaegertracing::reporters::Config(100, std::chrono::milliseconds(50), false, "127.0.0.1:" + std::to_string(freePort)));
  auto absent = ours(jaegertracing::Tracer::make("absent.test", agentConfig));
  // Each span in a datagram of its own: the port's refusal of one comes back before the next.
  for (int round = 0; round < 5; ++round) {
    absent->StartSpan("into the void")->Finish();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  absent->Close();
  auto stats = absent->statistics();
  EXPECT_EQ(0u, stats.reported);
  EXPECT_EQ(5u, stats.droppedSendFailed);
  EXPECT_EQ(5u, stats.sendFailures);

  // A burst while nobody listens, then the agent comes back: the first datagram after it is not
  // lost to the refusal of the burst's last one.
  auto returning = ours(jaegertracing::Tracer::make("returning.test", agentConfig));
  for (int i = 0; i < 2000; ++i) returning->StartSpan("burst into the void");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  AgentListener agent(freePort);
  returning->StartSpan("back again")->Finish();
  returning->Close();
  stats = returning->statistics();
  EXPECT_EQ(2001u, stats.reported + stats.droppedSendFailed);
  const auto spans = agent.waitForSpans(1);
  EXPECT_TRUE(findSpan(spans, "back again"));
  // Only what the agent received is reported.
  EXPECT_EQ(spans.size(), stats.reported);
}

TEST(JaegerReporting, AnsiTextArrivesAsUtf8AndUtf8AsItIs) {
  if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 1252";
  AgentListener listener;
  // "é" is 0xE9 in code page 1252 and C3 A9 in UTF-8; "Ω" is CE A9 in UTF-8.
  auto tracer = ours(jaegertracing::Tracer::make("Caf\xE9", config(listener)));
  {
    auto span = tracer->StartSpan("fonction \xE9t\xE9");
    span->SetTag("cl\xE9", "valeur \xE9");
    span->SetTag("utf8", "\xCE\xA9 \xC3\xA9");
    span->SetTag("cl\xE9", "remplac\xE9" "e");  // the same key, as it was stored
    span->Log({{"\xE9v\xE9nement", "d\xE9" "but"}});
    tracer->StartSpan("ascii")->SetOperationName("renomm\xE9" "e");
  }
  tracer->Close();
  const auto spans = listener.waitForSpans(2);
  const auto summary = listener.stop();
  EXPECT_EQ(0, summary.undecodable);
  ASSERT_EQ(2u, spans.size());
  const auto* span = findSpan(spans, "fonction \xC3\xA9t\xC3\xA9");
  ASSERT_TRUE(span);
  EXPECT_EQ("Caf\xC3\xA9", span->service);
  ASSERT_TRUE(span->tag("cl\xC3\xA9"));
  EXPECT_EQ("remplac\xC3\xA9" "e", span->tag("cl\xC3\xA9")->value.text);
  EXPECT_EQ(4u, span->tags.size());  // the sampler's two, the replaced one and utf8
  ASSERT_TRUE(span->tag("utf8"));
  EXPECT_EQ("\xCE\xA9 \xC3\xA9", span->tag("utf8")->value.text);
  ASSERT_EQ(1u, span->logs.items.size());
  EXPECT_EQ("\xC3\xA9v\xC3\xA9nement", span->logs.items[0]["fields"].items[0]["key"].text);
  EXPECT_EQ("d\xC3\xA9" "but", span->logs.items[0]["fields"].items[0]["value"].text);
  EXPECT_TRUE(findSpan(spans, "renomm\xC3\xA9" "e"));
}

TEST(JaegerReporting, SpanOutlivingItsTracerIsSafe) {
  AgentListener listener;
  std::unique_ptr<opentracing::Span> survivor;
  std::weak_ptr<opentracing::Tracer> weak;
  {
    auto tracer = jaegertracing::Tracer::make("outlive.test", config(listener));
    weak = tracer;
    survivor = tracer->StartSpan("survivor");
  }
  // The span keeps its tracer alive, so it is still reported when it ends.
  EXPECT_FALSE(weak.expired());
  survivor->SetTag("late", true);
  survivor.reset();
  EXPECT_TRUE(weak.expired());
  auto spans = listener.waitForSpans(1);
  ASSERT_EQ(1u, spans.size());
  EXPECT_TRUE(spans[0].tag("late"));
}

TEST(JaegerReporting, MakeRefusesWhatItCannotServe) {
  AgentListener listener;
  EXPECT_THROW(jaegertracing::Tracer::make("", config(listener)), std::invalid_argument);
  EXPECT_THROW(jaegertracing::Tracer::make("x", config(listener, 100, std::chrono::seconds(1), "sometimes")),
               std::invalid_argument);
  EXPECT_THROW(jaegertracing::Tracer::make("x", config(listener, 100, std::chrono::seconds(1), "remote")),
               std::invalid_argument);
  EXPECT_THROW(jaegertracing::Tracer::make(
                   "x", jaegertracing::Config(false, jaegertracing::samplers::Config("const", 1),
                                              jaegertracing::reporters::Config(100, std::chrono::seconds(1), false,
                                                                               "no-port-here"))),
               std::invalid_argument);
  // Type names compare without regard to case.
  EXPECT_TRUE(ours(jaegertracing::Tracer::make("x", config(listener, 100, std::chrono::seconds(1), "CONST"))));
}

TEST(JaegerReporting, TwoThreadsReportEverySpan) {
  AgentListener listener;
  auto tracer = ours(jaegertracing::Tracer::make("threads.test", config(listener, 1000)));
  auto work = [&tracer](const char* name) {
    for (int i = 0; i < 300; ++i) {
      auto parent = tracer->StartSpan(name);
      tracer->StartSpan(name, {opentracing::ChildOf(&parent->context())});
    }
  };
  std::thread a(work, "a");
  std::thread b(work, "b");
  a.join();
  b.join();
  tracer->Close();
  auto stats = tracer->statistics();
  EXPECT_EQ(1200u, stats.reported);
  auto spans = listener.waitForSpans(stats.reported);
  EXPECT_EQ(stats.reported, spans.size());
  std::set<uint64_t> ids;
  for (const auto& span : spans) ids.insert(span.spanId);
  EXPECT_EQ(spans.size(), ids.size());  // ids are unique across threads
}

// Senders that get no processor (their threads suspended, each perhaps in the middle of a send)
// while four threads finish spans as fast as they go: the waiting datagrams of a lane reach their
// bound and its finishing threads drop what finds no room. The statistics, summed over every
// lane, hold each finished span in exactly one outcome.
TEST(JaegerReporting, QueueFullDropsOfEveryLaneCountInTheStatistics) {
  AgentListener listener(0, AgentListener::Record::SummaryOnly);
  const std::set<DWORD> before = threadsOfThisProcess();
  auto tracer = ours(jaegertracing::Tracer::make("drops.test", config(listener, 100, std::chrono::minutes(10))));
  std::vector<HANDLE> senders;
  for (DWORD id : threadsOfThisProcess()) {
    if (!before.count(id)) senders.push_back(OpenThread(THREAD_SUSPEND_RESUME, FALSE, id));
  }
  ASSERT_FALSE(senders.empty());
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> finished{0};
  const std::string padding(30000, 'f');
  std::vector<std::thread> finishing;
  for (int k = 0; k < 4; ++k) {
    finishing.emplace_back([&] {
      while (!stop) {
        tracer->StartSpan("flood")->SetTag("padding", padding);
        ++finished;
      }
    });
  }
  // A sender stopped outside a send leaves its lane to the finishing threads, which send
  // themselves: stopped again until drops show.
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
  EXPECT_EQ(0u, stats.droppedSendFailed + stats.droppedOutOfMemory + stats.droppedClosed + stats.lostAtExit)
      << stats.droppedSendFailed << " failed in " << stats.sendFailures << " datagrams";
}
