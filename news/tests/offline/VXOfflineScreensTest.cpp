// The offline screens on a key window: choosing categories, the Wi-Fi and empty-choice refusals,
// and the progress cover that follows the run and closes on its end or its cancel button.
#include <gtest/gtest.h>

#include <thread>

#include "news/offline/VXOfflineCell.h"
#include "news/offline/VXOfflineMaskViewController.h"
#include "news/offline/VXOfflineViewController.h"
#include "news/shell/VXCustomNavController.h"
#include "news/store/VXNewsCategoryManager.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/console/TouchDriver.h"
#include "os/net/NetworkReachability.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/views/Label.h"
#include "os/views/Window.h"
#include "ui/widgets/KHProgressHUD.h"

namespace newstest {
namespace {

class OfflineScreensTest : public OfflineFixture {
 protected:
  OfflineScreensTest() : OfflineFixture(true, Screen::Window) {}
  void SetUp() override {
    OfflineFixture::SetUp();
    std::vector<VXNewsCategory> list;
    for (std::size_t i = 0; i < 3; ++i) {
      const auto& c = server_->service().content().categories().at(i);
      list.emplace_back(os::Dictionary{{"id", os::Value(c.id)}, {"name", os::Value(c.name)}});
      // Fresh and empty: a run over them asks the server nothing and ends at once.
      storeFresh(c.id, os::Array{});
    }
    VXNewsCategoryManager::share()->setCategoryList(list);
    os::RunLoop::main()->runUntilIdle();
  }

  std::shared_ptr<VXOfflineViewController> openChoice() {
    auto screen = std::make_shared<VXOfflineViewController>(VXReaderContext::current());
    window_->setRootViewController(nav_ = std::make_shared<VXCustomNavController>(screen, VXReaderContext::current()));
    os::TouchDriver::settle();
    return screen;
  }
  static std::shared_ptr<VXOfflineCell> cell(VXOfflineViewController& screen, long row) {
    return std::dynamic_pointer_cast<VXOfflineCell>(screen.tableView()->cellForRowAtIndexPath(os::IndexPath{0, row}));
  }
  long long category(std::size_t i) const { return server_->service().content().categories().at(i).id; }
};

TEST_F(OfflineScreensTest, TheChoiceGoesToTheRunInRowOrderAndANewScreenStartsWithAll) {
  auto screen = openChoice();
  EXPECT_EQ(screen->navbarTitle(), "离线下载");
  ASSERT_EQ(screen->tableView()->numberOfRowsInSection(0), 3);
  for (long row = 0; row < 3; ++row) {
    ASSERT_TRUE(cell(*screen, row));
    EXPECT_TRUE(cell(*screen, row)->selectedButton()->isSelected());
    EXPECT_EQ(cell(*screen, row)->nameLabel()->text(), server_->service().content().categories().at(row).name);
  }

  ASSERT_TRUE(os::TouchDriver::tapRow(*screen->tableView(), os::IndexPath{0, 1}));
  EXPECT_FALSE(cell(*screen, 1)->selectedButton()->isSelected());
  EXPECT_EQ(screen->selectedIDs(), (std::vector<long long>{category(0), category(2)}));

  // Sent directly: the run ends as soon as the main loop turns, and this checks the moment before.
  screen->downloadButton()->sendActionsForControlEvents(os::kControlEventTouchUpInside);
  EXPECT_EQ(helper_->selectedIDList(), (std::vector<long long>{category(0), category(2)}));
  EXPECT_TRUE(std::dynamic_pointer_cast<VXOfflineMaskViewController>(nav_->presentedViewController()));
  EXPECT_EQ(state_->screenStatus(), 1);

  // The run ends at once (nothing to fetch): the cover goes, saying so, and the run's list is
  // emptied.
  ASSERT_TRUE(newstest::runUntil([&] { return !nav_->presentedViewController(); }));
  EXPECT_TRUE(waitHud("离线下载完成"));
  EXPECT_EQ(state_->screenStatus(), 0);
  EXPECT_TRUE(helper_->selectedIDList().empty());
  EXPECT_EQ(heard_, (std::vector<int>{50, 100, -1}));

  // The choice lives as long as its screen.
  EXPECT_EQ(screen->selectedIDs(), (std::vector<long long>{category(0), category(2)}));
  auto again = openChoice();
  EXPECT_EQ(again->selectedIDs(), (std::vector<long long>{category(0), category(1), category(2)}));
}

TEST_F(OfflineScreensTest, DownloadNeedsWiFiAndAtLeastOneCategory) {
  auto screen = openChoice();
  helper_->setSelectedIDList({42});

  network().setFlags(Network::kLocalWiFi, std::nullopt);
  ASSERT_TRUE(os::TouchDriver::tap(*screen->downloadButton()));
  EXPECT_EQ(hudText(), "网络异常");
  os::TouchDriver::advance(2);
  EXPECT_EQ(hudText(), "");

  // A cellular connection is no better.
  network().setFlags(Network::kLocalWiFi, os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsWWAN);
  ASSERT_TRUE(os::TouchDriver::tap(*screen->downloadButton()));
  EXPECT_EQ(hudText(), "网络异常");
  EXPECT_EQ(helper_->selectedIDList(), std::vector<long long>{42});
  os::TouchDriver::advance(2);

  network().setFlags(Network::kLocalWiFi, os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsDirect);
  for (long row = 0; row < 3; ++row) ASSERT_TRUE(os::TouchDriver::tapRow(*screen->tableView(), os::IndexPath{0, row}));
  ASSERT_TRUE(os::TouchDriver::tap(*screen->downloadButton()));
  EXPECT_EQ(hudText(), "至少选中一个新闻类别");
  EXPECT_FALSE(helper_->isRunning());
  EXPECT_FALSE(nav_->presentedViewController());
  EXPECT_TRUE(heard_.empty());
}

TEST_F(OfflineScreensTest, WithTheServerDownTheCoverGoesSayingTheDownloadFailed) {
  const long long a = plainCategory(0);
  storeFresh(a, 2);
  db_->updateCategory(a, 0);
  VXRequestConfig::setServerRoot("http://127.0.0.1:" + std::to_string(os::testing::HttpTestServer::refusedPort()));
  auto screen = openChoice();
  helper_->setSelectedIDList({a});
  ASSERT_TRUE(helper_->startOffline());
  screen->addMaskView();
  ASSERT_TRUE(newstest::runUntil([&] { return !nav_->presentedViewController(); }));
  EXPECT_EQ(heard_.back(), -1);
  // Over the choice screen, which stays.
  EXPECT_TRUE(waitHud("离线下载失败"));
  EXPECT_EQ(nav_->topViewController(), screen);
}

TEST_F(OfflineScreensTest, TheCoverFollowsProgressFromAnyThreadAndItsCancelClosesIt) {
  const long long a = plainCategory(0);
  storeFresh(a, 1);
  server_->setFault(1020, newsd::Fault{newsd::FailureMode::None, 5});
  auto screen = openChoice();
  helper_->setSelectedIDList({a});
  ASSERT_TRUE(helper_->startOffline());
  screen->addMaskView();
  os::TouchDriver::settle();
  auto mask = std::dynamic_pointer_cast<VXOfflineMaskViewController>(nav_->presentedViewController());
  ASSERT_TRUE(mask);
  ASSERT_TRUE(mask->backgroudImage());
  EXPECT_EQ(mask->labelPercent()->text(), "正在下载0%");

  helper_->setPercent(37);
  EXPECT_EQ(mask->labelPercent()->text(), "正在下载37%");
  // A value posted on another thread reaches the label on the main thread.
  std::thread([] {
    os::NotificationCenter::defaultCenter().postValue(kOfflineLoadingNotification, os::Value(38));
  }).join();
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(mask->labelPercent()->text(), "正在下载38%");

  ASSERT_TRUE(server_->awaitHeldRequests(1));
  ASSERT_TRUE(os::TouchDriver::tap(*mask->cancelButton()));
  EXPECT_FALSE(nav_->presentedViewController());
  EXPECT_EQ(hudText(), "离线下载已取消");
  EXPECT_EQ(state_->screenStatus(), 0);
  EXPECT_FALSE(helper_->isRunning());
  EXPECT_EQ(heard_.back(), -1);
}

}  // namespace
}  // namespace newstest
