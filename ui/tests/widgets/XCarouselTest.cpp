#include "ui/widgets/XCarousel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/console/TouchDriver.h"
#include "os/testing/ScreenHelpers.h"
#include "os/views/Control.h"
#include "os/views/Window.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Items are 100-point square views tagged with index + 1; options can be overridden.
struct Owner : XCarouselDataSource, XCarouselDelegate {
  int count = 10;
  int placeholders = 0;
  double width = 100;
  bool nilItems = false;
  bool controls = false;  // items are controls that handle their own touches
  std::vector<int> placeholderAsks, selected;
  std::map<XCarouselOption, double> options;
  int scrollEnds = 0, indexChanges = 0, dragBegins = 0;

  int numberOfItemsInCarousel(XCarousel&) override { return count; }
  std::shared_ptr<os::View> viewForItemAtIndex(XCarousel&, int index, std::shared_ptr<os::View> reusing) override {
    if (nilItems) return nullptr;
    std::shared_ptr<os::View> view = reusing;
    if (!view && controls) view = std::make_shared<os::Control>(os::Rect{0, 0, width, width});
    if (!view) view = std::make_shared<os::View>(os::Rect{0, 0, width, width});
    view->setTag(index + 1);
    return view;
  }
  int numberOfPlaceholdersInCarousel(XCarousel&) override { return placeholders; }
  std::shared_ptr<os::View> placeholderViewAtIndex(XCarousel&, int index, std::shared_ptr<os::View> reusing) override {
    placeholderAsks.push_back(index);
    return reusing ? reusing : std::make_shared<os::View>(os::Rect{0, 0, width, width});
  }
  double valueForOption(XCarousel&, XCarouselOption option, double value) override {
    auto it = options.find(option);
    return it == options.end() ? value : it->second;
  }
  void didSelectItemAtIndex(XCarousel&, int index) override { selected.push_back(index); }
  void carouselDidEndScrollingAnimation(XCarousel&) override { ++scrollEnds; }
  void carouselWillBeginDragging(XCarousel&) override { ++dragBegins; }
  void carouselCurrentItemIndexDidChange(XCarousel&) override { ++indexChanges; }
};

class XCarouselTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = os::testing::showKeyWindow();
    carousel_ = std::make_shared<XCarousel>(os::Rect{0, 0, 320, 200});
  }
  void TearDown() override {
    carousel_->removeFromSuperview();
    os::testing::hideKeyWindow(window_);
    os::RunLoop::main()->runUntilIdle();
  }
  // Data source and delegate set, shown in the window and laid out, any settling scroll ended.
  void show(unsigned type = kXCarouselTypeLinear) {
    carousel_->setType(type);
    carousel_->setDelegate(owner_);
    carousel_->setDataSource(owner_);
    window_->addSubview(carousel_);
    window_->layoutIfNeeded();
    os::TouchDriver::advance(0.5);
  }
  os::Transform3D transformAt(int index) {
    auto view = carousel_->itemViewAtIndex(index);
    EXPECT_TRUE(view);
    return view ? view->superviewPtr()->layer().transform() : os::Transform3D{};
  }

  os::VirtualClockScope clock_;
  std::shared_ptr<os::Window> window_;
  std::shared_ptr<XCarousel> carousel_;
  std::shared_ptr<Owner> owner_ = std::make_shared<Owner>();
};

TEST_F(XCarouselTest, LinearPlacesItemsOneWidthApartWithPerspective) {
  show();
  EXPECT_DOUBLE_EQ(carousel_->itemWidth(), 100);
  // ceil(320 / 100) + 2 slots, starting two before the current item but not before 0.
  EXPECT_EQ(carousel_->numberOfVisibleItems(), 6);
  EXPECT_EQ(carousel_->indexesForVisibleItems(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  carousel_->setScrollOffset(2.5);
  auto t = transformAt(4);
  EXPECT_DOUBLE_EQ(t.m41, 150);
  EXPECT_DOUBLE_EQ(t.m34, -0.002);
  EXPECT_DOUBLE_EQ(transformAt(1).m41, -150);
  carousel_->setViewpointOffset({10, 20});
  EXPECT_DOUBLE_EQ(transformAt(4).m41, 140);
  EXPECT_DOUBLE_EQ(transformAt(4).m42, -20);
}

TEST_F(XCarouselTest, CircularLayoutsAtKnownOffsets) {
  owner_->count = 5;
  show(kXCarouselTypeRotary);
  EXPECT_TRUE(carousel_->isWrapEnabled());
  // ceil(320 / 100) * pi = 12.57 → 12, then at most the 5 items.
  EXPECT_EQ(carousel_->circularCarouselItemCount(), 5);
  const double r = 50 / std::tan(kPi / 5);
  auto t = carousel_->transformForItemViewWithOffset(1);
  EXPECT_NEAR(t.m41, r * std::sin(2 * kPi / 5), 1e-9);
  EXPECT_NEAR(t.m43, r * std::cos(2 * kPi / 5) - r, 1e-9);

  carousel_->setType(kXCarouselTypeInvertedRotary);
  t = carousel_->transformForItemViewWithOffset(1);
  EXPECT_NEAR(t.m41, r * std::sin(2 * kPi / 5), 1e-9);  // both signs flip
  EXPECT_NEAR(t.m43, -(r * std::cos(2 * kPi / 5) - r), 1e-9);

  carousel_->setType(kXCarouselTypeTimeMachine);
  t = carousel_->transformForItemViewWithOffset(-2);
  EXPECT_DOUBLE_EQ(t.m41, -2 * 100 * 0.3);
  EXPECT_DOUBLE_EQ(t.m43, -200);
  // Items in front of the current one fade out over one item.
  EXPECT_DOUBLE_EQ(carousel_->alphaForItemWithOffset(0.25), 0.75);
  EXPECT_DOUBLE_EQ(carousel_->alphaForItemWithOffset(3), 0);
}

TEST_F(XCarouselTest, CoverFlowTiltsSideItems) {
  show(kXCarouselTypeCoverFlow);
  EXPECT_DOUBLE_EQ(carousel_->offsetMultiplier(), 2.0);
  auto t = carousel_->transformForItemViewWithOffset(2);
  // x = (1 * 0.5 * 0.9 + 2 * 0.25) * 100, z = -50, turned by -0.45 pi about y.
  const double angle = -kPi / 2 * 0.9;
  EXPECT_NEAR(t.m11, std::cos(angle), 1e-12);
  EXPECT_NEAR(t.m41, 95, 1e-9);
  EXPECT_NEAR(t.m43, -50, 1e-9);
  auto centre = carousel_->transformForItemViewWithOffset(0);
  EXPECT_DOUBLE_EQ(centre.m41, 0);
  EXPECT_DOUBLE_EQ(centre.m43, 0);
}

TEST_F(XCarouselTest, WrappingIndexArithmetic) {
  show(kXCarouselTypeRotary);
  ASSERT_TRUE(carousel_->isWrapEnabled());
  EXPECT_EQ(carousel_->clampedIndex(-1), 9);
  EXPECT_EQ(carousel_->clampedIndex(23), 3);
  EXPECT_DOUBLE_EQ(carousel_->clampedOffset(-0.5), 9.5);
  EXPECT_EQ(carousel_->minScrollDistanceFromIndex(9, 0), 1);
  EXPECT_EQ(carousel_->minScrollDistanceFromIndex(0, 9), -1);
  EXPECT_EQ(carousel_->minScrollDistanceFromIndex(2, 5), 3);
  carousel_->setScrollOffset(9);
  EXPECT_DOUBLE_EQ(carousel_->offsetForItemAtIndex(0), 1);
  // From 9 to 0 goes one item forward and ends on 0.
  carousel_->scrollToItemAtIndex(0, true);
  os::TouchDriver::advance(0.2);
  EXPECT_GT(carousel_->scrollOffset(), 9);
  os::TouchDriver::advance(0.3);
  EXPECT_EQ(carousel_->currentItemIndex(), 0);
  EXPECT_DOUBLE_EQ(carousel_->scrollOffset(), 0);
}

TEST_F(XCarouselTest, ScrollToItemEndsOnIndexAfterDuration) {
  show();
  const int endsBefore = owner_->scrollEnds;
  carousel_->scrollToItemAtIndex(4, true);
  EXPECT_TRUE(carousel_->isScrolling());
  os::TouchDriver::advance(0.2);
  EXPECT_GT(carousel_->scrollOffset(), 0);
  EXPECT_LT(carousel_->scrollOffset(), 4);
  os::TouchDriver::advance(0.25);
  EXPECT_FALSE(carousel_->isScrolling());
  EXPECT_DOUBLE_EQ(carousel_->scrollOffset(), 4);
  EXPECT_EQ(carousel_->currentItemIndex(), 4);
  EXPECT_EQ(owner_->scrollEnds, endsBefore + 1);
  // Out of range without wrapping ends on the last item.
  carousel_->scrollToItemAtIndex(40, true);
  os::TouchDriver::advance(0.5);
  EXPECT_EQ(carousel_->currentItemIndex(), 9);
  // No items moved: zero distance snaps to the nearest item.
  carousel_->setScrollOffset(6.3);
  carousel_->scrollByNumberOfItems(0, 0.4);
  os::TouchDriver::advance(0.5);
  EXPECT_DOUBLE_EQ(carousel_->scrollOffset(), 6);
}

TEST_F(XCarouselTest, FlickDeceleratesToAWholeItem) {
  show();
  const os::Point middle = os::TouchDriver::middleOf(*carousel_);
  os::PanOptions options;
  options.releaseVelocity = os::Point{-1500, 0};
  os::TouchDriver::pan(middle, {middle.x - 120, middle.y}, options);
  EXPECT_TRUE(carousel_->isDecelerating() || carousel_->isScrolling());
  os::TouchDriver::advance(3);
  EXPECT_FALSE(carousel_->isDecelerating());
  EXPECT_FALSE(carousel_->isScrolling());
  // 15 items per second at a rate of 0.95 carries about five items past the 1.2 of the drag.
  EXPECT_GE(carousel_->currentItemIndex(), 5);
  EXPECT_DOUBLE_EQ(carousel_->scrollOffset(), std::round(carousel_->scrollOffset()));
}

TEST_F(XCarouselTest, SlowDragSnapsBackAndBouncesAtTheStart) {
  show();
  const os::Point middle = os::TouchDriver::middleOf(*carousel_);
  os::PanOptions options;
  options.releaseVelocity = os::Point{0, 0};
  // Past the first item: the content moves less and less and no further than one item.
  os::TouchDriver::pan(middle, {middle.x + 150, middle.y}, options);
  EXPECT_LT(carousel_->scrollOffset(), 0);
  EXPECT_GE(carousel_->scrollOffset(), -1);
  os::TouchDriver::advance(1);
  EXPECT_DOUBLE_EQ(carousel_->scrollOffset(), 0);
}

TEST_F(XCarouselTest, EdgeAndPerpendicularPansAreNotTaken) {
  carousel_->setEdgeRecognition(true);
  show();
  const os::Point middle = os::TouchDriver::middleOf(*carousel_);
  os::TouchDriver::pan(middle, {middle.x + 100, middle.y});
  os::TouchDriver::advance(0.5);
  EXPECT_DOUBLE_EQ(carousel_->scrollOffset(), 0);
  os::TouchDriver::pan(middle, {middle.x - 20, middle.y + 80});
  os::TouchDriver::advance(0.5);
  EXPECT_DOUBLE_EQ(carousel_->scrollOffset(), 0);
  EXPECT_EQ(owner_->dragBegins, 0);
  // A leftward drag held still before lifting snaps to the nearest item.
  os::PanOptions still;
  still.releaseVelocity = os::Point{0, 0};
  os::TouchDriver::pan(middle, {middle.x - 80, middle.y}, still);
  os::TouchDriver::advance(0.5);
  EXPECT_DOUBLE_EQ(carousel_->scrollOffset(), 1);
}

TEST_F(XCarouselTest, TapSelectsAndCentresItem) {
  carousel_->setCenterItemWhenSelected(false);
  show();
  // Item 1 sits one width right of the centre.
  ASSERT_TRUE(os::TouchDriver::tap(os::TouchDriver::windowPoint(*carousel_, {260, 100})));
  EXPECT_EQ(owner_->selected, std::vector<int>{1});
  os::TouchDriver::advance(0.5);
  EXPECT_EQ(carousel_->currentItemIndex(), 0);  // not centred when that is off
  carousel_->setCenterItemWhenSelected(true);
  os::TouchDriver::tap(os::TouchDriver::windowPoint(*carousel_, {160, 100}));
  EXPECT_EQ(owner_->selected, (std::vector<int>{1, 0}));
  EXPECT_EQ(carousel_->itemViewAtPoint({260, 100}), carousel_->itemViewAtIndex(1));
  EXPECT_EQ(carousel_->itemViewAtPoint({5, 195}), nullptr);  // beyond item -1
}

TEST_F(XCarouselTest, TapOnAControlIsLeftToIt) {
  owner_->controls = true;
  show();
  os::TouchDriver::tap(os::TouchDriver::windowPoint(*carousel_, {160, 100}));
  EXPECT_TRUE(owner_->selected.empty());
}

TEST_F(XCarouselTest, ZeroItemsAndZeroWidthAreSafe) {
  owner_->count = 0;
  show(kXCarouselTypeWheel);
  EXPECT_EQ(carousel_->numberOfItems(), 0);
  EXPECT_EQ(carousel_->currentItemIndex(), 0);
  EXPECT_EQ(carousel_->clampedIndex(5), 0);
  EXPECT_TRUE(carousel_->indexesForVisibleItems().empty());
  carousel_->scrollToItemAtIndex(3, true);
  carousel_->scrollByNumberOfItems(2, 0);
  carousel_->removeItemAtIndex(0, false);
  os::TouchDriver::advance(0.5);
  EXPECT_EQ(carousel_->numberOfItems(), 0);

  // Items measuring no width: counts stay bounded, drags move nothing.
  owner_->count = 4;
  owner_->width = 0;
  carousel_->setType(kXCarouselTypeCylinder);
  carousel_->reloadData();
  window_->layoutIfNeeded();
  EXPECT_DOUBLE_EQ(carousel_->itemWidth(), 0);
  EXPECT_LE(carousel_->numberOfVisibleItems(), 4);
  auto t = carousel_->transformForItemViewWithOffset(1);
  EXPECT_TRUE(std::isfinite(t.m41) && std::isfinite(t.m43));
  const os::Point middle = os::TouchDriver::middleOf(*carousel_);
  os::TouchDriver::pan(middle, {middle.x - 100, middle.y});
  os::TouchDriver::advance(1);
  EXPECT_TRUE(std::isfinite(carousel_->scrollOffset()));
}

TEST_F(XCarouselTest, DegenerateSettingsStayFinite) {
  show();
  // No deceleration at all: a flick still ends on an item instead of a NaN offset.
  carousel_->setDecelerationRate(1.0);
  const os::Point middle = os::TouchDriver::middleOf(*carousel_);
  os::PanOptions options;
  options.releaseVelocity = os::Point{-1500, 0};
  os::TouchDriver::pan(middle, {middle.x - 120, middle.y}, options);
  os::TouchDriver::advance(2);
  EXPECT_TRUE(std::isfinite(carousel_->scrollOffset()));
  EXPECT_DOUBLE_EQ(carousel_->scrollOffset(), std::round(carousel_->scrollOffset()));
  // A zero fade range fades at once rather than dividing by zero.
  owner_->options[kXCarouselOptionFadeMax] = 0;
  owner_->options[kXCarouselOptionFadeRange] = 0;
  EXPECT_DOUBLE_EQ(carousel_->alphaForItemWithOffset(0.5), 0);
  EXPECT_DOUBLE_EQ(carousel_->alphaForItemWithOffset(0), 1);
}

TEST_F(XCarouselTest, PlaceholdersNilViewsAndLookups) {
  owner_->count = 3;
  owner_->placeholders = 2;
  owner_->nilItems = true;
  show();
  // Without wrapping, loaded indices run from -1 to the item count.
  EXPECT_EQ(carousel_->indexesForVisibleItems(), (std::vector<int>{-1, 0, 1, 2, 3}));
  EXPECT_NE(std::find(owner_->placeholderAsks.begin(), owner_->placeholderAsks.end(), 0), owner_->placeholderAsks.end());
  EXPECT_NE(std::find(owner_->placeholderAsks.begin(), owner_->placeholderAsks.end(), 1), owner_->placeholderAsks.end());
  ASSERT_TRUE(carousel_->itemViewAtIndex(1));  // a nil answer became an empty view
  EXPECT_EQ(carousel_->indexOfItemView(carousel_->itemViewAtIndex(1).get()), 1);
  os::View stranger;
  EXPECT_EQ(carousel_->indexOfItemView(&stranger), XCarousel::kNotFound);
}

TEST_F(XCarouselTest, SingleItemStaysCentred) {
  owner_->count = 1;
  show();
  carousel_->setScrollOffset(0.6);
  EXPECT_DOUBLE_EQ(carousel_->offsetForItemAtIndex(0), 0);
  EXPECT_DOUBLE_EQ(transformAt(0).m41, 0);
}

TEST_F(XCarouselTest, AutoscrollMovesBackwardsAndDelegateMayGoAway) {
  show();
  carousel_->setScrollOffset(5);
  carousel_->setAutoscroll(1);
  os::TouchDriver::advance(1);
  EXPECT_NEAR(carousel_->scrollOffset(), 4, 0.05);
  carousel_->setAutoscroll(0);
  // The delegate released in the middle of a scroll: the scroll ends without it.
  carousel_->scrollToItemAtIndex(8, true);
  owner_.reset();
  os::TouchDriver::advance(0.5);
  EXPECT_FALSE(carousel_->isScrolling());
  EXPECT_FALSE(carousel_->isAnimating());
}

TEST_F(XCarouselTest, EditingShiftsIndices) {
  show();
  auto third = carousel_->itemViewAtIndex(2);
  carousel_->removeItemAtIndex(1, false);
  EXPECT_EQ(carousel_->numberOfItems(), 9);
  EXPECT_EQ(carousel_->itemViewAtIndex(1), third);
  owner_->count = 10;
  carousel_->insertItemAtIndex(0, false);
  EXPECT_EQ(carousel_->numberOfItems(), 10);
  EXPECT_EQ(carousel_->itemViewAtIndex(2), third);
}

TEST_F(XCarouselTest, RemovingEveryItemAnimatedEndsEmptyAtZero) {
  owner_->count = 2;
  show();
  carousel_->setScrollOffset(1);
  carousel_->removeItemAtIndex(5, true);  // out of range: the last item
  os::TouchDriver::advance(0.6);
  carousel_->removeItemAtIndex(0, true);
  os::TouchDriver::advance(0.6);
  EXPECT_EQ(carousel_->numberOfItems(), 0);
  EXPECT_DOUBLE_EQ(carousel_->scrollOffset(), 0);
  EXPECT_TRUE(carousel_->indexesForVisibleItems().empty());
  EXPECT_TRUE(carousel_->contentView()->subviews().empty());
}

}  // namespace
