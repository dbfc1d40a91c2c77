#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <mutex>
#include <string>

#include "foundation/ServiceCallLog.h"
#include "foundation/formats/JSONDecoder.h"
#include "os/core/Log.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/core/Compression.h"
#include "os/net/NetworkReachability.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/UdpTestPeer.h"
#include "os/testing/Waits.h"
#include "os/views/Device.h"
#include "os/testing/TestSandbox.h"
#include "push/ROVodozov.h"
#include "push/model/DUVClient.h"
#include "push/network/DUVHttpSession.h"
#include "push/model/DUVTagAlias.h"
#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVUserDefaults.h"
#include "push/utilities/DUVUtilities.h"

namespace {

class ROVodozovTest : public ::testing::Test {
 protected:
  ServiceCallLog::Recording recording_;
  void SetUp() override { ServiceCallLog::reset(); }
  void TearDown() override {
    ROVodozov::tearDownSharedService();
    ServiceCallLog::reset();
    os::setLogSink(previous_);
  }
  // Waits until the client thread has run everything queued so far, and the timers that were due
  // (a loop's pass runs its tasks before its timers).
  std::shared_ptr<DUVClient> settle() {
    auto service = ROVodozov::sharedService();
    service->clientThread()->perform([] {}, true);
    service->clientThread()->perform([] {}, true);
    return service->client();
  }
  // The client's configuration: reports to `reports`, a lookup that never answers, no core server.
  void reportTo(const os::testing::HttpTestServer& reports, const os::testing::UdpTestPeer& silentLookup) {
    int refused = os::testing::HttpTestServer::refusedPort();
    sandbox_.writeBundlePropertyList(
        "PushConfig.plist",
        os::Value(os::Dictionary{{"APP_KEY", os::Value("abc123")},
                                 {"REPORT_HOST", os::Value("127.0.0.1:" + std::to_string(reports.port()))},
                                 {"SIS_HOSTS", os::Value(os::Array{os::Value("127.0.0.1")})},
                                 {"SIS_PORT", os::Value(silentLookup.port())},
                                 {"SIS_BACKUP_PORT", os::Value(silentLookup.port())},
                                 {"CORE_HOST", os::Value("127.0.0.1")},
                                 {"CORE_PORT", os::Value(refused)},
                                 {"CORE_DEFAULT_ADDRESS", os::Value("127.0.0.1:" + std::to_string(refused))}}));
  }
  bool logged(const std::string& part) {
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_)
      if (line.find(part) != std::string::npos) return true;
    return false;
  }

  os::TestSandbox sandbox_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::function<void(std::string_view)> previous_ = os::setLogSink([this](std::string_view line) {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
  });
};

TEST_F(ROVodozovTest, LaunchRegistersThenStartsWithTheLaunchOptions) {
  os::Dictionary push{{"aps", os::Value(os::Dictionary{{"alert", os::Value("要闻")}})}, {"id", os::Value(42)}};
  os::Dictionary options{{"ApplicationLaunchOptionsRemoteNotificationKey", os::Value(push)}};
  ROVodozov::registerForRemoteNotificationTypes(7, os::Value());
  ROVodozov::setupWithOption(options);

  EXPECT_EQ(ServiceCallLog::names(),
            (std::vector<std::string>{"ROVodozov.registerForRemoteNotificationTypes", "ROVodozov.setupWithOption"}));
  auto calls = ServiceCallLog::calls();
  EXPECT_EQ(calls[0].arguments["types"].unsignedValue(), 7u);
  EXPECT_TRUE(calls[0].arguments.contains("categories"));
  EXPECT_TRUE(calls[0].arguments["categories"].isNull());
  ASSERT_TRUE(calls[1].arguments["launchOptions"].dictionary());
  EXPECT_EQ(*calls[1].arguments["launchOptions"].dictionary(), options);
}

TEST_F(ROVodozovTest, TokenBytesAndNotificationsArriveUnchanged) {
  os::Data token{0x00, 0xff, 0x10, 0x00, 0x7f};
  ROVodozov::registerDeviceToken(token);
  ROVodozov::handleRemoteNotification(os::Dictionary{{"_j_msgid", os::Value(1234567890123LL)}});

  auto tokenCall = ServiceCallLog::last("ROVodozov", "registerDeviceToken");
  ASSERT_TRUE(tokenCall && tokenCall->arguments["token"].data());
  EXPECT_EQ(*tokenCall->arguments["token"].data(), token);
  auto notification = ServiceCallLog::last("ROVodozov", "handleRemoteNotification");
  ASSERT_TRUE(notification);
  EXPECT_EQ(notification->arguments["userInfo"]["_j_msgid"].intValue(), 1234567890123LL);
}

TEST_F(ROVodozovTest, StartUpRunsTheClientOnItsOwnThread) {
  sandbox_.writeBundlePropertyList("PushConfig.plist", os::Value(os::Dictionary{
                                                           {"APP_KEY", os::Value("ABC123")},
                                                           {"APS_FOR_PRODUCTION", os::Value("1")},
                                                       }));
  ROVodozov::setupWithOption({});
  auto client = settle();
  EXPECT_EQ(ROVodozov::sharedService()->clientThread()->name(), "org.qelm.zurar.thread");
  ASSERT_TRUE(client->pushConfig());
  EXPECT_EQ(client->pushConfig()->applicationKey(), "abc123");
  EXPECT_EQ(client->bundleIdentifier(), "com.example.newsreader");
  EXPECT_EQ(client->apsEvironment(), -1);  // no provisioning profile in the bundle
  EXPECT_EQ(client->deviceTokenStatusCheckTimes(), 5);
  ASSERT_TRUE(client->userDefaults());
  EXPECT_TRUE(client->userDefaults()->verified());
  EXPECT_EQ(ROVodozov::registrationID(), "");
  EXPECT_TRUE(logged("ZUrarLog: \n---------------------Zurar(IOS8Version) log"));

  ROVodozov::setLatitude(39.9, 116.4);
  ROVodozov::setLatitude(39.9, 116.4);  // the same position once
  EXPECT_EQ(settle()->reportSession()->locationInfo().gpsInfo.size(), 1u);

  EXPECT_TRUE(ROVodozov::setBadge(99999));
  EXPECT_FALSE(ROVodozov::setBadge(100000));
  EXPECT_FALSE(ROVodozov::setBadge(-1));
  EXPECT_EQ(settle()->badgeNumber(), 99999);

  ROVodozov::registerDeviceToken({0xbe, 0xef});
  ROVodozov::registerDeviceToken({0x01});
  settle();
  EXPECT_TRUE(client->deviceTokenUpdated());
  EXPECT_EQ(client->userDefaults()->currentDeviceToken(), "beef");
  EXPECT_TRUE(logged("device token should NOT be updated for multi times"));
  EXPECT_EQ(ROVodozov::sharedUDID().size(), 24u);
  EXPECT_EQ(ROVodozov::sharedUDID().rfind("iPhone", 0), 0u);
}

TEST_F(ROVodozovTest, AMissingConfigurationIsReportedAndCallsStillWork) {
  ROVodozov::setupWithOption(
      {{"ApplicationLaunchOptionsRemoteNotificationKey", os::Value(os::Dictionary{{"_j_msgid", os::Value(7)}})}});
  auto client = settle();
  EXPECT_FALSE(client->pushConfig());
  EXPECT_TRUE(logged("配置文件不存在"));
  EXPECT_TRUE(logged("load push config error!"));
  ROVodozov::registerDeviceToken({0x01});
  ROVodozov::handleRemoteNotification({});
  EXPECT_TRUE(settle()->deviceTokenUpdated());
}

// Without its configuration the client has no connection to send tags and alias on: each call
// with a callback is still answered once on the main queue, a fault of its arguments at once and
// the rest as a call that no answer came for.
TEST_F(ROVodozovTest, TagsAndAliasWithoutAConfigurationAreStillAnsweredOnce) {
  os::VirtualClockScope clock;
  ASSERT_FALSE(settle()->pushConfig());
  std::vector<int> codes;
  auto remember = [&](int code, const auto&, const auto&) { codes.push_back(code); };
  ROVodozov::setTags(std::nullopt, std::nullopt, remember);
  ROVodozov::setTags(std::vector<std::string>{"军事", "news"}, std::string("reader_1"), remember);
  settle();
  ASSERT_TRUE(os::testing::runUntil([&] { return !codes.empty(); })) << "the caller is never answered";
  EXPECT_EQ(codes, std::vector<int>{kDUVTagAliasBothNil});
  os::Clock::advance(DUVTagAlias::kAnswerTimeout);
  settle();
  ASSERT_TRUE(os::testing::runUntil([&] { return codes.size() == 2; })) << "the caller is never answered";
  EXPECT_EQ(codes.back(), kDUVTagAliasTimeout);
  os::Clock::advance(60);
  settle();
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(codes.size(), 2u);
}

// The client stops while a call waits for the service's answer: no answer can come any more, and
// the caller hears the time-out's code once, on the main queue, rather than never.
TEST_F(ROVodozovTest, TagsAndAliasWaitingWhenTheClientStopsAreAnsweredOnce) {
  os::VirtualClockScope clock;
  settle();
  std::vector<int> codes;
  ROVodozov::setTags(std::vector<std::string>{"news"}, std::nullopt, [&](int code, const auto&, const auto&) {
    codes.push_back(code);
  });
  ASSERT_EQ(settle()->tagAliasMng()->pendingCount(), 1u);
  ROVodozov::tearDownSharedService();
  ASSERT_TRUE(os::testing::runUntil([&] { return !codes.empty(); })) << "the caller is never answered";
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(codes, std::vector<int>{kDUVTagAliasTimeout});
}

TEST_F(ROVodozovTest, TheTokenCheckWarnsEveryTenSecondsUntilItsCountRunsOut) {
  os::VirtualClockScope clock;
  sandbox_.writeBundlePropertyList("PushConfig.plist", os::Value(os::Dictionary{{"APP_KEY", os::Value("k1")},
                                                                               {"APS_FOR_PRODUCTION", os::Value("0")}}));
  sandbox_.writeBundleFile("embedded.mobileprovision", "<key>aps-environment</key><string>development</string>");
  ROVodozov::setupWithOption({});
  EXPECT_EQ(settle()->deviceTokenStatusCheckTimes(), 100);
  for (int i = 0; i < 3; ++i) {
    os::Clock::advance(10);
    settle();
  }
  EXPECT_EQ(settle()->deviceTokenStatusCheckTimes(), 97);
  EXPECT_TRUE(logged("Not get deviceToken yet."));
}

// From system 8.0 the application registers for remote notifications and then for the user
// notification settings (types and categories); before 8.0, where those two do not exist, with
// the types alone.
TEST_F(ROVodozovTest, RegistrationFollowsTheSystemVersion) {
  auto app = os::Application::create(nullptr);
  app->makeShared();
  os::DeviceProfile eight;
  eight.systemVersion = "8.0";
  auto previous = os::Device::current().setProfile(eight);
  ROVodozov::registerForRemoteNotificationTypes(7, os::Value::set({os::Value("reply")}));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(app->isRegisteredForRemoteNotifications());
  EXPECT_EQ(app->enabledRemoteNotificationTypes(), 0u);
  EXPECT_EQ(app->currentUserNotificationSettings(), (os::UserNotificationSettings{7, {"reply"}}));

  auto older = os::Application::create(nullptr);
  older->makeShared();
  os::DeviceProfile seven;
  seven.systemVersion = "7.1";
  os::Device::current().setProfile(seven);
  EXPECT_NO_THROW(ROVodozov::registerForRemoteNotificationTypes(7, os::Value()));
  EXPECT_EQ(older->enabledRemoteNotificationTypes(), 7u);
  EXPECT_EQ(older->currentUserNotificationSettings().types, 0u);
  os::Device::current().setProfile(previous);
}

TEST_F(ROVodozovTest, LocationFixesAndTheirRefusal) {
  sandbox_.writeBundlePropertyList("PushConfig.plist", os::Value(os::Dictionary{{"APP_KEY", os::Value("ABC123")}}));
  ROVodozov::setupWithOption({});
  ROVodozov::setLocation(std::nullopt);
  EXPECT_TRUE(settle()->reportSession()->locationInfo().gpsInfo.empty());
  EXPECT_TRUE(logged("ZUrarLog ERROR: 参数location不能为空"));
  ROVodozov::setLocation(os::Location{39.9, 116.4, 43.5, 5, 10});
  auto gps = settle()->reportSession()->locationInfo().gpsInfo;
  ASSERT_EQ(gps.size(), 1u);
  EXPECT_EQ(gps[0]["lat"], os::Value(39.9));
  EXPECT_EQ(gps[0]["lng"], os::Value(116.4));
  EXPECT_EQ(gps[0]["altitude"], os::Value(43.5));
  EXPECT_EQ(gps[0]["horizontalAccuracy"], os::Value(5.0));
  EXPECT_EQ(gps[0]["verticalAccuracy"], os::Value(10.0));
}

// Each remote notification is reported as a "msg_status" record whose "result" tells how it
// reached the application: 2003 with the launch options, then by the application's state, 2001
// active, 2002 inactive, 2004 in the background, 2000 for any other (here: no application).
TEST_F(ROVodozovTest, RemoteNotificationsAreReportedWithHowTheyArrived) {
  os::testing::SharedFakeReachability reachability;
  reachability->setDefaultFlags(os::kReachabilityFlagsReachable);
  os::testing::HttpTestServer reports;
  reports.route("POST", "/v2/report", os::testing::CannedResponse::text("", 200));
  os::testing::UdpTestPeer silentLookup;
  reportTo(reports, silentLookup);
  {
    // A device that registered in an earlier run: reports need its uid.
    os::NotificationCenter center;
    DUVUserDefaults::create("com.example.newsreader", "abc123", center)->setUid(5, "pw", "reg-5");
  }
  auto app = os::Application::create(nullptr);
  app->makeShared();
  ROVodozov::setupWithOption({{os::kApplicationLaunchOptionsRemoteNotificationKey,
                               os::Value(os::Dictionary{{"_j_msgid", os::Value(3)}})}});
  app->launch();
  ROVodozov::handleRemoteNotification({{"_j_msgid", os::Value(1)}});
  settle();
  app->resignActive();
  ROVodozov::handleRemoteNotification({{"_j_msgid", os::Value(2)}});
  settle();
  app->enterBackground();
  ROVodozov::handleRemoteNotification({{"_j_msgid", os::Value(4)}});
  settle();
  app.reset();
  ROVodozov::handleRemoteNotification({{"_j_msgid", os::Value(5)}});

  std::map<std::string, long long> results;
  ASSERT_TRUE(os::testing::runUntil([&] {
    for (const auto& request : reports.requests()) {
      // The test server may have taken the gzip encoding off already.
      os::Data bytes = os::dataFromString(request.body);
      auto json = ZRFJSONObject(os::inflateData(bytes, 1 << 20).value_or(bytes));
      const os::Array* content = json ? (*json)["content"].array() : nullptr;
      if (!content) continue;
      for (const auto& record : *content)
        if (record["type"] == os::Value("msg_status")) results[record["msg_id"].stringOr()] = record["result"].intValue();
    }
    return results.size() == 5;
  }));
  EXPECT_EQ(results, (std::map<std::string, long long>{{"3", 2003}, {"1", 2001}, {"2", 2002}, {"4", 2004}, {"5", 2000}}));
}

// The application left for good (the program's end) while the report service refuses for now: the
// client thread's saving is waited for, so the status waiting is in the file when the leaving is
// over, however busy that thread was when it began.
TEST_F(ROVodozovTest, LeavingTheApplicationWaitsForTheClientToSaveWhatWaits) {
  os::testing::SharedFakeReachability reachability;
  reachability->setDefaultFlags(os::kReachabilityFlagsReachable);
  os::testing::HttpTestServer reports;
  reports.route("POST", "/v2/report", os::testing::CannedResponse::text("", 500));
  os::testing::UdpTestPeer silentLookup;
  reportTo(reports, silentLookup);
  {
    os::NotificationCenter center;
    DUVUserDefaults::create("com.example.newsreader", "abc123", center)->setUid(5, "pw", "reg-5");
  }
  auto app = os::Application::create(nullptr);
  app->makeShared();
  ROVodozov::setupWithOption({});
  app->launch();
  ROVodozov::handleRemoteNotification({{"_j_msgid", os::Value(77)}});
  auto service = ROVodozov::sharedService();
  auto statusWaits = [&] {
    std::size_t waiting = 0;
    service->clientThread()->perform(
        [&] {
          auto& cache = *service->client()->reportSession()->reportCache();
          for (const auto& [key, record] : cache.pending())
            if (record["msg_id"] == os::Value("77")) ++waiting;
        },
        true);
    return waiting == 1;
  };
  ASSERT_TRUE(os::testing::runUntil(statusWaits));

  // The client thread is busy when the application goes; it is free again once the application
  // is in the background, and its saving comes after that.
  std::promise<void> busy;
  service->perform([free = busy.get_future().share()](DUVClient&) { free.wait(); });
  auto token = os::NotificationCenter::defaultCenter().addObserver(
      os::kApplicationDidEnterBackgroundNotification, nullptr, [&](const os::Notification&) { busy.set_value(); });
  EXPECT_TRUE(app->leave(60));
  os::NotificationCenter::defaultCenter().removeObserver(token);

  auto file = DUVFileCache::startCacheFile("ZURAR");
  auto saved = DUVReportCache::fromArchivedValue(file->objectForKey("__DUVHistroyCache"));
  std::size_t found = 0;
  for (const auto& [key, record] : saved->pending())
    if (record["msg_id"] == os::Value("77")) ++found;
  for (const auto& [key, record] : saved->sendingPackageCache())
    if (record["msg_id"] == os::Value("77")) ++found;
  EXPECT_EQ(found, 1u);
}

// The program records no calls. A long run of notifications, each decoded from a line of its own as
// the platform's channel hands them, leaves nothing of them held once the client has taken them:
// kept, each would hold a block of its decode's storage, 30,000 of them over 240 MB.
TEST(ROVodozovFlood, NotificationsLeaveNothingHeldOnceTheClientHasThem) {
  os::TestSandbox sandbox;
  auto previous = os::setLogSink([](std::string_view) {});
  auto residentKB = [] {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
    return 0L;
  };
  auto service = ROVodozov::sharedService();
  JSONDecoder decoder;
  const long before = residentKB();
  constexpr int kNotifications = 30000;
  for (int i = 1; i <= kNotifications; ++i) {
    std::string line = "{\"aps\":{\"badge\":1},\"_j_msgid\":" + std::to_string(i) + "}";
    auto payload = decoder.objectWithUTF8String(line.data(), line.size());
    ASSERT_TRUE(payload && payload->dictionary());
    ROVodozov::handleRemoteNotification(*payload->dictionary());
  }
  service->clientThread()->perform([] {}, true);
  EXPECT_EQ(ServiceCallLog::size(), 0u);
  // Room for what the address sanitizer keeps of freed memory (256 MB at most, about 70 MB here).
  const long grown = residentKB() - before;
  EXPECT_LT(grown, 160 * 1024) << "grew by " << grown << " KB";
  service.reset();
  ROVodozov::tearDownSharedService();
  os::setLogSink(previous);
}

}  // namespace
