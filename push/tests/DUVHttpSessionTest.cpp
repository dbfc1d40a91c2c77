// The report scheduler against a loopback service that logs every packet as it came: records are
// counted on the wire, not in a service that would forgive a repeat.
#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/core/Compression.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/store/PreparedFile.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/LogCapture.h"
#include "os/testing/TestSandbox.h"
#include "os/testing/Waits.h"
#include "push/network/DUVHttpSession.h"
#include "push/network/address/DUVServiceEndpoints.h"
#include "push/report/DUVCrashCapture.h"
#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVUserDefaults.h"
#include "push/utilities/DUVUtilities.h"

namespace {

using os::testing::runUntil;

__attribute__((noinline, no_sanitize("undefined"))) void nullDereference() {
  volatile int* volatile p = nullptr;
  *p = 1;
}

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

// Holds answers back until the test opens it; opened on the way out whatever happened, so the
// server never waits on a test that has ended.
class Gate {
 public:
  ~Gate() { open(); }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

TEST_F(DUVHttpSessionTest, AReplacedBadgeRequestCannotUnlockItsSuccessor) {
  os::testing::LogCapture log;
  Gate five, nine;
  server_.route("POST", "/v1/user/", [&](const os::testing::RecordedRequest& request) {
    long long badge = (*ZRFJSONObject(os::dataFromString(request.body)))["content"]["badge"].intValue();
    (badge == 5 ? five : nine).wait();
    return os::testing::CannedResponse::json("{}");
  });
  usersAt(served());
  auto session = start();
  auto manager = session->badgeNumberManager();
  manager->setBadge(5);
  ASSERT_TRUE(runUntil([&] { return server_.requestCount() == 1; }));
  manager->setBadge(9);
  ASSERT_TRUE(runUntil([&] { return server_.requestCount() == 2; }));

  // The answer to 5 arrives while 9 is in flight: 9 stays locked, so setting it again sends nothing.
  five.open();
  ASSERT_TRUE(runUntil([&] { return log.contains("set badge:5 succeed"); }));
  EXPECT_TRUE(manager->isSendingLock());
  EXPECT_EQ(manager->badgeValue(), 9);
  manager->setBadge(9);
  nine.open();
  ASSERT_TRUE(runUntil([&] { return log.contains("set badge:9 succeed"); }));
  EXPECT_FALSE(manager->isSendingLock());
  EXPECT_FALSE(manager->badgeValue());
  EXPECT_EQ(badgesPosted(), (std::vector<long long>{5, 9}));
}

TEST_F(DUVHttpSessionTest, ABadgeTriedAtItsBackupAddressIsNoLongerLocked) {
  Gate backup;
  server_.route("POST", "/backup/user/", [&](const os::testing::RecordedRequest&) {
    backup.wait();
    return os::testing::CannedResponse::json("{}");
  });
  identity_->setAttributeReportAddress(server_.url("/backup/user/"));
  auto session = start();
  auto manager = session->badgeNumberManager();
  manager->setBadge(4);  // the user service refuses the connection: the backup address is tried
  ASSERT_TRUE(runUntil([&] { return server_.requestCount() == 1; }));
  EXPECT_FALSE(manager->isSendingLock());
  EXPECT_EQ(manager->badgeValue(), 4);
  backup.open();
  ASSERT_TRUE(runUntil([&] { return !manager->badgeValue(); }));
  EXPECT_EQ(server_.requests()[0].path, "/backup/user/");
}

TEST_F(DUVHttpSessionTest, ACrashSavesTheSessionAsGoingInactiveWould) {
  reportsAt(served());
  double t0 = os::Clock::now();
  auto session = start();
  session->pageFlowController()->trySetupSession();
  session->prepareActive(t0);
  ASSERT_TRUE(runUntil([&] { return postedOfType("active_launch") == 1 && postedOfType("device_info") == 1; }));
  answered(*session);
  reports_.push(os::testing::CannedResponse::json("{}", 500));
  session->reportMsgStatus(2001, 77);  // kept for a later report
  ASSERT_TRUE(runUntil([&] { return session->reportCache()->count() == 1; }));
  auto& pages = *session->pageFlowController();
  pages.setViewStart("front");
  advance(5);
  pages.setViewStop("front");
  pages.setViewStart("article");
  advance(3);
  DUVCrashCapture::setNetworkStatus(2);
  session->setCrashSnapshots(true);
  os::RunLoop::current()->runUntilIdle();

  std::string records = sandbox_.root() + "/crash-records";
  pid_t pid = ::fork();
  if (pid == 0) {
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    DUVCrashCapture::setNetworkStatus(3);  // the status at the moment of the crash
    if (DUVCrashCapture::install(records)) nullDereference();
    ::_exit(3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 3);  // it did crash

  // The next start reads what the crash left.
  files_ = DUVFileCache::startCacheFile("ZURAR");
  auto next = start();
  EXPECT_EQ(next->startTime(), t0);
  EXPECT_EQ(next->closeTime(), t0 + 8);
  EXPECT_EQ(next->reportCache()->count(), 1u);
  os::Array crashes, taken;
  ASSERT_EQ(DUVCrashCapture::collect(records, crashes, taken, {}, "NotReachable", [] { return true; }), 1u);
  EXPECT_EQ(crashes.at(0).at(0)["networktype"], os::Value("ReachableViaWWAN"));
  EXPECT_GT(crashes.at(0).at(0)["crashtime"].intValue(), 1500000000);  // the real clock of the crash

  // Back within 30 s: the same usage session, no launch, no device record; the kept record goes
  // with the next report.
  next->pageFlowController()->trySetupSession();
  next->prepareActive(t0 + 18);
  next->reportMsgStatus(2001, 78);
  ASSERT_TRUE(runUntil([&] { return postedOfType("msg_status") == 3; }));
  answered(*next);
  EXPECT_EQ(postedOfType("active_launch"), 1);
  EXPECT_EQ(postedOfType("device_info"), 1);
  // The crashed run's pages close with the usage session.
  next->reportInactive(t0 + 20);
  next->prepareActive(t0 + 60);
  ASSERT_TRUE(runUntil([&] { return postedOfType("active_terminate") == 1; }));
  for (const auto& record : posted()) {
    if (record["type"] != os::Value("active_terminate")) continue;
    EXPECT_EQ(record["activities"], os::Value(os::Array{os::Value(os::Dictionary{{"front", os::Value(5)}}),
                                                        os::Value(os::Dictionary{{"article", os::Value(3)}})}));
  }
}

TEST_F(DUVHttpSessionTest, ABadgeSentBeforeACrashIsNotSentAgain) {
  usersAt(served());
  // The last run went inactive with a badge it had not sent.
  files_->setObject(os::Value(5), DUVBadgeNumberManager::kBadgeKey);
  ASSERT_TRUE(files_->synchronize());
  files_ = DUVFileCache::startCacheFile("ZURAR");
  auto session = start();
  session->prepareActive(os::Clock::now());
  ASSERT_TRUE(runUntil([&] { return badgesPosted().size() == 1 && !session->badgeNumberManager()->badgeValue(); }));
  // Sent and cleared, then the crash: its snapshot holds the session as going inactive saves it.
  session->setCrashSnapshots(true);
  os::RunLoop::current()->runUntilIdle();
  pid_t pid = ::fork();
  if (pid == 0) {
    os::PreparedFile::writeAllPrepared();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  files_ = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_FALSE(files_->hasObjectForKey(DUVBadgeNumberManager::kBadgeKey));
  auto next = start();
  next->prepareActive(os::Clock::now() + 60);
  EXPECT_FALSE(next->badgeNumberManager()->badgeValue());  // nothing to send
  EXPECT_EQ(badgesPosted(), std::vector<long long>{5});
}

TEST(DUVCrashCapture, RecordsAreReadAsUTF8WithPlausibleTimes) {
  os::VirtualClockScope clock;
  auto [record, stack] = DUVCrashCapture::crashRecord("std::runtime_error: bad \xff\xfe\nnetworktype=ReachableViaWiFi\n0x1\n0x2\n",
                                                      1.7e9 + 0.5, {}, "NotReachable");
  EXPECT_EQ(record["message"], os::Value("std::runtime_error: bad \uFFFD\uFFFD"));
  EXPECT_EQ(record["networktype"], os::Value("ReachableViaWiFi"));
  EXPECT_EQ(record["stacktrace"], os::Value(os::Array{os::Value("0x1"), os::Value("0x2")}));
  EXPECT_EQ(stack, "0x1\n0x2\n");
  EXPECT_EQ(record["crashtime"].intValue(), 1700000000);
  EXPECT_TRUE(ZRFJSONData(os::Value(record)));
  // Older records carry no network line: the reader's status stands in.
  EXPECT_EQ(DUVCrashCapture::crashRecord("m\n0x1\n", 1.7e9, {}, "NotReachable").first["networktype"],
            os::Value("NotReachable"));
  for (double time : {std::numeric_limits<double>::infinity(), std::nan(""), 1e300, -5.0, 0.0, 1e10})
    EXPECT_EQ(DUVCrashCapture::crashRecord("m", time, {}, "").first["crashtime"].intValue(), 1700000000) << time;
}

}  // namespace
