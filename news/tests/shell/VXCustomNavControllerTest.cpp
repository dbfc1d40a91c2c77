#include <gtest/gtest.h>

#include "news/list/VXLeftBaseTableViewController.h"
#include "news/shell/NQBaseViewController.h"
#include "news/shell/VXCustomNavController.h"
#include "news/shell/VXLeftBaseViewController.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/views/Application.h"
#include "os/views/Button.h"
#include "os/views/Label.h"

namespace newstest {
namespace {

using os::Finger;
using os::TouchDriver;

class Home : public NQBaseViewController {
 public:
  std::string navbarTitle() const override { return "Corvessa"; }
  void viewDidLoad() override {
    NQBaseViewController::viewDidLoad();
    auto band = os::makeView<os::View>(os::Rect(0, 100, 320, 50));  // to find in the snapshot
    band->setBackgroundColor(os::Color::red());
    view()->addSubview(band);
  }
};

struct Backs : VXNavBackClickDelegate {
  void backButtonClick() override { ++buttons; }
  void panGetstureRecognizerEnded() override { ++drags; }
  int buttons = 0, drags = 0;
};

class NavTest : public ReaderFixture {
 protected:
  NavTest() : ReaderFixture({.device = screenPhone()}) {
    nav_ = std::make_shared<VXCustomNavController>(home, VXReaderContext::current());
  }
  void SetUp() override { showSide(nav_, std::make_shared<os::ViewController>()); }
  std::shared_ptr<NQBaseViewController> pushScreen() { return push(std::make_shared<NQBaseViewController>()); }
  double screenX() const { return side_->view()->frame().origin.x; }
  // The gesture begins 10 points right of x0 and is released `distance` beyond that.
  void dragBack(double distance, double x0 = 20) {
    TouchDriver::drag({x0, 300}, {x0 + os::PanGestureRecognizer::kHysteresis + distance, 300});
  }

  std::shared_ptr<Home> home = std::make_shared<Home>();
};

TEST_F(NavTest, SideMenuDragIsOffWhileAPushedScreenShows) {
  TouchDriver::drag({20, 300}, {120, 300});  // at the root the side menu takes the drag
  EXPECT_EQ(nav_->view()->frame().origin.x, 260);
  EXPECT_EQ(screenX(), 0);
  side_->hideSideViewController();
  TouchDriver::advance(0.4);

  pushScreen();
  pushScreen();
  EXPECT_FALSE(side_->canDrag());
  EXPECT_TRUE(side_->view()->gestureRecognizers().empty());
  nav_->popViewController(false);
  EXPECT_FALSE(side_->canDrag());
  nav_->popViewController(false);
  EXPECT_TRUE(side_->canDrag());
  TouchDriver::drag({20, 300}, {120, 300});
  EXPECT_EQ(nav_->view()->frame().origin.x, 260);
}

TEST_F(NavTest, DragBackReturnsAtFiftyPointsAndPopsBeyond) {
  pushScreen();
  dragBack(50);
  EXPECT_DOUBLE_EQ(lastAnimationDuration(), 0.3);
  EXPECT_EQ(screenX(), 0);
  TouchDriver::advance(0.31);
  EXPECT_FALSE(nav_->isMoving());
  EXPECT_TRUE(nav_->backgroundView()->isHidden());
  EXPECT_EQ(depth(), 2u);

  dragBack(51);
  EXPECT_DOUBLE_EQ(lastAnimationDuration(), 0.3);
  EXPECT_EQ(screenX(), 320);  // slides out before the pop
  EXPECT_EQ(depth(), 2u);
  TouchDriver::advance(0.31);
  EXPECT_EQ(depth(), 1u);
  EXPECT_EQ(screenX(), 0);
  EXPECT_TRUE(side_->canDrag());

  // A second drag while the first still settles pops nothing more.
  pushScreen();
  pushScreen();
  dragBack(100);
  dragBack(100);
  TouchDriver::advance(0.5);
  EXPECT_EQ(depth(), 2u);
  EXPECT_EQ(nav_->screenShotsList().size(), 2u);

  nav_->setCanDragBack(false);
  dragBack(150);
  TouchDriver::advance(0.5);
  EXPECT_EQ(depth(), 2u);
}

TEST_F(NavTest, TheScreenFollowsTheFingerOverTheSnapshotAndItsFadingMask) {
  // Nothing lies beneath the root: its level holds no picture.
  ASSERT_EQ(nav_->screenShotsList().size(), 1u);
  EXPECT_EQ(nav_->screenShotsList()[0], nullptr);
  pushScreen();
  Finger f(*window_, os::Point{20, 300});
  f.moveTo(os::Point{30, 300});
  // Beneath lies the home screen as it was: its band 100 points below both bars.
  auto shot = nav_->lastScreenShot()->image();
  ASSERT_NE(shot, nullptr);
  const std::uint8_t* px = shot->bitmap().pixel(160, 64 + 125);
  EXPECT_EQ((std::vector<int>{px[0], px[1], px[2]}), (std::vector<int>{255, 0, 0}));
  EXPECT_EQ(nav_->backgroundView()->superviewPtr(), window_.get());
  EXPECT_EQ(window_->subviews().back(), side_->view());
  EXPECT_DOUBLE_EQ(nav_->blackMask()->alpha(), 0.2);

  f.moveTo(os::Point{110, 300});
  EXPECT_EQ(screenX(), 80);
  EXPECT_DOUBLE_EQ(nav_->blackMask()->alpha(), 0.1);
  f.moveTo(os::Point{190, 300});
  EXPECT_DOUBLE_EQ(nav_->blackMask()->alpha(), 0);
  f.moveTo(os::Point{400, 300});
  EXPECT_EQ(screenX(), 320);
  f.moveTo(os::Point{0, 300});
  EXPECT_EQ(screenX(), 0);
  f.cancel();
  TouchDriver::advance(0.31);
  EXPECT_EQ(depth(), 2u);
  // Once settled, the unpacked screen (megabytes) is let go; the packed one stays for the next drag.
  EXPECT_EQ(nav_->lastScreenShot()->image(), nullptr);
  EXPECT_NE(nav_->screenShotsList().back(), nullptr);
}

TEST_F(NavTest, PushedScreensGetTheBackButtonUnlessTheyHaveTheirOwn) {
  auto screen = pushScreen();
  const auto& items = screen->navigationItem()->leftBarButtonItems();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->width(), -10);
  auto back = std::dynamic_pointer_cast<os::Button>(items[1]->customView());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->frame().size, (os::Size{30, 21}));
  EXPECT_EQ(back->imageForState(os::kControlStateNormal)->name(), "navbar-back");

  auto own = std::make_shared<os::ViewController>();
  auto close = os::BarButtonItem::withTitle("close", os::BarButtonItemStyle::Plain, {});
  own->navigationItem()->setLeftBarButtonItem(close);
  nav_->pushViewController(own, false);
  EXPECT_EQ(own->navigationItem()->leftBarButtonItems(), std::vector{close});

  // A screen pushed without a bar gets it back when it goes.
  nav_->pushViewController(std::make_shared<os::ViewController>(), false, true);
  EXPECT_TRUE(nav_->isNavigationBarHidden());
  nav_->popViewController(false);
  nav_->popViewController(false);
  EXPECT_FALSE(nav_->isNavigationBarHidden());
  TouchDriver::settle();
  EXPECT_TRUE(TouchDriver::tap(*back));
  TouchDriver::advance(0.4);
  EXPECT_EQ(depth(), 1u);
}

TEST_F(NavTest, TheBackDelegateIsToldOnlyOnTheWayBackToTheHomeScreen) {
  auto backs = std::make_shared<Backs>();
  nav_->pushViewController(std::make_shared<NQBaseViewController>(), false, backs);
  nav_->pushViewController(std::make_shared<NQBaseViewController>(), false);
  nav_->backButtonClick();
  TouchDriver::advance(0.4);
  EXPECT_EQ(backs->buttons, 0);
  nav_->backButtonClick();
  TouchDriver::advance(0.4);
  EXPECT_EQ(backs->buttons, 1);
  EXPECT_EQ(nav_->backDelegate(), nullptr);

  nav_->pushViewController(std::make_shared<NQBaseViewController>(), false, backs);
  TouchDriver::settle();
  dragBack(100);
  TouchDriver::advance(0.4);
  EXPECT_EQ(backs->drags, 1);
}

TEST_F(NavTest, LeavingAScreenOpenedFromTheMenuShowsTheMenu) {
  auto settings = std::make_shared<VXLeftBaseViewController>();
  nav_->pushViewController(settings, false, settings);
  settings.reset();  // held only by the stack: it must still hear the way back
  TouchDriver::settle();
  dragBack(100);
  TouchDriver::advance(0.31);
  EXPECT_EQ(depth(), 1u);
  EXPECT_EQ(nav_->view()->frame().origin.x, 260);
  EXPECT_EQ(lastAnimationDuration(), 0);
  side_->hideSideViewController();
  TouchDriver::advance(0.4);

  auto offline = std::make_shared<VXLeftBaseTableViewController>(os::TableViewStyle::Plain, VXReaderContext::current());
  nav_->pushViewController(offline, false, offline);
  TouchDriver::settle();
  offline->backButtonClick();
  EXPECT_DOUBLE_EQ(lastAnimationDuration(), 0.35);
  TouchDriver::advance(0.4);
  EXPECT_EQ(depth(), 1u);
  EXPECT_EQ(nav_->view()->frame().origin.x, 260);
}

TEST_F(NavTest, BaseScreensShowTheirTitleAndKeepBelowTheBar) {
  auto title = std::dynamic_pointer_cast<os::Label>(home->navigationItem()->titleView());
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->text(), "Corvessa");
  EXPECT_EQ(title->font().pointSize(), 22);
  EXPECT_EQ(title->textColor(), os::Color::white());
  EXPECT_EQ(home->view()->frame().origin.y, 64);
  EXPECT_EQ(pushScreen()->navigationItem()->titleView(), nullptr);

  auto app = os::Application::create(nullptr);
  home->hideStatusBar();
  EXPECT_TRUE(app->isStatusBarHidden());
  app->setStatusBarHidden(false);  // the hidden bar would outlive the application into later tests
}

}  // namespace
}  // namespace newstest
