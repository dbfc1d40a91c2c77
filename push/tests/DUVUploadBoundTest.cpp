// The report scheduler under a flood of reports, against a loopback report service that counts the
// connections open at once: only the far end sees how many a client opens.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "os/core/Compression.h"
#include "os/net/Socket.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/TestSandbox.h"
#include "os/testing/Waits.h"
#include "push/network/DUVHttpSession.h"
#include "push/network/address/DUVServiceEndpoints.h"
#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVUserDefaults.h"
#include "push/utilities/DUVUtilities.h"

namespace {

using os::testing::runUntil;

// Takes every connection and reads its request; answers each with `status` once the test lets
// answers go, closing it. Runs on the test's run loop.
class CountingReportService {
 public:
  CountingReportService() : listener_(os::TcpListener::listen("127.0.0.1", 0)) {
    listener_->schedule(os::RunLoop::current(), [this](std::shared_ptr<os::TcpSocket> socket) { accepted(std::move(socket)); });
  }
  ~CountingReportService() {
    for (auto& connection : open_) connection->socket->close();
    listener_->close();
  }
  std::string hostPort() const { return "127.0.0.1:" + std::to_string(listener_->port()); }
  std::size_t open() const { return open_.size(); }
  std::size_t mostOpen() const { return mostOpen_; }
  void answerWith(int status) {
    status_ = status;
    std::vector<std::shared_ptr<Connection>> ready;
    for (const auto& connection : open_)
      if (connection->complete) ready.push_back(connection);
    for (const auto& connection : ready) answer(connection);
  }
  // The message ids of every record posted, in the order the requests came.
  const std::vector<std::string>& messageIds() const { return messageIds_; }

 private:
  struct Connection {
    std::shared_ptr<os::TcpSocket> socket;
    std::string received;
    bool continued = false, complete = false;
  };

  void accepted(std::shared_ptr<os::TcpSocket> socket) {
    auto connection = std::make_shared<Connection>();
    connection->socket = std::move(socket);
    open_.push_back(connection);
    mostOpen_ = std::max(mostOpen_, open_.size());
    std::weak_ptr<Connection> weak = connection;
    os::Socket::Callbacks callbacks;
    callbacks.readable = [this, weak] {
      if (auto c = weak.lock()) read(c);
    };
    connection->socket->schedule(os::RunLoop::current(), std::move(callbacks));
  }

  void read(const std::shared_ptr<Connection>& c) {
    char buffer[4096];
    long n;
    while ((n = c->socket->receive(buffer, sizeof buffer)) > 0) c->received.append(buffer, static_cast<std::size_t>(n));
    if (n == 0) return close(c);
    if (c->complete) return;
    std::size_t head = c->received.find("\r\n\r\n");
    if (head == std::string::npos) return;
    std::string lower = c->received.substr(0, head);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
    std::size_t length = 0;
    if (auto at = lower.find("content-length:"); at != std::string::npos) length = std::stoul(lower.substr(at + 15));
    if (!c->continued && lower.find("expect: 100-continue") != std::string::npos) {
      c->continued = true;
      const char* go = "HTTP/1.1 100 Continue\r\n\r\n";
      c->socket->send(go, std::strlen(go));
    }
    if (c->received.size() < head + 4 + length) return;
    c->complete = true;
    os::Data body(c->received.begin() + static_cast<long>(head + 4), c->received.begin() + static_cast<long>(head + 4 + length));
    if (!body.empty() && body[0] == 0x1f) body = os::inflateData(body, 1 << 20, os::InflateFormat::Gzip).value_or(os::Data{});
    auto envelope = ZRFJSONObject(body);
    if (const os::Array* content = envelope ? (*envelope)["content"].array() : nullptr)
      for (const auto& record : *content)
        if (const std::string* id = record["msg_id"].string()) messageIds_.push_back(*id);
    if (status_) answer(c);
  }

  void answer(const std::shared_ptr<Connection>& c) {
    std::string reply = "HTTP/1.1 " + std::to_string(status_) +
                        " Answer\r\nContent-Type: application/json\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}";
    c->socket->send(reply.data(), reply.size());
    close(c);
  }

  void close(const std::shared_ptr<Connection>& c) {
    c->socket->close();
    std::erase(open_, c);
  }

  std::shared_ptr<os::TcpListener> listener_;
  std::vector<std::shared_ptr<Connection>> open_;
  std::size_t mostOpen_ = 0;
  int status_ = 0;  // 0: answers held
  std::vector<std::string> messageIds_;
};

class DUVUploadBoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    identity_->setUid(1234, std::string("pw"), std::string("reg"));
    endpoints_.reportHost = service_.hostPort();
  }
  // A session on `files` (the file cache of this run by default).
  std::shared_ptr<DUVHttpSession> start(std::shared_ptr<DUVFileCache> files = nullptr) {
    DUVHttpSession::Environment environment;
    environment.identity = identity_;
    environment.endpoints = &endpoints_;
    environment.networkStatus = [] { return 2L; };
    environment.fileCache = files ? std::move(files) : files_;
    return DUVHttpSession::create(environment);
  }
  // The report records the cache file holds now, pending and in flight, as the next start reads them.
  static std::size_t recordsInTheFile() {
    auto read = DUVFileCache::startCacheFile("ZURAR");
    auto cache = DUVReportCache::fromArchivedValue(read->objectForKey("__DUVHistroyCache"));
    return cache->count() + cache->sendingPackageCache().size();
  }
  // A session given `reports` message statuses at once, as many of them on the wire as may be
  // (their answers held); null if they never got there.
  std::shared_ptr<DUVHttpSession> flooded(std::size_t reports) {
    auto session = start();
    for (std::size_t i = 1; i <= reports; ++i) session->reportMsgStatus(2001, static_cast<long long>(i));
    if (!runUntil([&] { return service_.open() >= DUVHttpSession::kMaximumUploads; })) return nullptr;
    return session;
  }
  // How often each message id arrived.
  std::map<std::string, int> arrivals() const {
    std::map<std::string, int> counts;
    for (const auto& id : service_.messageIds()) ++counts[id];
    return counts;
  }

  os::VirtualClockScope clock_;
  os::TestSandbox sandbox_;
  os::NotificationCenter center_;
  std::shared_ptr<DUVUserDefaults> identity_ = DUVUserDefaults::create("com.example.reports", "abc123", center_);
  std::shared_ptr<DUVFileCache> files_ = DUVFileCache::startCacheFile("ZURAR");
  DUVServiceEndpoints endpoints_;
  CountingReportService service_;
};

TEST_F(DUVUploadBoundTest, AFloodOfReportsWaitsInTheCacheAndGoesOutThroughABoundedNumberOfConnections) {
  const std::size_t reports = 400;
  // As many on the wire as may be, answers held: the others wait among the pending records.
  auto session = flooded(reports);
  ASSERT_TRUE(session);
  const auto& cache = *session->reportCache();
  EXPECT_LE(cache.sendingPackageCache().size(), DUVHttpSession::kMaximumUploads);
  EXPECT_EQ(cache.count() + cache.sendingPackageCache().size(), reports);

  // Answered: the waiting ones go out in packets of many, never more connections at once, and
  // every record arrives exactly once.
  service_.answerWith(200);
  ASSERT_TRUE(runUntil([&] {
    return arrivals().size() == reports && cache.count() == 0 && cache.sendingPackageCache().empty();
  }));
  EXPECT_LE(service_.mostOpen(), DUVHttpSession::kMaximumUploads);
  for (const auto& [id, times] : arrivals()) EXPECT_EQ(times, 1) << id;
}

TEST_F(DUVUploadBoundTest, ReportsRefusedForNowWaitForTheNextReportRatherThanGoingStraightBack) {
  const std::size_t reports = 60;
  auto session = flooded(reports);
  ASSERT_TRUE(session);
  const auto& cache = *session->reportCache();
  // 503 to every packet: the records go back to the pending ones and stay there; nothing more is
  // posted until another report comes.
  service_.answerWith(503);
  ASSERT_TRUE(runUntil([&] { return service_.open() == 0 && cache.sendingPackageCache().empty(); }));
  os::RunLoop::current()->runUntilIdle();
  const std::size_t posted = service_.messageIds().size();
  EXPECT_EQ(posted, DUVHttpSession::kMaximumUploads);
  EXPECT_EQ(cache.count(), reports);
  EXPECT_EQ(service_.mostOpen(), DUVHttpSession::kMaximumUploads);

  // The next report takes them out, still through the bound, and none is lost.
  service_.answerWith(200);
  session->reportMsgStatus(2001, static_cast<long long>(reports + 1));
  ASSERT_TRUE(runUntil([&] {
    return arrivals().size() == reports + 1 && cache.count() == 0 && cache.sendingPackageCache().empty();
  }));
  EXPECT_LE(service_.mostOpen(), DUVHttpSession::kMaximumUploads);
}

TEST_F(DUVUploadBoundTest, ASessionEndingWithReportsWaitingLosesNoneAndPostsNoMore) {
  const std::size_t reports = 100;
  auto session = flooded(reports);
  ASSERT_TRUE(session);
  const std::shared_ptr<DUVReportCache> cache = session->reportCache();
  // The client closes with uploads on the wire and the others waiting: the uploads' answers, when
  // they come, start no carrier, and every record stays, pending or in flight, for the next start.
  session.reset();
  service_.answerWith(200);
  ASSERT_TRUE(runUntil([&] { return service_.open() == 0; }));
  os::RunLoop::current()->runUntilIdle();
  // No more than the uploads already on the wire (cancelled, some before their body was read).
  EXPECT_LE(service_.messageIds().size(), DUVHttpSession::kMaximumUploads);
  EXPECT_LE(service_.mostOpen(), DUVHttpSession::kMaximumUploads);
  EXPECT_EQ(cache->count() + cache->sendingPackageCache().size(), reports);
  cache->resetCache();
  EXPECT_EQ(cache->count(), reports);
}

// A run killed outright: what the bound kept waiting reached the file once things were quiet a
// moment. The next start sends every record, through the bound, none cut away as a report's content
// beyond its size would be.
TEST_F(DUVUploadBoundTest, WaitingRecordsReachTheFileSoonAndTheNextStartSendsThemAll) {
  const std::size_t reports = 400;
  auto session = flooded(reports);
  ASSERT_TRUE(session);
  os::RunLoop::current()->runUntilIdle();
  EXPECT_EQ(recordsInTheFile(), 0u);
  os::Clock::advance(DUVHttpSession::kReportSaveQuiet);
  os::RunLoop::current()->runUntilIdle();
  EXPECT_EQ(recordsInTheFile(), reports);

  // The process ends without a word; the next one starts on what the file holds.
  session.reset();
  service_.answerWith(200);
  ASSERT_TRUE(runUntil([&] { return service_.open() == 0; }));
  auto next = start(DUVFileCache::startCacheFile("ZURAR"));
  next->prepareActive(DUVGetCurrentTimestamp());
  const auto& cache = *next->reportCache();
  ASSERT_TRUE(runUntil([&] {
    return arrivals().size() == reports && cache.count() == 0 && cache.sendingPackageCache().empty();
  }));
  EXPECT_LE(service_.mostOpen(), DUVHttpSession::kMaximumUploads);
}

// Reports that keep coming, never a quiet moment between them: saved all the same, in time.
TEST_F(DUVUploadBoundTest, ASteadyStreamOfWaitingRecordsIsSavedWithinItsLongestWait) {
  const std::size_t first = 20;
  auto session = flooded(first);
  ASSERT_TRUE(session);
  std::size_t made = first;
  for (double waited = 0; waited < DUVHttpSession::kReportSaveLongest; waited += DUVHttpSession::kReportSaveQuiet / 2) {
    os::Clock::advance(DUVHttpSession::kReportSaveQuiet / 2);
    session->reportMsgStatus(2001, static_cast<long long>(++made));
    os::RunLoop::current()->runUntilIdle();
  }
  EXPECT_GE(recordsInTheFile(), first);
}

TEST_F(DUVUploadBoundTest, RecordsSavedOnGoingInactiveAllGoOutAtTheNextStart) {
  const std::size_t reports = 400;
  auto session = flooded(reports);
  ASSERT_TRUE(session);
  session->reportInactive(DUVGetCurrentTimestamp());
  session.reset();
  service_.answerWith(200);
  ASSERT_TRUE(runUntil([&] { return service_.open() == 0; }));
  ASSERT_EQ(recordsInTheFile(), reports);

  os::Clock::advance(3600);
  auto next = start(DUVFileCache::startCacheFile("ZURAR"));
  next->prepareActive(DUVGetCurrentTimestamp());
  const auto& cache = *next->reportCache();
  ASSERT_TRUE(runUntil([&] {
    return arrivals().size() == reports && cache.count() == 0 && cache.sendingPackageCache().empty();
  }));
  EXPECT_LE(service_.mostOpen(), DUVHttpSession::kMaximumUploads);
}

// A report of several packets whose next packet meets the bound: the packet already posted is in
// flight, not waiting, so its records go out once.
TEST_F(DUVUploadBoundTest, AReportOfSeveralPacketsMeetingTheBoundSendsEachRecordOnce) {
  auto session = start();
  // Five uploads held open.
  for (long long id = 1; id <= 5; ++id) session->reportMsgStatus(2001, id);
  ASSERT_TRUE(runUntil([&] { return service_.open() == 5; }));
  // Records an earlier run left, taken in by the next report: several packets' worth.
  const std::size_t left = 40;
  auto cache = session->reportCache();
  for (std::size_t i = 0; i < left; ++i) {
    std::string id = std::to_string(1000 + i);
    cache->addCacheObject(os::Dictionary{{"type", os::Value("msg_status")}, {"msg_id", os::Value(id)},
                                         {"result", os::Value(2001)}, {"itime", os::Value(1700000000)}},
                          "left." + id);
  }
  session->reportMsgStatus(2001, 6);
  ASSERT_TRUE(runUntil([&] { return service_.open() == DUVHttpSession::kMaximumUploads; }));
  os::RunLoop::current()->runUntilIdle();
  // The sixth upload took the report's first packet; the rest wait, none of the packet among them.
  EXPECT_EQ(cache->sendingPackageCache().size() + cache->count(), 5 + left + 1);

  service_.answerWith(200);
  ASSERT_TRUE(runUntil([&] {
    return arrivals().size() == 5 + left + 1 && cache->count() == 0 && cache->sendingPackageCache().empty();
  }));
  os::RunLoop::current()->runUntilIdle();
  for (const auto& [id, times] : arrivals()) EXPECT_EQ(times, 1) << id;
  EXPECT_LE(service_.mostOpen(), DUVHttpSession::kMaximumUploads);
}

}  // namespace
