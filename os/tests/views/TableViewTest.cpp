#include <gtest/gtest.h>

#include <map>
#include <set>

#include "os/core/Error.h"
#include "os/core/String.h"
#include "os/views/TableView.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

// A table of numbered rows that counts what the table asks of it.
struct Rows : TableViewDataSource, TableViewDelegate {
  long count = 100;
  int cellsMade = 0, cellsAsked = 0;
  std::vector<IndexPath> selected, deselected;
  std::optional<double> tallRowHeight;
  std::map<long, double> heights;  // rows of other heights than the table's
  std::vector<long> heightsAsked;
  long numberOfRowsInSection(TableView&, long) override { return count; }
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& table, const IndexPath& ip) override {
    ++cellsAsked;
    auto cell = table.dequeueReusableCellWithIdentifier("row");
    if (!cell) {
      ++cellsMade;
      cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "row");
    }
    cell->textLabel()->setText(format("row %ld", ip.row));
    return cell;
  }
  std::optional<double> heightForRowAtIndexPath(TableView&, const IndexPath& ip) override {
    heightsAsked.push_back(ip.row);
    if (tallRowHeight && ip.row == 0) return tallRowHeight;
    if (auto it = heights.find(ip.row); it != heights.end()) return it->second;
    return std::nullopt;
  }
  void didSelectRowAtIndexPath(TableView&, const IndexPath& ip) override { selected.push_back(ip); }
  void didDeselectRowAtIndexPath(TableView&, const IndexPath& ip) override { deselected.push_back(ip); }
};

class TableViewTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    rows = std::make_shared<Rows>();
    table = std::make_shared<TableView>(Rect(0, 0, 320, 440), TableViewStyle::Plain);
    table->setDataSource(rows);
    table->setDelegate(rows);
    window->addSubview(table);
    TouchDriver::settle();
  }
  std::set<long> visibleRows() {
    std::set<long> out;
    for (auto& ip : table->indexPathsForVisibleRows()) out.insert(ip.row);
    return out;
  }
  std::shared_ptr<Rows> rows;
  std::shared_ptr<TableView> table;
};

TEST_F(TableViewTest, OnlyTheRowsInViewHaveCells) {
  EXPECT_EQ(table->contentSize().height, 100 * 44);
  // 440 points show rows 0..9 exactly.
  EXPECT_EQ(visibleRows(), (std::set<long>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(rows->cellsMade, 10);
  EXPECT_EQ(table->cellForRowAtIndexPath(IndexPath{0, 50}), nullptr);
  auto cell = table->cellForRowAtIndexPath(IndexPath{0, 3});
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->textLabel()->text(), "row 3");
  EXPECT_EQ(cell->frame(), Rect(0, 132, 320, 44));
}

TEST_F(TableViewTest, ScrollingReusesTheCellsThatLeftTheScreen) {
  std::set<TableViewCell*> first;
  for (auto& c : table->visibleCells()) first.insert(c.get());
  table->setContentOffset(Point{0, 44 * 20});
  TouchDriver::settle();
  EXPECT_EQ(*visibleRows().begin(), 20);
  EXPECT_EQ(*visibleRows().rbegin(), 29);
  EXPECT_EQ(rows->cellsMade, 10);  // every new row came from the pool
  for (auto& c : table->visibleCells()) EXPECT_TRUE(first.count(c.get()));
  EXPECT_EQ(table->cellForRowAtIndexPath(IndexPath{0, 25})->textLabel()->text(), "row 25");

  // Half a row off: the partly shown rows at both ends are there too.
  table->setContentOffset(Point{0, 44 * 20 + 22});
  TouchDriver::settle();
  EXPECT_EQ(visibleRows().size(), 11u);
  EXPECT_EQ(rows->cellsMade, 11);
  EXPECT_LE(table->subviews().size(), 12u);  // no cell piles up in the tree
}

TEST_F(TableViewTest, TappingARowSelectsItAndTellsTheDelegate) {
  ASSERT_TRUE(TouchDriver::tapRow(*table, IndexPath{0, 42}));
  EXPECT_EQ(rows->selected, std::vector<IndexPath>{(IndexPath{0, 42})});
  EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 42}));
  EXPECT_TRUE(table->cellForRowAtIndexPath(IndexPath{0, 42})->isSelected());
  // Another row: the first is deselected and the delegate hears it.
  ASSERT_TRUE(TouchDriver::tapRow(*table, IndexPath{0, 43}));
  EXPECT_EQ(rows->deselected, std::vector<IndexPath>{(IndexPath{0, 42})});
  EXPECT_FALSE(table->cellForRowAtIndexPath(IndexPath{0, 42})->isSelected());
}

TEST_F(TableViewTest, ADragDoesNotSelectAndAnInertCellCannotBeSelected) {
  TouchDriver::dragScrollView(*table, Point{0, -100});
  EXPECT_TRUE(rows->selected.empty());
  table->setContentOffset(Point{0, 0});
  TouchDriver::settle();
  table->cellForRowAtIndexPath(IndexPath{0, 1})->setUserInteractionEnabled(false);
  TouchDriver::tap(*table->cellForRowAtIndexPath(IndexPath{0, 1}));
  EXPECT_TRUE(rows->selected.empty());
}

TEST_F(TableViewTest, ReusedCellsComeBackUnselected) {
  table->selectRowAtIndexPath(IndexPath{0, 0}, false, TableViewScrollPosition::None);
  ASSERT_TRUE(table->cellForRowAtIndexPath(IndexPath{0, 0})->isSelected());
  table->setContentOffset(Point{0, 44 * 30});
  TouchDriver::settle();
  for (auto& c : table->visibleCells()) EXPECT_FALSE(c->isSelected());
  // Back at the top the selected row shows as selected again.
  table->setContentOffset(Point{0, 0});
  TouchDriver::settle();
  EXPECT_TRUE(table->cellForRowAtIndexPath(IndexPath{0, 0})->isSelected());
}

TEST_F(TableViewTest, HeightsFromTheDelegateMoveTheRowsBelow) {
  rows->tallRowHeight = 100;
  table->reloadData();
  TouchDriver::settle();
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{0, 1}), Rect(0, 100, 320, 44));
  EXPECT_EQ(table->contentSize().height, 100 + 99 * 44);
  EXPECT_EQ(table->indexPathForRowAtPoint(Point{5, 143}), (IndexPath{0, 1}));
  EXPECT_EQ(table->indexPathForRowAtPoint(Point{5, 144}), (IndexPath{0, 2}));
  EXPECT_THROW(table->rectForRowAtIndexPath(IndexPath{0, 100}), Exception);
}

TEST_F(TableViewTest, AReloadAsksTheNewRowsAndTheRowsInViewAndTheOthersWhenTheyComeIntoView) {
  rows->heightsAsked.clear();
  auto asked = [&](bool once = true) {
    std::set<long> out(rows->heightsAsked.begin(), rows->heightsAsked.end());
    if (once) {
      EXPECT_EQ(out.size(), rows->heightsAsked.size());  // none asked twice
    }
    rows->heightsAsked.clear();
    return out;
  };
  // The last row loads more; out of view at the reload, it is asked again as it comes into view.
  rows->heights[99] = 60;
  table->reloadData();
  table->setContentOffset(Point{0, 99 * 44 + 60 - 440});
  TouchDriver::settle();
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{0, 99}), Rect(0, 99 * 44, 320, 60));
  EXPECT_EQ(table->contentSize().height, 99 * 44 + 60);

  // At the end of the list a page arrives: the row that loaded more is a row like the others now.
  asked();
  rows->count = 120;
  rows->heights.erase(99);
  rows->heights[119] = 60;
  table->reloadData();
  TouchDriver::settle();
  std::set<long> page = asked();
  for (long r = 90; r < 120; ++r) EXPECT_TRUE(page.count(r)) << r;
  EXPECT_LE(page.size(), 32u);
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{0, 100}), Rect(0, 100 * 44, 320, 44));
  EXPECT_EQ(table->contentSize().height, 119 * 44 + 60);

  // A row in view that changed: every row is asked, and the table is exact at once.
  rows->heights[95] = 100;
  table->reloadData();
  EXPECT_EQ(asked(false).size(), 120u);
  EXPECT_EQ(table->contentSize().height, 118 * 44 + 60 + 100);

  // Rows out of view that changed take their heights as they come into view and move the rows
  // below; one that had no height may have one now.
  table->setContentOffset(Point{0, 0});
  rows->heights[0] = 0;
  table->reloadData();
  TouchDriver::settle();
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{0, 0}).size.height, 0);
  table->setContentOffset(Point{0, 44 * 50});
  TouchDriver::settle();
  asked(false);
  rows->heights[0] = 30;
  rows->heights[10] = 80;
  table->reloadData();
  TouchDriver::settle();
  EXPECT_LE(asked().size(), 12u);
  table->setContentOffset(Point{0, 0});
  TouchDriver::settle();
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{0, 0}), Rect(0, 0, 320, 30));
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{0, 10}), Rect(0, 30 + 9 * 44, 320, 80));
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{0, 11}).minY(), 30 + 9 * 44 + 80);
  EXPECT_EQ(table->contentSize().height, 116 * 44 + 60 + 100 + 30 + 80);
  EXPECT_EQ(*visibleRows().begin(), 0);

  // Another delegate: every row is asked again.
  auto other = std::make_shared<Rows>();
  other->count = 120;
  table->setDataSource(other);
  table->setDelegate(other);
  TouchDriver::settle();
  EXPECT_EQ(other->heightsAsked.size(), 120u);
  EXPECT_EQ(table->contentSize().height, 120 * 44);
}

// Where a row is visible: its cell shows, wholly inside the table's bounds.
::testing::AssertionResult rowShows(TableView& table, const IndexPath& ip) {
  auto cell = table.cellForRowAtIndexPath(ip);
  if (!cell) return ::testing::AssertionFailure() << "row " << ip.row << " has no cell";
  Rect b = table.bounds(), f = cell->frame();
  if (f.minY() < b.minY() - 0.5 || f.maxY() > b.maxY() + 0.5)
    return ::testing::AssertionFailure() << "row " << ip.row << " at " << f.minY() << "-" << f.maxY() << ", bounds "
                                         << b.minY() << "-" << b.maxY();
  return ::testing::AssertionSuccess();
}

TEST_F(TableViewTest, ScrollingToARowPlacesItByTheHeightsOfTheRowsAboveItAsTheyAreNow) {
  // Rows out of view grew while the table kept their old heights from before the reload.
  for (long r = 20; r < 30; ++r) rows->heights[r] = 100;
  table->reloadData();
  TouchDriver::settle();
  ASSERT_TRUE(TouchDriver::tapRow(*table, IndexPath{0, 25}));
  EXPECT_EQ(rows->selected, std::vector<IndexPath>{(IndexPath{0, 25})});
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{0, 25}), Rect(0, 20 * 44 + 5 * 100, 320, 100));
  EXPECT_TRUE(rowShows(*table, IndexPath{0, 25}));

  table->setContentOffset(Point{0, 0});
  rows->heights.clear();
  for (long r = 30; r < 40; ++r) rows->heights[r] = 80;
  table->reloadData();
  TouchDriver::settle();
  for (auto position : {TableViewScrollPosition::Bottom, TableViewScrollPosition::Middle, TableViewScrollPosition::Top,
                        TableViewScrollPosition::None}) {
    table->setContentOffset(Point{0, 0});
    TouchDriver::settle();
    table->scrollToRowAtIndexPath(IndexPath{0, 45}, position, false);
    TouchDriver::settle();
    EXPECT_TRUE(rowShows(*table, IndexPath{0, 45})) << static_cast<int>(position);
  }
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{0, 45}).minY(), 35 * 44 + 10 * 80);
  // Placed at the bottom, the row ends where the bounds end.
  table->setContentOffset(Point{0, 0});
  TouchDriver::settle();
  table->scrollToRowAtIndexPath(IndexPath{0, 45}, TableViewScrollPosition::Bottom, false);
  TouchDriver::settle();
  EXPECT_EQ(table->bounds().maxY(), 35 * 44 + 10 * 80 + 44);
}

TEST_F(TableViewTest, ScrollingToARowAfterTheRowsBelowItShrankStopsAtTheLastRow) {
  // Rows below the target shrank out of view: the content ends sooner than the kept heights say.
  for (long r = 80; r < 100; ++r) rows->heights[r] = 10;
  table->reloadData();
  TouchDriver::settle();
  for (auto position : {TableViewScrollPosition::Top, TableViewScrollPosition::Middle, TableViewScrollPosition::Bottom,
                        TableViewScrollPosition::None}) {
    table->setContentOffset(Point{0, 0});
    TouchDriver::settle();
    table->scrollToRowAtIndexPath(IndexPath{0, 79}, position, false);
    TouchDriver::settle();
    EXPECT_EQ(table->contentSize().height, 80 * 44 + 20 * 10) << static_cast<int>(position);
    EXPECT_LE(table->bounds().maxY(), 80 * 44 + 20 * 10) << static_cast<int>(position);
    EXPECT_TRUE(rowShows(*table, IndexPath{0, 79})) << static_cast<int>(position);
  }
  // Asked for the top, it goes as far as the content lets it: the last row at the bottom.
  table->scrollToRowAtIndexPath(IndexPath{0, 79}, TableViewScrollPosition::Top, false);
  TouchDriver::settle();
  EXPECT_EQ(table->bounds().maxY(), 80 * 44 + 20 * 10);
  EXPECT_TRUE(rowShows(*table, IndexPath{0, 99}));
}

TEST_F(TableViewTest, RowsPutInFrontOfTheListAreReachedByTheirOwnHeights) {
  // A list whose items carry their heights: a pull puts newer items in front, and every item
  // moves down by as many rows while the table's kept heights stay at their old indexes.
  struct Items : Rows {
    std::vector<double> items;  // heights, front first
    long numberOfRowsInSection(TableView&, long) override { return static_cast<long>(items.size()); }
    std::optional<double> heightForRowAtIndexPath(TableView&, const IndexPath& ip) override {
      return items[static_cast<std::size_t>(ip.row)];
    }
  };
  auto items = std::make_shared<Items>();
  for (long i = 0; i < 80; ++i) items->items.push_back(i < 15 ? 44 : 44 + (i % 3) * 30);
  table->setDataSource(items);
  table->setDelegate(items);
  TouchDriver::settle();
  items->items.insert(items->items.begin(), 5, 44.0);
  table->reloadData();
  TouchDriver::settle();
  double top = 0;
  for (long i = 0; i < 60; ++i) top += items->items[static_cast<std::size_t>(i)];
  ASSERT_TRUE(TouchDriver::tapRow(*table, IndexPath{0, 60}));
  EXPECT_EQ(items->selected, std::vector<IndexPath>{(IndexPath{0, 60})});
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{0, 60}).minY(), top);
  EXPECT_TRUE(rowShows(*table, IndexPath{0, 60}));
}

// Sections of named rows with titled headers, as a list of friends by letter.
struct Letters : Rows {
  std::vector<std::vector<double>> sections;  // each section's row heights
  long numberOfSectionsInTableView(TableView&) override { return static_cast<long>(sections.size()); }
  long numberOfRowsInSection(TableView&, long s) override { return static_cast<long>(sections[static_cast<std::size_t>(s)].size()); }
  std::optional<std::string> titleForHeaderInSection(TableView&, long s) override { return format("%c", static_cast<char>('A' + s)); }
  std::optional<double> heightForRowAtIndexPath(TableView&, const IndexPath& ip) override {
    return sections[static_cast<std::size_t>(ip.section)][static_cast<std::size_t>(ip.row)];
  }
};

TEST_F(TableViewTest, ASectionThatMovesAtAReloadTakesAllItsRowsAlong) {
  auto letters = std::make_shared<Letters>();
  letters->sections = {{44}, {44, 66, 44}};
  table->setDataSource(letters);
  table->setDelegate(letters);
  TouchDriver::settle();
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{1, 0}).minY(), 22 + 44 + 22);
  // An earlier letter gains a friend: the later letter's rows, kept, move down by that row.
  letters->sections[0].push_back(44);
  table->reloadData();
  TouchDriver::settle();
  const double b = 22 + 88;  // where the later letter starts
  EXPECT_EQ(table->rectForHeaderInSection(1), Rect(0, b, 320, 22));
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{1, 0}), Rect(0, b + 22, 320, 44));
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{1, 1}), Rect(0, b + 66, 320, 66));
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{1, 2}), Rect(0, b + 132, 320, 44));
  EXPECT_EQ(table->contentSize().height, b + 22 + 154);

  // The first letter loses its friends: the second starts at the top.
  letters->sections[0].clear();
  table->reloadData();
  TouchDriver::settle();
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{1, 0}), Rect(0, 22 + 22, 320, 44));
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{1, 1}), Rect(0, 22 + 66, 320, 66));
}

TEST_F(TableViewTest, ARowThatChangedOutOfViewMovesTheLaterSectionsAsItComesIntoView) {
  auto letters = std::make_shared<Letters>();
  letters->sections = {std::vector<double>(40, 44), std::vector<double>(5, 44), std::vector<double>(3, 44)};
  table->setDataSource(letters);
  table->setDelegate(letters);
  TouchDriver::settle();
  // Out of view at the reload, row 30 of the first letter grew by 56.
  letters->sections[0][30] = 100;
  table->reloadData();
  TouchDriver::settle();
  table->setContentOffset(Point{0, 22 + 28 * 44});
  TouchDriver::settle();
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{0, 30}), Rect(0, 22 + 30 * 44, 320, 100));
  const double second = 22 + 40 * 44 + 56;
  EXPECT_EQ(table->rectForHeaderInSection(1), Rect(0, second, 320, 22));
  for (long r = 0; r < 5; ++r)
    EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{1, r}), Rect(0, second + 22 + r * 44, 320, 44)) << r;
  const double third = second + 22 + 5 * 44;
  EXPECT_EQ(table->rectForHeaderInSection(2), Rect(0, third, 320, 22));
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{2, 2}), Rect(0, third + 22 + 88, 320, 44));
  EXPECT_EQ(table->contentSize().height, third + 22 + 3 * 44);
  // The header on screen stands where its section starts.
  table->setContentOffset(Point{0, second - 100});
  TouchDriver::settle();
  auto header = table->headerViewForSection(1);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->frame(), Rect(0, second, 320, 22));
}

TEST_F(TableViewTest, InsertsAndDeletesMustMatchTheDataSource) {
  rows->count = 101;
  table->insertRowsAtIndexPaths({IndexPath{0, 0}}, TableViewRowAnimation::Automatic);
  TouchDriver::settle();
  EXPECT_EQ(table->numberOfRowsInSection(0), 101);
  EXPECT_EQ(table->cellForRowAtIndexPath(IndexPath{0, 0})->textLabel()->text(), "row 0");

  // The data source still counts the removed row: a fault the table reports.
  EXPECT_THROW(table->deleteRowsAtIndexPaths({IndexPath{0, 5}}, TableViewRowAnimation::Fade), Exception);

  table->selectRowAtIndexPath(IndexPath{0, 10}, false, TableViewScrollPosition::None);
  rows->count = 100;
  table->beginUpdates();
  table->deleteRowsAtIndexPaths({IndexPath{0, 2}}, TableViewRowAnimation::Fade);
  table->endUpdates();
  EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 9}));  // moved up with its row
}

TEST_F(TableViewTest, SectionsHeadersAndTableHeaderTakeTheirPlace) {
  struct Sections : Rows {
    long numberOfSectionsInTableView(TableView&) override { return 2; }
    long numberOfRowsInSection(TableView&, long s) override { return s == 0 ? 2 : 3; }
    std::optional<std::string> titleForHeaderInSection(TableView&, long s) override { return format("S%ld", s); }
  };
  auto ds = std::make_shared<Sections>();
  auto header = makeView<View>(Rect(0, 0, 320, 50));
  table->setTableHeaderView(header);
  table->setDataSource(ds);
  table->setDelegate(ds);
  table->reloadData();
  TouchDriver::settle();
  EXPECT_EQ(table->rectForHeaderInSection(0), Rect(0, 50, 320, 22));
  EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{1, 0}), Rect(0, 50 + 22 + 88 + 22, 320, 44));
  EXPECT_EQ(table->contentSize().height, 50 + 22 * 2 + 44 * 5);
  EXPECT_EQ(table->indexPathsForVisibleRows().size(), 5u);
}

TEST_F(TableViewTest, ADataSourceWithoutACellIsReported) {
  struct Broken : TableViewDataSource {
    long numberOfRowsInSection(TableView&, long) override { return 1; }
  };
  auto broken = std::make_shared<Broken>();
  table->setDataSource(broken);
  table->reloadData();
  EXPECT_THROW(table->layoutIfNeeded(), Exception);
  table->setDataSource(rows);
  table->reloadData();
}

}  // namespace
}  // namespace os::test
