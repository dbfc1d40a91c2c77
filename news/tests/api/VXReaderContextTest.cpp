// The reader context: the shared helpers are made once while a context is current and a fresh
// context starts with its own, so nothing of one run (an ad's screen, say) reaches the next; the
// screens and lists keep to the context they were given.
#include <gtest/gtest.h>

#include <memory>

#include "news/ads/VXAdHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/article/VXDetailXMLParseHelper.h"
#include "news/article/VXShareHelper.h"
#include "news/home/VXLeftSideViewController.h"
#include "news/home/VXNewsView.h"
#include "news/offline/VXOfflineViewController.h"
#include "news/shell/NQSideViewController.h"
#include "news/shell/VXCustomNavController.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsCategoryManager.h"
#include "news/store/VXNewsDBManager.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"

namespace {

using ReaderContextTest = newstest::RealTimeFixture;

TEST_F(ReaderContextTest, SharedHelpersAnswerFromTheCurrentContextWhichMakesThemOnce) {
  VXAdHelper* ads = &VXAdHelper::share();
  auto sharing = VXShareHelper::share();
  auto parser = VXDetailXMLParseHelper::share();
  EXPECT_EQ(&VXAdHelper::share(), ads);
  EXPECT_EQ(VXShareHelper::share(), sharing);
  EXPECT_EQ(VXDetailXMLParseHelper::share(), parser);
  EXPECT_EQ(env_.context().adHelper.peek().get(), ads);
  EXPECT_EQ(env_.context().shareHelper.peek(), sharing);
  EXPECT_EQ(env_.context().bodyParser.peek(), parser);

  auto fresh = std::make_shared<VXReaderContext>();
  auto previous = VXReaderContext::setCurrent(fresh);
  EXPECT_NE(&VXAdHelper::share(), ads);
  EXPECT_NE(VXShareHelper::share(), sharing);
  EXPECT_NE(VXDetailXMLParseHelper::share(), parser);
  EXPECT_EQ(fresh->shareHelper.peek(), VXShareHelper::share());
  VXReaderContext::setCurrent(previous);
  EXPECT_EQ(VXShareHelper::share(), sharing);
}

TEST_F(ReaderContextTest, ScreensGivenAContextReadAndDriveThatOneWhileAnotherIsCurrent) {
  auto given = std::make_shared<VXReaderContext>();
  auto state = std::make_shared<VXGlobalDefine>();
  state->setPass(false);  // the ad entry shows; the current context's state keeps the switch on
  given->state.set(state);
  auto side = std::make_shared<NQSideViewController>();
  given->sideController.set(side);
  VXGlobalDefine::setShared(std::make_shared<VXGlobalDefine>());

  auto menu = std::make_shared<VXLeftSideViewController>(given);
  auto currentMenu = std::make_shared<VXLeftSideViewController>();
  menu->loadData();
  currentMenu->loadData();
  EXPECT_EQ(menu->entries().size(), 5u);
  EXPECT_EQ(currentMenu->entries().size(), 4u);

  auto nav = std::make_shared<VXCustomNavController>(std::make_shared<os::ViewController>(), given);
  nav->pushViewController(std::make_shared<os::ViewController>(), false);
  EXPECT_FALSE(side->canDrag());
  EXPECT_TRUE(NQSideViewController::share()->canDrag());
  nav->popViewController(false);
  EXPECT_TRUE(side->canDrag());

  // The home news and its lists: the given context's tabs, stored items and item route.
  auto db = std::make_shared<VXNewsDBManager>(
      os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), "given.db"));
  given->database.set(db);
  db->insertArticles(os::Array{os::Value(os::Dictionary{{"id", os::Value(41)}, {"title", os::Value("t")}})}, 9);
  given->refreshInterval.set([] { return 1e12; });  // stored items stay fresh: nothing is asked
  int opened = 0;
  given->openItem.set(
      [&opened](const std::shared_ptr<VXNewsDO>& item, os::ViewController&) { opened += item->ID() == 41; });
  VXNewsCategoryManager::share(*given)->setCategoryList(
      {VXNewsCategory(os::Dictionary{{"id", 9}, {"name", "n"}, {"order", 0}, {"flag", 1}})});
  os::RunLoop::main()->runUntilIdle();
  auto home = std::make_shared<os::ViewController>();
  auto news = VXNewsView::create(os::Rect{0, 0, 320, 504}, given);
  auto currentNews = VXNewsView::create(os::Rect{0, 0, 320, 504});
  home->view()->addSubview(news);
  os::NotificationCenter::defaultCenter().post(kLaunchEndNotification);
  EXPECT_EQ(news->switchView()->buttonItems().size(), 1u);
  EXPECT_TRUE(currentNews->pageView()->viewItems().empty());
  ASSERT_EQ(news->pageView()->viewItems().size(), 1u);
  auto list = news->pageView()->viewItems()[0];
  ASSERT_EQ(list->dataList().size(), 1u);
  list->didSelectRowAtIndexPath(*list->tableView(), os::IndexPath{0, 0});
  EXPECT_EQ(opened, 1);

  // A screen the menu opens lists the given context's categories and goes back to its menu.
  side->setRootViewController(nav);
  side->setLeftViewController(std::make_shared<os::ViewController>());
  menu->leftSideCellCilck("离线");
  auto offline = std::dynamic_pointer_cast<VXOfflineViewController>(nav->viewControllers().back());
  ASSERT_TRUE(offline);
  offline->view();
  EXPECT_EQ(offline->listData().size(), 1u);
  offline->panGetstureRecognizerEnded();
  EXPECT_TRUE(side->leftSideIsShow());
  EXPECT_FALSE(NQSideViewController::share()->leftSideIsShow());
}

}  // namespace
