#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "news/controllers/NQBaseViewController.h"
#include "news/controllers/VXCustomNavController.h"
#include "news/controllers/VXLeftBaseTableViewController.h"
#include "news/controllers/VXLeftBaseViewController.h"
#include "os/views/Application.h"
#include "os/views/Button.h"
#include "os/views/Label.h"

namespace newstest {
namespace {

using os::TouchDriver;

class Home : public NQBaseViewController {
 public:
  std::string navbarTitle() const override { return "Corvessa"; }
  void viewDidLoad() override {
    NQBaseViewController::viewDidLoad();
    // Something to find again in the snapshot.
    auto mark = os::makeView<os::View>(os::Rect(0, 100, 320, 50));
    mark->setBackgroundColor(os::Color::red());
    view()->addSubview(mark);
  }
};

class Backs : public VXNavBackClickDelegate {
 public:
  void backButtonClick() override { ++buttons; }
  void panGetstureRecognizerEnded() override { ++drags; }
  int buttons = 0, drags = 0;
};

class NavTest : public ScreenFixture {
 protected:
  void SetUp() override {
    ScreenFixture::SetUp();
    home = std::make_shared<Home>();
    nav = std::make_shared<VXCustomNavController>(home);
    left = std::make_shared<os::ViewController>();
    showSide(nav, left);
  }
  std::shared_ptr<NQBaseViewController> pushScreen(bool animated = false) {
    auto screen = std::make_shared<NQBaseViewController>();
    nav->pushViewController(screen, animated);
    TouchDriver::settle();
    return screen;
  }
  double screenX() const { return side->view()->frame().origin.x; }
  bool sideDragInstalled() const {
    for (auto& g : side->view()->gestureRecognizers()) {
      if (g == side->panGestureRecognizer()) return true;
    }
    return false;
  }
  // A drag-back whose gesture begins 10 points right of x0 and ends `distance` beyond that.
  void dragBack(double distance, double x0 = 20) {
    Finger f(*window, os::Point{x0, 300});
    f.moveToX(x0 + os::PanGestureRecognizer::kHysteresis);
    f.moveToX(x0 + os::PanGestureRecognizer::kHysteresis + distance);
    f.lift();
  }

  std::shared_ptr<Home> home;
  std::shared_ptr<VXCustomNavController> nav;
  std::shared_ptr<os::ViewController> left;
};

TEST_F(NavTest, BarAndSnapshotsFollowTheStack) {
  EXPECT_FALSE(nav->barTranslucent());
  EXPECT_FALSE(nav->isNavigationBarHidden());
  EXPECT_EQ(nav->navigationBar()->barTintColor(), os::Color::fromRGB255(204, 49, 49));
  // The first appearance takes one snapshot; each push one more, each pop one less.
  ASSERT_EQ(nav->screenShotsList().size(), 1u);
  ASSERT_NE(nav->screenShotsList()[0], nullptr);
  EXPECT_EQ(nav->screenShotsList()[0]->pixelWidth(), 320);
  pushScreen();
  pushScreen();
  EXPECT_EQ(nav->screenShotsList().size(), 3u);
  nav->popViewController(false);
  EXPECT_EQ(nav->screenShotsList().size(), 2u);

  // A screen pushed without a bar gets it back when it goes.
  nav->pushViewController(std::make_shared<os::ViewController>(), false, true);
  EXPECT_TRUE(nav->isNavigationBarHidden());
  nav->popViewController(false);
  EXPECT_FALSE(nav->isNavigationBarHidden());
}

TEST_F(NavTest, SideMenuDragIsOffWhileAPushedScreenShows) {
  // At the root the drag-back takes no touch and the side menu's drag works.
  dragRight(*window, 20, 300, 100);
  EXPECT_EQ(nav->view()->frame().origin.x, 260);
  EXPECT_EQ(screenX(), 0);
  side->hideSideViewController();
  TouchDriver::advance(0.4);

  pushScreen();
  pushScreen();
  EXPECT_FALSE(side->canDrag());
  EXPECT_FALSE(sideDragInstalled());
  nav->popViewController(false);
  EXPECT_FALSE(side->canDrag());
  nav->popViewController(false);
  EXPECT_TRUE(side->canDrag());
  EXPECT_TRUE(sideDragInstalled());
  dragRight(*window, 20, 300, 100);
  EXPECT_EQ(nav->view()->frame().origin.x, 260);
}

TEST_F(NavTest, DragBackReturnsAtFiftyPointsAndPopsBeyond) {
  pushScreen();
  dragBack(50);
  EXPECT_DOUBLE_EQ(lastAnimationDuration(), 0.3);
  EXPECT_EQ(screenX(), 0);
  EXPECT_TRUE(nav->isMoving());
  TouchDriver::advance(0.31);
  EXPECT_FALSE(nav->isMoving());
  EXPECT_TRUE(nav->backgroundView()->isHidden());
  EXPECT_EQ(nav->viewControllers().size(), 2u);

  dragBack(51);
  EXPECT_DOUBLE_EQ(lastAnimationDuration(), 0.3);
  // The whole screen slides out before the pop.
  EXPECT_EQ(screenX(), 320);
  EXPECT_EQ(nav->viewControllers().size(), 2u);
  TouchDriver::advance(0.31);
  EXPECT_EQ(nav->viewControllers().size(), 1u);
  EXPECT_EQ(nav->topViewController(), home);
  EXPECT_EQ(screenX(), 0);
  EXPECT_TRUE(nav->backgroundView()->isHidden());
  EXPECT_TRUE(side->canDrag());
}

TEST_F(NavTest, TheScreenFollowsTheFingerOverTheSnapshotAndItsFadingMask) {
  pushScreen();
  Finger f(*window, os::Point{20, 300});
  f.moveToX(30);
  ASSERT_TRUE(nav->isMoving());
  // The snapshot beneath is the home screen as it was, with its red band.
  ASSERT_NE(nav->lastScreenShot(), nullptr);
  auto shot = nav->lastScreenShot()->image();
  ASSERT_NE(shot, nullptr);
  EXPECT_EQ(shot, nav->screenShotsList().back());
  // The band sits 100 points into the home screen, which starts below both bars.
  const std::uint8_t* px = shot->bitmap().pixel(160, 64 + 125);
  EXPECT_EQ(px[0], 255);
  EXPECT_EQ(px[1], 0);
  EXPECT_EQ(nav->backgroundView()->superviewPtr(), window.get());
  EXPECT_EQ(window->subviews().back(), side->view());
  EXPECT_DOUBLE_EQ(nav->blackMask()->alpha(), 0.2);

  f.moveToX(110);
  EXPECT_EQ(screenX(), 80);
  EXPECT_DOUBLE_EQ(nav->blackMask()->alpha(), 0.1);
  f.moveToX(190);
  EXPECT_DOUBLE_EQ(nav->blackMask()->alpha(), 0);
  f.moveToX(400);
  EXPECT_EQ(screenX(), 320);  // never beyond its own width
  f.moveToX(0);
  EXPECT_EQ(screenX(), 0);  // never left of its place
  f.cancel();
  TouchDriver::advance(0.31);
  EXPECT_EQ(nav->viewControllers().size(), 2u);
  EXPECT_FALSE(nav->isMoving());
}

TEST_F(NavTest, DragBackCanBeSwitchedOff) {
  pushScreen();
  nav->setCanDragBack(false);
  dragBack(150);
  TouchDriver::advance(0.5);
  EXPECT_EQ(nav->viewControllers().size(), 2u);
  EXPECT_EQ(screenX(), 0);
}

TEST_F(NavTest, ASecondDragWhileTheFirstSettlesPopsNothingMore) {
  pushScreen();
  pushScreen();
  dragBack(100);
  dragBack(100);
  TouchDriver::advance(0.5);
  EXPECT_EQ(nav->viewControllers().size(), 2u);
  EXPECT_EQ(nav->screenShotsList().size(), 2u);
}

TEST_F(NavTest, PushedScreensGetTheBackButtonUnlessTheyHaveTheirOwn) {
  auto screen = pushScreen();
  const auto& items = screen->navigationItem()->leftBarButtonItems();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_TRUE(items[0]->isSpace());
  EXPECT_EQ(items[0]->width(), -10);
  auto back = std::dynamic_pointer_cast<os::Button>(items[1]->customView());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->frame().size, (os::Size{30, 21}));
  ASSERT_NE(back->imageForState(os::kControlStateNormal), nullptr);
  EXPECT_EQ(back->imageForState(os::kControlStateNormal)->name(), "navbar-back");
  EXPECT_TRUE(home->navigationItem()->leftBarButtonItems().empty());

  auto own = std::make_shared<os::ViewController>();
  auto close = os::BarButtonItem::withTitle("close", os::BarButtonItemStyle::Plain, {});
  own->navigationItem()->setLeftBarButtonItem(close);
  nav->pushViewController(own, false);
  ASSERT_EQ(own->navigationItem()->leftBarButtonItems().size(), 1u);
  EXPECT_EQ(own->navigationItem()->leftBarButtonItem(), close);

  // The back button pops with the platform's animation.
  nav->popViewController(false);
  TouchDriver::settle();
  EXPECT_TRUE(TouchDriver::tap(*back));
  TouchDriver::advance(0.4);
  EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(NavTest, TheBackDelegateIsToldOnlyOnTheWayBackToTheHomeScreen) {
  auto backs = std::make_shared<Backs>();
  nav->pushViewController(std::make_shared<NQBaseViewController>(), false, backs);
  nav->pushViewController(std::make_shared<NQBaseViewController>(), false);
  nav->backButtonClick();
  TouchDriver::advance(0.4);
  EXPECT_EQ(backs->buttons, 0);
  nav->backButtonClick();
  TouchDriver::advance(0.4);
  EXPECT_EQ(backs->buttons, 1);
  EXPECT_EQ(nav->backDelegate(), nullptr);

  nav->pushViewController(std::make_shared<NQBaseViewController>(), false, backs);
  TouchDriver::settle();
  dragBack(100);
  TouchDriver::advance(0.4);
  EXPECT_EQ(backs->drags, 1);
  EXPECT_EQ(backs->buttons, 1);
}

TEST_F(NavTest, LeavingAScreenOpenedFromTheMenuShowsTheMenu) {
  auto settings = std::make_shared<VXLeftBaseViewController>();
  nav->pushViewController(settings, false, settings);
  settings.reset();  // held only by the stack: the delegate must still hear the way back
  TouchDriver::settle();
  dragBack(100);
  TouchDriver::advance(0.31);
  EXPECT_EQ(nav->viewControllers().size(), 1u);
  EXPECT_EQ(nav->view()->frame().origin.x, 260);
  EXPECT_TRUE(side->leftSideIsShow());
  EXPECT_EQ(lastAnimationDuration(), 0);
  side->hideSideViewController();
  TouchDriver::advance(0.4);

  auto favourites = std::make_shared<VXLeftBaseViewController>();
  nav->pushViewController(favourites, false, favourites);
  nav->backButtonClick();
  EXPECT_DOUBLE_EQ(lastAnimationDuration(), 0.35);
  TouchDriver::advance(0.4);
  EXPECT_EQ(nav->viewControllers().size(), 1u);
  EXPECT_EQ(nav->view()->frame().origin.x, 260);
}

TEST_F(NavTest, AMenuListScreenPopsItselfAndShowsTheMenu) {
  using ListScreen = VXLeftBaseTableViewControllerOf<NQBaseViewController>;
  auto offline = std::make_shared<ListScreen>();
  nav->pushViewController(offline, false, offline);
  TouchDriver::settle();
  offline->backButtonClick();
  TouchDriver::advance(0.4);
  EXPECT_EQ(nav->viewControllers().size(), 1u);
  EXPECT_TRUE(side->leftSideIsShow());
  EXPECT_TRUE(side->canDrag());
}

TEST_F(NavTest, BaseScreensShowTheirTitleAndKeepBelowTheBar) {
  nav->view();
  auto title = std::dynamic_pointer_cast<os::Label>(home->navigationItem()->titleView());
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->text(), "Corvessa");
  EXPECT_EQ(title->frame().size, (os::Size{100, 44}));
  EXPECT_EQ(title->textColor(), os::Color::white());
  EXPECT_EQ(title->font().pointSize(), 22);
  EXPECT_EQ(home->edgesForExtendedLayout(), os::kRectEdgeNone);
  EXPECT_EQ(home->view()->backgroundColor(), os::Color::white());
  // Content starts under the status bar and the navigation bar.
  EXPECT_EQ(home->view()->frame().origin.y, 64);

  auto untitled = pushScreen();
  EXPECT_EQ(untitled->navigationItem()->titleView(), nullptr);
}

class OlderSystemNavTest : public NavTest {
 protected:
  os::DeviceProfileScope older{phone("6.1")};
};

TEST_F(OlderSystemNavTest, OlderSystemsKeepTheirLayoutDefaults) {
  EXPECT_EQ(home->edgesForExtendedLayout(), os::kRectEdgeAll);
  EXPECT_EQ(nav->navigationBar()->tintColor(), os::Color::fromRGB255(204, 49, 49));
  auto screen = pushScreen();
  EXPECT_EQ(screen->navigationItem()->leftBarButtonItems()[0]->width(), 0);

  auto app = os::Application::create(nullptr);
  screen->hideStatusBar();
  EXPECT_FALSE(app->isStatusBarHidden());
}

TEST_F(NavTest, HidingTheStatusBarAsksTheApplication) {
  auto app = os::Application::create(nullptr);
  home->hideStatusBar();
  EXPECT_TRUE(app->isStatusBarHidden());
}

}  // namespace
}  // namespace newstest
