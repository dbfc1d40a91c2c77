#include <gtest/gtest.h>

#include "os/views/Button.h"
#include "os/views/GestureRecognizer.h"
#include "os/views/ImageView.h"
#include "os/views/ScrollView.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

class GestureTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    target = makeView<View>(Rect(20, 100, 200, 200));
    window->addSubview(target);
  }
  std::shared_ptr<TapGestureRecognizer> addTap(int taps, std::string name) {
    auto tap = std::make_shared<TapGestureRecognizer>([this, name](GestureRecognizer& g) {
      if (g.state() == GestureRecognizerState::Recognized) trace.add(name);
    });
    tap->setNumberOfTapsRequired(taps);
    target->addGestureRecognizer(tap);
    return tap;
  }
  std::shared_ptr<View> target;
  Trace trace;
};

TEST_F(GestureTest, DoubleTapSuppressesTheSingleTapThatWaitsForItToFail) {
  auto single = addTap(1, "single");
  auto twice = addTap(2, "double");
  single->requireGestureRecognizerToFail(twice);

  EXPECT_TRUE(TouchDriver::doubleTap(*target));
  TouchDriver::advance(1);
  EXPECT_EQ(trace.events, std::vector<std::string>{"double"});

  // One tap alone: the single tap fires only once the double tap gave up waiting.
  trace.clear();
  TouchDriver::tap(*target);
  EXPECT_TRUE(trace.events.empty());
  TouchDriver::advance(TapGestureRecognizer::kMaximumTapInterval + 0.05);
  EXPECT_EQ(trace.events, std::vector<std::string>{"single"});

  // Recognizers are ready for the next gesture.
  trace.clear();
  TouchDriver::doubleTap(*target);
  TouchDriver::advance(1);
  EXPECT_EQ(trace.events, std::vector<std::string>{"double"});
}

TEST_F(GestureTest, WithoutTheRequirementBothTapsFire) {
  addTap(1, "single");
  addTap(2, "double");
  TouchDriver::doubleTap(*target);
  TouchDriver::advance(1);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"single", "single", "double"}));
}

TEST_F(GestureTest, PanReportsItsStatesAndTranslationAndMayBeReset) {
  std::vector<GestureRecognizerState> states;
  std::vector<Point> translations;
  std::shared_ptr<PanGestureRecognizer> pan;
  pan = std::make_shared<PanGestureRecognizer>([&](GestureRecognizer&) {
    states.push_back(pan->state());
    translations.push_back(pan->translationInView(target.get()));
  });
  target->addGestureRecognizer(pan);
  Point start = TouchDriver::middleOf(*target);
  TouchDriver::pan(start, Point{start.x + 100, start.y + 20}, 10);
  ASSERT_GE(states.size(), 3u);
  EXPECT_EQ(states.front(), GestureRecognizerState::Began);
  EXPECT_EQ(states[1], GestureRecognizerState::Changed);
  EXPECT_EQ(states.back(), GestureRecognizerState::Ended);
  EXPECT_EQ(translations.back(), (Point{100, 20}));
  EXPECT_EQ(pan->state(), GestureRecognizerState::Possible);

  // A translation set back to zero counts from there.
  states.clear();
  translations.clear();
  std::shared_ptr<PanGestureRecognizer> resetting;
  resetting = std::make_shared<PanGestureRecognizer>([&](GestureRecognizer&) {
    translations.push_back(resetting->translationInView(nullptr));
    resetting->setTranslation(Point{}, nullptr);
  });
  target->removeGestureRecognizer(pan.get());
  target->addGestureRecognizer(resetting);
  TouchDriver::pan(start, Point{start.x, start.y + 50}, 5);
  ASSERT_GE(translations.size(), 3u);
  EXPECT_EQ(translations[1], (Point{0, 10}));
}

TEST_F(GestureTest, PanVelocityFollowsTheLastMovement) {
  std::shared_ptr<PanGestureRecognizer> pan;
  Point velocity;
  pan = std::make_shared<PanGestureRecognizer>([&](GestureRecognizer&) {
    if (pan->state() == GestureRecognizerState::Ended) velocity = pan->velocityInView(target.get());
  });
  target->addGestureRecognizer(pan);
  Point start = TouchDriver::middleOf(*target);
  TouchDriver::pan(start, Point{start.x - 60, start.y}, 6);  // 10 points per 1/60 s
  EXPECT_NEAR(velocity.x, -600, 1);
  EXPECT_NEAR(velocity.y, 0, 1e-6);
}

TEST_F(GestureTest, DelegateCanRefuseTouchesAndBeginnings) {
  struct Gate : GestureRecognizerDelegate {
    bool receive = true, begin = true;
    bool shouldReceiveTouch(GestureRecognizer&, const Touch&) override { return receive; }
    bool gestureRecognizerShouldBegin(GestureRecognizer&) override { return begin; }
  };
  auto gate = std::make_shared<Gate>();
  auto tap = addTap(1, "tap");
  tap->setDelegate(gate);
  gate->receive = false;
  TouchDriver::tap(*target);
  gate->receive = true;
  gate->begin = false;
  TouchDriver::tap(*target);
  EXPECT_TRUE(trace.events.empty());
  gate->begin = true;
  TouchDriver::tap(*target);
  EXPECT_EQ(trace.events, std::vector<std::string>{"tap"});
  tap->setEnabled(false);
  TouchDriver::tap(*target);
  EXPECT_EQ(trace.events.size(), 1u);
}

TEST_F(GestureTest, SwipeRecognizesOnlyItsDirection) {
  auto swipe = std::make_shared<SwipeGestureRecognizer>([&](GestureRecognizer&) { trace.add("swipe"); });
  swipe->setDirection(kSwipeDirectionLeft);
  target->addGestureRecognizer(swipe);
  Point m = TouchDriver::middleOf(*target);
  TouchDriver::pan(m, Point{m.x + 80, m.y});
  EXPECT_TRUE(trace.events.empty());
  TouchDriver::pan(m, Point{m.x - 80, m.y + 10});
  EXPECT_EQ(trace.events, std::vector<std::string>{"swipe"});
}

TEST_F(GestureTest, ButtonsKeepTheirTapsFromAnEnclosingTapRecognizer) {
  addTap(1, "background");
  auto button = makeView<Button>(Rect(10, 10, 60, 30));
  button->addTarget(nullptr, [&](Control&) { trace.add("button"); }, kControlEventTouchUpInside);
  target->addSubview(button);
  TouchDriver::tap(*button);
  EXPECT_EQ(trace.events, std::vector<std::string>{"button"});
  TouchDriver::tap(TouchDriver::windowPoint(*target, Point{150, 150}));
  EXPECT_EQ(trace.events, (std::vector<std::string>{"button", "background"}));
}

TEST_F(GestureTest, RecognizingATapCancelsTheTouchesOfTheView) {
  struct Touchy : View {
    Trace* trace = nullptr;
    void touchesEnded(const TouchList&, const Event*) override { trace->add("ended"); }
    void touchesCancelled(const TouchList&, const Event*) override { trace->add("cancelled"); }
  };
  auto touchy = makeView<Touchy>(Rect(0, 0, 100, 100));
  touchy->trace = &trace;
  target->addSubview(touchy);
  auto tap = addTap(1, "tap");
  TouchDriver::tap(*touchy);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"cancelled", "tap"}));
  trace.clear();
  tap->setCancelsTouchesInView(false);
  TouchDriver::tap(*touchy);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"tap", "ended"}));
}

TEST_F(GestureTest, LongPressBeginsAfterItsDurationOnTheClock) {
  auto press = std::make_shared<LongPressGestureRecognizer>([&](GestureRecognizer& g) {
    trace.add(g.state() == GestureRecognizerState::Began ? "began" : "other");
  });
  target->addGestureRecognizer(press);
  Finger finger(*window, TouchDriver::middleOf(*target));
  TouchDriver::advance(0.4);
  EXPECT_TRUE(trace.events.empty());
  TouchDriver::advance(0.2);
  EXPECT_EQ(trace.events, std::vector<std::string>{"began"});
  finger.lift();
  EXPECT_EQ(trace.events, (std::vector<std::string>{"began", "other"}));
}

}  // namespace
}  // namespace os::test

namespace os::test {
namespace {

// A zoomable page inside a pager: the page's double tap zooms, the pager's single tap (on an
// ancestor) waits for it to fail.
struct ZoomPage : ScrollViewDelegate {
  std::shared_ptr<ImageView> image;
  std::shared_ptr<View> viewForZoomingInScrollView(ScrollView&) override { return image; }
};

TEST_F(GestureTest, ADoubleTapOnAChildZoomsAndTheParentsSingleTapWaitsForIt) {
  auto page = makeView<ScrollView>(Rect(0, 0, 200, 200));
  target->addSubview(page);
  auto zoom = std::make_shared<ZoomPage>();
  zoom->image = makeView<ImageView>(Rect(0, 0, 200, 200));
  zoom->image->setUserInteractionEnabled(true);
  page->addSubview(zoom->image);
  page->setContentSize(Size{200, 200});
  page->setMaximumZoomScale(3);
  page->setDelegate(zoom);
  auto single = addTap(1, "single");
  auto twice = std::make_shared<TapGestureRecognizer>([&](GestureRecognizer& g) {
    trace.add("double");
    Point c = g.locationInView(zoom->image.get());
    double scale = page->zoomScale() == page->minimumZoomScale() ? page->maximumZoomScale() : page->minimumZoomScale();
    Size s{page->frame().size.width / scale, page->frame().size.height / scale};
    page->zoomToRect(Rect(c.x - s.width / 2, c.y - s.height / 2, s.width, s.height), true);
  });
  twice->setNumberOfTapsRequired(2);
  zoom->image->addGestureRecognizer(twice);
  single->requireGestureRecognizerToFail(twice);

  TouchDriver::doubleTap(*zoom->image);
  TouchDriver::advance(1);
  EXPECT_EQ(trace.events, std::vector<std::string>{"double"});
  EXPECT_DOUBLE_EQ(page->zoomScale(), 3);
  TouchDriver::doubleTap(*page);
  TouchDriver::advance(1);
  EXPECT_DOUBLE_EQ(page->zoomScale(), 1);
  TouchDriver::tap(*page);
  TouchDriver::advance(1);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"double", "double", "single"}));
}

}  // namespace
}  // namespace os::test
