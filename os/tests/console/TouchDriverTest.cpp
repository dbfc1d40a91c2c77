#include <gtest/gtest.h>

#include "os/core/String.h"
#include "os/views/GestureRecognizer.h"
#include "os/views/TableView.h"
#include "os/tests/views/ViewsTestSupport.h"

namespace os::test {
namespace {

// What a pan recognizer reports, state by state.
struct PanLog {
  std::vector<GestureRecognizerState> states;
  std::vector<Point> translations;
  Point releaseVelocity{-1, -1};
  void attach(View& view) {
    auto pan = std::make_shared<PanGestureRecognizer>();
    pan->addTarget(this, [this](GestureRecognizer& g) {
      auto& p = static_cast<PanGestureRecognizer&>(g);
      states.push_back(p.state());
      translations.push_back(p.translationInView(nullptr));
      if (p.state() == GestureRecognizerState::Ended) releaseVelocity = p.velocityInView(nullptr);
    });
    view.addGestureRecognizer(pan);
  }
};

using TouchDriverTest = ScreenTest;

TEST_F(TouchDriverTest, APanFollowsItsPathAndLiftsAtTheVelocityAskedFor) {
  auto pad = makeView<View>(Rect(0, 0, 320, 480));
  window->addSubview(pad);
  PanLog log;
  log.attach(*pad);
  PanOptions o;
  o.steps = 4;
  o.through = {Point{250, 50}};
  TouchDriver::pan(Point{50, 50}, Point{50, 250}, o);
  // Two legs of four samples: the first begins the pan, every other one changes it.
  ASSERT_EQ(log.states.size(), 9u);
  EXPECT_EQ(log.states.front(), GestureRecognizerState::Began);
  EXPECT_EQ(log.states.back(), GestureRecognizerState::Ended);
  EXPECT_EQ(log.translations[3], (Point{200, 0}));
  EXPECT_EQ(log.translations.back(), (Point{0, 200}));
  // Unasked, the finger lifts at the speed of the last leg's steps.
  EXPECT_NEAR(log.releaseVelocity.y, 50 / TouchDriver::kSampleInterval, 1e-6);

  log = PanLog{};
  log.attach(*pad);
  o = PanOptions{};
  o.releaseVelocity = Point{0, -900};
  TouchDriver::pan(Point{50, 300}, Point{50, 100}, o);
  EXPECT_NEAR(log.releaseVelocity.y, -900, 1e-6);
  EXPECT_EQ(log.translations.back(), (Point{0, -200}));
  o.releaseVelocity = Point{};
  TouchDriver::pan(Point{50, 300}, Point{50, 100}, o);
  EXPECT_EQ(log.releaseVelocity, (Point{0, 0}));
}

TEST_F(TouchDriverTest, ADragsPanBeginsOnItsFirstSampleAndAFingerStopsWhereTheTestLooks) {
  auto pad = makeView<View>(Rect(0, 0, 320, 480));
  window->addSubview(pad);
  PanLog log;
  log.attach(*pad);
  TouchDriver::drag(Point{200, 300}, Point{150, 340});
  EXPECT_EQ(log.states, (std::vector<GestureRecognizerState>{GestureRecognizerState::Began, GestureRecognizerState::Changed,
                                                             GestureRecognizerState::Ended}));
  EXPECT_EQ(log.translations.back(), (Point{-50, 40}));

  log = PanLog{};
  log.attach(*pad);
  Finger finger(*window, Point{100, 100});
  finger.moveTo(Point{100, 140});
  EXPECT_EQ(log.states, std::vector<GestureRecognizerState>{GestureRecognizerState::Began});
  finger.moveTo(Point{100, 160});
  EXPECT_EQ(log.translations.back(), (Point{0, 60}));
  finger.cancel();
  EXPECT_EQ(log.states.back(), GestureRecognizerState::Cancelled);
}

TEST(TouchDriverRealClockTest, SamplesArePacedByTheClock) {
  // The running reader's clock is real: samples sent back to back would make every drag a flick.
  ASSERT_FALSE(Clock::isVirtual());
  TestSandbox sandbox;
  auto window = testing::showKeyWindow();
  auto pad = makeView<View>(Rect(0, 0, 320, 480));
  window->addSubview(pad);
  PanLog log;
  log.attach(*pad);
  PanOptions o;
  o.steps = 2;
  o.releaseVelocity = Point{0, -600};
  TouchDriver::pan(Point{50, 300}, Point{50, 100}, o);
  ASSERT_EQ(log.states.back(), GestureRecognizerState::Ended);
  EXPECT_LT(log.releaseVelocity.y, 0);
  EXPECT_GE(log.releaseVelocity.y, -600 * 1.001);
  testing::hideKeyWindow(window);
}

TEST_F(TouchDriverTest, ACancelledDragEndsWithoutTheRelease) {
  auto scroll = makeView<ScrollView>(Rect(0, 0, 320, 400));
  scroll->setContentSize(Size{320, 2000});
  window->addSubview(scroll);
  PanOptions o;
  o.cancel = true;
  o.releaseVelocity = Point{0, -2000};
  TouchDriver::dragScrollView(*scroll, Point{0, -150}, o);
  // The flick never happened: the content stays where the finger left it.
  EXPECT_FALSE(scroll->isDragging());
  EXPECT_FALSE(scroll->isDecelerating());
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 150}));
}

TEST_F(TouchDriverTest, ADragBeginsWhereItIsToldTo) {
  auto scroll = makeView<ScrollView>(Rect(0, 0, 320, 400));
  scroll->setContentSize(Size{320, 2000});
  window->addSubview(scroll);
  // A strip at the top that takes drags for itself.
  auto strip = makeView<View>(Rect(0, 0, 320, 60));
  scroll->addSubview(strip);
  PanLog stripLog;
  stripLog.attach(*strip);
  TouchDriver::dragScrollView(*scroll, Point{0, -100}, PanOptions{}, Point{160, 30});
  EXPECT_FALSE(stripLog.states.empty());
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 0}));
  TouchDriver::dragScrollView(*scroll, Point{0, -100}, PanOptions{});
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 100}));
}

// A list whose delegate plays the pull-to-refresh header: past 65 points it holds the content
// down by 60 when the finger lets go.
struct List : TableViewDataSource, TableViewDelegate {
  long count = 3;
  Trace trace;
  double lowest = 0;
  long numberOfRowsInSection(TableView&, long) override { return count; }
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& table, const IndexPath& ip) override {
    auto cell = table.dequeueReusableCellWithIdentifier("row");
    if (!cell) cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "row");
    cell->textLabel()->setText(format("row %ld", ip.row));
    return cell;
  }
  void scrollViewDidScroll(ScrollView& s) override { lowest = std::min(lowest, s.contentOffset().y); }
  void scrollViewDidEndDragging(ScrollView& s, bool decelerate) override {
    trace.add(format("end drag %g%s", s.contentOffset().y, decelerate ? " decelerate" : ""));
    if (s.contentOffset().y <= -65) s.setContentInset(EdgeInsets{60, 0, 0, 0});
  }
  void scrollViewDidEndDecelerating(ScrollView& s) override { trace.add(format("rest %g", s.contentOffset().y + 0.0)); }
};

class ListDriverTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    list = std::make_shared<List>();
    table = makeView<TableView>(Rect(0, 20, 320, 460), TableViewStyle::Plain);
    table->setDataSource(list);
    table->setDelegate(list);
    window->addSubview(table);
    TouchDriver::settle();
  }
  std::shared_ptr<List> list;
  std::shared_ptr<TableView> table;
};

TEST_F(ListDriverTest, AShortOrEmptyListCanBePulled) {
  // Tables bounce vertically even when their rows do not fill them.
  ASSERT_TRUE(TouchDriver::pull(*table));
  EXPECT_LE(list->lowest, -TouchDriver::kPullDistance);
  EXPECT_EQ(table->contentOffset(), (Point{0, -60}));
  EXPECT_EQ(list->trace.events.back(), "rest -60");

  list->count = 0;
  table->reloadData();
  table->setContentInset(EdgeInsets{});
  table->setContentOffset(Point{});
  EXPECT_TRUE(TouchDriver::pull(*table));

  // A plain scroll view with short content, or a table told not to bounce, does not give way.
  table->setContentInset(EdgeInsets{});
  table->setContentOffset(Point{});
  table->setAlwaysBounceVertical(false);
  EXPECT_FALSE(TouchDriver::pull(*table));
  EXPECT_EQ(table->contentOffset(), (Point{0, 0}));
}

TEST_F(ListDriverTest, APullFromFarDownComesBackToTheTopFirst) {
  list->count = 100;
  table->reloadData();
  table->setContentOffset(Point{0, 1500});
  list->lowest = 1500;
  ASSERT_TRUE(TouchDriver::pull(*table));
  // Straight up, then one stroke past the top, held still before it lifts.
  auto& events = list->trace.events;
  EXPECT_EQ(events, (std::vector<std::string>{"end drag -80 decelerate", "rest -60"}));
  EXPECT_LE(list->lowest, -TouchDriver::kPullDistance);

  // Where the view does not go to its top at once, strokes held still before lifting bring it
  // down: only the last one moves the content once let go.
  table->setContentInset(EdgeInsets{});
  table->setContentOffset(Point{0, 1500});
  table->setScrollsToTop(false);
  list->trace.clear();
  ASSERT_TRUE(TouchDriver::pull(*table));
  ASSERT_GE(events.size(), 3u);
  for (std::size_t i = 0; i + 2 < events.size(); ++i) EXPECT_EQ(events[i].find("decelerate"), std::string::npos) << events[i];
  EXPECT_NE(events[events.size() - 2].find("decelerate"), std::string::npos);
  EXPECT_EQ(events.back(), "rest -60");
}

TEST_F(ListDriverTest, ScrollingToTheEndComesToRestThere) {
  list->count = 100;
  table->reloadData();
  ASSERT_TRUE(TouchDriver::scrollToEnd(*table));
  const double end = 100 * 44 - 460;
  EXPECT_EQ(table->contentOffset().y, end);
  EXPECT_EQ(list->trace.events.back(), format("rest %g", end));
  // Already there, the reader's drag still ends in a rest at the end (a list asks for more then).
  list->trace.clear();
  ASSERT_TRUE(TouchDriver::scrollToEnd(*table));
  EXPECT_EQ(list->trace.events.back(), format("rest %g", end));
  // So does a list shorter than its view.
  list->count = 2;
  table->reloadData();
  table->setContentOffset(Point{});
  list->trace.clear();
  ASSERT_TRUE(TouchDriver::scrollToEnd(*table));
  EXPECT_EQ(list->trace.events.back(), "rest 0");
}

}  // namespace
}  // namespace os::test
