// The analytics client against a loopback analytics CGI.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <set>

#include "foundation/sqlite/SQDatabaseQueue.h"
#include "foundation/sqlite/SQResultSet.h"
#include "os/core/Compression.h"
#include "os/crypto/Cipher.h"
#include "os/net/NetworkReachability.h"
#include "os/runtime/Clock.h"
#include "os/store/Sandbox.h"
#include "os/store/UserDefaults.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/LogCapture.h"
#include "os/testing/NoDescriptorLeft.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Application.h"
#include "qqconnect/analytics/VMA4QC.h"
#include "qqconnect/analytics/VMA4QCHelper.h"
#include "qqconnect/analytics/VMA4QCJSON.h"

namespace {
using os::testing::CannedResponse;
using os::testing::HttpTestServer;
using os::testing::RecordedRequest;

constexpr std::uint32_t kReachable = os::kReachabilityFlagsReachable;
constexpr std::uint32_t kCellular = os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsWWAN;

os::Data cipher(os::Data data) {
  VMA4QCHelper::ChiperRC4(data);
  return data;
}

// The batch a request carried, as the server reads it.
std::string batchOf(const RecordedRequest& request) {
  os::Data body = cipher(os::dataFromString(request.body));
  if (request.headers.value("Content-Encoding") != "rc4,gzip") return os::stringFromData(body);
  auto text = os::inflateData(os::Data(body.begin() + 4, body.end()), 1 << 20);
  return text ? os::stringFromData(*text) : "<bad gzip>";
}

std::size_t eventsIn(const RecordedRequest& request) {
  auto batch = VMA4QCJSON::objectWithString(batchOf(request));
  return batch && batch->isArray() ? batch->count() : 0;
}

// This test binary again, in a fresh process rather than a fork of this threaded one, running only
// `test`, with `variables` added to its environment and `input` (when given) as standard input.
// Killed and waited for when it goes, unless it was waited for already.
struct ChildProcess {
  pid_t pid = -1;
  ChildProcess(const std::string& test, std::vector<std::string> variables, int input = -1) {
    for (char** e = environ; *e; ++e) variables.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe", filter = "--gtest_filter=" + test;
    char* argv[] = {self.data(), filter.data(), nullptr};
    pid = fork();
    if (pid == 0) {
      if (input >= 0) dup2(input, STDIN_FILENO);
      execve(argv[0], argv, envp.data());
      _exit(127);
    }
  }
  ~ChildProcess() {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
};

class VMA4QCTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reach_->setDefaultFlags(kCellular);  // reachable, not Wi-Fi: strategies act as configured
    server_.route("POST", VMA4QCDispatcher::kPath, [this](const RecordedRequest&) {
      std::lock_guard lock(mutex_);
      return failing_ ? CannedResponse::text("busy", 503) : answer_;
    });
  }

  std::unique_ptr<VMA4QC> makeClient() {
    VMA4QC::Options options{sandbox_.sandbox()->documentsDirectory(), server_.url(VMA4QCDispatcher::kPath),
                            sandbox_.sandbox()->standardUserDefaults(), false};
    auto client = std::make_unique<VMA4QC>(options);
    client->flush();
    return client;
  }
  void storeEvents(VMA4QC& client, int n, std::uint32_t ts = 100) {
    for (int i = 0; i < n; ++i) client.store().storeEvent("{\"n\":" + std::to_string(i) + "}", ts + i);
    client.flush();
  }
  std::vector<int> rows(VMA4QC& client, const std::string& sql) {
    std::vector<int> out;
    auto db = SQDatabaseQueue::databaseQueueWithPath(client.store().path());
    db->inDatabase([&](SQDatabase& c) {
      auto r = c.executeQuery(sql);
      while (r && r->next()) out.push_back(r->intForColumnIndex(0));
    });
    return out;
  }

  os::VirtualClockScope clock_{1.7e9};
  os::TestSandbox sandbox_;
  os::testing::SharedFakeReachability reach_;
  HttpTestServer server_;
  std::mutex mutex_;
  bool failing_ = false;
  CannedResponse answer_ = CannedResponse::text("");
};

TEST_F(VMA4QCTest, BodiesAreCipheredAndCompressedFrom256Bytes) {
  auto client = makeClient();
  std::atomic<int> done{0};
  auto callback = [&](bool ok) { done += ok ? 1 : 100; };
  // "[" + 253 bytes + "]" is 255 bytes; one byte more crosses the line.
  client->dispatcher().send({"\"" + std::string(251, 'a') + "\""}, callback);
  client->dispatcher().send({"\"" + std::string(252, 'a') + "\""}, callback);
  client->dispatcher().send({}, callback);  // nothing at all, not even the callback
  client->flush();
  EXPECT_EQ(done, 2);
  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].headers.value("Content-Encoding"), "rc4");
  EXPECT_EQ(requests[0].headers.value("Content-Type"), "json");
  EXPECT_EQ(requests[0].body.size(), 255u);
  EXPECT_EQ(batchOf(requests[0]), "[\"" + std::string(251, 'a') + "\"]");
  EXPECT_EQ(requests[1].headers.value("Content-Encoding"), "rc4,gzip");
  os::Data body = cipher(os::dataFromString(requests[1].body));
  EXPECT_EQ(os::Data(body.begin(), body.begin() + 4), (os::Data{0, 0, 1, 0}));
  EXPECT_EQ(batchOf(requests[1]), "[\"" + std::string(252, 'a') + "\"]");

  os::Data bytes = os::dataFromString("round trip");
  EXPECT_EQ(cipher(cipher(bytes)), bytes);
}

TEST_F(VMA4QCTest, AnswersAreDecipheredAndInflatedBeforeTheirConfigurationApplies) {
  auto answer = [](int strategy, int version) {
    return "{\"cfg\":{\"1\":{\"c\":{\"rs\":" + std::to_string(strategy) + "},\"v\":" + std::to_string(version) +
           ",\"m\":\"x\"}}}";
  };
  const std::string text = answer(6, 3);
  EXPECT_EQ(VMA4QCDispatcher::readAnswer(cipher(os::dataFromString(text)), "RC4"), os::dataFromString(text));
  os::Data zipped{0, 0, 0, static_cast<std::uint8_t>(text.size())};
  os::Data z = *os::gzipData(os::dataFromString(text));
  zipped.insert(zipped.end(), z.begin(), z.end());
  EXPECT_EQ(VMA4QCDispatcher::readAnswer(cipher(zipped), "rc4,gzip"), os::dataFromString(text));
  EXPECT_EQ(VMA4QCDispatcher::readAnswer(os::dataFromString(text), ""), os::dataFromString(text));
  EXPECT_FALSE(VMA4QCDispatcher::readAnswer(cipher(os::dataFromString(text)), "rc4,gzip"));
  os::Data bomb{0, 0, 0, 1};
  os::Data big = *os::gzipData(os::Data(VMA4QCDispatcher::kMaxAnswerBytes + 1, ' '));
  bomb.insert(bomb.end(), big.begin(), big.end());
  EXPECT_FALSE(VMA4QCDispatcher::readAnswer(cipher(bomb), "rc4,gzip"));

  auto client = makeClient();
  auto respond = [&](std::string body) {
    {
      std::lock_guard lock(mutex_);
      answer_ = CannedResponse::text(body);
    }
    std::atomic<bool> ok{false};
    client->dispatcher().send({"{}"}, [&](bool success) { ok = success; });
    client->flush();
    return ok.load();
  };
  EXPECT_TRUE(respond(answer(6, 3)));
  EXPECT_EQ(client->config().get().reportStrategy, 6);
  EXPECT_TRUE(respond(answer(2, 3)));  // same version: ignored
  EXPECT_EQ(client->config().get().reportStrategy, 6);
  EXPECT_TRUE(respond("not json"));  // still a delivered batch
  EXPECT_TRUE(respond(answer(2, 4)));
  EXPECT_EQ(client->config().get().reportStrategy, 2);

  // The accepted configuration is stored and applied again by the next client.
  client.reset();
  EXPECT_EQ(makeClient()->config().get().reportStrategy, 2);
}

// What the analytics CGI answers costs the uploader no more than the answer bound: a 256 MiB
// answer, or one that inflates on the way past it, is stopped near the bound (the batch counts as
// delivered: the server took it), and a refusal's body is logged in part only.
TEST_F(VMA4QCTest, AnswersPastTheBoundAreStoppedAndRefusalsLoggedInPart) {
  auto client = makeClient();
  std::atomic<std::uint64_t> made{0};
  auto respond = [&](CannedResponse answer) {
    {
      std::lock_guard lock(mutex_);
      answer_ = std::move(answer);
    }
    std::atomic<int> result{-1};
    client->dispatcher().send({"{}"}, [&](bool success) { result = success; });
    client->flush();
    return result.load();
  };
  constexpr std::uint64_t kTotal = std::uint64_t{256} << 20;
  EXPECT_EQ(respond(CannedResponse::generated(kTotal, true, 64 * 1024, ' ', [&](std::uint64_t m) { made = m; })), 1);
  EXPECT_LT(made.load(), VMA4QCDispatcher::kMaxAnswerBytes + (std::uint64_t{64} << 20)) << "the answer was read on";

  // A configuration that would apply, were the 64 MiB it inflates to read whole.
  const int before = client->config().get().reportStrategy;
  const std::string configuration = "{\"cfg\":{\"1\":{\"c\":{\"rs\":" + std::to_string(before + 1) + "},\"v\":9,\"m\":\"x\"}}}";
  CannedResponse inflating;
  inflating.body = os::stringFromData(*os::gzipData(os::dataFromString(configuration + std::string(std::size_t{64} << 20, ' '))));
  inflating.headers.set("Content-Encoding", "gzip");
  ASSERT_LT(inflating.body.size(), std::size_t{1} << 20);
  EXPECT_EQ(respond(inflating), 1);
  EXPECT_EQ(client->config().get().reportStrategy, before);
  inflating.body = os::stringFromData(*os::gzipData(os::dataFromString(configuration + std::string(1024, ' '))));
  EXPECT_EQ(respond(inflating), 1);
  EXPECT_EQ(client->config().get().reportStrategy, before + 1) << "an answer within the bound applies";

  os::testing::LogCapture log;
  EXPECT_EQ(respond(CannedResponse::text(std::string(std::size_t{512} << 10, 'e'), 500)), 0);
  const auto lines = log.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(log.contains("analytics upload answered 500: eeee"));
  for (const auto& line : lines) EXPECT_LE(line.size(), os::kLogLineLimit);
}

TEST_F(VMA4QCTest, OnlineConfigurationSwitches) {
  auto client = makeClient();
  auto apply = [&](std::string content, int version) {
    client->holder().updateConfig(*VMA4QCJSON::objectWithString("{\"c\":" + content + ",\"v\":" +
                                                                std::to_string(version) + ",\"m\":\"m\"}"),
                                  1);
  };
  apply("{\"rs\":0}", 1);
  EXPECT_EQ(client->config().get().reportStrategy, 3);
  apply("{\"__HIBERNATE__\":\"0.5.4\"}", 2);
  EXPECT_TRUE(client->config().get().statEnable);
  apply("{\"__HIBERNATE__\":\"0.6\"}", 3);
  EXPECT_FALSE(client->config().get().statEnable);
  os::Dictionary event;
  client->holder().encode(event);
  EXPECT_EQ(VMA4QCJSON::JSONString(os::Value(event)), "{\"cfg\":{\"1\":{\"v\":3},\"2\":{}}}");
}

TEST_F(VMA4QCTest, StoredEventsGoInBatchesOfThirtyAndFailuresCountUpToDeletion) {
  auto client = makeClient();
  storeEvents(*client, 75);
  EXPECT_EQ(client->store().storedEventCount(), 75u);
  client->store().sendCachedEvents(-1);
  client->flush();
  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(eventsIn(requests[0]), 30u);
  EXPECT_EQ(eventsIn(requests[1]), 30u);
  EXPECT_EQ(eventsIn(requests[2]), 15u);
  EXPECT_EQ(batchOf(requests[0]).substr(0, 16), "[{\"n\":0},{\"n\":1}");  // oldest first
  EXPECT_EQ(client->store().getStoredEventsNum(), 0u);

  {
    std::lock_guard lock(mutex_);
    failing_ = true;
  }
  storeEvents(*client, 30);
  client->store().sendCachedEvents(-1);
  client->flush();
  EXPECT_EQ(rows(*client, "select send_count from events where status = 1"), std::vector<int>(30, 1));
  client->store().sendCachedEvents(-1);
  client->flush();
  EXPECT_EQ(rows(*client, "select send_count from events"), std::vector<int>(30, 2));
  client->store().sendCachedEvents(-1);
  client->flush();
  EXPECT_EQ(rows(*client, "select count(*) from events").at(0), 0);
}

TEST_F(VMA4QCTest, StoreBindsValuesAndEvictsOnlyTheOldestWaitingRow) {
  auto client = makeClient();
  client->config().edit([](VMA4QCSettings& s) { s.maxStoreEventCount = 3; });
  const std::string quoted = "{\"t\":\"it's " + std::string(2000, 'x') + "\"}";
  client->store().storeEvent(quoted, 5);
  storeEvents(*client, 2, 5);  // the same second as the first
  EXPECT_EQ(client->store().loadCachedEvents().at(0).content, quoted);
  client->store().storeEvent("{\"late\":1}", 9);
  client->flush();
  auto waiting = client->store().loadCachedEvents();
  ASSERT_EQ(waiting.size(), 3u);  // one row went, not the whole oldest second
  EXPECT_EQ(waiting[0].content, "{\"n\":0}");
  EXPECT_EQ(client->store().storedEventCount(), 3u);
}

// A run stopped while its store was full at the default bound and a batch was being sent leaves
// the batch beside as many newer events. The next start reads every one of them back, and its
// first store brings the table back to the bound, the oldest events going first.
TEST_F(VMA4QCTest, AStoreFilledToItsBoundKeepsItAcrossAStopMidBatch) {
  const std::uint32_t bound = VMA4QCSettings{}.maxStoreEventCount;
  const std::uint32_t batch = VMA4QCSettings{}.maxLoadEventCount;
  const std::string payload(1500, 'k');
  auto event = [&](std::uint32_t n) {
    return "{\"ei\":\"share_click\",\"n\":" + std::to_string(n) + ",\"kv\":\"" + payload + "\"}";
  };
  std::string path;
  {
    auto client = makeClient();
    path = client->store().path();
  }
  {
    // What the stopped run left, written as its store writes rows: its oldest batch being sent.
    auto db = SQDatabaseQueue::databaseQueueWithPath(path);
    db->inTransaction([&](SQDatabase& c, bool&) {
      for (std::uint32_t i = 0; i < bound + batch; ++i)
        c.executeUpdate("insert into events(content, status, send_count, ts) values(?, ?, 0, ?)", event(i),
                        i < batch ? 2 : 1, 1000 + i);
    });
  }
  {
    std::lock_guard lock(mutex_);
    failing_ = true;
  }
  auto client = makeClient();
  EXPECT_EQ(client->store().getStoredEventsNum(), bound + batch);  // nothing lost at the start
  client->store().storeEvent(event(bound + batch), 1000 + bound + batch);
  client->flush();
  EXPECT_EQ(client->store().getStoredEventsNum(), bound);
  EXPECT_EQ(client->store().storedEventCount(), bound);
  auto number = [](const VMA4QCStoreEvent& e) { return (*VMA4QCJSON::objectWithString(e.content))["n"].intValue(); };
  auto oldest = client->store().loadCachedEvents();
  ASSERT_FALSE(oldest.empty());
  EXPECT_EQ(number(oldest.front()), batch + 1);
  EXPECT_EQ(rows(*client, "select max(ts) from events").at(0), static_cast<int>(1000 + bound + batch));
}

TEST_F(VMA4QCTest, RowsLeftBeingSentWaitAgainAndACorruptFileIsReplaced) {
  std::string path;
  {
    auto client = makeClient();
    path = client->store().path();
    storeEvents(*client, 2);
  }
  {
    auto db = SQDatabaseQueue::databaseQueueWithPath(path);
    db->inDatabase([](SQDatabase& c) { c.executeUpdate("update events set status = 2"); });
  }
  {
    std::lock_guard lock(mutex_);
    failing_ = true;  // the start's send of everything stored must not empty the table
  }
  EXPECT_EQ(makeClient()->store().getStoredEventsNum(), 2u);

  // Garbage over the header pages: the first failing statement starts an empty database.
  {
    FILE* f = std::fopen(path.c_str(), "r+b");
    std::string junk(4096, 'z');
    std::fwrite(junk.data(), 1, junk.size(), f);
    std::fclose(f);
  }
  auto client = makeClient();
  storeEvents(*client, 1);
  client->store().storeEvent("{}", 1);
  client->flush();
  EXPECT_GE(client->store().getStoredEventsNum(), 1u);
}

// A first start that could not open the database (no descriptor left) made no tables: the first
// statement that opens it makes them, so the events of that run are stored rather than refused.
TEST_F(VMA4QCTest, AStoreThatCouldNotOpenItsFileAtStartMakesItsTablesWhenItFirstOpensIt) {
  VMA4QCConfig config;
  auto sender = [](std::vector<std::string>, VMA4QCStore::Callback) {};
  const std::string folder = sandbox_.sandbox()->documentsDirectory();
  // What the undefined-behaviour checker does on meeting a type for the first time needs a
  // descriptor: a store is made and used once before.
  {
    VMA4QCStore seen(config, folder + "/seen.db", sender);
    seen.storeEvent("{}", 1);
    seen.queue().drain();
  }
  std::optional<VMA4QCStore> store;
  {
    os::testing::NoDescriptorLeft none;
    store.emplace(config, folder + "/" + VMA4QCStore::kDatabaseName, sender);
    store->queue().drain();
  }
  store->storeEvent("{\"n\":1}", 100);
  store->queue().drain();
  EXPECT_EQ(store->getStoredEventsNum(), 1u);
  EXPECT_EQ(store->storedEventCount(), 1u);
  ASSERT_EQ(store->loadCachedEvents().size(), 1u);
  EXPECT_EQ(store->loadCachedEvents()[0].content, "{\"n\":1}");
}

// Closed as the application terminates, then reopened by work still coming (a batch's answer),
// the first try finding no descriptor: rows that run is sending stay being sent, so no batch of
// the run sends them a second time.
TEST_F(VMA4QCTest, AReopenAfterAFailedTryLeavesTheRowsOfTheRunBeingSent) {
  VMA4QCConfig config;
  std::vector<std::vector<std::string>> sent;
  auto sender = [&](std::vector<std::string> batch, VMA4QCStore::Callback) { sent.push_back(std::move(batch)); };
  VMA4QCStore store(config, sandbox_.sandbox()->documentsDirectory() + "/" + VMA4QCStore::kDatabaseName, sender);
  store.storeEvent("{\"n\":1}", 100);
  store.sendCachedEvents(-1);  // its answer never comes
  store.queue().drain();
  ASSERT_EQ(sent.size(), 1u);
  store.close();
  {
    os::testing::NoDescriptorLeft none;
    EXPECT_EQ(store.getStoredEventsNum(), 0u);  // the reopen fails
  }
  store.storeEvent("{\"n\":2}", 200);
  store.sendCachedEvents(-1);
  store.queue().drain();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1], std::vector<std::string>{"{\"n\":2}"});
}

// A start that could not open the database (no descriptor left) read no stored configuration: it
// is read at the first event, whose strategy it sets, and an answer's older one does not replace it.
TEST_F(VMA4QCTest, ConfigurationsAStartCouldNotReadApplyFromTheFirstEvent) {
  makeClient()->holder().updateOnlineConfig(
      os::Value(os::Dictionary{{"cfg", os::Dictionary{{"1", os::Dictionary{{"c", os::Dictionary{{"rs", 1}}},
                                                                            {"v", 5},
                                                                            {"m", os::Value("five")}}}}}}));
  {
    std::lock_guard lock(mutex_);
    answer_ = CannedResponse::json(R"({"cfg":{"1":{"c":{"rs":6},"v":4,"m":"four"}}})");
  }
  std::unique_ptr<VMA4QC> client;
  {
    os::testing::NoDescriptorLeft none;
    client = std::make_unique<VMA4QC>(VMA4QC::Options{sandbox_.sandbox()->documentsDirectory(),
                                                      server_.url(VMA4QCDispatcher::kPath), nullptr, false});
    client->flush();
  }
  client->trackCustomEvent("e", {});  // cellular: strategy 1 sends at once, 3 would keep it
  client->flush();
  EXPECT_GE(server_.requestCount(), 1u);
  EXPECT_EQ(client->config().get().reportStrategy, 1);
  EXPECT_EQ(rows(*client, "select version from config where type = 1"), std::vector<int>{5});
}

// A file damaged while the client runs is found by the next statement that writes: the event or
// configuration being stored then goes into the new database rather than away with the old one.
TEST_F(VMA4QCTest, WhatIsBeingStoredAsTheDamageIsFoundIsKeptInTheNewDatabase) {
  auto client = makeClient();
  storeEvents(*client, 2);
  auto damage = [&] {
    FILE* f = std::fopen(client->store().path().c_str(), "r+b");
    ASSERT_TRUE(f);
    std::string junk(4096, 'z');
    std::fwrite(junk.data(), 1, junk.size(), f);
    std::fclose(f);
  };
  damage();
  client->store().storeEvent("{\"kept\":1}", 500);
  client->flush();
  auto waiting = client->store().loadCachedEvents();
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(waiting[0].content, "{\"kept\":1}");
  EXPECT_EQ(client->store().storedEventCount(), 1u);

  damage();
  client->store().storeConfig({2, "{\"cfg\":1}", "md5", 7});
  client->flush();
  std::vector<VMA4QCDataConfig> configs;
  client->store().loadConfig([&](const VMA4QCDataConfig& c) { configs.push_back(c); });
  ASSERT_EQ(configs.size(), 1u);
  EXPECT_EQ(configs[0].content, "{\"cfg\":1}");
  EXPECT_EQ(configs[0].version, 7u);
}

TEST_F(VMA4QCTest, StrategiesDecidePerEvent) {
  auto client = makeClient();
  // Strategy 5: the first event starts the period; 24 hours later everything stored goes.
  client->start4QQConnect("100");
  client->flush();
  EXPECT_EQ(server_.requestCount(), 0u);
  auto defaults = sandbox_.sandbox()->standardUserDefaults();
  EXPECT_EQ(defaults->integerForKey(VMA4QC::kSentTimestampKey), 1700000000);
  client->trackCustomEvent("e", {});
  client->flush();
  EXPECT_EQ(server_.requestCount(), 0u);
  os::Clock::advance(24 * 3600);
  client->trackCustomEvent("e", {});
  client->flush();
  // The new day's session event is due first; sending everything takes the event after it too.
  ASSERT_EQ(server_.requestCount(), 2u);
  EXPECT_EQ(eventsIn(server_.requests()[0]) + eventsIn(server_.requests()[1]), 4u);
  EXPECT_EQ(client->store().getStoredEventsNum(), 0u);

  // Off line even strategy 1 stores; strategy 7 drops when on line.
  reach_->setDefaultFlags(0);
  client->config().edit([](VMA4QCSettings& s) { s.reportStrategy = 1; });
  client->trackCustomEvent("e", {});
  client->flush();
  EXPECT_EQ(client->store().getStoredEventsNum(), 1u);
  reach_->setDefaultFlags(kReachable);  // Wi-Fi: smart reporting sends it and the stored one
  client->trackCustomEvent("e", {});
  client->flush();
  EXPECT_EQ(server_.requestCount(), 4u);
  EXPECT_EQ(client->store().getStoredEventsNum(), 0u);
  reach_->setDefaultFlags(kCellular);
  client->config().edit([](VMA4QCSettings& s) { s.reportStrategy = 7; });
  client->trackCustomEvent("e", {});
  client->flush();
  EXPECT_EQ(client->store().getStoredEventsNum(), 0u);

  // Strategy 2: the 30th waiting event sends a batch of 30.
  client->config().edit([](VMA4QCSettings& s) { s.reportStrategy = 2; });
  storeEvents(*client, 28);
  client->trackCustomEvent("e", {});
  client->flush();
  EXPECT_EQ(server_.requestCount(), 4u);
  client->trackCustomEvent("e", {});
  client->flush();
  ASSERT_EQ(server_.requestCount(), 5u);
  EXPECT_EQ(eventsIn(server_.requests()[4]), 30u);
}

// Events reported just before the application ends are in the database when it has ended: the
// process goes right after, and the client's queues with it.
TEST_F(VMA4QCTest, EventsReportedAsTheApplicationEndsAreStored) {
  reach_->setDefaultFlags(0);  // off line: every event waits in the store
  auto app = os::Application::create(nullptr);
  app->launch();
  VMA4QC::Options options{sandbox_.sandbox()->documentsDirectory(), server_.url(VMA4QCDispatcher::kPath),
                          sandbox_.sandbox()->standardUserDefaults(), true};
  auto client = std::make_unique<VMA4QC>(options);
  client->startWithAppkey("key");
  client->flush();
  const int before = rows(*client, "select count(*) from events").at(0);
  constexpr int kEvents = 40;
  for (int i = 0; i < kEvents; ++i) client->trackCustomEvent("e" + std::to_string(i), {});
  EXPECT_TRUE(app->leave(5));
  EXPECT_GE(rows(*client, "select count(*) from events").at(0), before + kEvents);
}

TEST_F(VMA4QCTest, SessionsTimeOutAfterThirtySecondsInTheBackground) {
  auto client = makeClient();
  client->startWithAppkey("key");
  const auto first = client->sessionCheck(false);
  os::Clock::advance(29);
  EXPECT_EQ(client->sessionCheck(true), first);
  os::Clock::advance(30);
  const auto second = client->sessionCheck(true);
  EXPECT_NE(second, first);
  client->stopSession();
  client->startNewSession();
  EXPECT_NE(client->sessionCheck(false), second);
  client->flush();
  EXPECT_EQ(client->store().getStoredEventsNum(), 3u);  // one session event each

  client->setStatEnable(false);
  client->trackCustomEvent("ignored", {});
  client->flush();
  EXPECT_EQ(client->store().getStoredEventsNum(), 3u);
}

TEST_F(VMA4QCTest, TimedEventsAndTheirJson) {
  auto client = makeClient();
  client->startWithAppkey("key");
  client->trackCustomEventBegin("t", {os::Value("a")});
  client->trackCustomEventEnd("t", {os::Value("a")});
  client->trackCustomEventBegin("u", {});
  os::Clock::advance(5);
  client->trackCustomEventBegin("u", {});  // keeps the first start
  os::Clock::advance(2);
  client->trackCustomEventEnd("u", {});
  client->trackCustomEventEnd("never", {});
  client->flush();
  auto events = client->store().loadCachedEvents();
  ASSERT_EQ(events.size(), 3u);
  auto timed = VMA4QCJSON::objectWithString(events[1].content);
  EXPECT_EQ((*timed)["ei"], os::Value("t"));
  EXPECT_EQ((*timed)["du"].intValue(), 1);
  EXPECT_EQ((*timed)["ky"], os::Value("key"));
  EXPECT_EQ((*VMA4QCJSON::objectWithString(events[2].content))["du"].intValue(), 7);

  // Arguments that spell the same text without separators still time separately.
  EXPECT_NE(VMA4QC::timerKey("e", os::Array{os::Value("ab"), os::Value("c")}),
            VMA4QC::timerKey("e", os::Array{os::Value("a"), os::Value("bc")}));

  // Without a MAC address, no carrier and off line: no error text, no "op", no "cn".
  reach_->setDefaultFlags(0);
  auto session = VMA4QCJSON::objectWithString(client->jsonOf(VMA4QCSessionEnv(7)));
  EXPECT_EQ((*session)["mc"], os::Value(""));
  EXPECT_FALSE((*session)["ev"].dictionary()->contains("op"));
  EXPECT_FALSE((*session)["ev"].dictionary()->contains("cn"));
  EXPECT_EQ((*session)["ev"]["ch"], os::Value("appstore"));
  auto custom = VMA4QCJSON::objectWithString(client->jsonOf(VMA4QCCustomEvent(7, "x", std::nullopt, std::nullopt, 0)));
  EXPECT_EQ(custom->count(), 8u);  // ts si mc ui ifv et ky, and ei alone
}

TEST_F(VMA4QCTest, UsersAreFlaggedOnANewDayAndAfterAnUpdate) {
  const auto now = static_cast<std::int64_t>(os::Clock::now());
  VMA4QCUser user{"u", 0, "1.0", static_cast<std::uint32_t>(now - 86400)};
  EXPECT_TRUE(VMA4QCRefreshUser(user, "1.0", now));
  EXPECT_EQ(user.userType, 2);
  EXPECT_EQ(user.tagTime, static_cast<std::uint32_t>(now));
  VMA4QCUser same{"u", 0, "1.0", static_cast<std::uint32_t>(now)};
  EXPECT_FALSE(VMA4QCRefreshUser(same, "1.0", now));
  EXPECT_TRUE(VMA4QCRefreshUser(same, "1.1", now));
  EXPECT_EQ(same.userType, 2);
  EXPECT_EQ(same.appVer, "1.1");
}

// The other half of the kill test: a process of its own that starts a client on the parent's
// database, whose start sends everything stored, and waits for the upload that never answers.
TEST(VMA4QCKilledStore, ChildProcess) {
  const char* docs = std::getenv("VMA4QC_CHILD_DOCUMENTS");
  const char* url = std::getenv("VMA4QC_CHILD_URL");
  if (!docs || !url) GTEST_SKIP() << "runs only as the kill test's child";
  os::TestSandbox sandbox;
  VMA4QC client({docs, url, nullptr, false});
  client.flush();
  _exit(0);
}

TEST_F(VMA4QCTest, AStoreKilledMidBatchLosesNothingAndSendsNothingTwice) {
  std::string documents = sandbox_.sandbox()->documentsDirectory();
  storeEvents(*makeClient(), 30);
  {
    std::lock_guard lock(mutex_);
    answer_.delay = 30;  // the upload hangs until the process is gone
  }
  ChildProcess child("VMA4QCKilledStore.ChildProcess", {"VMA4QC_CHILD_DOCUMENTS=" + documents,
                                                       "VMA4QC_CHILD_URL=" + server_.url(VMA4QCDispatcher::kPath)});
  ASSERT_GE(child.pid, 0);
  ASSERT_TRUE(server_.waitForRequests(1, 60));
  EXPECT_EQ(eventsIn(server_.requests()[0]), 30u);
  kill(child.pid, SIGKILL);
  {
    std::lock_guard lock(mutex_);
    answer_.delay = 0;
  }

  auto client = makeClient();  // its start sends what the killed process left being sent
  EXPECT_EQ(rows(*client, "select count(*) from events").at(0), 0);
  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);  // the unanswered upload, then one acknowledged batch
  auto batch = VMA4QCJSON::objectWithString(batchOf(requests[1]));
  std::set<long long> seen;
  for (const auto& event : *batch->array()) seen.insert(event["n"].intValue());
  EXPECT_EQ(seen.size(), 30u);
}

// An event sent at once is in the store as being sent while its upload runs: no batch of the run
// takes it meanwhile, its answer removes it, and a refusal leaves it waiting once.
TEST_F(VMA4QCTest, AnEventBeingSentAtOnceIsInNoBatchOfItsRunAndWaitsOnceWhenRefused) {
  auto client = makeClient();
  client->startWithAppkey("key");  // cellular, strategy 3: its session event waits
  storeEvents(*client, 3);
  std::mutex gateMutex;
  std::condition_variable gateChanged;
  bool open = false;
  server_.route("POST", VMA4QCDispatcher::kPath, [&](const RecordedRequest& request) {
    const std::string batch = batchOf(request);
    if (batch.find("\"refused\"") != std::string::npos) return CannedResponse::text("busy", 503);
    if (batch.find("\"held\"") != std::string::npos) {
      std::unique_lock lock(gateMutex);
      gateChanged.wait_for(lock, std::chrono::seconds(60), [&] { return open; });
    }
    return CannedResponse::text("");
  });
  struct Opener {
    std::function<void()> open;
    ~Opener() { open(); }
  } opener{[&] {
    std::lock_guard lock(gateMutex);
    open = true;
    gateChanged.notify_all();
  }};

  reach_->setDefaultFlags(kReachable);  // Wi-Fi: events go at once
  client->trackCustomEvent("held", {});
  ASSERT_TRUE(server_.waitForRequests(1, 60));
  auto held = rows(*client, "select status from events where content like '%\"held\"%'");
  ASSERT_EQ(held, std::vector<int>{2});
  EXPECT_EQ(client->store().storedEventCount(), 4u);  // only the waiting ones
  client->store().sendCachedEvents(-1);  // loaded now, uploaded behind the held one
  client->store().queue().drain();
  opener.open();
  client->flush();
  int sends = 0;
  for (const auto& request : server_.requests())
    if (batchOf(request).find("\"held\"") != std::string::npos) ++sends;
  EXPECT_EQ(sends, 1);
  EXPECT_EQ(rows(*client, "select count(*) from events").at(0), 0);

  client->trackCustomEvent("refused", {});
  client->flush();
  EXPECT_EQ(rows(*client, "select status * 10 + send_count from events where content like '%\"refused\"%'"),
            std::vector<int>{10});
  EXPECT_EQ(client->store().storedEventCount(), 1u);
}

// The other half of the ending test: an application whose events go at once, the first upload
// held unanswered. Told to go on (a byte on standard input) once it is out, the application ends
// as a person leaving it does and the process exits, the answer still awaited.
TEST(VMA4QCEndedApplication, ChildProcess) {
  const char* docs = std::getenv("VMA4QC_ENDING_DOCUMENTS");
  const char* url = std::getenv("VMA4QC_ENDING_URL");
  if (!docs || !url) GTEST_SKIP() << "runs only as the ending test's child";
  os::TestSandbox sandbox;
  os::testing::SharedFakeReachability reach;
  reach->setDefaultFlags(kReachable);
  auto app = os::Application::create(nullptr);
  app->launch();
  VMA4QC client({docs, url, nullptr, true});
  client.startWithAppkey("key");
  client.trackCustomEvent("held", {});
  char go = 0;
  if (read(STDIN_FILENO, &go, 1) != 1) _exit(2);
  _exit(app->leave(20) ? 0 : 3);
}

TEST_F(VMA4QCTest, AnEventSentAtOnceOutlivesAnApplicationEndingBeforeItsAnswer) {
  const std::string documents = sandbox_.sandbox()->documentsDirectory();
  makeClient();  // the database exists, as after any earlier run
  {
    std::lock_guard lock(mutex_);
    answer_.delay = 30;  // no answer before the process is gone
  }
  int go[2];
  ASSERT_EQ(pipe2(go, O_CLOEXEC), 0);
  const std::string url = server_.url(VMA4QCDispatcher::kPath);
  ChildProcess child("VMA4QCEndedApplication.ChildProcess",
                     {"VMA4QC_ENDING_DOCUMENTS=" + documents, "VMA4QC_ENDING_URL=" + url}, go[0]);
  close(go[0]);
  ASSERT_GE(child.pid, 0);
  ASSERT_TRUE(server_.waitForRequests(1, 60));
  ASSERT_EQ(write(go[1], "g", 1), 1);
  close(go[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
  child.pid = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  {
    std::lock_guard lock(mutex_);
    answer_.delay = 0;
  }
  const std::size_t before = server_.requestCount();

  auto client = makeClient();  // its start sends everything waiting
  EXPECT_EQ(rows(*client, "select count(*) from events").at(0), 0);
  auto requests = server_.requests();
  int held = 0, sessions = 0;
  for (std::size_t i = before; i < requests.size(); ++i) {
    auto batch = VMA4QCJSON::objectWithString(batchOf(requests[i]));
    ASSERT_TRUE(batch && batch->isArray());
    for (const auto& event : *batch->array()) {
      if (event["ei"] == os::Value("held")) ++held;
      if (event["et"].intValue() == 2) ++sessions;
    }
  }
  EXPECT_EQ(held, 1);
  EXPECT_EQ(sessions, 1);
}

}  // namespace
