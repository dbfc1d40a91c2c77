// Start-up and life cycle: the order in which the service clients are started, the window and
// controller tree, the push switch, activation on return to the foreground and what the delegate
// hands to the push and sharing clients.
#include "app/VXAppDelegate.h"

#include <gtest/gtest.h>

#include "analytics/OBANSession.h"
#include "analytics/OBAnalytics.h"
#include "app/RemoteNotificationLink.h"
#include "foundation/ServiceCallLog.h"
#include "news/settings/VXSettingViewController.h"
#include "news/store/VXGlobalDefine.h"
#include "news/api/VXServiceKeys.h"
#include "news/article/VXNewsDetailViewController.h"
#include "news/home/VXLeftSideViewController.h"
#include "news/home/VXSplashView.h"
#include "news/shell/VXCustomNavController.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/console/TouchDriver.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/ScreenHelpers.h"
#include "os/views/AlertView.h"
#include "os/views/Window.h"
#include "push/ROVodozov.h"
#include "tools/pushd/server/PushServer.h"

namespace {

using newstest::LocalNewsServer;
using newstest::runUntil;

const os::Dictionary kHeadline{{"aps", os::Dictionary{{"alert", "新型驱逐舰完成远海训练"}}},
                               {"id", 3001},
                               {"category", 1},
                               {"type", ""}};

class Startup : public newstest::LaunchFixture {
 protected:
  void SetUp() override {
    LaunchFixture::SetUp();
    env_.sandbox().writeBundlePropertyList("config.plist", os::Dictionary{{"OMBRA_CHANNEL", "App Store"}});
    ServiceCallLog::reset();
  }
  void TearDown() override {
    if (delegate_ && delegate_->splash() && !delegate_->splash()->ended()) {
      os::TouchDriver::advance(VXSplashView::kAnimationDuration + 1);
      runUntil([&] { return delegate_->splash()->ended(); });
    }
    // Jumps the home screen scheduled come due before anything is taken down.
    os::TouchDriver::advance(2);
    os::testing::dismissVisibleAlerts(0);
    if (delegate_ && delegate_->window()) delegate_->window()->setHidden(true);
    app_.reset();
    delegate_.reset();
    LaunchFixture::TearDown();
  }
  void launch(const os::Dictionary& options = {}) {
    delegate_ = std::make_shared<VXAppDelegate>(VXReaderContext::current());
    app_ = os::Application::create(delegate_, "com.example.newsreader");
    app_->makeShared();
    app_->setApplicationIconBadgeNumber(4);
    ASSERT_TRUE(app_->launch(options));
  }
  // Until the splash has ended (its categories, then its animation).
  void finishSplash() {
    ASSERT_TRUE(runUntil([&] { return delegate_->splash()->count() == 1; }));
    os::TouchDriver::advance(VXSplashView::kAnimationDuration);
    ASSERT_TRUE(delegate_->splash()->ended());
  }

  std::shared_ptr<VXAppDelegate> delegate_;
  std::shared_ptr<os::Application> app_;
};

TEST_F(Startup, LaunchStartsTheServicesInOrderAndBuildsTheWindowUnderTheSplash) {
  LocalNewsServer server(11);
  os::Dictionary options{{os::kApplicationLaunchOptionsRemoteNotificationKey, kHeadline}};
  launch(options);

  EXPECT_EQ(ServiceCallLog::names(),
            (std::vector<std::string>{"ROVodozov.registerForRemoteNotificationTypes", "ROVodozov.setupWithOption",
                                      "OBAnalytics.startWithAppkey", "OBSocialData.setAppKey", "Brekka.startWithAPIKey",
                                      "OBSocialSnsService.applicationDidBecomeActive"}));
  auto registration = ServiceCallLog::last("ROVodozov", "registerForRemoteNotificationTypes");
  EXPECT_EQ(registration->arguments["types"].intValue(), 7);
  EXPECT_TRUE(registration->arguments["categories"].isNull());
  EXPECT_EQ(ServiceCallLog::last("ROVodozov", "setupWithOption")->arguments["launchOptions"], os::Value(options));
  auto analytics = ServiceCallLog::last("OBAnalytics", "startWithAppkey");
  EXPECT_EQ(analytics->arguments["appKey"], os::Value(OMBRA_KEY));
  EXPECT_EQ(analytics->arguments["reportPolicy"].intValue(), 1);
  EXPECT_EQ(analytics->arguments["channelId"], os::Value("App Store"));
  auto session = OBAnalytics::session();
  EXPECT_EQ(session->appKey(), OMBRA_KEY);
  EXPECT_EQ(session->reportPolicy(), 1);
  EXPECT_EQ(session->channelId(), "App Store");
  EXPECT_EQ(ServiceCallLog::last("OBSocialData", "setAppKey")->arguments["appKey"], os::Value(OMBRA_KEY));
  EXPECT_EQ(ServiceCallLog::last("Brekka", "startWithAPIKey")->arguments["apiKey"], os::Value(kBrekkaAPIKey));

  EXPECT_EQ(app_->applicationIconBadgeNumber(), 0);
  EXPECT_EQ(app_->statusBarStyle(), os::StatusBarStyle::BlackTranslucent);

  ASSERT_TRUE(delegate_->mainViewController());

  auto window = delegate_->window();
  ASSERT_TRUE(window);
  EXPECT_TRUE(window->isKeyWindow());
  auto side = NQSideViewController::share();
  EXPECT_EQ(window->rootViewController(), side);
  auto nav = std::dynamic_pointer_cast<VXCustomNavController>(side->rootViewController());
  ASSERT_TRUE(nav);
  ASSERT_TRUE(nav->topViewController());
  EXPECT_EQ(nav->topViewController()->className(), "VXViewController");
  EXPECT_TRUE(std::dynamic_pointer_cast<VXLeftSideViewController>(side->leftViewController()));
  EXPECT_EQ(window->subviews().back(), delegate_->splash());
  EXPECT_EQ(delegate_->splash()->frame(), window->bounds());

  finishSplash();
  EXPECT_EQ(delegate_->splash()->superview(), nullptr);
  EXPECT_TRUE(VXGlobalDefine::share()->splashEnd());
  EXPECT_EQ(server.asked(1000, "cp"), (std::vector<long long>{1}));
  // The launch notification came before the home screen existed: it opens nothing, then or later.
  os::TouchDriver::advance(2);
  EXPECT_EQ(nav->viewControllers().size(), 1u);
  EXPECT_TRUE(os::AlertView::visibleAlertViews().empty());
}

TEST_F(Startup, TheTrackingPingCarriesTheAppKeyAndTheDeviceIdentifiers) {
  LocalNewsServer server(11);
  os::testing::HttpTestServer tracker;
  const std::string path = std::string("/ping/") + OMBRA_KEY + "/";
  tracker.route("GET", path, os::testing::CannedResponse::text("ok"));
  VXAppDelegate::setTrackingHost(tracker.url(""));
  launch();
  ASSERT_TRUE(runUntil([&] { return tracker.requestCount() > 0; }));
  auto ping = tracker.requests().front();
  EXPECT_EQ(ping.path, path);
  auto value = [&](const char* key) {
    auto it = ping.queryParameters.find(key);
    return it == ping.queryParameters.end() ? std::string("(absent)") : it->second;
  };
  EXPECT_EQ(value("mac"), newstest::phoneProfile().macAddress);
  EXPECT_EQ(value("idfa"), newstest::phoneProfile().advertisingIdentifier);
  EXPECT_NE(value("devicename"), "(absent)");
  EXPECT_NE(value("idfv"), "(absent)");
  finishSplash();
  VXAppDelegate::setTrackingHost("");
}

TEST_F(Startup, PushMessagesTurnedOffLeaveThePushClientUnregisteredAndUnstarted) {
  LocalNewsServer server(11);
  defaults()->setObject(os::Value("1"), kPushMessageKey);
  launch();
  EXPECT_TRUE(ServiceCallLog::calls("ROVodozov").empty());
  EXPECT_EQ(ServiceCallLog::names().front(), "OBAnalytics.startWithAppkey");
  finishSplash();
}

TEST_F(Startup, ReturnToTheForegroundActivatesWithCp3AndClearsTheBadge) {
  newsd::ServiceOptions options;
  options.nctime = 90;
  LocalNewsServer server(11, options);
  launch();
  finishSplash();
  // The launch's own activation answers first; only the return's answer may set it again.
  ASSERT_TRUE(runUntil([&] { return VXGlobalDefine::share()->nctime() == 90; }));
  VXGlobalDefine::share()->setNctime(5);
  app_->enterBackground();
  app_->setApplicationIconBadgeNumber(3);
  app_->enterForeground();
  EXPECT_EQ(app_->applicationIconBadgeNumber(), 0);
  ASSERT_TRUE(runUntil([&] { return server.asked(1000, "cp").size() == 2; }));
  EXPECT_EQ(server.asked(1000, "cp"), (std::vector<long long>{1, 3}));
  ASSERT_TRUE(runUntil([&] { return VXGlobalDefine::share()->nctime() == 90; }));
}

TEST_F(Startup, TokenNotificationsAndURLsGoToTheirServices) {
  LocalNewsServer server(11);
  launch();
  finishSplash();
  ServiceCallLog::reset();

  app_->registerForRemoteNotificationTypes(7);
  ASSERT_TRUE(runUntil([] { return ServiceCallLog::last("ROVodozov", "registerDeviceToken").has_value(); }));

  bool handled = true;
  app_->deliverRemoteNotification(kHeadline, [&](os::BackgroundFetchResult r) {
    handled = r == os::BackgroundFetchResult::NoData;
  });
  os::RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(handled);
  auto push = ServiceCallLog::last("ROVodozov", "handleRemoteNotification");
  ASSERT_TRUE(push);
  EXPECT_EQ(push->arguments["userInfo"], os::Value(kHeadline));

  auto url = os::URL::parse("wx4e1a7c0b9d2f3a58://platformId=wechat");
  ASSERT_TRUE(url);
  EXPECT_FALSE(app_->deliverOpenURL(*url, "com.example.messenger", os::Value()));
  EXPECT_EQ(ServiceCallLog::last("OBSocialSnsService", "handleOpenURL")->arguments["url"],
            os::Value(url->absoluteString()));
}

TEST_F(Startup, AHeadlineWhileActiveIsOfferedOnceAndOnlyAWellFormedOne) {
  LocalNewsServer server(11);
  launch();
  finishSplash();
  // The home screen offers a headline received while active after this long.
  constexpr double kAlertDelay = 1.0;

  // Members of the wrong type count as absent: no alert, but the push client hears it.
  for (const os::Dictionary& bad :
       {os::Dictionary{{"aps", "新型驱逐舰"}, {"id", 3001}, {"category", 1}},
        os::Dictionary{{"aps", os::Dictionary{{"alert", os::Array{}}}}, {"id", 3001}, {"category", 1}},
        os::Dictionary{{"aps", os::Dictionary{{"alert", "新型驱逐舰"}}}, {"id", os::Array{}}, {"category", 1}},
        os::Dictionary{{"aps", os::Dictionary{{"alert", "新型驱逐舰"}}}, {"id", 3001}, {"category", os::Dictionary{}}},
        os::Dictionary{{"aps", os::Dictionary{{"alert", ""}}}, {"id", 3001}, {"category", 1}}}) {
    ServiceCallLog::reset();
    delegate_->didReceiveRemoteNotification(*app_, bad);
    EXPECT_EQ(ServiceCallLog::calls("ROVodozov", "handleRemoteNotification").size(), 1u);
  }
  os::TouchDriver::advance(kAlertDelay + 0.5);
  EXPECT_TRUE(os::AlertView::visibleAlertViews().empty());

  delegate_->didReceiveRemoteNotification(*app_, kHeadline);
  os::TouchDriver::advance(kAlertDelay + 0.1);
  auto alerts = os::AlertView::visibleAlertViews();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0]->title(), "要闻推送");
  EXPECT_EQ(alerts[0]->message(), "新型驱逐舰完成远海训练");

  // A second headline while the first is still pending is ignored.
  os::Dictionary second = kHeadline;
  second.set("id", 3002);
  second.set("aps", os::Dictionary{{"alert", "第二条"}});
  delegate_->didReceiveRemoteNotification(*app_, second);
  os::TouchDriver::advance(kAlertDelay + 0.1);
  EXPECT_EQ(os::AlertView::visibleAlertViews().size(), 1u);
}

// Notifications without a usable headline set no timer of their own, so a headline arriving just
// after them is offered by one alert, and the end of a full-screen state while that alert is up
// adds no second one.
TEST_F(Startup, AHeadlineAfterManyUnusableNotificationsIsOfferedByOneAlert) {
  LocalNewsServer server(11);
  launch();
  finishSplash();
  const os::Dictionary unusable{{"aps", os::Dictionary{{"alert", ""}}}, {"id", 3001}, {"category", 1}};
  for (int i = 0; i < 50; ++i) delegate_->didReceiveRemoteNotification(*app_, unusable);
  os::TouchDriver::advance(0.5);
  delegate_->didReceiveRemoteNotification(*app_, kHeadline);
  os::TouchDriver::advance(1.1);
  ASSERT_EQ(os::AlertView::visibleAlertViews().size(), 1u);

  auto state = VXGlobalDefine::share();
  state->setScreenStatus(1);
  state->setScreenStatus(0);  // posts "fScreenStatus"
  os::TouchDriver::advance(1.1);
  ASSERT_EQ(os::AlertView::visibleAlertViews().size(), 1u);

  // Once answered, the next headline is offered again.
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("忽略"));
  os::TouchDriver::advance(0.5);
  EXPECT_TRUE(os::AlertView::visibleAlertViews().empty());
  delegate_->didReceiveRemoteNotification(*app_, kHeadline);
  os::TouchDriver::advance(1.1);
  EXPECT_EQ(os::AlertView::visibleAlertViews().size(), 1u);
}

TEST_F(Startup, AHeadlineThePushServicePushesIsOfferedAndOpensAndThePushSwitchStopsAndRestoresIt) {
  LocalNewsServer server(11);
  auto pushd = pushd::PushServer::start(pushd::ServerOptions::onFreePorts());
  ASSERT_TRUE(pushd);
  // A push client made by an earlier case read another configuration: this one starts afresh.
  ROVodozov::tearDownSharedService();
  env_.sandbox().writeBundlePropertyList(
      "PushConfig.plist", os::Dictionary{{"APP_KEY", "abc123"},
                                         {"SIS_HOSTS", os::Array{"127.0.0.1"}},
                                         {"SIS_PORT", pushd->lookupPort()},
                                         {"SIS_BACKUP_PORT", pushd->lookupPort()}});
  launch();
  finishSplash();
  // The push client reports the device token over its session; the device links to the channel.
  ASSERT_TRUE(runUntil([&] { return pushd->hasEvent("token "); }));
  auto link = RemoteNotificationLink::connect(app_, pushd->controlPort());
  ASSERT_TRUE(link);
  ASSERT_TRUE(runUntil([&] { return pushd->hasEvent("device "); }));
  auto nav = std::dynamic_pointer_cast<VXCustomNavController>(NQSideViewController::share()->rootViewController());
  ASSERT_TRUE(nav);

  // A plain article the news server has, so the one opened is the one pushed.
  const newsd::Article* article = nullptr;
  for (const auto& a : server.service().content().articles())
    if (a.type.empty()) {
      article = &a;
      break;
    }
  ASSERT_TRUE(article);
  const std::string headline = R"({"aps":{"alert":"新型驱逐舰完成远海训练"},"id":)" + std::to_string(article->id) +
                               R"(,"category":)" + std::to_string(article->categoryId) + R"(,"type":""})";
  EXPECT_EQ(pushd->notify(headline), 1u);
  ASSERT_TRUE(runUntil([&] { return link->delivered() == 1; }));
  EXPECT_TRUE(ServiceCallLog::last("ROVodozov", "handleRemoteNotification"));
  os::TouchDriver::advance(1.1);
  auto alerts = os::AlertView::visibleAlertViews();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0]->title(), "要闻推送");
  EXPECT_EQ(alerts[0]->message(), "新型驱逐舰完成远海训练");
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("点击查看"));
  os::TouchDriver::advance(1);
  auto opened = std::dynamic_pointer_cast<VXNewsDetailViewController>(nav->topViewController());
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->infoDict()["id"].intValue(), article->id);
  ASSERT_TRUE(runUntil([&] { return !opened->listData().empty(); }));
  nav->popToRootViewController(false);
  os::TouchDriver::advance(1);

  // The settings screen's switch turned off: the platform hands the next headline to nobody.
  VXGlobalDefine::share()->setPass(true);
  auto settings = std::make_shared<VXSettingViewController>(VXReaderContext::current());
  settings->view();
  settings->clickPushMsg();
  EXPECT_EQ(pushd->notify(headline), 1u);
  ASSERT_TRUE(runUntil([&] { return link->received() == 2; }));
  os::TouchDriver::advance(1.1);
  EXPECT_EQ(link->delivered(), 1u);
  EXPECT_TRUE(os::AlertView::visibleAlertViews().empty());

  // Turned on again, headlines come back.
  settings->clickPushMsg();
  EXPECT_EQ(pushd->notify(headline), 1u);
  ASSERT_TRUE(runUntil([&] { return link->delivered() == 2; }));
  os::TouchDriver::advance(1.1);
  ASSERT_EQ(os::AlertView::visibleAlertViews().size(), 1u);
  EXPECT_EQ(os::AlertView::visibleAlertViews()[0]->title(), "要闻推送");
  link->close();
  ROVodozov::tearDownSharedService();
}

}  // namespace
