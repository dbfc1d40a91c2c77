#include <gtest/gtest.h>

#include "news/tests/support/ReaderFixture.h"
#include "os/views/GestureRecognizer.h"

namespace newstest {
namespace {

using os::Finger;
using os::TouchDriver;

class SideMenuTest : public ReaderFixture {
 protected:
  SideMenuTest() : ReaderFixture({.device = screenPhone()}) {}
  void SetUp() override { showSide(centre, left); }
  bool leftInserted() const { return left->view()->superviewPtr() == side_->view().get(); }
  bool coverShown() const { return side_->coverButton()->superviewPtr() == centre->view().get(); }

  std::shared_ptr<os::ViewController> centre = std::make_shared<os::ViewController>();
  std::shared_ptr<os::ViewController> left = std::make_shared<os::ViewController>();
};

TEST_F(SideMenuTest, OpeningAndClosingTakeTheirShareOfTheSlideDuration) {
  EXPECT_EQ(centre->view()->frame(), os::Rect(0, 0, 320, 568));
  EXPECT_FALSE(leftInserted());
  side_->showLeftViewController(true);
  EXPECT_DOUBLE_EQ(lastAnimationDuration(), 0.35);
  EXPECT_EQ(centre->view()->frame(), os::Rect(260, 0, 320, 568));
  EXPECT_EQ(side_->view()->subviews().front(), left->view());  // beneath the centre
  EXPECT_TRUE(coverShown());
  TouchDriver::advance(0.4);

  side_->layoutCurrentViewWithOffset(130);
  side_->hideSideViewController();
  EXPECT_DOUBLE_EQ(lastAnimationDuration(), 0.175);
  EXPECT_EQ(centreX(), 0);
  EXPECT_TRUE(leftInserted());  // tidied only once the slide is over
  TouchDriver::advance(0.2);
  EXPECT_FALSE(leftInserted());
  EXPECT_FALSE(coverShown());
  EXPECT_FALSE(side_->leftSideIsShow() || side_->showLeft());

  side_->showLeftViewController(false);
  EXPECT_EQ(lastAnimationDuration(), 0);
  // A tap on the part of the centre in view closes, and the centre's own content hears nothing.
  TouchDriver::advance(0.1);
  EXPECT_TRUE(TouchDriver::tap(os::Point{300, 300}));
  EXPECT_DOUBLE_EQ(lastAnimationDuration(), 0.35);
  TouchDriver::advance(0.4);
  EXPECT_EQ(centreX(), 0);
  EXPECT_FALSE(leftInserted());
}

TEST_F(SideMenuTest, ADragReleasedShortOfFiftyPointsSpringsBackAndFromFiftyOpens) {
  Finger f(*window_, os::Point{100, 300});
  f.moveTo(os::Point{110, 300});
  f.moveTo(os::Point{149, 300});
  EXPECT_EQ(centreX(), 49);
  EXPECT_TRUE(leftInserted());
  f.lift();
  EXPECT_NEAR(lastAnimationDuration(), 49.0 / 260 * 0.35, 1e-9);
  EXPECT_EQ(centreX(), 0);
  TouchDriver::advance(0.1);
  EXPECT_FALSE(leftInserted());

  TouchDriver::drag({100, 300}, {150, 300});
  EXPECT_NEAR(lastAnimationDuration(), 210.0 / 260 * 0.35, 1e-9);
  EXPECT_EQ(centreX(), 260);
  EXPECT_TRUE(side_->leftSideIsShow());
  TouchDriver::advance(0.4);

  // The open menu never goes past its width, and any drag of it closes it.
  Finger g(*window_, os::Point{270, 300});
  g.moveTo(os::Point{280, 300});
  g.moveTo(os::Point{318, 300});
  EXPECT_EQ(centreX(), 260);
  g.lift();
  EXPECT_EQ(centreX(), 0);
}

TEST_F(SideMenuTest, DraggingLeftOpensTheRightMenuOnlyWhenThereIsOne) {
  TouchDriver::drag({200, 300}, {100, 300});
  EXPECT_EQ(centreX(), 0);
  EXPECT_EQ(side_->view()->subviews().size(), 1u);
  TouchDriver::advance(0.4);

  auto right = std::make_shared<os::ViewController>();
  side_->setRightViewController(right);
  TouchDriver::drag({200, 300}, {150, 300});
  EXPECT_EQ(centreX(), -260);
  EXPECT_TRUE(side_->rightSideIsShow());
  TouchDriver::advance(0.4);

  // Opening the left menu takes the right one out first.
  side_->showLeftViewController(false);
  EXPECT_EQ(right->view()->superviewPtr(), nullptr);
  EXPECT_TRUE(leftInserted());
}

TEST_F(SideMenuTest, WithDraggingOffOnlyPansHandedOverByOtherViewsMoveTheCentre) {
  side_->setCanDrag(false);
  TouchDriver::drag({20, 300}, {120, 300});
  EXPECT_EQ(centreX(), 0);

  // The news pages hand their own pan to the container.
  auto pages = os::makeView<os::View>(os::Rect(0, 100, 320, 300));
  pages->addGestureRecognizer(std::make_shared<os::PanGestureRecognizer>(
      [this](os::GestureRecognizer& g) { side_->pan(static_cast<os::PanGestureRecognizer&>(g)); }));
  centre->view()->addSubview(pages);
  TouchDriver::drag({20, 200}, {120, 200});
  EXPECT_EQ(centreX(), 260);
  side_->hideSideViewController();
  TouchDriver::advance(0.4);

  side_->setCanDrag(true);
  TouchDriver::drag({20, 450}, {120, 450});
  EXPECT_EQ(centreX(), 260);
}

TEST_F(SideMenuTest, AnOpenThatOvertakesACloseKeepsItsMenu) {
  side_->showLeftViewController(true);
  TouchDriver::advance(0.4);
  side_->hideSideViewController();
  side_->showLeftViewController(false);
  TouchDriver::advance(0.5);  // the close ends after the reopening
  EXPECT_EQ(centreX(), 260);
  EXPECT_TRUE(leftInserted());
  EXPECT_TRUE(coverShown());
  EXPECT_TRUE(side_->leftSideIsShow());
}

TEST_F(SideMenuTest, ACancelledDragSettlesClosed) {
  Finger f(*window_, os::Point{50, 300});
  f.moveTo(os::Point{60, 300});
  f.moveTo(os::Point{170, 300});
  ASSERT_EQ(centreX(), 120);
  f.cancel();
  EXPECT_EQ(centreX(), 0);
  TouchDriver::advance(0.4);
  EXPECT_FALSE(leftInserted());
}

}  // namespace
}  // namespace newstest
