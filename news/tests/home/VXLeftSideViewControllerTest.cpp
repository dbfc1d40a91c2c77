// The left menu: its entries by the pass switch, the rows it draws, and where a tap goes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "news/common/VXGlobalDefine.h"
#include "news/common/VXGlobalHelper.h"
#include "news/controllers/VXCustomNavController.h"
#include "news/controllers/VXLeftBaseViewController.h"
#include "news/controllers/VXLeftSideViewController.h"
#include "news/tests/controllers/ScreenTestSupport.h"

namespace {

using newstest::ScreenFixture;

class VXLeftSideViewControllerTest : public ScreenFixture {
 protected:
  void SetUp() override {
    ScreenFixture::SetUp();
    state = std::make_shared<VXGlobalDefine>();
    VXGlobalDefine::setShared(state);
    VXLeftSideViewController::setScreenFactory([this](const std::string& name) -> std::shared_ptr<os::ViewController> {
      asked.push_back(name);
      return std::make_shared<VXLeftBaseViewController>();
    });
    home = std::make_shared<NQBaseViewController>();
    nav = std::make_shared<VXCustomNavController>(home);
    menu = std::make_shared<VXLeftSideViewController>();
    showSide(nav, menu);
    side->showLeftViewController(false);
    os::TouchDriver::advance(1);
  }
  void TearDown() override {
    VXGlobalDefine::setShared(nullptr);
    VXLeftSideViewController::setScreenFactory(nullptr);
    ScreenFixture::TearDown();
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : menu->entries()) out.push_back(e.name());
    return out;
  }
  void tapEntry(long row) {
    ASSERT_TRUE(os::TouchDriver::tapRow(*menu->tableView(), os::IndexPath::forRow(row, 0)));
    os::TouchDriver::advance(1);
  }

  std::shared_ptr<VXGlobalDefine> state;
  std::vector<std::string> asked;
  std::shared_ptr<NQBaseViewController> home;
  std::shared_ptr<VXCustomNavController> nav;
  std::shared_ptr<VXLeftSideViewController> menu;
};

TEST_F(VXLeftSideViewControllerTest, ThePassSwitchDecidesTheAdEntryAndTheTableFollows) {
  EXPECT_EQ(names(), (std::vector<std::string>{"新闻", "收藏", "离线", "设置"}));
  state->setPass(false);
  menu->loadData();
  EXPECT_EQ(names(), (std::vector<std::string>{"新闻", "收藏", "离线", "设置", "精彩应用"}));
  EXPECT_EQ(menu->entries().back().icon(), "left_side_ad");
  EXPECT_EQ(menu->tableView()->numberOfRowsInSection(0), 5);
  os::TouchDriver::settle();
  // Back to four: a table that showed five rows never asks for the fifth.
  state->setPass(true);
  menu->loadData();
  EXPECT_EQ(menu->tableView()->numberOfRowsInSection(0), 4);
  os::TouchDriver::settle();
  EXPECT_EQ(menu->tableView()->visibleCells().size(), 4u);
}

TEST_F(VXLeftSideViewControllerTest, TheNewsEntryOnlyClosesTheMenu) {
  ASSERT_TRUE(side->leftSideIsShow());
  tapEntry(0);
  EXPECT_FALSE(side->leftSideIsShow());
  EXPECT_EQ(centreX(), 0);
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(VXLeftSideViewControllerTest, AnEntryOpensItsScreenAndGoingBackReopensTheMenu) {
  tapEntry(3);
  EXPECT_EQ(asked, (std::vector<std::string>{"设置"}));
  ASSERT_EQ(nav->viewControllers().size(), 2u);
  EXPECT_EQ(centreX(), 0);
  nav->backButtonClick();
  os::TouchDriver::advance(1);
  EXPECT_EQ(nav->viewControllers().size(), 1u);
  EXPECT_TRUE(side->leftSideIsShow());
  EXPECT_EQ(centreX(), side->showWidth());
}

TEST_F(VXLeftSideViewControllerTest, AnUnknownNameIsLoggedAndClosesTheMenu) {
  menu->leftSideCellCilck("其他");
  os::TouchDriver::advance(1);
  EXPECT_TRUE(asked.empty());
  EXPECT_FALSE(side->leftSideIsShow());
  EXPECT_EQ(VXGlobalHelper::readLog(), "名称不匹配\n");
}

}  // namespace
