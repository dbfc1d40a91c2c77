// The home screen against the local news server: the launch timer's version check and crash
// dump, the read-history upload on reachability changes, and the jumps of pushed headlines.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/VXViewController.h"
#include "foundation/net/Reachability.h"
#include "news/api/VXReaderContext.h"
#include "news/article/VXNewsDetailViewController.h"
#include "news/home/VXCrashHandler.h"
#include "news/shell/NQSideViewController.h"
#include "news/shell/VXCustomNavController.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsCategoryManager.h"
#include "news/store/VXNewsDBManager.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/console/TouchDriver.h"
#include "os/net/NetworkReachability.h"
#include "os/runtime/Clock.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/store/FileManager.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/testing/ScreenHelpers.h"
#include "os/testing/TestSandbox.h"
#include "os/views/AlertView.h"
#include "os/views/Application.h"
#include "os/views/Window.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialSnsService.h"
#include "tools/newsd/server/NewsServer.h"

namespace {

using os::testing::frontAlert;

class VXViewControllerTest : public newstest::ReaderFixture {
 protected:
  VXViewControllerTest()
      : ReaderFixture({.online = true, .state = newstest::State::Fresh, .screen = newstest::Screen::Window}) {}
  void SetUp() override {
    ReaderFixture::SetUp();
    app_ = os::Application::create(nullptr);
  }
  void TearDown() override {
    home_.reset();
    nav_.reset();
    ReaderFixture::TearDown();
  }

  // The sample content of seed 1.
  void startServer(newsd::ServiceOptions service = {}) { ReaderFixture::startServer(1, std::move(service)); }
  // The home screen with its view loaded (which starts its timer and observers), at the root of
  // the navigation in the centre of the side menu.
  void loadHome() {
    home_ = std::make_shared<VXViewController>(VXReaderContext::current());
    nav_ = std::make_shared<VXCustomNavController>(home_, VXReaderContext::current());
    side_->setRootViewController(nav_);
    window_->setRootViewController(side_);
    os::TouchDriver::settle();
  }
  // The class of the screen on top of the navigation.
  std::string topScreen() const { return nav_->viewControllers().back()->className(); }
  // Moves the clock in small steps until the condition holds (answers come in real time).
  static bool pump(const std::function<bool()>& condition, double limit = 20) {
    for (double t = 0; t < limit; t += 0.25) {
      if (os::RunLoop::main()->runUntil(condition, 0.05)) return true;
      os::Clock::advance(0.25);
    }
    return condition();
  }
  std::map<long long, int> reads() const { return server_->service().received().reads; }
  void waitingHistory(std::initializer_list<long long> ids) {
    auto db = VXNewsDBManager::share();
    for (long long id : ids) {
      ASSERT_TRUE(db->insertHistory(id));
      ASSERT_TRUE(db->offlineHistory(id));
    }
  }
  static void post(const char* name) { os::NotificationCenter::defaultCenter().post(name); }

  std::shared_ptr<VXViewController> home_;
};

TEST_F(VXViewControllerTest, TenSecondsAfterLoadingItChecksTheVersionAndSendsTheDump) {
  newsd::ServiceOptions service;
  service.latestVersion = "28";  // the bundle says 27
  startServer(service);
  std::string dump = "reason(stack)";
  ASSERT_TRUE(os::TestSandbox::writeFile(VXCrashHandler::filePath(), dump));
  loadHome();

  os::TouchDriver::advance(9.9);
  os::RunLoop::main()->runUntil([] { return false; }, 0.2);
  EXPECT_TRUE(server_->service().received().crashDumps.empty());
  EXPECT_EQ(frontAlert(), nullptr);

  os::TouchDriver::advance(0.2);
  ASSERT_TRUE(newstest::runUntil([&] {
    return frontAlert() && !server_->service().received().crashDumps.empty() &&
           !os::FileManager::defaultManager().fileExistsAtPath(VXCrashHandler::filePath());
  }));
  EXPECT_EQ(server_->service().received().crashDumps, (std::vector<std::string>{dump}));
  auto alert = frontAlert();
  EXPECT_EQ(alert->tag(), VXViewController::kUpdateAlertTag);
  EXPECT_EQ(alert->title(), "");
  EXPECT_EQ(alert->message(), "检测到Corvessa有新的版本\n是否立即更新");
  EXPECT_EQ(home_->appstoreUrl(), server_->base() + "/app/update");

  ASSERT_TRUE(os::TouchDriver::pressAlertButton("升级"));
  ASSERT_EQ(app_->openedURLs().size(), 1u);
  EXPECT_EQ(app_->openedURLs()[0].absoluteString(), server_->base() + "/app/update");
  // The timer fires once per launch.
  os::TouchDriver::advance(20);
  EXPECT_EQ(home_->launchTimer()->isValid(), false);
  EXPECT_EQ(server_->service().received().crashDumps.size(), 1u);
}

TEST_F(VXViewControllerTest, UpdateLinksOpenOnlyWithWebOrStoreSchemes) {
  EXPECT_TRUE(VXViewController::isAllowedUpdateURL("http://example.com/app"));
  EXPECT_TRUE(VXViewController::isAllowedUpdateURL("HTTPS://example.com/app"));
  EXPECT_TRUE(VXViewController::isAllowedUpdateURL("itms-apps://itunes.example.com/app/id123456789"));
  EXPECT_FALSE(VXViewController::isAllowedUpdateURL("tel:10086"));
  EXPECT_FALSE(VXViewController::isAllowedUpdateURL("file:///etc/passwd"));
  EXPECT_FALSE(VXViewController::isAllowedUpdateURL("javascript:alert(1)"));
  EXPECT_FALSE(VXViewController::isAllowedUpdateURL(""));

  newsd::ServiceOptions service;
  service.latestVersion = "28";
  service.updateURL = "sms:10086";
  startServer(service);
  loadHome();
  os::TouchDriver::advance(10.1);
  ASSERT_TRUE(newstest::runUntil([] { return frontAlert() != nullptr; }));
  EXPECT_EQ(home_->appstoreUrl(), "sms:10086");
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("升级"));
  EXPECT_TRUE(app_->openedURLs().empty());
}

TEST_F(VXViewControllerTest, RepeatedReachabilityChangesRunOneHistoryUploadAtATime) {
  startServer();
  waitingHistory({101, 102, 103});
  loadHome();
  post(kLaunchEndNotification);
  post(kReachabilityChangedNotification);
  post(kReachabilityChangedNotification);
  EXPECT_TRUE(home_->historyUploadRunning());
  // The ids go about a second apart.
  os::RunLoop::main()->runUntil([] { return false; }, 0.1);
  EXPECT_TRUE(reads().empty());
  // At least one: the server counts on its own threads, so a slow first exchange can land
  // together with the second before the main loop looks again.
  ASSERT_TRUE(pump([&] { return !reads().empty(); }));
  post(kReachabilityChangedNotification);
  ASSERT_TRUE(pump([&] { return !home_->historyUploadRunning(); }));

  EXPECT_EQ(reads(), (std::map<long long, int>{{101, 1}, {102, 1}, {103, 1}}));
  EXPECT_TRUE(VXNewsDBManager::share()->historyForPost().empty());
}

TEST_F(VXViewControllerTest, NoUploadBeforeTheLaunchEndsOrWithoutWiFi) {
  startServer();
  waitingHistory({101});
  loadHome();
  post(kReachabilityChangedNotification);
  EXPECT_FALSE(home_->historyUploadRunning());

  post(kLaunchEndNotification);
  network().setDefaultFlags(std::nullopt);
  post(kReachabilityChangedNotification);
  EXPECT_FALSE(home_->historyUploadRunning());
  pump([] { return false; }, 3);
  EXPECT_TRUE(reads().empty());
}

TEST_F(VXViewControllerTest, AnIdTheServerDidNotTakeIsSentAgainOnTheNextPass) {
  startServer();
  waitingHistory({101});
  loadHome();
  post(kLaunchEndNotification);
  server_->setFault(1001, newsd::Fault{newsd::FailureMode::ErrorCode, 0});
  post(kReachabilityChangedNotification);
  ASSERT_TRUE(pump([&] { return !home_->historyUploadRunning(); }));
  EXPECT_EQ(VXNewsDBManager::share()->historyForPost(), (std::vector<long long>{101}));

  server_->clearFaults();
  post(kReachabilityChangedNotification);
  ASSERT_TRUE(pump([&] { return !home_->historyUploadRunning(); }));
  EXPECT_EQ(reads(), (std::map<long long, int>{{101, 1}}));
  EXPECT_TRUE(VXNewsDBManager::share()->historyForPost().empty());
}

TEST_F(VXViewControllerTest, ComingBackToTheHomeScreenLeavesNoRowSelected) {
  startServer();
  auto db = VXNewsDBManager::share();
  ASSERT_TRUE(db->insertCategory(os::Dictionary{{"id", 5}, {"name", "要闻"}, {"order", 0}, {"flag", 1}}));
  db->insertArticles(os::Array{os::Value(os::Dictionary{{"id", 77}, {"title", "标题"}, {"publishtime", 1}})}, 5);
  db->updateCategory(5, os::Date::now().timeIntervalSinceReferenceDate());  // fresh: nothing is asked
  loadHome();
  VXNewsCategoryManager::share()->setCategoryList(db->createCategoryListWithDB());
  os::RunLoop::main()->runUntilIdle();
  post(kLaunchEndNotification);
  os::TouchDriver::settle();
  auto list = home_->newsView()->pageView()->viewItems().at(0);
  ASSERT_EQ(list->dataList().size(), 1u);

  ASSERT_TRUE(os::TouchDriver::tapRow(*list->tableView(), os::IndexPath::forRow(0, 0)));
  ASSERT_TRUE(list->selectedIndexPath());
  // The tap opened the article and counted it as read.
  auto article = std::dynamic_pointer_cast<VXNewsDetailViewController>(nav_->topViewController());
  ASSERT_TRUE(article);
  EXPECT_TRUE(VXGlobalDefine::share()->isNewsHistory(77));
  ASSERT_TRUE(pump([&] { return article->tableViewState() != NQTableViewStateLoading; }));
  EXPECT_TRUE(VXNewsDetailViewController::waitForOfflineSaves(20));
  nav_->popViewController(false);
  os::TouchDriver::advance(1);
  EXPECT_FALSE(list->selectedIndexPath());
}

// --- pushed headlines ---

os::Dictionary payload(const std::string& alert, long long id, long long category, bool icon = false) {
  os::Dictionary d{{"aps", os::Dictionary{{"alert", alert}}}, {"id", id}, {"category", category}, {"type", ""}};
  if (icon) d.set("icon", "http://example.com/a.png");
  return d;
}

TEST(VXAlertMessage, OnlyAHeadlineWithIdAndCategoryMakesAMessage) {
  EXPECT_FALSE(VXAlertMessage::createMessage(os::Value(payload("", 5, 2))));
  EXPECT_FALSE(VXAlertMessage::createMessage(os::Value(payload("要闻", 0, 2))));
  EXPECT_FALSE(VXAlertMessage::createMessage(os::Value(payload("要闻", 5, 0))));
  EXPECT_FALSE(VXAlertMessage::createMessage(os::Value("not a payload")));
  auto message = VXAlertMessage::createMessage(os::Value(payload("要闻", 5, 2)));
  ASSERT_TRUE(message);
  // The article dictionary ends at the first missing value.
  EXPECT_EQ(message->articleDict(), (os::Dictionary{{"id", 5}, {"category", 2}}));
  auto withIcon = VXAlertMessage::createMessage(os::Value(payload("要闻", 5, 2, true)));
  EXPECT_EQ(withIcon->articleDict().size(), 3u);
}

TEST_F(VXViewControllerTest, AHeadlineOpenedBeforeTheSplashEndsOpensHalfASecondAfterIt) {
  startServer();
  loadHome();
  home_->setAlertMessage(VXAlertMessage::createMessage(os::Value(payload("要闻", 5, 2))));
  home_->excuteJump(true);
  os::TouchDriver::advance(1);
  EXPECT_EQ(topScreen(), "VXViewController");
  ASSERT_TRUE(home_->alertMessage());

  post(kLaunchEndNotification);
  EXPECT_TRUE(VXGlobalDefine::share()->splashEnd());
  os::TouchDriver::advance(0.4);
  EXPECT_EQ(topScreen(), "VXViewController");
  os::TouchDriver::advance(0.2);
  EXPECT_EQ(topScreen(), "VXNewsDetailViewController");
  EXPECT_FALSE(home_->alertMessage());
}

TEST_F(VXViewControllerTest, AHeadlineDuringAFullScreenStateWaitsForItsEndThenAsks) {
  startServer();
  loadHome();
  auto state = VXGlobalDefine::share();
  state->setScreenStatus(1);
  home_->setAlertMessage(VXAlertMessage::createMessage(os::Value(payload("新的要闻", 5, 2))));
  home_->excuteJump(false);
  os::TouchDriver::advance(1.1);
  EXPECT_EQ(frontAlert(), nullptr);

  state->setScreenStatus(0);  // posts "fScreenStatus"
  auto alert = frontAlert();
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->title(), "要闻推送");
  EXPECT_EQ(alert->message(), "新的要闻");
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("点击查看"));
  os::TouchDriver::advance(1);
  EXPECT_EQ(topScreen(), "VXNewsDetailViewController");
  EXPECT_FALSE(home_->alertMessage());
}

TEST_F(VXViewControllerTest, IgnoringAHeadlineClearsItAndOpensNothing) {
  startServer();
  loadHome();
  home_->setAlertMessage(VXAlertMessage::createMessage(os::Value(payload("再一条", 6, 2))));
  home_->jumpByAlert();
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("忽略"));
  os::TouchDriver::advance(1);
  EXPECT_EQ(topScreen(), "VXViewController");
  EXPECT_FALSE(home_->alertMessage());
}

// A sharing screen the reader takes down to open a pushed headline is gone from the sharing
// screens' record too: nothing later counts it as still up.
TEST_F(VXViewControllerTest, AHeadlineOpenedOverASharingScreenLeavesNoSharingScreenRecorded) {
  OBSocialContextScope sharing;
  startServer();
  loadHome();
  OBSocialSnsService::presentSnsController(home_, std::nullopt, "分享", nullptr, std::nullopt, {});
  os::TouchDriver::settle();
  ASSERT_TRUE(side_->presentedViewController());
  auto service = OBSocialControllerService::defaultControllerService();
  ASSERT_EQ(service->currentViewControllerArray, std::vector<int>{2});

  home_->setAlertMessage(VXAlertMessage::createMessage(os::Value(payload("要闻", 5, 2))));
  home_->jumpByAlert();
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("点击查看"));
  os::TouchDriver::advance(1);
  EXPECT_FALSE(side_->presentedViewController());
  EXPECT_EQ(topScreen(), "VXNewsDetailViewController");
  EXPECT_TRUE(service->currentViewControllerArray.empty());
}

TEST_F(VXViewControllerTest, TheMenuButtonOpensTheLeftMenu) {
  startServer();
  side_->setLeftViewController(std::make_shared<os::ViewController>());
  // A home screen given another context opens that context's menu, not the current one's.
  auto given = std::make_shared<VXReaderContext>();
  auto givenSide = std::make_shared<NQSideViewController>();
  givenSide->setLeftViewController(std::make_shared<os::ViewController>());
  given->sideController.set(givenSide);
  std::make_shared<VXViewController>(given)->leftBarItemClick();
  EXPECT_TRUE(givenSide->leftSideIsShow());
  EXPECT_FALSE(side_->leftSideIsShow());

  loadHome();
  home_->leftBarItemClick();
  os::TouchDriver::advance(1);
  EXPECT_TRUE(side_->leftSideIsShow());
  EXPECT_EQ(nav_->view()->frame().origin.x, side_->showWidth());
}

}  // namespace
