#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

#include "news/api/VXGetFavoriteRequest.h"
#include "news/list/NQBaseTableViewController.h"
#include "news/store/VXNewsDO.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/console/TouchDriver.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/views/Window.h"
#include "ui/widgets/KHProgressHUD.h"

namespace {

using newstest::item;
using newstest::listAnswer;

// A favourites-like screen: pages of news items, more while "lastpage" is 2.
class PagedNews : public NQBaseTableViewController {
 public:
  PagedNews() : NQBaseTableViewController(os::TableViewStyle::Plain, VXReaderContext::current()) {}
  bool withoutRequest = false;
  std::shared_ptr<os::View> failureView = std::make_shared<os::View>();

  std::unique_ptr<NQBaseRequest> request() override {
    if (withoutRequest) return nullptr;
    return std::make_unique<VXGetFavoriteRequest>(currentPage());
  }
  std::vector<Row> parseResponse(const std::optional<os::Dictionary>& data) override {
    std::vector<Row> rows;
    if (!data || (*data)["result"].intValue() == 2) return rows;
    setCanLoadMore((*data)["lastpage"].intValue() == 2);
    if (const os::Array* list = (*data)["newslist"].array())
      for (const os::Value& v : *list)
        if (const os::Dictionary* d = v.dictionary()) rows.push_back(std::make_shared<VXNewsDO>(*d));
    return rows;
  }
  std::shared_ptr<os::View> getErrorView() override { return failureView; }
  std::optional<double> heightForRowAtIndexPath(os::TableView& table, const os::IndexPath& ip) override {
    if (isLoadMoreRow(ip) || listData().empty()) return NQBaseTableViewController::heightForRowAtIndexPath(table, ip);
    return 60.0;
  }
  std::shared_ptr<os::TableViewCell> cellForRowAtIndexPath(os::TableView& table, const os::IndexPath& ip) override {
    if (ip.row >= static_cast<long>(listData().size())) return NQBaseTableViewController::cellForRowAtIndexPath(table, ip);
    auto cell = table.dequeueReusableCellWithIdentifier("row");
    return cell ? cell : std::make_shared<os::TableViewCell>(os::TableViewCellStyle::Default, "row");
  }
};

os::Array page(long long firstID, int count) {
  os::Array items;
  for (int i = 0; i < count; ++i) items.push_back(item(firstID + i, 1700000000 - i));
  return items;
}

class NQBaseTableViewControllerTest : public newstest::ReaderFixture {
 protected:
  NQBaseTableViewControllerTest() : ReaderFixture({.screen = newstest::Screen::Root}) { root_ = screen_; }
  void TearDown() override {
    newstest::runUntil([&] { return !loading(*screen_); }, 5);
    ReaderFixture::TearDown();
  }
  // The first page, answered with `count` items and more pages to come.
  void loadFirstPage(int count) {
    answers_.queue(listAnswer(page(100, count), 2));
    screen_->loadNewer();
    waitIdle(*screen_);
    ASSERT_EQ(screen_->listData().size(), static_cast<std::size_t>(count));
  }

  newstest::ScriptedNewsServer answers_;
  std::shared_ptr<PagedNews> screen_ = std::make_shared<PagedNews>();
};

TEST_F(NQBaseTableViewControllerTest, TheFirstPageShowsTheLoadingViewUntilItsRowsArrive) {
  // System 6: the navigation bar alone sits above the table.
  EXPECT_EQ(screen_->tableView()->frame().size.height, screen_->view()->bounds().size.height - 44);
  // The answer waits until the loading state has been looked at: on a busy machine a prompt one
  // could arrive, and end the load, inside runUntilIdle.
  auto gate = std::make_shared<std::promise<void>>();
  std::shared_future<void> opened = gate->get_future().share();
  answers_.route("POST", "/api/imobile/", [opened](const os::testing::RecordedRequest&) {
    opened.wait_for(std::chrono::seconds(60));
    return os::testing::CannedResponse::json(listAnswer(page(100, 3), 2));
  });
  screen_->loadNewer();
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(screen_->tableViewState(), NQTableViewStateLoading);
  EXPECT_EQ(screen_->tableView()->backgroundView(), screen_->loadingView());
  gate->set_value();
  waitIdle(*screen_);
  EXPECT_EQ(screen_->tableViewState(), NQTableViewStateIdle);
  EXPECT_EQ(screen_->currentPage(), 1);
  EXPECT_EQ(screen_->tableView()->backgroundView(), nullptr);
  EXPECT_EQ(screen_->tableView()->numberOfRowsInSection(0), 4);
  EXPECT_EQ(answers_.last()["pageno"].intValue(), 1);
}

TEST_F(NQBaseTableViewControllerTest, AScreenWithoutARequestGoesBackToIdle) {
  screen_->withoutRequest = true;
  screen_->loadNewer();
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(screen_->tableViewState(), NQTableViewStateIdle);
  EXPECT_EQ(screen_->tableView()->backgroundView(), nullptr);

  // Nor does a pull leave the header spinning.
  os::TouchDriver::dragScrollView(*screen_->tableView(), os::Point{0, 200});
  os::TouchDriver::advance(1);
  EXPECT_EQ(screen_->refreshHeaderView()->state(), PRRefreshNormal);
  EXPECT_EQ(screen_->tableViewState(), NQTableViewStateIdle);
  EXPECT_EQ(answers_.requestCount(), 0u);
}

TEST_F(NQBaseTableViewControllerTest, AFailedFirstPageLoadsNothingMoreUntilAPullRecovers) {
  answers_.queue(listAnswer({}, 2, 2));
  screen_->setCanLoadMore(true);
  screen_->loadNewer();
  waitIdle(*screen_);
  EXPECT_EQ(screen_->tableViewState(), NQTableViewStateFailed);
  EXPECT_EQ(screen_->tableView()->backgroundView(), screen_->failureView);
  EXPECT_EQ(hudText(*screen_->view()), "网络异常");

  scrollToEnd(*screen_->tableView());
  screen_->loadMore();
  EXPECT_EQ(answers_.requestCount(), 1u);

  answers_.queue(listAnswer(page(100, 5), 1));
  os::TouchDriver::advance(1.5);  // the HUD covers the screen until it hides
  EXPECT_EQ(hudText(*screen_->view()), std::nullopt);
  os::TouchDriver::dragScrollView(*screen_->tableView(), os::Point{0, 200});
  waitIdle(*screen_);
  EXPECT_EQ(answers_.requestCount(), 2u);
  EXPECT_EQ(screen_->tableViewState(), NQTableViewStateIdle);
  EXPECT_EQ(screen_->listData().size(), 5u);
  EXPECT_EQ(screen_->refreshHeaderView()->state(), PRRefreshNormal);
}

TEST_F(NQBaseTableViewControllerTest, APullThatBringsNoRowsKeepsTheOldOnes) {
  loadFirstPage(3);
  answers_.queue(listAnswer({}, 1));
  screen_->loadFromPullToRefresh();
  waitIdle(*screen_);
  EXPECT_EQ(screen_->tableViewState(), NQTableViewStateFailed);
  EXPECT_EQ(screen_->listData().size(), 3u);
  EXPECT_EQ(hudText(*screen_->view()), "网络异常");
}

TEST_F(NQBaseTableViewControllerTest, TheNextPageStartsOnceForADragAndItsDeceleration) {
  loadFirstPage(20);
  answers_.queue(listAnswer(page(200, 20), 1));
  scrollToEnd(*screen_->tableView());
  auto& table = *screen_->tableView();
  // The end of a drag and the end of the deceleration that follows, in one turn of the loop.
  screen_->scrollViewDidEndDragging(table, true);
  screen_->scrollViewDidEndDecelerating(table);
  waitIdle(*screen_);
  EXPECT_EQ(answers_.requestCount(), 2u);
  EXPECT_EQ(answers_.last()["pageno"].intValue(), 2);
  EXPECT_EQ(screen_->currentPage(), 2);
  EXPECT_EQ(screen_->listData().size(), 40u);
  EXPECT_FALSE(screen_->canLoadMore());

  // And by the finger: the last page ends the paging.
  os::TouchDriver::dragScrollView(table, os::Point{0, -300}, os::Point{0, -900});
  os::TouchDriver::advance(1);
  EXPECT_EQ(answers_.requestCount(), 2u);
}

TEST_F(NQBaseTableViewControllerTest, TheLoadMoreRowRestsAfterAFailedPageAndTurnsAgainOnceThePullRecovers) {
  using Row = LoadMoreRow;
  loadFirstPage(20);
  auto& table = *screen_->tableView();
  scrollToEnd(table);
  EXPECT_EQ(loadMoreRow(table), (Row{true, "正在加载..."}));

  // The next page finds the server gone: the HUD says so, and the row no longer claims a load.
  VXRequestConfig::setServerRoot("http://127.0.0.1:" + std::to_string(os::testing::HttpTestServer::refusedPort()));
  screen_->loadMore();
  waitIdle(*screen_);
  EXPECT_EQ(screen_->tableViewState(), NQTableViewStateFailed);
  EXPECT_TRUE(waitHud(*screen_->view(), "网络异常"));
  EXPECT_EQ(loadMoreRow(table), (Row{false, "加载更多"}));
  // A row made afresh (the table reloaded, its cells reused) rests as well.
  table.reloadData();
  EXPECT_EQ(loadMoreRow(table), (Row{false, "加载更多"}));

  // The server back, a pull brings the first page again and the row turns again.
  VXRequestConfig::setServerRoot(answers_.url(""));
  answers_.queue(listAnswer(page(100, 20), 2));
  os::TouchDriver::advance(1.5);  // the HUD covers the screen until it hides
  screen_->loadFromPullToRefresh();
  waitIdle(*screen_);
  EXPECT_EQ(screen_->tableViewState(), NQTableViewStateIdle);
  scrollToEnd(table);
  EXPECT_EQ(loadMoreRow(table), (Row{true, "正在加载..."}));
}

TEST_F(NQBaseTableViewControllerTest, TheNextPageWaitsForTheEndOfTheContent) {
  loadFirstPage(20);
  auto& table = *screen_->tableView();
  scrollToEnd(table, 23);
  screen_->loadMore();
  EXPECT_EQ(answers_.requestCount(), 1u);
  answers_.queue(listAnswer(page(200, 2), 2));
  scrollToEnd(table, 22);
  screen_->loadMore();
  waitIdle(*screen_);
  EXPECT_EQ(answers_.requestCount(), 2u);
}

TEST_F(NQBaseTableViewControllerTest, AnEmptyListAsksForNoNextPage) {
  // As after a first page of more to come, emptied by loadNewer: the counted row gets a cell.
  screen_->setCanLoadMore(true);
  screen_->tableView()->reloadData();
  os::TouchDriver::settle();
  screen_->loadMore();
  os::TouchDriver::dragScrollView(*screen_->tableView(), os::Point{0, -100}, os::Point{0, -600});
  os::TouchDriver::advance(1);
  EXPECT_EQ(answers_.requestCount(), 0u);
  // Row 0 of an empty list is no load-more row: it has no height.
  EXPECT_EQ(screen_->tableView()->numberOfRowsInSection(0), 1);
  EXPECT_EQ(screen_->tableView()->rectForRowAtIndexPath(os::IndexPath::forRow(0, 0)).size.height, 0);
}

}  // namespace
