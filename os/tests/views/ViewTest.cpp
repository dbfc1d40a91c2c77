#include <gtest/gtest.h>

#include "os/core/Error.h"
#include "os/graphics/RecordingContext.h"
#include "os/views/ViewController.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

TEST(ViewGeometry, FrameBoundsAndCenterStayConsistent) {
  auto v = std::make_shared<View>(Rect(10, 20, 100, 50));
  EXPECT_EQ(v->bounds(), Rect(0, 0, 100, 50));
  EXPECT_EQ(v->center(), (Point{60, 45}));
  v->setCenter(Point{0, 0});
  EXPECT_EQ(v->frame(), Rect(-50, -25, 100, 50));
  v->setBounds(Rect(0, 0, 40, 40));
  EXPECT_EQ(v->frame(), Rect(-20, -20, 40, 40));
}

TEST(ViewGeometry, TransformScalesTheFrameAboutTheCenterButNotTheBounds) {
  auto v = std::make_shared<View>(Rect(0, 0, 100, 100));
  v->setTransform(AffineTransform::makeScale(2, 0.5));
  EXPECT_EQ(v->bounds(), Rect(0, 0, 100, 100));
  EXPECT_EQ(v->frame(), Rect(-50, 25, 200, 50));
  v->layer().setTransform(Transform3D::makeScale(0.5, 0.5, 1));
  EXPECT_EQ(v->frame(), Rect(25, 25, 50, 50));
}

TEST(ViewGeometry, ConvertsPointsThroughOffsetsBoundsOriginsAndTransforms) {
  auto root = std::make_shared<View>(Rect(0, 0, 320, 480));
  auto scroller = std::make_shared<View>(Rect(10, 10, 100, 100));
  scroller->setBounds(Rect(0, 30, 100, 100));  // scrolled down by 30
  auto child = std::make_shared<View>(Rect(5, 40, 20, 20));
  root->addSubview(scroller);
  scroller->addSubview(child);
  EXPECT_EQ(child->convertPointToView(Point{0, 0}, root.get()), (Point{15, 20}));
  EXPECT_EQ(root->convertPointToView(Point{15, 20}, child.get()), (Point{0, 0}));
  EXPECT_EQ(child->convertRectToView(child->bounds(), nullptr), Rect(15, 20, 20, 20));
  scroller->setTransform(AffineTransform::makeScale(2, 2));
  Point p = child->convertPointToView(Point{0, 0}, root.get());
  Point back = root->convertPointToView(p, child.get());
  EXPECT_NEAR(back.x, 0, 1e-9);
  EXPECT_NEAR(back.y, 0, 1e-9);
}

TEST(ViewTree, SubviewOrderOperations) {
  auto parent = std::make_shared<View>();
  auto a = std::make_shared<View>(), b = std::make_shared<View>(), c = std::make_shared<View>(), d = std::make_shared<View>();
  parent->addSubview(a);
  parent->addSubview(b);
  parent->insertSubview(c, 0);                 // c a b
  parent->insertSubviewAbove(d, a.get());      // c a d b
  EXPECT_EQ(parent->subviews(), (std::vector<std::shared_ptr<View>>{c, a, d, b}));
  parent->bringSubviewToFront(c.get());        // a d b c
  parent->sendSubviewToBack(b.get());          // b a d c
  parent->exchangeSubviewAtIndex(0, 3);        // c a d b
  EXPECT_EQ(parent->subviews(), (std::vector<std::shared_ptr<View>>{c, a, d, b}));
  EXPECT_THROW(parent->exchangeSubviewAtIndex(0, 4), Exception);
  // Adding to another parent moves the view.
  auto other = std::make_shared<View>();
  other->addSubview(a);
  EXPECT_EQ(parent->subviews().size(), 3u);
  EXPECT_EQ(a->superview(), other);
  a->removeFromSuperview();
  EXPECT_EQ(a->superview(), nullptr);
  EXPECT_THROW(c->addSubview(parent), Exception);  // a cycle
}

TEST(ViewTree, OrderHoldsThroughManyRemovalsAndTheMovesBetweenThem) {
  auto parent = std::make_shared<View>();
  std::vector<std::shared_ptr<View>> kids;
  for (int i = 0; i < 40; ++i) {
    kids.push_back(std::make_shared<View>());
    kids.back()->setTag(i);
    parent->addSubview(kids.back());
  }
  auto tags = [&] {
    std::vector<int> out;
    for (auto& v : parent->subviews()) out.push_back(v->tag());
    return out;
  };
  // Removals from the front and the middle, the list read only at the end of each round.
  for (int i : {0, 1, 2, 10, 11, 20}) kids[i]->removeFromSuperview();
  parent->insertSubview(kids[0], 2);                  // among the rest: 3 4 0 5 ...
  parent->insertSubviewBelow(kids[1], kids[12].get());
  parent->bringSubviewToFront(kids[3].get());
  parent->addSubview(kids[2]);
  std::vector<int> expected{4, 0, 5, 6, 7, 8, 9, 1, 12};
  for (int i = 13; i < 40; ++i) {
    if (i != 20) expected.push_back(i);
  }
  expected.push_back(3);
  expected.push_back(2);
  EXPECT_EQ(tags(), expected);
  EXPECT_EQ(kids[12]->superview(), parent);

  // Emptied from the back and from the front, with moves and swaps in between.
  for (int i = 39; i >= 30; --i) kids[i]->removeFromSuperview();
  parent->exchangeSubviewAtIndex(0, 1);               // 0 4 5 ...
  for (int i : {4, 5, 6, 7}) kids[i]->removeFromSuperview();
  parent->sendSubviewToBack(kids[2].get());
  parent->insertSubviewAbove(kids[39], kids[0].get());
  EXPECT_EQ(tags(), (std::vector<int>{2, 0, 39, 8, 9, 1, 12, 13, 14, 15, 16, 17, 18, 19, 21, 22, 23, 24, 25, 26, 27, 28, 29, 3}));
  for (auto& v : std::vector<std::shared_ptr<View>>(parent->subviews())) v->removeFromSuperview();
  EXPECT_TRUE(parent->subviews().empty());
  for (auto& v : kids) EXPECT_EQ(v->superview(), nullptr);
  EXPECT_EQ(parent->viewWithTag(12), nullptr);
}

TEST(ViewTree, ViewWithTagSearchesSelfThenDepthFirst) {
  auto root = std::make_shared<View>();
  auto branch = std::make_shared<View>();
  auto deep = std::make_shared<View>();
  auto later = std::make_shared<View>();
  deep->setTag(7);
  later->setTag(7);
  branch->addSubview(deep);
  root->addSubview(branch);
  root->addSubview(later);
  EXPECT_EQ(root->viewWithTag(7), deep);
  EXPECT_EQ(root->viewWithTag(0), root);
  EXPECT_EQ(root->viewWithTag(99), nullptr);
}

TEST(ViewLayout, AutoresizingFollowsTheParentsSizeChange) {
  auto parent = std::make_shared<View>(Rect(0, 0, 320, 480));
  auto fill = std::make_shared<View>(Rect(10, 10, 300, 460));
  fill->setAutoresizingMask(kViewAutoresizingFlexibleWidth | kViewAutoresizingFlexibleHeight);
  auto bottomBar = std::make_shared<View>(Rect(0, 436, 320, 44));
  bottomBar->setAutoresizingMask(kViewAutoresizingFlexibleTopMargin | kViewAutoresizingFlexibleWidth);
  auto centred = std::make_shared<View>(Rect(110, 190, 100, 100));
  centred->setAutoresizingMask(kViewAutoresizingFlexibleLeftMargin | kViewAutoresizingFlexibleRightMargin);
  auto fixed = std::make_shared<View>(Rect(5, 5, 10, 10));
  parent->addSubview(fill);
  parent->addSubview(bottomBar);
  parent->addSubview(centred);
  parent->addSubview(fixed);

  parent->setFrame(Rect(0, 0, 480, 300));
  EXPECT_EQ(fill->frame(), Rect(10, 10, 460, 280));
  EXPECT_EQ(bottomBar->frame(), Rect(0, 256, 480, 44));
  EXPECT_EQ(centred->frame(), Rect(190, 190, 100, 100));
  EXPECT_EQ(fixed->frame(), Rect(5, 5, 10, 10));

  parent->setAutoresizesSubviews(false);
  parent->setFrame(Rect(0, 0, 320, 480));
  EXPECT_EQ(fill->frame(), Rect(10, 10, 460, 280));
}

class CountingView : public View {
 public:
  int layouts = 0;
  void layoutSubviews() override { ++layouts; }
  void drawRect(const Rect& r) override {
    if (auto* c = currentGraphicsContext()) {
      c->setFillColor(Color::red());
      c->fillRect(r);
    }
  }
};

TEST_F(ScreenTest, LayoutAndDisplayRunOnceOnTheNextPassOfTheMainLoop) {
  auto v = std::make_shared<CountingView>();
  v->setFrame(Rect(0, 0, 50, 50));
  window->addSubview(v);
  TouchDriver::settle();
  int before = v->layouts;
  v->setNeedsLayout();
  v->setNeedsLayout();
  v->setNeedsDisplay();
  EXPECT_EQ(v->layouts, before);
  RunLoop::main()->runUntilIdle();
  EXPECT_EQ(v->layouts, before + 1);
  ASSERT_TRUE(v->lastDrawing());
  auto fills = v->lastDrawing()->operations(DrawOp::Kind::FillRect);
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0].rect, Rect(0, 0, 50, 50));
  EXPECT_FALSE(v->needsDisplay());
}

TEST_F(ScreenTest, HitTestingSkipsHiddenTransparentAndNonInteractiveViews) {
  auto back = makeView<View>(Rect(0, 0, 320, 480));
  auto hidden = makeView<View>(Rect(0, 0, 100, 100));
  auto clear = makeView<View>(Rect(0, 0, 100, 100));
  auto inert = makeView<View>(Rect(0, 0, 100, 100));
  auto inertChild = makeView<View>(Rect(0, 0, 50, 50));
  window->addSubview(back);
  back->addSubview(hidden);
  back->addSubview(clear);
  back->addSubview(inert);
  inert->addSubview(inertChild);
  hidden->setHidden(true);
  clear->setAlpha(0);
  inert->setUserInteractionEnabled(false);
  EXPECT_EQ(window->hitTest(Point{10, 10}, nullptr), back);
  inert->setUserInteractionEnabled(true);
  EXPECT_EQ(window->hitTest(Point{10, 10}, nullptr), inertChild);
  EXPECT_EQ(window->hitTest(Point{60, 60}, nullptr), inert);
  // Outside its parent a child is not reached, even when it sticks out.
  auto stray = makeView<View>(Rect(90, 90, 50, 50));
  inert->addSubview(stray);
  EXPECT_EQ(window->hitTest(Point{120, 120}, nullptr), back);
}

TEST_F(ScreenTest, ResponderChainRunsFromViewsToTheirControllerAndOn) {
  auto controller = std::make_shared<ViewController>();
  auto root = controller->view();
  auto child = makeView<View>(Rect(0, 0, 10, 10));
  root->addSubview(child);
  window->addSubview(root);
  EXPECT_EQ(child->nextResponder(), root.get());
  EXPECT_EQ(root->nextResponder(), controller.get());
  EXPECT_EQ(controller->nextResponder(), window.get());
  EXPECT_EQ(child->enclosingViewController(), controller.get());
}

TEST_F(ScreenTest, AnimationAppliesAtOnceAndCompletesAfterItsDurationOnTheClock) {
  auto v = makeView<View>(Rect(0, 0, 10, 10));
  window->addSubview(v);
  std::vector<bool> done;
  View::animate(0.3, 0.2, kViewAnimationOptionCurveEaseIn, [&] {
    v->setAlpha(0.5);
    v->setFrame(Rect(100, 100, 10, 10));
  }, [&](bool finished) { done.push_back(finished); });
  EXPECT_EQ(v->alpha(), 0.5);
  EXPECT_EQ(v->frame(), Rect(100, 100, 10, 10));
  TouchDriver::advance(0.45);
  EXPECT_TRUE(done.empty());
  TouchDriver::advance(0.06);
  EXPECT_EQ(done, std::vector<bool>{true});
  ASSERT_EQ(View::animationLog().size(), 1u);
  EXPECT_EQ(View::animationLog()[0].duration, 0.3);
  EXPECT_EQ(View::animationLog()[0].delay, 0.2);
  EXPECT_TRUE(View::animationLog()[0].completed);

  // The begin/commit form reports its end the same way; a zero duration still ends later.
  int stopped = 0;
  View::beginAnimations("fade");
  View::setAnimationDuration(0);
  View::setAnimationDidStop([&](bool) { ++stopped; });
  v->setAlpha(0);
  View::commitAnimations();
  EXPECT_EQ(stopped, 0);
  RunLoop::main()->runUntilIdle();
  EXPECT_EQ(stopped, 1);
  EXPECT_EQ(View::animationLog().back().name, "fade");
}

// A program animates for as long as it runs: the log keeps the newest animations, not all of them,
// and each still hears of its end.
TEST_F(ScreenTest, TheAnimationLogKeepsOnlyTheNewest) {
  auto v = makeView<View>(Rect(0, 0, 10, 10));
  window->addSubview(v);
  const std::size_t made = 5 * View::kKeptAnimationRecords + 3;
  std::size_t ended = 0;
  for (std::size_t i = 0; i < made; ++i) {
    View::beginAnimations("step " + std::to_string(i));
    View::setAnimationDuration(0.1);
    View::setAnimationDidStop([&](bool) { ++ended; });
    v->setAlpha(i % 2 ? 1 : 0.5);
    View::commitAnimations();
    EXPECT_LE(View::animationLog().size(), 2 * View::kKeptAnimationRecords) << i;
  }
  const auto& log = View::animationLog();
  ASSERT_GE(log.size(), View::kKeptAnimationRecords);
  EXPECT_EQ(log.back().name, "step " + std::to_string(made - 1));
  EXPECT_EQ(log[log.size() - View::kKeptAnimationRecords].name, "step " + std::to_string(made - View::kKeptAnimationRecords));
  TouchDriver::advance(0.2);
  EXPECT_EQ(ended, made);
  for (const auto& record : View::animationLog()) EXPECT_TRUE(record.completed) << record.name;
}

}  // namespace
}  // namespace os::test
