// The push client against the local push service: the whole road, reconnects and the queues.
#include <algorithm>
#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

#include "os/net/HostLookup.h"
#include "os/net/NetworkReachability.h"
#include "os/net/Socket.h"
#include "os/net/URLReceiveWindow.h"
#include "os/runtime/Clock.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/store/PropertyList.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/TestSandbox.h"
#include "os/testing/Waits.h"
#include "push/model/DUVClient.h"
#include "push/model/DUVMessageCenter.h"
#include "push/model/DUVTagAlias.h"
#include "push/model/DUVNotifications.h"
#include "push/network/DUVHttpSession.h"
#include "push/network/DUVSession.h"
#include "push/protocol/tcp/DUVAck.h"
#include "push/protocol/tcp/DUVDeviceTokenReport.h"
#include "push/protocol/tcp/DUVLogin.h"
#include "push/protocol/tcp/DUVMessageDispatch.h"
#include "push/utilities/DUVUserDefaults.h"
#include "tools/pushd/server/PushServer.h"

namespace {

using os::testing::runUntil;

class PushRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_->setDefaultFlags(os::kReachabilityFlagsReachable);
    for (const char* name : {kDUVNetworkDidSetupNotification, kDUVNetworkDidCloseNotification,
                             kDUVNetworkDidRegisterNotification, kDUVNetworkDidLoginNotification,
                             kDUVNetworkDidReceiveMessageNotification})
      tokens_.push_back(os::NotificationCenter::defaultCenter().addObserver(
          name, nullptr, [this](const os::Notification& n) { posted_.push_back(n); }));
  }
  void TearDown() override {
    if (client_) client_->close();
    client_.reset();
    // The client posts its notifications to the main queue: those still queued reach this test's
    // observers now, not the next test's.
    os::RunLoop::current()->runUntilIdle();
    for (auto token : tokens_) os::NotificationCenter::defaultCenter().removeObserver(token);
    os::HostLookup::removeOverride(kUnresolvedCoreHost);
  }
  static constexpr const char* kUnresolvedCoreHost = "core.pushd.test";
  // A client on this thread, pointed at the service (its core default at a closed port; its report
  // and user hosts too, unless given).
  void startClient(std::uint16_t reportPort = 0, const std::string& coreHost = "127.0.0.1") {
    const std::string reportHost = "127.0.0.1:" + std::to_string(reportPort ? reportPort : closedPort_);
    std::string config = sandbox_.root() + "/PushConfig.plist";
    os::PropertyList::writeFile(os::Value(os::Dictionary{
                                    {"APP_KEY", os::Value("abc123")},
                                    {"SIS_HOSTS", os::Value(os::Array{os::Value("127.0.0.1")})},
                                    {"SIS_PORT", os::Value(server_->lookupPort())},
                                    {"SIS_BACKUP_PORT", os::Value(server_->lookupPort())},
                                    {"CORE_DEFAULT_ADDRESS", os::Value("127.0.0.1:" + std::to_string(closedPort_))},
                                    {"CORE_HOST", os::Value(coreHost)},
                                    {"CORE_PORT", os::Value(closedPort_)},
                                    {"REPORT_HOST", os::Value(reportHost)},
                                    {"USER_HOST", os::Value(reportHost)},
                                }),
                                config, os::PropertyListFormat::XML);
    client_ = std::make_shared<DUVClient>();
    client_->setBundleIdentifier("com.example.newsreader");
    client_->setBundleVersion(27);
    client_->setPushConfigUrl(config);
    client_->setup();
  }
  DUVSession& session() { return *client_->clientSession(); }
  int count(const std::string& name) const {
    return static_cast<int>(std::count_if(posted_.begin(), posted_.end(), [&](const auto& n) { return n.name == name; }));
  }
  int events(const std::string& prefix) const {
    int n = 0;
    for (const auto& event : server_->events()) n += event.rfind(prefix, 0) == 0;
    return n;
  }
  void loggedIn() {
    ASSERT_TRUE(runUntil([&] { return session().isLogin(); }));
  }
  // Held unlistened for the process's life: a port let go could be given to another program's
  // listener or connection meanwhile.
  static std::uint16_t closedPort() { return static_cast<std::uint16_t>(os::testing::HttpTestServer::refusedPort()); }
  // The server anew with its primary addresses on ports no other program is given while the
  // primary is down.
  void restartWithQuietPrimary() {
    auto options = pushd::ServerOptions::onFreePorts();
    options.corePort = static_cast<std::uint16_t>(os::testing::HttpTestServer::portOutsideTheGivenRange());
    options.reportPort = static_cast<std::uint16_t>(os::testing::HttpTestServer::portOutsideTheGivenRange({options.corePort}));
    server_.reset();
    server_ = pushd::PushServer::start(options);
    ASSERT_TRUE(server_);
  }

  os::VirtualClockScope clock_;
  os::TestSandbox sandbox_;
  os::testing::SharedFakeReachability fake_;
  std::unique_ptr<pushd::PushServer> server_ = pushd::PushServer::start(pushd::ServerOptions::onFreePorts());
  std::uint16_t closedPort_ = closedPort();
  std::shared_ptr<DUVClient> client_;
  std::vector<os::Notification> posted_;
  std::vector<os::NotificationCenter::ObserverToken> tokens_;
};

TEST_F(PushRoadTest, RegistersLogsInTakesAMessageAndComesBackAfterAClose) {
  startClient();
  // Without a device token the session waits: registration needs one.
  ASSERT_TRUE(runUntil([&] { return session().pendingSetupDelay() == 2; }));
  EXPECT_EQ(events("register"), 0);
  client_->updateDeviceToken({0xbe, 0xef});
  loggedIn();
  ASSERT_TRUE(runUntil([&] { return count(kDUVNetworkDidLoginNotification) == 1 && events("token") == 1; }));
  const auto& registered = *std::find_if(posted_.begin(), posted_.end(), [](const auto& n) {
    return n.name == kDUVNetworkDidRegisterNotification;
  });
  EXPECT_EQ(registered.userInfo["RegistrationID"], os::Value(*client_->userDefaults()->registrationID()));
  std::string uid = std::to_string(client_->userDefaults()->uid());
  EXPECT_TRUE(server_->hasEvent("token " + uid + " beef"));
  ASSERT_TRUE(runUntil([&] { return client_->userDefaults()->uploadedDeviceToken() == "beef"; }));

  auto id = *server_->pushMessage(R"({"title":"要闻","message":"头条","extras":{"id":"42"}})");
  server_->pushMessage(R"({"title":"要闻","message":"头条"})", id);  // the same message again
  ASSERT_TRUE(runUntil([&] { return events("receipt") == 2; }));
  os::RunLoop::current()->runUntilIdle();
  ASSERT_EQ(count(kDUVNetworkDidReceiveMessageNotification), 1);
  auto message = *std::find_if(posted_.begin(), posted_.end(), [](const auto& n) {
    return n.name == kDUVNetworkDidReceiveMessageNotification;
  });
  EXPECT_EQ(message.userInfo["content"], os::Value("头条"));
  EXPECT_EQ(message.userInfo["extras"]["id"], os::Value("42"));
  EXPECT_TRUE(server_->hasEvent("receipt " + uid + " " + std::to_string(id)));

  // Heartbeats every 290 s of the clock, answered with acks.
  os::Clock::advance(290);
  ASSERT_TRUE(runUntil([&] { return events("heartbeat") == 1 && session().sendingQueue().empty(); }));

  int closes = count(kDUVNetworkDidCloseNotification);  // one already: the wait for the token
  server_->closeConnections();
  ASSERT_TRUE(runUntil([&] { return count(kDUVNetworkDidCloseNotification) == closes + 1; }));
  EXPECT_EQ(session().pendingSetupDelay(), 2);
  os::Clock::advance(2);
  loggedIn();
  EXPECT_EQ(events("lookup"), 3);
  EXPECT_EQ(events("register"), 1);
  EXPECT_EQ(events("login " + uid), 2);
}

TEST_F(PushRoadTest, BacksOffAndNeverPilesUpAttempts) {
  startClient();
  client_->updateDeviceToken({0x01});
  loggedIn();
  // From now on the lookup goes unanswered and the fallback core port refuses.
  server_->setSilent(true);
  server_->closeConnections();
  std::vector<double> delays;
  for (int attempt = 0; attempt < 5; ++attempt) {
    ASSERT_TRUE(runUntil([&] { return session().pendingSetupDelay() > 0; }));
    delays.push_back(session().pendingSetupDelay());
    os::Clock::advance(delays.back());
    ASSERT_TRUE(runUntil([&] { return session().addressController()->isLookingUp(); }));
    os::Clock::advance(8);
    os::RunLoop::current()->runUntilIdle();
    os::Clock::advance(4);
  }
  ASSERT_TRUE(runUntil([&] { return session().pendingSetupDelay() > 0; }));
  EXPECT_EQ(delays, (std::vector<double>{2, 5, 20, 300, 300}));

  // Without a network every attempt waits 500 s, and the place in the sequence is kept.
  fake_->setDefaultFlags(0u);
  os::Clock::advance(300);
  ASSERT_TRUE(runUntil([&] { return session().pendingSetupDelay() == 500; }));
  os::Clock::advance(500);
  ASSERT_TRUE(runUntil([&] { return session().pendingSetupDelay() == 500; }));

  // The network flaps: one attempt at a time, never a second connection.
  server_->setSilent(false);
  for (int i = 0; i < 10; ++i) fake_->setDefaultFlags(i % 2 ? 0u : std::uint32_t{os::kReachabilityFlagsReachable});
  fake_->setDefaultFlags(os::kReachabilityFlagsReachable);
  loggedIn();
  os::RunLoop::current()->runUntilIdle();
  EXPECT_EQ(server_->connectionCount(), 1u);
  // A login restarts the sequence.
  server_->closeConnections();
  ASSERT_TRUE(runUntil([&] { return session().pendingSetupDelay() == 2; }));
}

TEST_F(PushRoadTest, AThousandMessagesHalfRepeatedReachTheApplicationOnceEach) {
  startClient();
  client_->updateDeviceToken({0x05});
  loggedIn();
  for (std::uint32_t i = 0; i < 1000; ++i) server_->pushMessage(R"({"message":"m"})", 100 + i / 2);
  ASSERT_TRUE(runUntil([&] { return count(kDUVNetworkDidReceiveMessageNotification) == 500; }));
  // Receipts of a burst wait in the blocked queue, which keeps the newest 21.
  ASSERT_TRUE(runUntil([&] { return session().blockedQueue().empty(); }));
  os::RunLoop::current()->runUntilIdle();
  EXPECT_EQ(count(kDUVNetworkDidReceiveMessageNotification), 500);
  EXPECT_EQ(client_->messageCenter()->receivedMsgIdsArray().size(), 21u);
  EXPECT_TRUE(session().sendingQueue().empty());
  EXPECT_TRUE(session().blockedQueue().empty());
}

// The client on a thread of its own, as the program runs it, and an application whose main
// thread (this one) is busy while messages are pushed.
class PushBusyRoadTest : public PushRoadTest {
 protected:
  void SetUp() override {
    PushRoadTest::SetUp();
    thread_->start();
    thread_->perform([&] {
      startClient();
      client_->updateDeviceToken({0x0b});
    }, true);
    messages_ = os::NotificationCenter::defaultCenter().addObserver(
        kDUVNetworkDidReceiveMessageNotification, nullptr,
        [this](const os::Notification& n) { order_.push_back(n.userInfo["extras"]["n"].stringOr()); });
  }
  void TearDown() override {
    os::URLReceiveWindow::setObserver(nullptr);
    thread_->perform([this] {
      if (client_) client_->close();
      client_.reset();
    }, true);
    thread_->cancel();
    thread_->join();
    os::NotificationCenter::defaultCenter().removeObserver(messages_);
    PushRoadTest::TearDown();
  }
  // Runs `work` on the client thread after the timers an advance made due have fired (they fire
  // in the pass after the one that takes the first task).
  void onClient(const std::function<void()>& work) {
    thread_->perform([] {}, true);
    thread_->perform(work, true);
  }
  bool settled() {
    bool idle = false;
    onClient([&] {
      idle = session().isLogin() && session().sendingQueue().empty() && session().blockedQueue().empty();
    });
    return idle;
  }
  // Pushes `count` messages of 4 KB, numbered in their extras, while this thread runs nothing;
  // back once the client has stopped reading for the application.
  bool pushWhileBusy(int count) {
    const std::uint64_t waitsBefore = os::URLReceiveWindow::counts().waits;
    os::URLReceiveWindow::setObserver([this, waitsBefore](const os::URLReceiveWindow::Counts& counts) {
      if (counts.waits == waitsBefore) return;
      std::lock_guard lock(mutex_);
      paused_ = true;
      woken_.notify_all();
    });
    const std::string text(4000, 'm');
    for (int n = 0; n < count; ++n)
      if (!server_->pushMessage(R"({"message":")" + text + R"(","extras":{"n":")" + std::to_string(n) + R"("}})"))
        return false;
    std::unique_lock lock(mutex_);
    return woken_.wait_for(lock, std::chrono::seconds(60), [&] { return paused_; });
  }
  // Every message pushed reached the application once, in order.
  void expectEachOnceInOrder(std::size_t count) {
    std::size_t inPlace = 0;
    while (inPlace < order_.size() && order_[inPlace] == std::to_string(inPlace)) ++inPlace;
    EXPECT_EQ(inPlace, count) << "of " << order_.size() << " delivered";
    EXPECT_EQ(order_.size(), count);
  }

  std::shared_ptr<os::Thread> thread_ = os::Thread::create("push client");
  os::NotificationCenter::ObserverToken messages_;
  std::vector<std::string> order_;
  std::mutex mutex_;
  std::condition_variable woken_;
  bool paused_ = false;
};

// Heartbeats fall due while the messages wait in the connection; their answers wait behind them.
TEST_F(PushBusyRoadTest, ABusyApplicationMissesNoMessageWhileHeartbeatsFallDue) {
  ASSERT_TRUE(runUntil([&] { return events("token") == 1 && settled(); }));
  constexpr int kMessages = 1500;
  ASSERT_TRUE(pushWhileBusy(kMessages));
  for (int beat = 0; beat < 2; ++beat) {
    os::Clock::advance(290);
    std::size_t waiting = 0;
    onClient([&] { waiting = session().sendingQueue().size(); });
    EXPECT_EQ(waiting, 1u);  // the heartbeat, its answer behind the unread messages
    os::Clock::advance(10);
    bool loggedIn = false;
    onClient([&] { loggedIn = session().isLogin(); });
    ASSERT_TRUE(loggedIn);
  }
  // The main thread runs again.
  EXPECT_TRUE(runUntil([&] { return order_.size() >= kMessages; }, 60));
  EXPECT_TRUE(runUntil([&] { return settled(); }));  // the heartbeats' answers came after the messages
  os::RunLoop::current()->runUntilIdle();
  expectEachOnceInOrder(kMessages);
  EXPECT_EQ(events("closed"), 0);
}

// The connection ends while the application is busy: what the client had read reaches the
// application once, and what it had not comes on the next connection, after it, once.
TEST_F(PushBusyRoadTest, AConnectionLostWhileTheApplicationIsBusyLosesAndRepeatsNothing) {
  ASSERT_TRUE(runUntil([&] { return events("token") == 1 && settled(); }));
  constexpr int kMessages = 1500;
  ASSERT_TRUE(pushWhileBusy(kMessages));
  server_->closeConnections();
  // The main thread runs again; the client reads what the connection still held and connects anew.
  double delay = 0;
  ASSERT_TRUE(runUntil([&] {
    onClient([&] { delay = session().pendingSetupDelay(); });
    return delay > 0;
  }, 60));
  os::Clock::advance(delay);
  EXPECT_TRUE(runUntil([&] { return order_.size() >= kMessages && settled(); }, 60));
  os::RunLoop::current()->runUntilIdle();
  expectEachOnceInOrder(kMessages);
  EXPECT_EQ(events("resent"), 1);
}

TEST_F(PushRoadTest, UsageSessionsAndChangedOnlyDeviceRecords) {
  startClient();
  client_->updateDeviceToken({0x06});
  loggedIn();
  auto types = [&] {
    std::map<std::string, int> seen;
    for (const auto& record : server_->reportService().records()) ++seen[record["type"].stringOr()];
    return seen;
  };
  // A crash found at start (as the crash capture leaves it) waits for the daily crash check.
  os::Dictionary crash{{"message", os::Value("Signal 11 was raised.")}, {"count", os::Value(2)}};
  client_->reportSession()->logSet().push_back(os::Value(os::Array{os::Value(crash), os::Value("0x1\n")}));
  client_->reportLaunch(os::Clock::now());
  // The first activation: a launch, and the device and location records at once.
  ASSERT_TRUE(runUntil([&] {
    auto seen = types();
    return seen["active_launch"] == 1 && seen["device_info"] == 1 && seen["loc_info"] == 1;
  }));
  EXPECT_EQ(types()["crash_log"], 0);
  EXPECT_EQ(client_->reportSession()->logSet().size(), 1u);
  ASSERT_TRUE(runUntil([&] { return client_->reportSession()->reportCache()->sendingPackageCache().empty(); }));
  os::Clock::advance(86400);
  ASSERT_TRUE(runUntil([&] { return types()["crash_log"] == 1; }));
  EXPECT_TRUE(client_->reportSession()->logSet().empty());
  ASSERT_TRUE(runUntil([&] { return client_->reportSession()->reportCache()->sendingPackageCache().empty(); }));

  auto after = [&](double seconds) {
    os::Clock::advance(seconds);
    return os::Clock::now();
  };
  client_->reportInactive(after(10));
  client_->reportLaunch(after(20));  // back within 30 s: the same usage session
  os::RunLoop::current()->runUntilIdle();
  EXPECT_EQ(types()["active_launch"], 1);
  EXPECT_EQ(types()["active_terminate"], 0);
  client_->reportInactive(after(10));
  client_->reportLaunch(after(31));  // 31 s later: a new one
  ASSERT_TRUE(runUntil([&] { return types()["active_launch"] == 2 && types()["active_terminate"] == 1; }));

  // The device record went through once; unchanged, it is not sent again.
  client_->reportSession()->reportDeviceInfo();
  client_->handleRemoteNotification(2001, {{"_j_msgid", os::Value(1234567890123LL)}});
  ASSERT_TRUE(runUntil([&] { return types()["msg_status"] == 1; }));
  EXPECT_EQ(types()["device_info"], 1);
  auto records = server_->reportService().records();
  auto status = std::find_if(records.begin(), records.end(), [](const auto& r) { return r["type"] == os::Value("msg_status"); });
  EXPECT_EQ((*status)["msg_id"], os::Value("1234567890123"));  // the whole 64-bit id
  // Every packet as the tables make it: none refused, none out of order, none carrying a record twice.
  const auto& service = server_->reportService();
  EXPECT_EQ(service.answers(), std::vector<int>(service.answers().size(), 200));
  EXPECT_EQ(service.disorders(), 0u);
  EXPECT_EQ(service.duplicates(), 0u);
}

TEST_F(PushRoadTest, WithThePrimaryDownReportsAndBadgesTakeTheBackupAddress) {
  restartWithQuietPrimary();
  startClient(server_->reportPort());
  client_->updateDeviceToken({0x09});
  loggedIn();
  auto& service = server_->reportService();
  client_->handleRemoteNotification(2001, {{"_j_msgid", os::Value(11)}});
  ASSERT_TRUE(runUntil([&] { return service.records().size() >= 1; }));
  const std::size_t before = service.records().size();

  ASSERT_EQ(server_->control("primary down"), "ok");
  client_->handleRemoteNotification(2002, {{"_j_msgid", os::Value(12)}});
  ASSERT_TRUE(runUntil([&] {
    auto records = service.records();
    return std::any_of(records.begin(), records.end(), [](const auto& r) { return r["msg_id"] == os::Value("12"); });
  }));
  client_->setBadgeNumberReport(5);
  ASSERT_TRUE(runUntil([&] { return !service.badges().empty(); }));
  EXPECT_EQ(service.badges().back(), 5);
  EXPECT_GT(service.records().size(), before);
  EXPECT_EQ(service.answers(), std::vector<int>(service.answers().size(), 200));
}

TEST_F(PushRoadTest, WithThePrimaryDownTheSessionTakesTheBackupCoreAddress) {
  // The built-in core host does not resolve: without a lookup the stored backup core address is
  // what remains.
  os::HostLookup::setOverride(kUnresolvedCoreHost, std::nullopt);
  restartWithQuietPrimary();
  startClient(0, kUnresolvedCoreHost);
  client_->updateDeviceToken({0x0a});
  loggedIn();
  const std::string uid = std::to_string(client_->userDefaults()->uid());
  ASSERT_EQ(server_->control("primary down"), "ok");
  ASSERT_TRUE(runUntil([&] { return session().pendingSetupDelay() > 0; }));
  os::Clock::advance(session().pendingSetupDelay());
  ASSERT_TRUE(runUntil([&] { return session().addressController()->isLookingUp(); }));
  os::Clock::advance(8);
  os::RunLoop::current()->runUntilIdle();
  os::Clock::advance(4);
  ASSERT_TRUE(runUntil([&] { return session().isLogin() && events("login " + uid) == 2; }));
  EXPECT_EQ(events("refused lookup: the primary is down"), 2);  // port 19000's and port 80's
  EXPECT_EQ(server_->loggedInCount(), 1u);  // the primary takes no connection
}

TEST_F(PushRoadTest, TagsAndAliasAnswerOnceOnTheMainQueue) {
  startClient();
  client_->updateDeviceToken({0x07});
  loggedIn();
  std::vector<int> codes;
  auto remember = [&](int code, const std::optional<DUVTags>&, const std::optional<std::string>&) { codes.push_back(code); };
  client_->setTagAlias({0, std::nullopt, std::nullopt, remember, nullptr});
  client_->setTagAlias({0, DUVTags{"军事", "news"}, std::string("reader_1"), remember, nullptr});
  ASSERT_TRUE(runUntil([&] { return codes.size() == 2; }));
  EXPECT_EQ(codes, (std::vector<int>{kDUVTagAliasBothNil, 0}));
  EXPECT_TRUE(server_->hasEvent("tags"));
  EXPECT_EQ(events("tags"), 1);  // the invalid call sent nothing

  // No answer within 20 s: 6002 once, and the late answer changes nothing.
  server_->setSilent(true);
  client_->setTagAlias({0, DUVTags{"late"}, std::nullopt, remember, nullptr});
  os::RunLoop::current()->runUntilIdle();
  os::Clock::advance(20);
  ASSERT_TRUE(runUntil([&] { return codes.size() == 3; }));
  EXPECT_EQ(codes.back(), kDUVTagAliasTimeout);
  EXPECT_EQ(client_->tagAliasMng()->pendingCount(), 0u);
}

TEST_F(PushRoadTest, BadgeValuesReachTheUserServiceAndWaitOutItsFailures) {
  startClient();
  client_->updateDeviceToken({0x08});
  loggedIn();
  auto& users = server_->reportService();
  client_->setBadgeNumberReport(-3);
  client_->setBadgeNumberReport(-3);  // the same value under way: sent once
  ASSERT_TRUE(runUntil([&] { return users.badges().size() == 1; }));
  EXPECT_EQ(users.badges()[0], 0);  // negative values go as 0
  auto manager = client_->reportSession()->badgeNumberManager();
  ASSERT_TRUE(runUntil([&] { return !manager->badgeValue(); }));

  users.setUserStatus(404);
  client_->setBadgeNumberReport(7);
  // The refusal itself is waited for: the lock alone may read open before the value is under way.
  auto refused = [&] {
    auto answers = users.answers();
    return std::find(answers.begin(), answers.end(), 404) != answers.end();
  };
  ASSERT_TRUE(runUntil([&] { return refused() && !manager->isSendingLock(); }));
  EXPECT_EQ(manager->badgeValue(), 7);  // kept for a later try
  users.setUserStatus(200);
  client_->reportInactive(os::Clock::now());
  client_->reportLaunch(os::Clock::now());  // the kept value goes again on activation
  ASSERT_TRUE(runUntil([&] { return users.badges().size() == 2; }));
  EXPECT_EQ(users.badges()[1], 7);
}

TEST_F(PushRoadTest, QueuesAndAcknowledgements) {
  startClient();
  ASSERT_TRUE(runUntil([&] { return session().pendingSetupDelay() > 0; }));
  // Not logged in: the token report waits, an exclusive one replaces it, receipts pile up to 21.
  session().sendRequest(std::make_shared<DUVDeviceTokenReportRequest>(1));
  session().sendRequest(std::make_shared<DUVDeviceTokenReportRequest>(2));
  ASSERT_EQ(session().blockedQueue().size(), 1u);
  EXPECT_EQ(session().blockedQueue().front()->rid(), 2);
  os::Data frame{0, 21, 1, 3, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  auto message = std::dynamic_pointer_cast<DUVMessageDispatch>(DUVReceivedPacket::packetWithBuffer(frame.data(), 21));
  ASSERT_TRUE(message);
  for (int i = 0; i < 25; ++i) session().sendRequest(std::make_shared<DUVMessageReceipt>(*message, 1));
  EXPECT_EQ(session().blockedQueue().size(), 21u);
  EXPECT_NE(session().blockedQueue().front()->rid(), 2);  // the oldest went first

  client_->updateDeviceToken({0x02});
  loggedIn();
  // 21 waited: 20 receipts and the new token report, which pushed the oldest receipt out.
  ASSERT_TRUE(runUntil([&] { return session().blockedQueue().empty() && events("token") == 1; }));
  EXPECT_EQ(events("receipt"), 20);
  int closes = count(kDUVNetworkDidCloseNotification);
  server_->setSilent(true);
  std::vector<std::uint16_t> rids;
  for (int i = 0; i < 4; ++i) {
    auto heartbeat = std::make_shared<DUVHeartbeatRequest>(session().getRId());
    rids.push_back(heartbeat->rid());
    session().sendRequest(heartbeat);
  }
  ASSERT_EQ(session().sendingQueue().size(), 4u);
  auto ack = [](std::uint16_t rid) {
    os::Data bytes{0, 17, 1, 19, static_cast<std::uint8_t>(rid >> 8), static_cast<std::uint8_t>(rid), 2, 0, 0,
                   0, 0, 0, 0, 0, 0, 0, 0};
    return DUVReceivedPacket::packetWithBuffer(bytes.data(), bytes.size());
  };
  session().onAckOrRespReceived(*ack(0xFFFF));  // no such request: nothing changes
  EXPECT_EQ(session().sendingQueue().size(), 4u);
  session().onAckOrRespReceived(*ack(rids[2]));
  ASSERT_EQ(session().sendingQueue().size(), 1u);
  EXPECT_EQ(session().sendingQueue().front()->rid(), rids[3]);
  // The last one is never answered: ten seconds later the session closes.
  os::Clock::advance(10);
  ASSERT_TRUE(runUntil([&] { return count(kDUVNetworkDidCloseNotification) == closes + 1; }));
}

TEST_F(PushRoadTest, ARefusedLoginRegistersAnew) {
  startClient();
  client_->updateDeviceToken({0x03});
  loggedIn();
  std::uint32_t first = client_->userDefaults()->uid();
  client_->userDefaults()->setUid(first, "wrong password", client_->userDefaults()->registrationID());
  server_->closeConnections();
  ASSERT_TRUE(runUntil([&] { return session().pendingSetupDelay() == 2; }));
  os::Clock::advance(2);
  ASSERT_TRUE(runUntil([&] { return client_->userDefaults()->uid() == 0 && session().pendingSetupDelay() == 5; }));
  EXPECT_EQ(events("login refused"), 1);
  os::Clock::advance(5);
  loggedIn();
  EXPECT_NE(client_->userDefaults()->uid(), first);
  EXPECT_EQ(events("register"), 2);
}

// Registers another device as a bare peer would, with the frame of the command table; the uid
// given, 0 without one.
std::uint32_t registerAnotherDevice(std::uint16_t corePort) {
  os::Data frame{0, 0, 8, 0, 0, 1, 0, 0, 0, 0};
  for (const std::string field :
       {"udid$$ $$com.example.newsreader$$abc123", "27", "6.1.4$$iPhone5,2$$ $$ $$11$$1.8.1", " "}) {
    frame.push_back(static_cast<std::uint8_t>(field.size() >> 8));
    frame.push_back(static_cast<std::uint8_t>(field.size()));
    frame.insert(frame.end(), field.begin(), field.end());
  }
  frame.insert(frame.end(), {0, 0, 1});
  frame[1] = static_cast<std::uint8_t>(frame.size());
  auto socket = os::TcpSocket::create();
  bool connected = false;
  os::Data in;
  socket->schedule(os::RunLoop::current(), {[&](int error) { connected = error == 0; },
                                            [&] {
                                              std::uint8_t buffer[1024];
                                              long n;
                                              while ((n = socket->receive(buffer, sizeof buffer)) > 0)
                                                in.insert(in.end(), buffer, buffer + n);
                                            },
                                            nullptr});
  socket->connect(*os::makeIPv4Address("127.0.0.1", corePort));
  if (!runUntil([&] { return connected; })) return 0;
  socket->send(frame.data(), frame.size());
  const bool answered = runUntil([&] { return in.size() >= 12; });
  socket->close();
  if (!answered || in[6] != 0 || in[7] != 0) return 0;
  return static_cast<std::uint32_t>((in[8] << 24) | (in[9] << 16) | (in[10] << 8) | in[11]);
}

// A device whose identity the service let go (past its bound, by other devices' registrations)
// is refused at its next login, and registers anew and logs in.
TEST_F(PushRoadTest, AnIdentityLetGoIsRefusedAndTheDeviceRegistersAnew) {
  auto options = pushd::ServerOptions::onFreePorts();
  options.identityLimit = 1;
  server_ = pushd::PushServer::start(options);
  ASSERT_TRUE(server_);
  startClient();
  client_->updateDeviceToken({0x05});
  loggedIn();
  const std::uint32_t first = client_->userDefaults()->uid();
  ASSERT_NE(registerAnotherDevice(server_->corePort()), 0u);
  EXPECT_TRUE(server_->hasEvent("identity let go " + std::to_string(first)));
  server_->closeConnections();
  ASSERT_TRUE(runUntil([&] { return session().pendingSetupDelay() == 2; }));
  os::Clock::advance(2);
  ASSERT_TRUE(runUntil([&] { return client_->userDefaults()->uid() == 0 && session().pendingSetupDelay() == 5; }));
  EXPECT_EQ(events("login refused " + std::to_string(first)), 1);
  os::Clock::advance(5);
  loggedIn();
  EXPECT_NE(client_->userDefaults()->uid(), first);
  EXPECT_NE(client_->userDefaults()->uid(), 0u);
}

TEST_F(PushRoadTest, AGarbageFrameClosesTheConnection) {
  startClient();
  client_->updateDeviceToken({0x04});
  loggedIn();
  server_->sendGarbage();
  ASSERT_TRUE(runUntil([&] { return count(kDUVNetworkDidCloseNotification) == 1; }));
  EXPECT_EQ(server_->control("push-id 7 {\"message\":\"m\"}"), "ok 7");
  EXPECT_EQ(server_->control("bogus").rfind("error", 0), 0u);
}

}  // namespace
