#include <gtest/gtest.h>

#include <algorithm>

#include "os/core/String.h"
#include "os/views/ScrollView.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

struct ScrollTrace : ScrollViewDelegate {
  Trace trace;
  std::shared_ptr<View> zoomView;
  std::function<void(ScrollView&)> onEndDragging;
  std::function<void(ScrollView&)> onScroll;
  void scrollViewDidScroll(ScrollView& s) override {
    trace.add(format("scroll %g,%g", s.contentOffset().x, s.contentOffset().y));
    if (onScroll) onScroll(s);
  }
  void scrollViewWillBeginDragging(ScrollView&) override { trace.add("willBeginDragging"); }
  void scrollViewDidEndDragging(ScrollView& s, bool decelerate) override {
    trace.add(decelerate ? "didEndDragging decelerate" : "didEndDragging");
    if (onEndDragging) onEndDragging(s);
  }
  void scrollViewWillBeginDecelerating(ScrollView&) override { trace.add("willBeginDecelerating"); }
  void scrollViewDidEndDecelerating(ScrollView&) override { trace.add("didEndDecelerating"); }
  void scrollViewDidEndScrollingAnimation(ScrollView&) override { trace.add("didEndScrollingAnimation"); }
  std::shared_ptr<View> viewForZoomingInScrollView(ScrollView&) override { return zoomView; }
  void scrollViewDidZoom(ScrollView& s) override { trace.add(format("zoom %g", s.zoomScale())); }
  void scrollViewDidEndZooming(ScrollView&, View*, double scale) override { trace.add(format("didEndZooming %g", scale)); }

  // The events without the intermediate scroll positions.
  std::vector<std::string> steps() const {
    std::vector<std::string> out;
    for (auto& e : trace.events) {
      if (e.rfind("scroll ", 0) == 0) {
        if (out.empty() || out.back() != "scroll") out.push_back("scroll");
      } else {
        out.push_back(e);
      }
    }
    return out;
  }
};

class ScrollViewTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    delegate = std::make_shared<ScrollTrace>();
    scroll = makeView<ScrollView>(Rect(0, 0, 320, 400));
    scroll->setContentSize(Size{320, 2000});
    scroll->setDelegate(delegate);
    window->addSubview(scroll);
    TouchDriver::settle();
  }
  std::shared_ptr<ScrollTrace> delegate;
  std::shared_ptr<ScrollView> scroll;
};

TEST_F(ScrollViewTest, AFlickDeceleratesAndEndsOnTheClock) {
  TouchDriver::dragScrollView(*scroll, Point{0, -200}, Point{0, -1000});
  EXPECT_EQ(delegate->steps(), (std::vector<std::string>{"willBeginDragging", "scroll", "didEndDragging decelerate",
                                                         "willBeginDecelerating", "scroll"}));
  EXPECT_TRUE(scroll->isDecelerating());
  EXPECT_FALSE(scroll->isDragging());
  // The flick carried the content further than the finger moved, within the content.
  EXPECT_GT(scroll->contentOffset().y, 200);
  EXPECT_LE(scroll->contentOffset().y, 1600);
  TouchDriver::advance(ScrollView::kDecelerationDuration);
  EXPECT_EQ(delegate->steps().back(), "didEndDecelerating");
  EXPECT_FALSE(scroll->isDecelerating());
}

TEST_F(ScrollViewTest, ASlowReleaseInsideTheContentStopsAtOnce) {
  TouchDriver::dragScrollView(*scroll, Point{0, -100}, Point{0, 0});
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 100}));
  EXPECT_EQ(delegate->steps(), (std::vector<std::string>{"willBeginDragging", "scroll", "didEndDragging"}));
}

TEST_F(ScrollViewTest, PullingPastTheTopBouncesBackToTheInsetSetOnRelease) {
  // A refresh header holds the content down by 60 when the finger lets go far enough.
  delegate->onEndDragging = [](ScrollView& s) {
    if (s.contentOffset().y <= -65) s.setContentInset(EdgeInsets{60, 0, 0, 0});
  };
  TouchDriver::dragScrollView(*scroll, Point{0, 160}, Point{0, 0});
  EXPECT_EQ(scroll->contentInset().top, 60);
  EXPECT_EQ(scroll->contentOffset(), (Point{0, -60}));
  EXPECT_EQ(delegate->steps()[2], "didEndDragging decelerate");
  // Without a bounce the content never leaves its edge.
  scroll->setContentInset(EdgeInsets{});
  scroll->setContentOffset(Point{0, 0});
  scroll->setBounces(false);
  TouchDriver::dragScrollView(*scroll, Point{0, 160}, Point{0, 0});
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 0}));
}

TEST_F(ScrollViewTest, ACollapsingInsetBringsTheContentBackUnlessAFingerHoldsIt) {
  // A header held open by the inset, then closed: the content follows it back to the top.
  scroll->setContentInset(EdgeInsets{60, 0, 0, 0});
  scroll->setContentOffset(Point{0, -60});
  delegate->trace.events.clear();
  scroll->setContentInset(EdgeInsets{});
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 0}));
  EXPECT_EQ(delegate->trace.events, (std::vector<std::string>{"scroll 0,0"}));
  // An offset still inside the new edges stays where it is.
  scroll->setContentOffset(Point{0, 300});
  scroll->setContentInset(EdgeInsets{20, 0, 0, 0});
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 300}));
  // Under a finger the content stays pulled down until it lets go.
  scroll->setContentOffset(Point{0, 0});
  scroll->setContentInset(EdgeInsets{60, 0, 0, 0});
  double lowest = 0;
  delegate->onScroll = [&lowest](ScrollView& s) {
    if (!s.isDragging()) return;
    s.setContentInset(EdgeInsets{});
    lowest = std::min(lowest, s.contentOffset().y);
  };
  TouchDriver::dragScrollView(*scroll, Point{0, 160}, Point{0, 0});
  EXPECT_LT(lowest, -60);
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 0}));
}

TEST_F(ScrollViewTest, PagingSettlesOnTheNextPageAfterAFlick) {
  scroll->setContentSize(Size{320 * 5, 400});
  scroll->setPagingEnabled(true);
  TouchDriver::dragScrollView(*scroll, Point{-60, 0}, Point{-800, 0});
  EXPECT_EQ(scroll->contentOffset(), (Point{320, 0}));
  // A short slow drag springs back.
  TouchDriver::advance(1);
  TouchDriver::dragScrollView(*scroll, Point{-60, 0}, Point{0, 0});
  EXPECT_EQ(scroll->contentOffset(), (Point{320, 0}));
  // A vertical drag does not move a content that only scrolls sideways.
  delegate->trace.clear();
  TouchDriver::dragScrollView(*scroll, Point{0, -100}, Point{0, 0});
  EXPECT_TRUE(delegate->trace.events.empty());
}

TEST_F(ScrollViewTest, AnimatedOffsetEndsItsAnimationLater) {
  scroll->setContentOffset(Point{0, 300}, true);
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 300}));
  EXPECT_EQ(delegate->steps(), std::vector<std::string>{"scroll"});
  TouchDriver::advance(ScrollView::kScrollAnimationDuration);
  EXPECT_EQ(delegate->steps().back(), "didEndScrollingAnimation");
  // Asking for the offset it already has animates nothing.
  delegate->trace.clear();
  scroll->setContentOffset(Point{0, 300}, true);
  TouchDriver::advance(1);
  EXPECT_TRUE(delegate->trace.events.empty());
  scroll->scrollRectToVisible(Rect(0, 900, 320, 50), false);
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 550}));
}

TEST_F(ScrollViewTest, ZoomScalesTheDelegatesViewWithinItsLimits) {
  delegate->zoomView = makeView<View>(Rect(0, 0, 320, 400));
  scroll->addSubview(delegate->zoomView);
  scroll->setContentSize(Size{320, 400});
  scroll->setMinimumZoomScale(1);
  scroll->setMaximumZoomScale(3);
  scroll->zoomToRect(Rect(100, 100, 320.0 / 3, 400.0 / 3), true);
  EXPECT_DOUBLE_EQ(scroll->zoomScale(), 3);
  EXPECT_EQ(delegate->zoomView->frame(), Rect(0, 0, 960, 1200));
  EXPECT_EQ(scroll->contentSize(), (Size{960, 1200}));
  EXPECT_NEAR(scroll->contentOffset().x, 300, 1e-9);
  TouchDriver::advance(ScrollView::kScrollAnimationDuration);
  EXPECT_EQ(delegate->steps().back(), "didEndZooming 3");
  scroll->setZoomScale(10);
  EXPECT_DOUBLE_EQ(scroll->zoomScale(), 3);
  scroll->setZoomScale(1);
  EXPECT_EQ(scroll->contentSize(), (Size{320, 400}));
  EXPECT_EQ(scroll->contentOffset(), (Point{0, 0}));
}

}  // namespace
}  // namespace os::test
