// The favourites screen against the local news server: the reader's favourites page by page, an
// empty or failed list, and a tapped row opening its article.
#include "news/list/VXFavoriteViewController.h"

#include <gtest/gtest.h>

#include "news/api/VXFavoriteRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/article/VXNewsDetailViewController.h"
#include "news/list/VXNewsOneIconStyleCell.h"
#include "news/list/VXNewsThreeIconStyleCell.h"
#include "news/list/VXNewsTitleStyleCell.h"
#include "news/shell/VXCustomNavController.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/console/TouchDriver.h"
#include "os/runtime/Clock.h"
#include "os/views/Screen.h"
#include "os/views/Window.h"
#include "ui/widgets/KHProgressHUD.h"

namespace {

class VXFavoriteViewControllerTest : public newstest::ReaderFixture {
 protected:
  VXFavoriteViewControllerTest()
      : ReaderFixture({.wifi = true, .state = newstest::State::Timed, .server = 7, .screen = newstest::Screen::Nav}) {}
  void TearDown() override {
    if (screen_) newstest::runUntil([&] { return !loading(*screen_); }, 5);
    ReaderFixture::TearDown();
  }

  // Marks the articles as favourites on the server, oldest first: the server lists the newest
  // first.
  void favour(const std::vector<const newsd::Article*>& articles) {
    for (const auto* a : articles) {
      VXFavoriteRequest request(os::Dictionary{{"id", a->id}, {"category", a->categoryId}, {"action", 1}});
      load(request);
    }
  }
  std::vector<const newsd::Article*> articles(std::size_t count) {
    std::vector<const newsd::Article*> out;
    for (const auto& a : server_->service().content().articles())
      if (out.size() < count && a.type.empty()) out.push_back(&a);
    EXPECT_EQ(out.size(), count);
    return out;
  }
  std::vector<long long> listed() const {
    return newstest::collect(os::testing::numbers(0L, static_cast<long>(screen_->listData().size())),
                         [&](long i) { return screen_->itemAt(i)->ID(); });
  }

  std::shared_ptr<VXFavoriteViewController> screen_;
};

TEST_F(VXFavoriteViewControllerTest, FavouritesPageUntilTheLastPageNewestFirst) {
  auto favourites = articles(12);
  favour(favourites);
  screen_ = push(VXFavoriteViewController::create(VXReaderContext::current()));
  EXPECT_EQ(screen_->navbarTitle(), "我的收藏");
  ASSERT_EQ(screen_->listData().size(), 10u);
  EXPECT_TRUE(screen_->canLoadMore());
  EXPECT_EQ(rows(*screen_->tableView()), 11);  // the load-more row

  screen_->loadNextPage();
  waitIdle(*screen_);
  std::vector<long long> expected;
  for (auto it = favourites.rbegin(); it != favourites.rend(); ++it) expected.push_back((*it)->id);
  EXPECT_EQ(listed(), expected);
  EXPECT_FALSE(screen_->canLoadMore());
  EXPECT_EQ(rows(*screen_->tableView()), 12);
  EXPECT_EQ(server_->asked(1050), 2);

  // Every row in the list cell of its item's style, as tall as that style makes it.
  auto& table = *screen_->tableView();
  const double width = os::Screen::main().bounds().size.width;
  for (long i = 0; i < 12; ++i) {
    auto item = screen_->itemAt(i);
    auto cell = screen_->cellForRowAtIndexPath(table, {0, i});
    switch (item->style()) {
      case VXNewsDO::kThreeIconStyle: EXPECT_TRUE(std::dynamic_pointer_cast<VXNewsThreeIconStyleCell>(cell)) << i; break;
      case VXNewsDO::kOneIconStyle: EXPECT_TRUE(std::dynamic_pointer_cast<VXNewsOneIconStyleCell>(cell)) << i; break;
      default:
        EXPECT_TRUE(std::dynamic_pointer_cast<VXNewsTitleStyleCell>(cell)) << i;
        EXPECT_FALSE(std::dynamic_pointer_cast<VXNewsOneIconStyleCell>(cell)) << i;
    }
    EXPECT_EQ(screen_->heightForRowAtIndexPath(table, {0, i}), item->calHeightByStyle(width)) << i;
  }
}

TEST_F(VXFavoriteViewControllerTest, AnEmptyListIsNoFailureAndAFailedOneSaysSo) {
  // A reader without favourites: the server's empty answer is an empty list, with no word of a
  // network failure.
  screen_ = push(VXFavoriteViewController::create(VXReaderContext::current()));
  EXPECT_EQ(server_->asked(1050), 1);
  EXPECT_EQ(screen_->tableViewState(), NQTableViewStateIdle);
  EXPECT_EQ(rows(*screen_->tableView()), 0);
  EXPECT_FALSE(screen_->canLoadMore());
  EXPECT_EQ(screen_->tableView()->backgroundView(), nullptr);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(hudText(*screen_->view()), std::nullopt);

  // The server refuses the next attempt outright: that is a failure, and the HUD says so.
  server_->setFault(1050, newsd::Fault{newsd::FailureMode::ErrorCode, 0});
  auto one = articles(1);
  favour(one);
  screen_->loadNewer();
  waitIdle(*screen_);
  EXPECT_EQ(screen_->tableViewState(), NQTableViewStateFailed);
  EXPECT_EQ(rows(*screen_->tableView()), 0);
  EXPECT_TRUE(waitHud(*screen_->view(), "网络异常"));

  // Favourites removed elsewhere: a pull brings the server's empty list in place of the old rows.
  server_->clearFaults();
  os::TouchDriver::advance(1.5);
  screen_->loadNewer();
  waitIdle(*screen_);
  ASSERT_EQ(rows(*screen_->tableView()), 1);
  VXFavoriteRequest remove(os::Dictionary{{"id", one[0]->id}, {"category", one[0]->categoryId}, {"action", 2}});
  load(remove);
  screen_->loadFromPullToRefresh();
  waitIdle(*screen_);
  EXPECT_EQ(screen_->tableViewState(), NQTableViewStateIdle);
  EXPECT_EQ(rows(*screen_->tableView()), 0);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(hudText(*screen_->view()), std::nullopt);
}

TEST_F(VXFavoriteViewControllerTest, ATappedRowOpensItsArticleAndRecordsItAsRead) {
  auto favourite = articles(1);
  favour(favourite);
  screen_ = push(VXFavoriteViewController::create(VXReaderContext::current()));
  ASSERT_EQ(screen_->listData().size(), 1u);
  ASSERT_TRUE(os::TouchDriver::tapRow(*screen_->tableView(), {0, 0}));
  os::TouchDriver::settle();
  auto article = std::dynamic_pointer_cast<VXNewsDetailViewController>(nav_->topViewController());
  ASSERT_NE(article, nullptr);
  EXPECT_EQ(article->infoDict()["id"].intValue(), favourite[0]->id);
  EXPECT_EQ(article->infoDict()["category"].intValue(), favourite[0]->categoryId);
  EXPECT_TRUE(state_->isNewsHistory(favourite[0]->id));
  ASSERT_TRUE(newstest::runUntil([&] { return article->tableViewState() != VXNewsDetailViewController::kStateLoading; }));
}

}  // namespace
