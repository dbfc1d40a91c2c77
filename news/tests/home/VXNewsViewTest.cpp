// The category tabs and the paged lists of the home screen: tab sizes and strip scrolling, tab
// taps and their loads, rebuilds on a new category list, and the retry view.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "news/api/VXGlobalHelper.h"
#include "news/home/VXNewsView.h"
#include "news/store/VXNewsCategoryManager.h"
#include "news/store/VXNewsDBManager.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/console/TouchDriver.h"
#include "os/runtime/Clock.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/views/Window.h"
#include "ui/widgets/KHProgressHUD.h"

namespace {

std::vector<VXNewsCategory> categories(const std::vector<std::pair<long long, std::string>>& list) {
  std::vector<VXNewsCategory> out;
  long long order = 0;
  for (const auto& [id, name] : list)
    out.emplace_back(os::Dictionary{{"id", id}, {"name", name}, {"order", order++}, {"flag", 1}});
  return out;
}

class VXNewsViewTest : public newstest::ReaderFixture {
 protected:
  void SetUp() override {
    showWindow();
    news_ = VXNewsView::create(os::Rect{0, 0, 320, 504}, VXReaderContext::current());
    window_->addSubview(news_);
    os::TouchDriver::settle();
  }
  void TearDown() override {
    settle();
    ReaderFixture::TearDown();
  }

  // Announces a category list as the splash or a retry would.
  void launch(const std::vector<std::pair<long long, std::string>>& list) {
    VXNewsCategoryManager::share()->setCategoryList(categories(list));
    os::RunLoop::main()->runUntilIdle();
    os::NotificationCenter::defaultCenter().post(kLaunchEndNotification);
    settle();
  }
  // Lets answers arrive and animations end.
  void settle() {
    for (int round = 0; round < 2; ++round) {
      for (const auto& page : news_->pageView()->viewItems()) waitIdle(*page);
      // A page asked at the end of an animation asks now; the second round waits for its answer.
      os::TouchDriver::advance(1);
    }
  }
  // The category ids of the list requests the server received, in order.
  std::vector<long long> requestedCategories() const {
    return newstest::collect(answers_.opdatas(), [](const os::Dictionary& op) { return op["id"].intValue(); });
  }
  void tapTab(int index) {
    ASSERT_TRUE(os::TouchDriver::tap(*news_->switchView()->buttonItems().at(static_cast<std::size_t>(index))));
    settle();
  }
  double stripOffset() const { return news_->switchView()->scrollView()->contentOffset().x; }

  // Answers come over loopback.
  newstest::ScriptedNewsServer answers_;
  std::shared_ptr<VXNewsView> news_;
};

TEST_F(VXNewsViewTest, TabWidthsFollowTitleLengthAndAddUpToTheRightEdges) {
  EXPECT_EQ(VXSlideSwitchView::widthOfButton(""), 70);
  EXPECT_EQ(VXSlideSwitchView::widthOfButton("要闻"), 70);
  EXPECT_EQ(VXSlideSwitchView::widthOfButton("军事史"), 85);
  EXPECT_EQ(VXSlideSwitchView::widthOfButton("国际新闻榜"), 100);
  EXPECT_EQ(VXSlideSwitchView::widthOfButton("abcd"), 100);

  launch({{1, "要闻"}, {2, "军事史"}, {3, "国际新闻榜"}});
  auto& strip = *news_->switchView();
  ASSERT_EQ(strip.buttonItems().size(), 3u);
  std::vector<double> edges;
  for (const auto& info : strip.infoItems()) edges.push_back(info[kSlideWidthKey].doubleValue());
  EXPECT_EQ(edges, (std::vector<double>{70, 155, 255}));
  EXPECT_EQ(strip.totalWidth(), 255);
  EXPECT_EQ(strip.scrollView()->contentSize().width, 255);
  // Each button sits 4 points inside its tab.
  auto second = strip.buttonItems()[1]->convertRectToView(strip.buttonItems()[1]->bounds(), strip.scrollView().get());
  EXPECT_EQ(second, (os::Rect{74, 4, 77, 26}));
  EXPECT_EQ(strip.selectedIndex(), 0);
  EXPECT_EQ(news_->pageView()->viewItems().size(), 3u);
}

TEST_F(VXNewsViewTest, StripScrollsOnlyWhenTheTabsDoNotFit) {
  launch({{1, "一二三四"}, {2, "一二三四"}, {3, "一二三四"}, {4, "一二三四"}, {5, "一二三四"}, {6, "一二三四"}});
  auto& strip = *news_->switchView();
  strip.changeButtonStateAtIndex(1);  // right edge 200: still clear of the strip's end
  EXPECT_EQ(stripOffset(), 0);
  strip.changeButtonStateAtIndex(2);  // right edge 300: within 60 of 320
  EXPECT_EQ(stripOffset(), 120);
  strip.changeButtonStateAtIndex(5);  // right edge 600: clamped to the end of the content
  EXPECT_EQ(stripOffset(), 280);
  EXPECT_EQ(strip.selectedIndex(), 5);

  // Three short tabs fit: no tab moves the strip.
  launch({{1, "要闻"}, {2, "要闻"}, {3, "要闻"}});
  news_->switchView()->changeButtonStateAtIndex(2);
  EXPECT_EQ(stripOffset(), 0);
}

TEST_F(VXNewsViewTest, TappingTheCurrentTabLoadsNothingAndAnotherTabLoadsItsPage) {
  launch({{11, "要闻"}, {12, "评论"}, {13, "图片"}});
  // The first page loads at the launch; its stored list was never refreshed, so it asks.
  EXPECT_EQ(requestedCategories(), (std::vector<long long>{11}));

  tapTab(0);
  EXPECT_EQ(requestedCategories(), (std::vector<long long>{11}));
  EXPECT_EQ(news_->pageView()->currentPage(), 0);

  tapTab(2);
  EXPECT_EQ(news_->pageView()->currentPage(), 2);
  EXPECT_EQ(news_->pageView()->scrollView()->contentOffset().x, 640);
  EXPECT_EQ(news_->switchView()->selectedIndex(), 2);
  EXPECT_EQ(requestedCategories(), (std::vector<long long>{11, 13}));
  tapTab(2);
  EXPECT_EQ(requestedCategories(), (std::vector<long long>{11, 13}));
}

TEST_F(VXNewsViewTest, SwipeSelectsTheTabAtOnceAndLoadsWhenTheScrollRests) {
  launch({{11, "要闻"}, {12, "评论"}});
  auto& scroller = *news_->pageView()->scrollView();
  scroller.setContentOffset(os::Point{170, 0});  // past half of the first page
  EXPECT_EQ(news_->pageView()->currentPage(), 1);
  EXPECT_EQ(news_->switchView()->selectedIndex(), 1);
  EXPECT_EQ(requestedCategories(), (std::vector<long long>{11}));
  news_->pageView()->scrollViewDidEndDecelerating(scroller);
  settle();
  EXPECT_EQ(requestedCategories(), (std::vector<long long>{11, 12}));
}

TEST_F(VXNewsViewTest, ANewCategoryListRebuildsTabsAndPagesFromScratch) {
  launch({{1, "一二三四"}, {2, "一二三四"}, {3, "一二三四"}, {4, "一二三四"}, {5, "一二三四"}, {6, "一二三四"}});
  EXPECT_EQ(requestedCategories(), (std::vector<long long>{1}));
  news_->switchView()->changeButtonStateAtIndex(5);
  ASSERT_EQ(stripOffset(), 280);

  // The same first page index as before: the new first page still loads.
  launch({{21, "要闻"}, {22, "评论"}});
  auto& strip = *news_->switchView();
  ASSERT_EQ(strip.infoItems().size(), 2u);
  EXPECT_EQ(strip.infoItems()[1][kSlideWidthKey].doubleValue(), 140);
  EXPECT_EQ(strip.totalWidth(), 140);
  EXPECT_EQ(stripOffset(), 0);
  EXPECT_EQ(strip.selectedIndex(), 0);
  ASSERT_EQ(news_->pageView()->viewItems().size(), 2u);
  EXPECT_EQ(news_->pageView()->viewItems()[0]->ID(), 21);
  EXPECT_EQ(news_->pageView()->scrollView()->subviews().size(), 2u);
  EXPECT_EQ(requestedCategories(), (std::vector<long long>{1, 21}));
  // The right edges of the old tabs are gone: the last tab keeps the short strip still.
  strip.changeButtonStateAtIndex(1);
  EXPECT_EQ(stripOffset(), 0);
}

TEST_F(VXNewsViewTest, RebuildFromAnotherPageReturnsToTheFirstPage) {
  launch({{11, "要闻"}, {12, "评论"}, {13, "图片"}});
  tapTab(2);
  launch({{31, "要闻"}, {32, "评论"}});
  EXPECT_EQ(news_->pageView()->scrollView()->contentOffset().x, 0);
  EXPECT_EQ(requestedCategories(), (std::vector<long long>{11, 13, 31}));
}

TEST_F(VXNewsViewTest, WithoutCategoriesTheRetryViewShowsAndAFailedRetryKeepsIt) {
  launch({});
  auto error = news_->pageView()->errorView();
  EXPECT_EQ(error->superview(), news_->pageView());
  EXPECT_TRUE(news_->switchView()->buttonItems().empty());

  answers_.setFallback(newstest::envelope(os::Dictionary{{"result", 2}}));
  ASSERT_TRUE(os::TouchDriver::tap(os::Point{160, 200}, window_.get()));
  ASSERT_TRUE(newstest::runUntil([&] {
    auto hud = KHProgressHUD::HUDForView(*news_->pageView());
    return hud && hud->detailsLabelText() == "网络异常";
  }));
  EXPECT_EQ(error->superview(), news_->pageView());
}

TEST_F(VXNewsViewTest, ASuccessfulRetryStoresTheCategoriesAndBuildsTheTabs) {
  launch({});
  os::Array list{os::Value(os::Dictionary{{"id", 7}, {"name", "要闻"}}), os::Value(os::Dictionary{{"id", 3}, {"name", "评论"}})};
  answers_.queue(newstest::envelope(os::Dictionary{{"result", 1}, {"categorylist", list}}));
  news_->pageView()->loadAgain();
  ASSERT_TRUE(newstest::runUntil([&] { return news_->switchView()->buttonItems().size() == 2; }));
  settle();
  EXPECT_EQ(news_->pageView()->errorView()->superview(), nullptr);
  auto stored = VXNewsDBManager::share()->createCategoryListWithDB();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].ID(), 7);
  EXPECT_EQ(stored[1].ID(), 3);
  EXPECT_EQ(news_->pageView()->viewItems()[0]->ID(), 7);
  EXPECT_EQ(*news_->switchView()->buttonItems()[1]->titleForState(os::kControlStateNormal), "评论");
}

// Categories the database refuses (a full disk) still make the tabs of this run: the server gave
// them, and the retry view would only ask for them again to the same end. Nothing is stored, so
// the next launch asks again.
TEST_F(VXNewsViewTest, ARetryWhoseCategoriesTheDatabaseRefusesStillBuildsTheTabs) {
  launch({});
  newstest::refuseNewRows(*VXNewsDBManager::share(), "ZCATEGORY", true);
  os::Array list{os::Value(os::Dictionary{{"id", 7}, {"name", "要闻"}}), os::Value(os::Dictionary{{"id", 3}, {"name", "评论"}})};
  answers_.queue(newstest::envelope(os::Dictionary{{"result", 1}, {"categorylist", list}}));
  ASSERT_TRUE(os::TouchDriver::tap(os::Point{160, 200}, window_.get()));
  ASSERT_TRUE(newstest::runUntil([&] { return news_->switchView()->buttonItems().size() == 2; }));
  settle();
  newstest::refuseNewRows(*VXNewsDBManager::share(), "ZCATEGORY", false);
  EXPECT_EQ(news_->pageView()->errorView()->superview(), nullptr);
  EXPECT_TRUE(VXNewsDBManager::share()->createCategoryListWithDB().empty());
  ASSERT_EQ(news_->pageView()->viewItems().size(), 2u);
  EXPECT_EQ(news_->pageView()->viewItems()[0]->ID(), 7);
  EXPECT_EQ(news_->pageView()->viewItems()[1]->ID(), 3);
  EXPECT_EQ(*news_->switchView()->buttonItems()[1]->titleForState(os::kControlStateNormal), "评论");
}

}  // namespace
