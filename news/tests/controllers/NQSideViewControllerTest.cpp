#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "news/controllers/NQSideViewController.h"
#include "os/views/GestureRecognizer.h"
#include "os/views/ViewController.h"

namespace newstest {
namespace {

using os::TouchDriver;

class SideMenuTest : public ScreenFixture {
 protected:
  void SetUp() override {
    ScreenFixture::SetUp();
    centre = std::make_shared<os::ViewController>();
    left = std::make_shared<os::ViewController>();
  }
  bool leftInserted() const { return left->view()->superviewPtr() == side->view().get(); }
  bool coverShown() const { return side->coverButton()->superviewPtr() == centre->view().get(); }

  std::shared_ptr<os::ViewController> centre, left;
};

TEST_F(SideMenuTest, ChildrenFillTheScreenAndOnlyTheCentreIsInserted) {
  showSide(centre, left);
  EXPECT_EQ(side->showWidth(), 260);
  EXPECT_EQ(centre->view()->frame(), os::Rect(0, 0, 320, 568));
  EXPECT_EQ(left->view()->frame(), os::Rect(0, 0, 320, 568));
  EXPECT_EQ(centre->view()->superviewPtr(), side->view().get());
  EXPECT_FALSE(leftInserted());
  EXPECT_TRUE(side->canDrag());
}

class OlderSystemSideMenuTest : public SideMenuTest {
 protected:
  os::DeviceProfileScope older{phone("6.1")};
};

TEST_F(OlderSystemSideMenuTest, ChildrenLeaveRoomForTheStatusBar) {
  showSide(centre, left);
  EXPECT_EQ(centre->view()->frame(), os::Rect(0, 0, 320, 548));
  EXPECT_EQ(left->view()->frame(), os::Rect(0, 0, 320, 548));
}

TEST_F(SideMenuTest, OpeningAndClosingTakeTheirShareOfTheSlideDuration) {
  showSide(centre, left);
  side->showLeftViewController(true);
  EXPECT_DOUBLE_EQ(lastAnimationDuration(), 0.35);
  EXPECT_EQ(centre->view()->frame(), os::Rect(260, 0, 320, 568));
  EXPECT_TRUE(leftInserted());
  EXPECT_TRUE(coverShown());
  EXPECT_TRUE(side->leftSideIsShow());
  // The menu lies beneath the centre.
  const auto& subviews = side->view()->subviews();
  EXPECT_EQ(subviews.front(), left->view());
  TouchDriver::advance(0.4);

  side->layoutCurrentViewWithOffset(130);
  side->hideSideViewController();
  EXPECT_DOUBLE_EQ(lastAnimationDuration(), 0.175);
  EXPECT_EQ(centreX(), 0);
  // Tidied only once the slide is over.
  EXPECT_TRUE(leftInserted());
  TouchDriver::advance(0.2);
  EXPECT_FALSE(leftInserted());
  EXPECT_FALSE(coverShown());
  EXPECT_FALSE(side->leftSideIsShow());
  EXPECT_FALSE(side->showLeft());

  side->showLeftViewController(false);
  EXPECT_EQ(lastAnimationDuration(), 0);
  EXPECT_EQ(centreX(), 260);
}

TEST_F(SideMenuTest, ADragReleasedShortOfFiftyPointsSpringsBackAndFromFiftyOpens) {
  showSide(centre, left);
  Finger f(*window, os::Point{100, 300});
  f.moveToX(110);
  f.moveToX(149);
  // The centre follows the finger with the menu beneath.
  EXPECT_EQ(centreX(), 49);
  EXPECT_TRUE(leftInserted());
  f.lift();
  EXPECT_NEAR(lastAnimationDuration(), 49.0 / 260 * 0.35, 1e-9);
  EXPECT_EQ(centreX(), 0);
  TouchDriver::advance(0.1);
  EXPECT_FALSE(leftInserted());
  EXPECT_FALSE(side->showLeft());

  dragRight(*window, 100, 300, 50);
  EXPECT_NEAR(lastAnimationDuration(), 210.0 / 260 * 0.35, 1e-9);
  EXPECT_EQ(centreX(), 260);
  EXPECT_TRUE(side->leftSideIsShow());
  EXPECT_TRUE(coverShown());
}

TEST_F(SideMenuTest, TheMenuStopsAtItsWidthAndAnyDragOfTheOpenMenuClosesIt) {
  showSide(centre, left);
  Finger f(*window, os::Point{10, 300});
  f.moveToX(20);
  f.moveToX(310);
  EXPECT_EQ(centreX(), 260);
  f.lift();
  TouchDriver::advance(0.4);
  ASSERT_TRUE(side->leftSideIsShow());

  // Dragged further right while open: still closes.
  dragRight(*window, 280, 300, 30);
  EXPECT_DOUBLE_EQ(lastAnimationDuration(), 0.35);
  EXPECT_EQ(centreX(), 0);
  TouchDriver::advance(0.4);
  EXPECT_FALSE(leftInserted());
  EXPECT_FALSE(side->leftSideIsShow());
}

TEST_F(SideMenuTest, ATapOnTheUncoveredCentreCloses) {
  showSide(centre, left);
  bool centreTapped = false;
  auto button = os::makeView<os::Button>(os::Rect(0, 0, 320, 568));
  button->addTarget(nullptr, [&](os::Control&) { centreTapped = true; }, os::kControlEventTouchUpInside);
  centre->view()->addSubview(button);
  side->showLeftViewController(true);
  TouchDriver::advance(0.4);

  EXPECT_TRUE(TouchDriver::tap(os::Point{300, 300}));
  EXPECT_FALSE(centreTapped);  // the cover takes it, not the centre's own content
  TouchDriver::advance(0.4);
  EXPECT_EQ(centreX(), 0);
  EXPECT_FALSE(coverShown());
  EXPECT_FALSE(leftInserted());
}

TEST_F(SideMenuTest, DraggingLeftOpensTheRightMenuOnlyWhenThereIsOne) {
  showSide(centre, left);
  Finger f(*window, os::Point{200, 300});
  f.moveToX(190);
  f.moveToX(100);
  EXPECT_EQ(centreX(), 0);
  EXPECT_EQ(side->view()->subviews().size(), 1u);
  f.lift();
  TouchDriver::advance(0.4);

  auto right = std::make_shared<os::ViewController>();
  side->setRightViewController(right);
  Finger g(*window, os::Point{200, 300});
  g.moveToX(190);
  g.moveToX(150);
  EXPECT_EQ(centreX(), -50);
  g.lift();
  EXPECT_EQ(centreX(), -260);
  EXPECT_TRUE(side->rightSideIsShow());
  EXPECT_EQ(right->view()->superviewPtr(), side->view().get());
  TouchDriver::advance(0.4);

  // Opening the left menu takes the right one out first.
  side->showLeftViewController(false);
  EXPECT_EQ(right->view()->superviewPtr(), nullptr);
  EXPECT_TRUE(leftInserted());
  EXPECT_EQ(centreX(), 260);
}

TEST_F(SideMenuTest, WithDraggingOffOnlyPansHandedOverByOtherViewsMoveTheCentre) {
  showSide(centre, left);
  side->setCanDrag(false);
  dragRight(*window, 20, 300, 100);
  EXPECT_EQ(centreX(), 0);
  EXPECT_FALSE(leftInserted());

  // A view of the centre with a pan of its own hands it to the container (the news pages do).
  auto pageArea = os::makeView<os::View>(os::Rect(0, 100, 320, 300));
  auto pagePan = std::make_shared<os::PanGestureRecognizer>(
      [this](os::GestureRecognizer& g) { side->pan(static_cast<os::PanGestureRecognizer&>(g)); });
  pageArea->addGestureRecognizer(pagePan);
  centre->view()->addSubview(pageArea);
  dragRight(*window, 20, 200, 100);
  EXPECT_EQ(centreX(), 260);
  EXPECT_TRUE(side->leftSideIsShow());
  TouchDriver::advance(0.4);

  side->hideSideViewController();
  TouchDriver::advance(0.4);
  side->setCanDrag(true);
  dragRight(*window, 20, 450, 100);
  EXPECT_EQ(centreX(), 260);
}

TEST_F(SideMenuTest, AnOpenThatOvertakesACloseKeepsItsMenu) {
  showSide(centre, left);
  side->showLeftViewController(true);
  TouchDriver::advance(0.4);
  side->hideSideViewController();
  side->showLeftViewController(false);
  // The close's end arrives after the reopening.
  TouchDriver::advance(0.5);
  EXPECT_EQ(centreX(), 260);
  EXPECT_TRUE(leftInserted());
  EXPECT_TRUE(coverShown());
  EXPECT_TRUE(side->leftSideIsShow());
}

TEST_F(SideMenuTest, ACancelledDragSettlesClosed) {
  showSide(centre, left);
  Finger f(*window, os::Point{50, 300});
  f.moveToX(60);
  f.moveToX(170);
  ASSERT_EQ(centreX(), 120);
  f.cancel();
  EXPECT_EQ(centreX(), 0);
  TouchDriver::advance(0.4);
  EXPECT_FALSE(leftInserted());
  EXPECT_FALSE(side->showLeft());
}

TEST_F(SideMenuTest, ReplacingTheCentreTakesTheOldOneOut) {
  showSide(centre, left);
  auto other = std::make_shared<os::ViewController>();
  side->setRootViewController(other);
  EXPECT_EQ(centre->view()->superviewPtr(), nullptr);
  EXPECT_EQ(centre->parentViewController(), nullptr);
  EXPECT_EQ(other->view()->superviewPtr(), side->view().get());
  EXPECT_EQ(other->parentViewController(), side.get());
}

}  // namespace
}  // namespace newstest
