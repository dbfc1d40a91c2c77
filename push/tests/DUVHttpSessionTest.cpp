// The report scheduler against a loopback service that logs every packet as it came: records are
// counted on the wire, not in a service that would forgive a repeat.
#include <gtest/gtest.h>

#include "os/core/Compression.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/LogCapture.h"
#include "os/testing/TestSandbox.h"
#include "os/testing/Waits.h"
#include "push/network/DUVHttpSession.h"
#include "push/network/address/DUVServiceEndpoints.h"
#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVUserDefaults.h"
#include "push/utilities/DUVUtilities.h"

namespace {

using os::testing::runUntil;

class DUVHttpSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    identity_->setUid(1234, std::string("pw"), std::string("reg"));
    server_.route("POST", "/v2/report", reports_.handler());
    server_.route("POST", "/v1/user/", users_.handler());
    reportsAt(refused_);
    usersAt(refused_);
  }
  void reportsAt(const std::string& hostPort) { endpoints_.reportHost = hostPort; }
  void usersAt(const std::string& hostPort) { endpoints_.userHost = hostPort; }
  std::string served() const { return "127.0.0.1:" + std::to_string(server_.port()); }

  std::shared_ptr<DUVHttpSession> start() {
    DUVHttpSession::Environment environment;
    environment.identity = identity_;
    environment.endpoints = &endpoints_;
    environment.networkStatus = [] { return 2L; };
    environment.fileCache = files_;
    environment.channel = "store";
    return DUVHttpSession::create(environment);
  }
  // Every record posted to the report service, in the order the packets came.
  std::vector<os::Dictionary> posted() const {
    std::vector<os::Dictionary> records;
    for (const auto& request : server_.requests()) {
      if (request.path != "/v2/report") continue;
      os::Data body(request.body.begin(), request.body.end());
      if (!body.empty() && body[0] == 0x1f) body = os::inflateData(body, 1 << 20, os::InflateFormat::Gzip).value_or(os::Data{});
      auto envelope = ZRFJSONObject(body);
      if (const os::Array* content = envelope ? (*envelope)["content"].array() : nullptr)
        for (const auto& record : *content)
          if (const os::Dictionary* r = record.dictionary()) records.push_back(*r);
    }
    return records;
  }
  int postedOfType(const std::string& type) const {
    int n = 0;
    for (const auto& record : posted()) n += record["type"] == os::Value(type);
    return n;
  }
  std::vector<long long> badgesPosted() const {
    std::vector<long long> badges;
    for (const auto& request : server_.requests())
      if (request.path == "/v1/user/")
        badges.push_back((*ZRFJSONObject(os::dataFromString(request.body)))["content"]["badge"].intValue());
    return badges;
  }
  void advance(double seconds) {
    os::Clock::advance(seconds);
    os::RunLoop::current()->runUntilIdle();
  }
  // Until every packet of the session has its answer: the virtual clock must not move while one
  // travels, or the request times out on it and its records are sent a second time.
  void answered(const DUVHttpSession& session) {
    ASSERT_TRUE(runUntil([&] { return session.reportCache()->sendingPackageCache().empty(); }));
  }

  os::VirtualClockScope clock_;
  os::TestSandbox sandbox_;
  os::NotificationCenter center_;
  std::shared_ptr<DUVUserDefaults> identity_ = DUVUserDefaults::create("com.example.reports", "abc123", center_);
  std::shared_ptr<DUVFileCache> files_ = DUVFileCache::startCacheFile("ZURAR");
  DUVServiceEndpoints endpoints_;
  os::testing::HttpTestServer server_;
  os::testing::AnswerQueue reports_{os::testing::CannedResponse::json("{}")};
  os::testing::AnswerQueue users_{os::testing::CannedResponse::json("{}")};
  std::string refused_ = "127.0.0.1:" + std::to_string(os::testing::HttpTestServer::refusedPort());
};

TEST_F(DUVHttpSessionTest, AResendCarriesTheEventsRecordOnceAndKeepsItsTime) {
  auto session = start();
  double launched = os::Clock::now();
  session->reportLaunch();
  ASSERT_TRUE(runUntil([&] { return session->reportCache()->count() == 1; }));  // both addresses failed
  reportsAt(served());
  advance(40);  // the timed resend
  ASSERT_TRUE(runUntil([&] { return server_.requestCount() == 1; }));
  answered(*session);
  advance(100), advance(200), advance(300);  // nothing more after it succeeded
  auto records = posted();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["type"], os::Value("active_launch"));
  EXPECT_EQ(records[0]["itime"].intValue(), static_cast<long long>(launched));
  EXPECT_EQ(session->reportCache()->count(), 0u);
}

TEST_F(DUVHttpSessionTest, RepliesSettleTheRecordsOfTheirPacket) {
  reportsAt(served());
  auto session = start();
  const auto& cache = *session->reportCache();
  // 401 and 400: refused for good, gone from both areas.
  reports_.push(os::testing::CannedResponse::json("{}", 401));
  session->reportMsgStatus(2001, 5);
  ASSERT_TRUE(runUntil([&] { return server_.requestCount() == 1 && cache.sendingPackageCache().empty(); }));
  EXPECT_EQ(cache.count(), 0u);
  reports_.push(os::testing::CannedResponse::json("{}", 400));
  session->reportMsgStatus(2001, 6);
  ASSERT_TRUE(runUntil([&] { return server_.requestCount() == 2 && cache.sendingPackageCache().empty(); }));
  EXPECT_EQ(cache.count(), 0u);
  // 403 and 5xx: back to the pending records, to ride with the next report.
  reports_.push(os::testing::CannedResponse::json("{}", 503));
  session->reportMsgStatus(2001, 7);
  ASSERT_TRUE(runUntil([&] { return cache.count() == 1; }));
  EXPECT_TRUE(cache.sendingPackageCache().empty());
  // Another status: neither; the record stays in flight until the next activation.
  reports_.push(os::testing::CannedResponse::json("{}", 404));
  session->reportMsgStatus(2001, 8);
  ASSERT_TRUE(runUntil([&] { return server_.requestCount() == 4; }));
  ASSERT_TRUE(runUntil([&] { return cache.sendingPackageCache().size() == 2; }));
  EXPECT_EQ(cache.count(), 0u);
}

TEST_F(DUVHttpSessionTest, TheThreeChecksRunOnTheirIntervalsFromTheStoredTimes) {
  reportsAt(served());
  reports_.setFallback(os::testing::CannedResponse::json("{}", 400));  // nothing is kept as "last"
  double now = os::Clock::now();
  files_->setObject(os::Value(static_cast<long long>(now) - 90000), "__DUVCheckTime");
  files_->setObject(os::Value(static_cast<long long>(now) - 3600), "__DUVLocationTimer");
  auto session = start();
  session->logSet().push_back(os::Value(os::Array{os::Value(os::Dictionary{{"message", os::Value("m")}}), os::Value("")}));
  DUVLocationInfo::addTo(session->locationInfo().wifiInfo, os::Value(os::Dictionary{{"ssid", os::Value("w")}}));
  session->prepareActive(now);
  // Device: 90000 s since the stored check, so at once. Location: 3600 s of 7200. Crash: no
  // stored time, and the crash check never sends at once for that.
  ASSERT_TRUE(runUntil([&] { return postedOfType("device_info") == 1 && postedOfType("active_launch") == 1; }));
  answered(*session);
  EXPECT_EQ(postedOfType("loc_info"), 0);
  EXPECT_EQ(postedOfType("crash_log"), 0);

  advance(3599);
  EXPECT_EQ(postedOfType("loc_info"), 0);
  advance(1);
  ASSERT_TRUE(runUntil([&] { return postedOfType("loc_info") == 1; }));
  answered(*session);
  advance(86400 - 3600 - 1);
  EXPECT_EQ(postedOfType("device_info"), 1);
  EXPECT_EQ(postedOfType("crash_log"), 0);
  advance(1);
  ASSERT_TRUE(runUntil([&] { return postedOfType("device_info") == 2 && postedOfType("crash_log") == 1; }));
  answered(*session);

  // Going inactive keeps the check times; a new scheduler on the file starts from them.
  session->reportInactive(os::Clock::now());
  EXPECT_EQ(files_->objectForKey("__DUVCheckTime").intValue(), static_cast<long long>(os::Clock::now()));
  auto next = start();
  next->prepareActive(os::Clock::now() + 5);
  answered(*next);
  EXPECT_EQ(postedOfType("device_info"), 2);
  // The clock gone back a day: every check counts as due.
  next->reportInactive(os::Clock::now());
  next->locationInfo().gpsInfo.push_back(os::Value(os::Dictionary{{"lat", os::Value(1.0)}}));
  os::Clock::useVirtual(now - 86400);
  next->prepareActive(os::Clock::now());
  ASSERT_TRUE(runUntil([&] { return postedOfType("device_info") == 3 && postedOfType("loc_info") == 2; }));
  answered(*next);
  EXPECT_EQ(postedOfType("device_info"), 3);
}

TEST_F(DUVHttpSessionTest, ImpossibleStoredTimesReadAsAbsent) {
  reportsAt(served());
  files_->setObject(os::Value(1e300), "__DUVStart_time");
  files_->setObject(os::Value(-1e300), "__DUVCheckTime");
  files_->setObject(os::Value(std::numeric_limits<double>::quiet_NaN()), "__DUVLocationTimer");
  files_->setObject(os::Value("86400"), "__DUVCrashTimer");
  auto session = start();
  EXPECT_EQ(session->startTime(), os::Clock::now());  // as with no stored session
  EXPECT_EQ(session->closeTime(), 0);
  session->prepareActive(os::Clock::now());
  // No stored check time: the device check reports at once.
  ASSERT_TRUE(runUntil([&] { return postedOfType("device_info") == 1; }));
}

TEST_F(DUVHttpSessionTest, BadgeResendsAfter40_100_200_300SecondsAndUnlocksAfterEachFailure) {
  os::testing::LogCapture log;
  auto session = start();
  auto manager = session->badgeNumberManager();
  auto failures = [&] {
    int n = 0;
    for (const auto& line : log.lines()) n += line.find("send badge:5 error:") != std::string::npos;
    return n / 2;  // an ERROR and a FORCE line each
  };
  manager->setBadge(5);
  ASSERT_TRUE(runUntil([&] { return failures() == 1; }));
  EXPECT_FALSE(manager->isSendingLock());
  for (double wait : {40.0, 100.0, 200.0, 300.0}) {
    int before = failures();
    advance(wait - 1);
    EXPECT_EQ(failures(), before) << wait;
    advance(1);
    ASSERT_TRUE(runUntil([&] { return failures() == before + 1; })) << wait;
  }
  advance(1000);
  EXPECT_EQ(failures(), 5);
  EXPECT_EQ(manager->badgeValue(), 5);

  // Not locked after the failure: the same value set again goes at once.
  usersAt(served());
  manager->setBadge(5);
  ASSERT_TRUE(runUntil([&] { return badgesPosted().size() == 1; }));
  ASSERT_TRUE(runUntil([&] { return !manager->badgeValue(); }));

  // Refused with 400: final, never resent.
  users_.push(os::testing::CannedResponse::json("{}", 400));
  manager->setBadge(9);
  ASSERT_TRUE(runUntil([&] { return badgesPosted().size() == 2 && !manager->badgeValue(); }));
  advance(40), advance(100), advance(200), advance(300);
  EXPECT_EQ(badgesPosted(), (std::vector<long long>{5, 9}));
  EXPECT_TRUE(log.contains("send badge:9 parameter validate failed!"));
}

}  // namespace
