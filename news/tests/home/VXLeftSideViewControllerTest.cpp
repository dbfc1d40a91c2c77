// The left menu: its entries by the pass switch, the rows it draws, and where a tap goes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "news/ads/VXAdViewController.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXRequestConfig.h"
#include "news/home/VXLeftSideViewController.h"
#include "news/list/VXFavoriteViewController.h"
#include "news/offline/VXOfflineViewController.h"
#include "news/settings/VXSettingViewController.h"
#include "news/shell/VXCustomNavController.h"
#include "news/store/VXGlobalDefine.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/runtime/RunLoop.h"

namespace {

class VXLeftSideViewControllerTest : public newstest::ReaderFixture {
 protected:
  VXLeftSideViewControllerTest() : ReaderFixture({.device = newstest::screenPhone(), .state = newstest::State::Fresh}) {}
  void SetUp() override {
    ReaderFixture::SetUp();
    // The apps screen asks for its list at once; a closed local port answers it with a quick refusal.
    VXRequestConfig::setServerRoot("http://127.0.0.1:1");
    nav_ = std::make_shared<VXCustomNavController>(std::make_shared<NQBaseViewController>(), VXReaderContext::current());
    menu = std::make_shared<VXLeftSideViewController>(VXReaderContext::current());
    showSide(nav_, menu);
    side_->showLeftViewController(false);
    os::TouchDriver::advance(1);
  }
  std::vector<std::string> names() const {
    return newstest::collect<std::string>(menu->entries(), [](const auto& e) { return e.name(); });
  }
  void tapEntry(long row) {
    ASSERT_TRUE(os::TouchDriver::tapRow(*menu->tableView(), row));
    os::TouchDriver::advance(1);
  }

  template <class Screen>
  bool topIs() const {
    return depth() == 2 && std::dynamic_pointer_cast<Screen>(nav_->topViewController());
  }
  std::shared_ptr<VXLeftSideViewController> menu;
};

TEST_F(VXLeftSideViewControllerTest, ThePassSwitchDecidesTheAdEntryAndTheTableFollows) {
  EXPECT_EQ(names(), (std::vector<std::string>{"新闻", "收藏", "离线", "设置"}));
  state_->setPass(false);
  menu->loadData();
  EXPECT_EQ(names(), (std::vector<std::string>{"新闻", "收藏", "离线", "设置", "精彩应用"}));
  EXPECT_EQ(menu->entries().back().icon(), "left_side_ad");
  EXPECT_EQ(menu->tableView()->numberOfRowsInSection(0), 5);
  os::TouchDriver::settle();
  // Back to four: a table that showed five rows never asks for the fifth.
  state_->setPass(true);
  menu->loadData();
  EXPECT_EQ(menu->tableView()->numberOfRowsInSection(0), 4);
  os::TouchDriver::settle();
  EXPECT_EQ(menu->tableView()->visibleCells().size(), 4u);
}

TEST_F(VXLeftSideViewControllerTest, TheNewsEntryOnlyClosesTheMenu) {
  ASSERT_TRUE(side_->leftSideIsShow());
  tapEntry(0);
  EXPECT_FALSE(side_->leftSideIsShow());
  EXPECT_EQ(centreX(), 0);
  EXPECT_EQ(depth(), 1u);
}

TEST_F(VXLeftSideViewControllerTest, AnEntryOpensItsScreenAndGoingBackReopensTheMenu) {
  tapEntry(3);
  ASSERT_TRUE(topIs<VXSettingViewController>());
  EXPECT_EQ(centreX(), 0);
  nav_->backButtonClick();
  os::TouchDriver::advance(1);
  EXPECT_EQ(depth(), 1u);
  EXPECT_TRUE(side_->leftSideIsShow());
  EXPECT_EQ(centreX(), side_->showWidth());
}

TEST_F(VXLeftSideViewControllerTest, AnUnknownNameIsLoggedAndClosesTheMenu) {
  menu->leftSideCellCilck("其他");
  os::TouchDriver::advance(1);
  EXPECT_EQ(depth(), 1u);
  EXPECT_FALSE(side_->leftSideIsShow());
  EXPECT_EQ(VXGlobalHelper::readLog(), "名称不匹配\n");
}

TEST_F(VXLeftSideViewControllerTest, EachEntryPushesItsOwnScreen) {
  state_->setPass(false);
  menu->loadData();
  os::TouchDriver::settle();
  const auto openAndReturn = [&](long row) {
    side_->showLeftViewController(false);
    os::TouchDriver::advance(1);
    tapEntry(row);
  };
  openAndReturn(1);
  EXPECT_TRUE(topIs<VXFavoriteViewController>());
  nav_->backButtonClick();
  openAndReturn(2);
  EXPECT_TRUE(topIs<VXOfflineViewController>());
  nav_->backButtonClick();
  openAndReturn(3);
  EXPECT_TRUE(topIs<VXSettingViewController>());
  nav_->backButtonClick();
  openAndReturn(4);
  EXPECT_TRUE(topIs<VXAdViewController>());
  EXPECT_FALSE(side_->leftSideIsShow());
  nav_->backButtonClick();
  os::TouchDriver::advance(1);
  EXPECT_EQ(depth(), 1u);
}

}  // namespace
