// The splash: activation "cp" by what the device remembers, the switches of the answer, and an end
// that waits for both the logo animation and the category list, announced once.
#include "news/home/VXSplashView.h"

#include <gtest/gtest.h>

#include "news/home/VXLeftSideViewController.h"
#include "news/store/VXNewsCategoryManager.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/console/TouchDriver.h"
#include "os/testing/NotificationCounter.h"
#include "os/views/Window.h"

namespace {

using os::testing::NotificationCounter;
using newstest::LocalNewsServer;
using newstest::runUntil;

class Splash : public newstest::LaunchFixture {
 protected:
  Splash() : LaunchFixture(newstest::Screen::Window) {}
  void TearDown() override {
    // Whatever a test left running (the animation) finishes before the state goes.
    os::TouchDriver::advance(VXSplashView::kAnimationDuration + 1);
    LaunchFixture::TearDown();
  }
  std::shared_ptr<VXSplashView> show() {
    auto splash = VXSplashView::create(os::Rect{0, 0, 320, 568}, VXReaderContext::current());
    window_->addSubview(splash);
    return splash;
  }
  // Launches a splash and plays it to its end.
  void launchToEnd() {
    auto splash = show();
    ASSERT_TRUE(runUntil([&] { return splash->count() == 1; }));  // the category list
    os::TouchDriver::advance(VXSplashView::kAnimationDuration);
    ASSERT_TRUE(splash->ended());
  }
};

TEST_F(Splash, FirstRunActivatesWithCp1AndEveryLaterLaunchWithCp2) {
  LocalNewsServer server(11);
  EXPECT_EQ(VXSplashView::activationCp(), VXSplashView::kFirstRun);
  launchToEnd();
  EXPECT_EQ(defaults()->integerForKey(kAppActiveKey), 1);
  launchToEnd();
  launchToEnd();
  EXPECT_EQ(server.asked(1000, "cp"), (std::vector<long long>{1, 2, 2}));
}

TEST_F(Splash, AFailedAnswerLeavesTheDeviceUnactivatedButTheLaunchGoesOn) {
  LocalNewsServer server(11);
  for (auto failure : {newsd::FailureMode::ErrorCode, newsd::FailureMode::MissingResult, newsd::FailureMode::HttpError}) {
    SCOPED_TRACE(newsd::failureName(failure));
    server.setFault(1000, newsd::Fault{failure, 0});
    NotificationCounter launchEnd(kSplashLaunchEndNotification);
    launchToEnd();
    EXPECT_FALSE(defaults()->objectForKey(kAppActiveKey));
    EXPECT_EQ(launchEnd.count(), 1);
  }
  // Nothing was ever answered, so the next launch is still a first run (the server notes only the
  // activations it answered).
  server.clearFaults();
  launchToEnd();
  EXPECT_EQ(server.asked(1000, "cp"), (std::vector<long long>{1}));
  EXPECT_EQ(defaults()->integerForKey(kAppActiveKey), 1);
}

TEST_F(Splash, CategoriesBeforeTheAnimationEndsKeepTheSplashUntilItEnds) {
  LocalNewsServer server(11);
  NotificationCounter launchEnd(kSplashLaunchEndNotification);
  auto splash = show();
  ASSERT_TRUE(runUntil([&] { return splash->count() == 1; }));
  EXPECT_EQ(server.asked(1040), 1);
  EXPECT_TRUE(VXNewsCategoryManager::share()->categoryList().size() > 0);
  EXPECT_EQ(splash->superview(), window_);
  EXPECT_EQ(launchEnd.count(), 0);

  os::TouchDriver::advance(VXSplashView::kAnimationDuration - 0.5);
  EXPECT_EQ(splash->superview(), window_);
  EXPECT_EQ(splash->logoView()->frame(), (os::Rect{78, 120, 163, 38}));
  os::TouchDriver::advance(0.6);
  EXPECT_EQ(splash->superview(), nullptr);
  EXPECT_EQ(launchEnd.count(), 1);

  // A later category broadcast (a reload from the tab strip) ends nothing again.
  VXNewsCategoryManager::share()->setCategoryList({});
  os::TouchDriver::advance(1);
  EXPECT_EQ(launchEnd.count(), 1);
}

TEST_F(Splash, ASlowActivationAnswerEndsTheSplashWhenItsCategoriesArrive) {
  LocalNewsServer server(11);
  server.setFault(1000, newsd::Fault{newsd::FailureMode::None, 6.0});
  NotificationCounter launchEnd(kSplashLaunchEndNotification);
  auto splash = show();
  ASSERT_TRUE(server.awaitHeldRequests(1));

  // The animation is over, but the activation is still out: nothing else was asked yet.
  os::TouchDriver::advance(VXSplashView::kAnimationDuration + 0.5);
  EXPECT_EQ(splash->count(), 1);
  EXPECT_EQ(splash->superview(), window_);
  EXPECT_EQ(server.asked(1040), 0);
  EXPECT_EQ(launchEnd.count(), 0);

  os::TouchDriver::advance(2);
  ASSERT_TRUE(runUntil([&] { return splash->ended(); }));
  EXPECT_EQ(server.asked(1040), 1);
  EXPECT_EQ(splash->superview(), nullptr);
  EXPECT_EQ(launchEnd.count(), 1);
  EXPECT_EQ(defaults()->integerForKey(kAppActiveKey), 1);
}

TEST_F(Splash, TheAnswerSetsThePassSwitchAndRefreshIntervalAndRebuildsTheMenu) {
  newsd::ServiceOptions options;
  options.pass = 0;
  options.nctime = 120;
  LocalNewsServer server(11, options);
  auto left = std::make_shared<VXLeftSideViewController>(VXReaderContext::current());
  NQSideViewController::share()->setLeftViewController(left);
  left->loadData();
  const auto before = left->entries().size();

  launchToEnd();
  EXPECT_FALSE(VXGlobalDefine::share()->pass());
  EXPECT_DOUBLE_EQ(VXGlobalDefine::share()->nctime(), 120);
  // With the switch clear the menu lists the recommended apps too.
  EXPECT_EQ(left->entries().size(), before + 1);
}

TEST_F(Splash, AnswerSwitchesOfTheWrongTypeCountAsAbsent) {
  VXGlobalDefine::share()->setNctime(900);
  VXSplashView::applyActivationAnswer(os::Dictionary{{"result", 1}, {"pass", os::Array{}}, {"nctime", os::Dictionary{}}});
  EXPECT_TRUE(VXGlobalDefine::share()->pass());
  EXPECT_DOUBLE_EQ(VXGlobalDefine::share()->nctime(), 900);
  VXSplashView::applyActivationAnswer(std::nullopt);
  EXPECT_DOUBLE_EQ(VXGlobalDefine::share()->nctime(), 900);
  VXSplashView::applyActivationAnswer(os::Dictionary{{"pass", "0"}, {"nctime", 60.5}});
  EXPECT_FALSE(VXGlobalDefine::share()->pass());
  EXPECT_DOUBLE_EQ(VXGlobalDefine::share()->nctime(), 60.5);
}

}  // namespace
