#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <vector>

#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/store/UserDefaults.h"
#include "os/testing/CutShortWrite.h"
#include "os/testing/FullDisk.h"
#include "os/testing/LogCapture.h"
#include "os/views/Application.h"
#include "os/views/Screen.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

struct AppTrace : ApplicationDelegate {
  Trace trace;
  bool acceptURLs = true;
  bool didFinishLaunchingWithOptions(Application&, const Dictionary& options) override {
    trace.add("launch");
    return true;
  }
  void applicationDidBecomeActive(Application&) override { trace.add("active"); }
  void applicationWillResignActive(Application&) override { trace.add("resign"); }
  void applicationDidEnterBackground(Application&) override { trace.add("background"); }
  void applicationWillEnterForeground(Application&) override { trace.add("foreground"); }
  void applicationWillTerminate(Application&) override { trace.add("terminate"); }
  bool openURL(Application& app, const URL& url, const std::string& source, const Value&) override {
    trace.add("open " + url.absoluteString() + " from " + source + " while " +
              (app.applicationState() == ApplicationState::Active ? "active" : "inactive"));
    return acceptURLs;
  }
  void didRegisterForRemoteNotificationsWithDeviceToken(Application&, const Data& token) override {
    trace.add("token " + std::to_string(token.size()));
  }
  void didFailToRegisterForRemoteNotificationsWithError(Application&, const Error& e) override {
    trace.add("token failed " + std::to_string(e.code));
  }
  void didRegisterUserNotificationSettings(Application&, const UserNotificationSettings& s) override {
    trace.add("settings " + std::to_string(s.types));
  }
  void didReceiveRemoteNotification(Application& app, const Dictionary& info) override {
    trace.add("push " + info["id"].stringOr() + (app.applicationState() == ApplicationState::Active ? " active" : " inactive"));
  }
};

class ApplicationTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    delegate = std::make_shared<AppTrace>();
    app = Application::create(delegate, "com.example.reader");
    app->makeShared();
  }
  std::shared_ptr<AppTrace> delegate;
  std::shared_ptr<Application> app;
};

TEST_F(ApplicationTest, LifeCycleCallsTheDelegateAndPostsNotifications) {
  std::vector<std::string> posted;
  auto& center = NotificationCenter::defaultCenter();
  auto token = center.addObserver("", app.get(), [&](const Notification& n) { posted.push_back(n.name); });
  app->launch();
  app->enterBackground();
  app->enterForeground();
  app->terminate();
  center.removeObserver(token);
  EXPECT_EQ(delegate->trace.events, (std::vector<std::string>{"launch", "active", "resign", "background", "foreground",
                                                              "active", "terminate"}));
  EXPECT_EQ(posted, (std::vector<std::string>{kApplicationDidFinishLaunchingNotification, kApplicationDidBecomeActiveNotification,
                                              kApplicationWillResignActiveNotification, kApplicationDidEnterBackgroundNotification,
                                              kApplicationWillEnterForegroundNotification, kApplicationDidBecomeActiveNotification,
                                              kApplicationWillTerminateNotification}));
}

TEST_F(ApplicationTest, AnOpenedURLReachesTheApplicationThatRegisteredItsScheme) {
  app->launch();
  auto messengerDelegate = std::make_shared<AppTrace>();
  auto messenger = Application::create(messengerDelegate, "com.example.messenger");
  messenger->registerURLSchemes({"Messenger1234"});
  messenger->launch();
  messenger->enterBackground();
  messengerDelegate->trace.clear();
  delegate->trace.clear();

  auto url = *URL::parse("messenger1234://send?text=hi");
  EXPECT_TRUE(app->canOpenURL(url));
  EXPECT_FALSE(app->canOpenURL(*URL::parse("unknown://x")));
  EXPECT_TRUE(app->canOpenURL(*URL::parse("https://example.com/")));
  EXPECT_TRUE(app->openURL(url));
  EXPECT_TRUE(messengerDelegate->trace.events.empty());  // delivered on the run loop, not inside openURL
  RunLoop::main()->runUntilIdle();
  EXPECT_EQ(messengerDelegate->trace.events,
            (std::vector<std::string>{"foreground", "open messenger1234://send?text=hi from com.example.reader while inactive", "active"}));
  EXPECT_EQ(delegate->trace.events, (std::vector<std::string>{"resign", "background"}));

  // The answer comes back the same way.
  app->registerURLSchemesFromInfoDictionary(Dictionary{
      {"CFBundleURLTypes", Value(Array{Value(Dictionary{{"CFBundleURLSchemes", Value(Array{Value("reader42")})}})})}});
  EXPECT_TRUE(messenger->openURL(*URL::parse("reader42://reply?ok=1")));
  RunLoop::main()->runUntilIdle();
  EXPECT_EQ(delegate->trace.events.back(), "active");
  EXPECT_EQ(delegate->trace.events[delegate->trace.events.size() - 2], "open reader42://reply?ok=1 from com.example.messenger while inactive");
  EXPECT_FALSE(app->openURL(*URL::parse("nobody://x")));
  EXPECT_EQ(app->openedURLs().size(), 1u);
}

TEST_F(ApplicationTest, TheSchemeTableLivesInTheDeviceFolder) {
  app->registerURLSchemes({"Reader42"});
  // Another application of the same device (its own home) reads the same table.
  auto peer = sandbox.peerApplication("com.example.browser");
  auto previous = Sandbox::setCurrent(peer);
  auto owner = URLSchemeTable::applicationForScheme("READER42");
  Sandbox::setCurrent(previous);
  EXPECT_EQ(owner, "com.example.reader");
}

// Another application of the device leaves a scheme table of a gigabyte (a sparse file: no disk
// is spent on it) that still starts with its registration. It is not read: every look-up answers
// as for an unreadable table, no scheme, and says why in the log. A registration starts afresh.
TEST_F(ApplicationTest, AHugeSchemeTableFromAnotherApplicationIsNotRead) {
  app->launch();
  auto messenger = sandbox.launchPeerApplication("com.example.messenger", {"msgr1234"});
  const std::string table = sandbox.sandbox()->deviceDirectory() + "/URLSchemes.plist";
  ASSERT_EQ(::truncate(table.c_str(), 1L << 30), 0);

  testing::LogCapture log;
  EXPECT_FALSE(app->canOpenURL(*URL::parse("msgr1234://share")));
  EXPECT_FALSE(app->openURL(*URL::parse("msgr1234://share")));
  EXPECT_FALSE(URLSchemeTable::applicationForScheme("msgr1234"));
  EXPECT_TRUE(URLSchemeTable::all().empty());
  EXPECT_TRUE(log.contains("URL scheme table not read")) << ::testing::PrintToString(log.lines());
  EXPECT_TRUE(app->canOpenURL(*URL::parse("https://example.com/")));  // the device's own schemes stay
  EXPECT_TRUE(app->openedURLs().empty());

  app->registerURLSchemes({"reader42"});
  EXPECT_LT(FileManager::defaultManager().attributesOfItemAtPath(table)->size, URLSchemeTable::kMaxFileBytes);
  EXPECT_EQ(URLSchemeTable::applicationForScheme("reader42"), "com.example.reader");
}

// A registration killed while writing the table leaves its temporary file in the device folder: the
// next registration removes it, and the folder's other files (the keychain's leftover among them)
// stay.
TEST_F(ApplicationTest, ARegistrationRemovesWhatARegistrationCutShortLeft) {
  app->registerURLSchemes({"reader42"});
  const std::string device = sandbox.sandbox()->deviceDirectory();
  const std::string cutShort = testing::plantCutShortWrite(device + "/URLSchemes.plist", 5);
  const std::string others = testing::plantCutShortWrite(device + "/keychain.plist", 6);
  ASSERT_FALSE(cutShort.empty() || others.empty());

  URLSchemeTable::registerScheme("msgr1234", "com.example.messenger");
  auto& fm = FileManager::defaultManager();
  EXPECT_FALSE(fm.fileExistsAtPath(cutShort));
  EXPECT_TRUE(fm.fileExistsAtPath(others));
  EXPECT_EQ(URLSchemeTable::applicationForScheme("reader42"), "com.example.reader");
  EXPECT_EQ(URLSchemeTable::applicationForScheme("msgr1234"), "com.example.messenger");
}

// A registration that would make the table too large to read back is refused: the table keeps
// every scheme it had.
TEST_F(ApplicationTest, ARegistrationThatWouldOverfillTheSchemeTableIsRefused) {
  app->registerURLSchemes({"reader42"});
  testing::LogCapture log;
  URLSchemeTable::registerScheme("huge", std::string(URLSchemeTable::kMaxFileBytes, 'x'));
  EXPECT_TRUE(log.contains("URL scheme table not written")) << ::testing::PrintToString(log.lines());
  EXPECT_FALSE(URLSchemeTable::applicationForScheme("huge"));
  EXPECT_EQ(URLSchemeTable::applicationForScheme("reader42"), "com.example.reader");
}

TEST_F(ApplicationTest, LaunchWithAURLHandsItOnAfterLaunching) {
  app->launch(Dictionary{{kApplicationLaunchOptionsURLKey, Value("reader42://open?id=7")},
                         {kApplicationLaunchOptionsSourceApplicationKey, Value("com.example.qq")}});
  EXPECT_EQ(delegate->trace.events,
            (std::vector<std::string>{"launch", "open reader42://open?id=7 from com.example.qq while inactive", "active"}));
}

TEST_F(ApplicationTest, RemoteNotificationRegistrationAndDelivery) {
  app->launch();
  app->registerForRemoteNotificationTypes(kRemoteNotificationTypeBadge | kRemoteNotificationTypeSound | kRemoteNotificationTypeAlert);
  EXPECT_EQ(app->enabledRemoteNotificationTypes(), 7u);
  RunLoop::main()->runUntilIdle();
  EXPECT_EQ(delegate->trace.events.back(), "token 32");
  EXPECT_EQ(Device::current().deviceToken(), Device::current().deviceToken());

  DeviceProfile noPush;
  noPush.remoteNotificationsAvailable = false;
  DeviceProfileScope scope(noPush);
  app->registerForRemoteNotificationTypes(7);
  RunLoop::main()->runUntilIdle();
  EXPECT_EQ(delegate->trace.events.back(), "token failed " + std::to_string(kApplicationErrorRemoteNotificationsUnavailable));

  BackgroundFetchResult result = BackgroundFetchResult::Failed;
  app->deliverRemoteNotification(Dictionary{{"id", Value("9")}}, [&](BackgroundFetchResult r) { result = r; });
  EXPECT_EQ(delegate->trace.events.back(), "push 9 active");
  EXPECT_EQ(result, BackgroundFetchResult::NoData);
}

TEST_F(ApplicationTest, SystemEightRegistersTheTokenAndTheSettingsApart) {
  app->launch();
  // Before 8.0 the split registration does not exist.
  EXPECT_THROW(app->registerForRemoteNotifications(), Exception);
  EXPECT_THROW(app->registerUserNotificationSettings({7, {}}), Exception);

  DeviceProfile eight;
  eight.systemVersion = "8.1";
  eight.userNotificationTypesAllowed = kRemoteNotificationTypeBadge | kRemoteNotificationTypeAlert;  // no sounds
  DeviceProfileScope scope(eight);
  app->registerForRemoteNotifications();
  app->registerUserNotificationSettings({7, {"reply"}});
  EXPECT_EQ(app->currentUserNotificationSettings().types, 0u);  // the answer comes on the run loop
  RunLoop::main()->runUntilIdle();
  EXPECT_EQ(delegate->trace.events, (std::vector<std::string>{"launch", "active", "token 32", "settings 5"}));
  EXPECT_EQ(app->currentUserNotificationSettings(), (UserNotificationSettings{5, {"reply"}}));
  EXPECT_TRUE(app->isRegisteredForRemoteNotifications());
  app->unregisterForRemoteNotifications();
  EXPECT_FALSE(app->isRegisteredForRemoteNotifications());
}

TEST_F(ApplicationTest, DeviceProfileCarrierLocationAndFrameworks) {
  auto& device = Device::current();
  EXPECT_FALSE(device.hasCarrier());
  EXPECT_EQ(device.location(), std::nullopt);
  DeviceProfile china;
  china.carrierName = "\u4E2D\u56FD\u79FB\u52A8";
  china.mobileCountryCode = "460";
  china.mobileNetworkCode = "00";
  china.location = Location{39.9, 116.4};
  DeviceProfileScope scope(china);
  EXPECT_TRUE(device.hasCarrier());
  EXPECT_EQ(device.mobileCountryCode() + device.mobileNetworkCode(), "46000");
  EXPECT_EQ(device.location()->longitude, 116.4);

  // A fake source takes over from the profile's fix, and clearing it gives the fix back.
  int fixes = 0;
  device.setLocationSource([&]() -> std::optional<Location> { return Location{31.2, 121.5 + ++fixes, 4, 65, 10}; });
  EXPECT_EQ(device.location()->longitude, 122.5);
  EXPECT_EQ(device.location()->longitude, 123.5);
  device.setLocationSource({});
  EXPECT_EQ(device.location()->latitude, 39.9);

  const std::string fw = kSystemFrameworksDirectory;
  EXPECT_EQ(device.loadedFrameworks().front(), fw + "/Foundation.framework");
  EXPECT_TRUE(device.loadFramework(fw + "/SystemConfiguration.framework/SystemConfiguration"));
  EXPECT_TRUE(device.loadFramework(fw + "/Social.framework/"));
  EXPECT_TRUE(device.loadFramework(fw + "/Foundation.framework"));  // linked: already loaded
  EXPECT_FALSE(device.loadFramework(fw + "/Twitter.framework"));
  EXPECT_FALSE(device.loadFramework(fw + "/Social.frameworks"));
  EXPECT_FALSE(device.loadFramework(""));
  auto loaded = device.loadedFrameworks();
  EXPECT_EQ(std::vector<std::string>(loaded.end() - 2, loaded.end()),
            (std::vector<std::string>{fw + "/SystemConfiguration.framework", fw + "/Social.framework"}));

  // An older device without the social framework says so.
  DeviceProfile older;
  std::erase(older.frameworks, fw + "/Social.framework");
  DeviceProfileScope olderScope(older);
  EXPECT_FALSE(device.hasFramework(fw + "/Social.framework"));
  EXPECT_FALSE(device.loadFramework(fw + "/Social.framework"));
  EXPECT_EQ(device.loadedFrameworks().size(), 3u);  // a new profile starts with the linked ones only
}

TEST_F(ApplicationTest, BackgroundTasksExpireWhenTheSystemSaysSo) {
  int expired = 0;
  BackgroundTaskIdentifier kept = 0;
  kept = app->beginBackgroundTask([&] {
    ++expired;
    app->endBackgroundTask(kept);
  });
  auto ended = app->beginBackgroundTask([&] { ++expired; });
  EXPECT_NE(kept, kInvalidBackgroundTask);
  EXPECT_NE(kept, ended);
  app->endBackgroundTask(ended);
  app->expireBackgroundTasks();
  EXPECT_EQ(expired, 1);
  EXPECT_EQ(app->backgroundTaskCount(), 0u);
}

// Leaving for good: what components begin in the background and at the end (work on threads of
// their own, ending their task on the main thread) is waited for; what never ends is cut off.
TEST_F(ApplicationTest, LeavingRunsTheLifeCycleToTheEndAndWaitsForTheWorkItStarts) {
  auto worker = Thread::create("worker");
  worker->start();
  auto& center = NotificationCenter::defaultCenter();
  std::vector<std::string> done;
  auto later = [&](const std::string& what) {
    auto task = std::make_shared<BackgroundTaskIdentifier>(kInvalidBackgroundTask);
    *task = app->beginBackgroundTask({});
    auto main = RunLoop::current();
    worker->runLoop()->post([&, main, task, what] {
      main->post([&, task, what] {
        done.push_back(what);
        app->endBackgroundTask(*task);
      });
    });
  };
  auto saved = center.addObserver(kApplicationDidEnterBackgroundNotification, nullptr, [&](const Notification&) { later("saved"); });
  auto closed = center.addObserver(kApplicationWillTerminateNotification, nullptr, [&](const Notification&) { later("closed"); });
  app->launch();
  EXPECT_TRUE(app->leave(30));
  EXPECT_EQ(delegate->trace.events, (std::vector<std::string>{"launch", "active", "resign", "background", "terminate"}));
  EXPECT_EQ(done, (std::vector<std::string>{"saved", "closed"}));
  EXPECT_EQ(app->backgroundTaskCount(), 0u);
  center.removeObserver(saved);
  center.removeObserver(closed);

  // A task that never ends holds the end only up to the limit, and is told its time is up.
  auto other = Application::create(std::make_shared<AppTrace>(), "com.example.other");
  other->launch();
  int expired = 0;
  BackgroundTaskIdentifier stuck = other->beginBackgroundTask([&] {
    ++expired;
    other->endBackgroundTask(stuck);
  });
  EXPECT_FALSE(other->leave(0.05));
  EXPECT_EQ(expired, 1);
  EXPECT_EQ(other->backgroundTaskCount(), 0u);
  worker->cancel();
  worker->join();
}

// A preference changed while the disk was full is not saved then; once room is made (the person
// cleared the caches, say), going to the background or ending writes it, with nothing else
// changing meanwhile.
TEST_F(ApplicationTest, APreferenceTheFullDiskRefusedIsWrittenAsTheApplicationGoesOrEnds) {
  auto defaults = Sandbox::current()->standardUserDefaults();
  defaults->setInteger(1, "kFontSize");
  app->launch();
  const std::vector<std::pair<std::string, std::function<void()>>> roads{
      {"the background", [&] { app->enterBackground(); }},
      {"the end", [&] {
         app->enterForeground();
         app->terminate();
       }}};
  long long size = 1;
  for (const auto& [road, go] : roads) {
    {
      testing::LogCapture quiet;
      testing::FullDisk disk(8);
      defaults->setInteger(++size, "kFontSize");
    }
    ASSERT_EQ(UserDefaults(defaults->path()).integerForKey("kFontSize"), size - 1) << road;
    go();
    EXPECT_EQ(UserDefaults(defaults->path()).integerForKey("kFontSize"), size) << road;
  }
}

TEST_F(ApplicationTest, StatusBarAndScreenFollowTheDeviceProfile) {
  EXPECT_EQ(Screen::main().bounds(), Rect(0, 0, 320, 568));
  EXPECT_EQ(Screen::main().scale(), 2);
  EXPECT_EQ(Screen::main().applicationFrame(), Rect(0, 20, 320, 548));
  app->setStatusBarHidden(true);
  EXPECT_EQ(Screen::main().applicationFrame(), Rect(0, 0, 320, 568));
  app->setStatusBarHidden(false);
  app->setApplicationIconBadgeNumber(3);
  EXPECT_EQ(app->applicationIconBadgeNumber(), 3);
  DeviceProfile small;
  small.screenSize = Size{320, 480};
  small.systemVersion = "7.0";
  DeviceProfileScope scope(small);
  EXPECT_EQ(Screen::main().bounds().size.height, 480);
  EXPECT_EQ(Device::current().systemVersionNumber(), 7.0);
  EXPECT_EQ(Device::current().machine(), "Phone5,2");
  EXPECT_EQ(Device::current().identifierForVendor().size(), 36u);
}

}  // namespace
}  // namespace os::test

namespace os::test {
namespace {

TEST_F(ApplicationTest, URLsOfApplicationsThatAreNotRunningAreTakenButGoNowhere) {
  app->launch();
  URLSchemeTable::registerScheme("weixin", "com.example.notrunning");
  delegate->trace.clear();
  EXPECT_TRUE(app->openURL(*URL::parse("weixin://app/123/sendreq/")));
  RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(delegate->trace.events.empty());
  EXPECT_EQ(app->applicationState(), ApplicationState::Active);
  EXPECT_EQ(app->openedURLs().back().scheme(), "weixin");
  // A scheme the device answers itself counts as opened.
  EXPECT_TRUE(app->openURL(*URL::parse("itms-apps://itunes.example.com/app/id123456789")));
  EXPECT_FALSE(app->openURL(*URL::parse("relative/path")));
}

// The record of opened URLs keeps the newest 1,000: a reader left open does not keep every share
// and ad tap of its life.
TEST_F(ApplicationTest, TheOpenedURLsKeepTheNewest) {
  app->launch();
  const std::size_t kept = 1000, total = kept + 3;
  for (std::size_t i = 0; i < total; ++i) ASSERT_TRUE(app->openURL(*URL::parse("https://news.example/" + std::to_string(i))));
  ASSERT_EQ(app->openedURLs().size(), kept);
  EXPECT_EQ(app->openedURLs().front().absoluteString(), "https://news.example/3");
  EXPECT_EQ(app->openedURLs().back().absoluteString(), "https://news.example/" + std::to_string(total - 1));
}

TEST_F(ApplicationTest, LocalNotificationsAreKeptAndShownWhileActive) {
  struct Local : AppTrace {
    void didReceiveLocalNotification(Application&, const LocalNotification& n) override { trace.add("local " + n.alertBody); }
  };
  auto local = std::make_shared<Local>();
  app->setDelegate(local);
  LocalNotification n;
  n.alertBody = "downloaded";
  n.fireDate = Date::now().addingTimeInterval(60);
  app->scheduleLocalNotification(n);
  EXPECT_EQ(app->scheduledLocalNotifications().size(), 1u);
  app->cancelLocalNotification(n);
  EXPECT_TRUE(app->scheduledLocalNotifications().empty());
  app->presentLocalNotificationNow(n);  // not active yet: only recorded
  app->launch();
  app->presentLocalNotificationNow(n);
  RunLoop::main()->runUntilIdle();
  EXPECT_EQ(local->trace.events.back(), "local downloaded");
  EXPECT_EQ(app->presentedLocalNotifications().size(), 2u);
}

TEST_F(ApplicationTest, MemoryWarningsAndOrientationChangesAreBroadcast) {
  std::vector<std::string> posted;
  auto& center = NotificationCenter::defaultCenter();
  auto t1 = center.addObserver(kApplicationDidReceiveMemoryWarningNotification, nullptr,
                               [&](const Notification& n) { posted.push_back(n.name); });
  auto t2 = center.addObserver(kDeviceOrientationDidChangeNotification, nullptr, [&](const Notification& n) { posted.push_back(n.name); });
  app->receiveMemoryWarning();
  Device::current().setOrientation(DeviceOrientation::LandscapeLeft);
  Device::current().setOrientation(DeviceOrientation::LandscapeLeft);  // no change, no post
  Device::current().setOrientation(DeviceOrientation::Portrait);
  center.removeObserver(t1);
  center.removeObserver(t2);
  EXPECT_EQ(posted, (std::vector<std::string>{kApplicationDidReceiveMemoryWarningNotification, kDeviceOrientationDidChangeNotification,
                                              kDeviceOrientationDidChangeNotification}));
}

}  // namespace
}  // namespace os::test
