#include <gtest/gtest.h>

#include "os/core/String.h"
#include "os/views/TableView.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

struct Feed : TableViewDataSource, TableViewDelegate {
  std::vector<IndexPath> taps;
  long numberOfRowsInSection(TableView&, long) override { return 30; }
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& t, const IndexPath& ip) override {
    auto cell = t.dequeueReusableCellWithIdentifier("feed");
    if (!cell) cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "feed");
    cell->textLabel()->setText(format("item %ld", ip.row));
    return cell;
  }
  void didSelectRowAtIndexPath(TableView&, const IndexPath& ip) override { taps.push_back(ip); }
};

// A paging area of three vertical lists side by side, as a tabbed news screen lays them out.
class NestedScrollingTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    feed = std::make_shared<Feed>();
    pager = makeView<ScrollView>(Rect(0, 34, 320, 470));
    pager->setPagingEnabled(true);
    pager->setContentSize(Size{320 * 3, 470});
    window->addSubview(pager);
    for (int i = 0; i < 3; ++i) {
      auto t = std::make_shared<TableView>(Rect(320.0 * i, 0, 320, 470), TableViewStyle::Plain);
      t->setDataSource(feed);
      t->setDelegate(feed);
      pager->addSubview(t);
      tables.push_back(t);
    }
    TouchDriver::settle();
  }
  std::shared_ptr<Feed> feed;
  std::shared_ptr<ScrollView> pager;
  std::vector<std::shared_ptr<TableView>> tables;
};

TEST_F(NestedScrollingTest, AVerticalDragScrollsTheListAndNotThePages) {
  TouchDriver::dragScrollView(*tables[0], Point{0, -120}, Point{0, 0});
  EXPECT_EQ(tables[0]->contentOffset(), (Point{0, 120}));
  EXPECT_EQ(pager->contentOffset(), (Point{0, 0}));
  EXPECT_TRUE(feed->taps.empty());
}

TEST_F(NestedScrollingTest, ASidewaysFlickTurnsThePageAndTheNextListTakesTaps) {
  TouchDriver::dragScrollView(*tables[0], Point{-80, 0}, Point{-900, 0});
  EXPECT_EQ(pager->contentOffset(), (Point{320, 0}));
  EXPECT_EQ(tables[0]->contentOffset(), (Point{0, 0}));
  TouchDriver::advance(ScrollView::kDecelerationDuration);
  ASSERT_TRUE(TouchDriver::tapRow(*tables[1], IndexPath{0, 2}));
  EXPECT_EQ(feed->taps, std::vector<IndexPath>{(IndexPath{0, 2})});
  EXPECT_EQ(tables[1]->indexPathForSelectedRow(), (IndexPath{0, 2}));
  EXPECT_FALSE(tables[0]->indexPathForSelectedRow());
}

TEST_F(NestedScrollingTest, ATapDuringDecelerationOnlyStopsIt) {
  struct Ends : Feed {
    int ended = 0;
    void scrollViewDidEndDecelerating(ScrollView&) override { ++ended; }
  };
  auto ends = std::make_shared<Ends>();
  tables[0]->setDelegate(ends);
  TouchDriver::dragScrollView(*tables[0], Point{0, -100}, Point{0, -1500});
  ASSERT_TRUE(tables[0]->isDecelerating());
  TouchDriver::tap(*tables[0]->visibleCells().front());
  EXPECT_FALSE(tables[0]->isDecelerating());
  TouchDriver::advance(1);
  EXPECT_TRUE(ends->taps.empty());
  EXPECT_EQ(ends->ended, 0);
  // The next tap selects.
  TouchDriver::tap(*tables[0]->visibleCells().front());
  EXPECT_EQ(ends->taps.size(), 1u);
}

}  // namespace
}  // namespace os::test
