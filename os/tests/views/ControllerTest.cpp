#include <gtest/gtest.h>

#include "os/views/NavigationController.h"
#include "os/views/Screen.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

class Recorder : public ViewController {
 public:
  Recorder(std::string name, Trace* t) : name_(std::move(name)), t_(t) {}
  void viewWillAppear(bool) override { t_->add(name_ + "+"); }
  void viewDidAppear(bool) override { t_->add(name_ + "++"); }
  void viewWillDisappear(bool) override { t_->add(name_ + "-"); }
  void viewDidDisappear(bool) override { t_->add(name_ + "--"); }
  bool prefersStatusBarHidden() const override { return hideStatusBar; }
  bool hideStatusBar = false;

 private:
  std::string name_;
  Trace* t_;
};

class ControllerTest : public ScreenTest {
 protected:
  Trace trace;
};

TEST_F(ControllerTest, ChildrenInTheViewFollowTheirParentsAppearance) {
  auto parent = std::make_shared<Recorder>("parent", &trace);
  auto inside = std::make_shared<Recorder>("inside", &trace);
  auto outside = std::make_shared<Recorder>("outside", &trace);
  parent->addChildViewController(inside);
  parent->addChildViewController(outside);
  parent->view()->addSubview(inside->view());
  EXPECT_EQ(inside->parentViewController(), parent.get());
  window->setRootViewController(parent);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"parent+", "inside+", "parent++", "inside++"}));
  trace.clear();
  inside->removeFromParentViewController();
  window->setRootViewController(nullptr);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"parent-", "parent--"}));
  EXPECT_EQ(parent->childViewControllers().size(), 1u);
}

TEST_F(ControllerTest, OnlyOnePresentationAtATimeAndDismissFromEitherSide) {
  auto root = std::make_shared<Recorder>("root", &trace);
  window->setRootViewController(root);
  auto first = std::make_shared<Recorder>("first", &trace);
  auto second = std::make_shared<Recorder>("second", &trace);
  root->presentViewController(first, false);
  root->presentViewController(second, false);  // refused: one is up already
  EXPECT_EQ(root->presentedViewController(), first);
  EXPECT_EQ(second->presentingViewController(), nullptr);
  // The presented one may present in turn, and the root dismisses the whole stack.
  first->presentViewController(second, false);
  EXPECT_EQ(first->presentedViewController(), second);
  EXPECT_EQ(second->view()->window(), window.get());
  trace.clear();
  root->dismissViewController(false);
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_EQ(first->presentedViewController(), nullptr);
  EXPECT_EQ(root->view()->window(), window.get());
  EXPECT_FALSE(first->view()->window());
  EXPECT_FALSE(second->view()->window());
  EXPECT_EQ(trace.events, (std::vector<std::string>{"second-", "root+", "second--", "root++"}));
  // A controller with nothing presented dismisses itself from its presenter.
  root->presentViewController(first, false);
  first->dismissViewController(false);
  EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(ControllerTest, StatusBarFollowsThePresentedScreensWish) {
  auto app = Application::create(std::make_shared<ApplicationDelegate>(), "com.example.reader");
  app->makeShared();
  auto viewer = std::make_shared<Recorder>("viewer", &trace);
  viewer->hideStatusBar = true;
  viewer->setNeedsStatusBarAppearanceUpdate();
  EXPECT_TRUE(app->isStatusBarHidden());
  EXPECT_EQ(Screen::main().applicationFrame(), Screen::main().bounds());
  viewer->hideStatusBar = false;
  viewer->setNeedsStatusBarAppearanceUpdate();
  EXPECT_FALSE(app->isStatusBarHidden());
}

TEST_F(ControllerTest, NavigationLayoutFollowsTheBarAndTheSystemVersion) {
  auto home = std::make_shared<Recorder>("home", &trace);
  auto nav = std::make_shared<NavigationController>(home);
  window->setRootViewController(nav);
  TouchDriver::settle();
  EXPECT_EQ(nav->view()->frame(), Rect(0, 20, 320, 548));
  EXPECT_EQ(nav->navigationBar()->frame(), Rect(0, 0, 320, 44));
  EXPECT_EQ(home->view()->frame(), Rect(0, 44, 320, 504));
  nav->setNavigationBarHidden(true);
  TouchDriver::settle();
  EXPECT_EQ(home->view()->frame(), Rect(0, 0, 320, 548));
  EXPECT_TRUE(nav->navigationBar()->isHidden());
  window->setRootViewController(nullptr);

  // From system 7 the screens run under the status bar and the bar sits below it.
  DeviceProfile seven;
  seven.systemVersion = "7.0";
  DeviceProfileScope scope(seven);
  auto home7 = std::make_shared<Recorder>("home7", &trace);
  auto nav7 = std::make_shared<NavigationController>(home7);
  window->setRootViewController(nav7);
  TouchDriver::settle();
  EXPECT_EQ(nav7->view()->frame(), Rect(0, 0, 320, 568));
  EXPECT_EQ(nav7->navigationBar()->frame(), Rect(0, 20, 320, 44));
  EXPECT_EQ(home7->view()->frame(), Rect(0, 0, 320, 568));
  auto plain = std::make_shared<Recorder>("plain", &trace);
  plain->setEdgesForExtendedLayout(kRectEdgeNone);
  nav7->pushViewController(plain, false);
  TouchDriver::settle();
  EXPECT_EQ(plain->view()->frame(), Rect(0, 64, 320, 504));
  window->setRootViewController(nullptr);
}

TEST_F(ControllerTest, SetViewControllersReplacesTheStack) {
  auto a = std::make_shared<Recorder>("a", &trace), b = std::make_shared<Recorder>("b", &trace),
       c = std::make_shared<Recorder>("c", &trace);
  auto nav = std::make_shared<NavigationController>(a);
  window->setRootViewController(nav);
  trace.clear();
  nav->setViewControllers({b, c});
  EXPECT_EQ(nav->viewControllers(), (std::vector<std::shared_ptr<ViewController>>{b, c}));
  EXPECT_EQ(trace.events, (std::vector<std::string>{"a-", "c+", "a--", "c++"}));
  EXPECT_EQ(a->parentViewController(), nullptr);
  EXPECT_EQ(b->navigationController(), nav.get());
  EXPECT_EQ(nav->navigationBar()->items().size(), 2u);
  EXPECT_EQ(nav->popToViewController(b.get(), false).size(), 1u);
  EXPECT_EQ(nav->topViewController(), b);
  window->setRootViewController(nullptr);
}

TEST_F(ControllerTest, AFormSheetOnAPadIsCentredOverItsDimmedPresenter) {
  DeviceProfile pad;
  pad.idiom = UserInterfaceIdiom::Pad;
  pad.screenSize = Size{768, 1024};
  DeviceProfileScope scope(pad);
  auto padWindow = testing::showKeyWindow(nullptr, Rect(0, 0, 768, 1024));
  auto root = std::make_shared<Recorder>("root", &trace);
  padWindow->setRootViewController(root);
  auto sheet = std::make_shared<Recorder>("sheet", &trace);
  sheet->setModalPresentationStyle(ModalPresentationStyle::FormSheet);
  trace.clear();
  root->presentViewController(sheet, true);
  TouchDriver::advance(1);
  // 540 x 620 in the middle of the window; the presenter stays on screen and never disappears.
  EXPECT_EQ(sheet->view()->convertRectToView(sheet->view()->bounds(), nullptr), Rect(114, 202, 540, 620));
  EXPECT_EQ(root->view()->window(), padWindow.get());
  EXPECT_EQ(trace.events, (std::vector<std::string>{"sheet+", "sheet++"}));
  // What lies outside the sheet is the dimming, not the presenter's view.
  auto hit = padWindow->hitTest(Point{20, 20}, nullptr);
  ASSERT_TRUE(hit);
  EXPECT_NE(hit, root->view());
  EXPECT_FALSE(hit->isDescendantOfView(root->view().get()));
  EXPECT_TRUE(padWindow->hitTest(Point{384, 512}, nullptr)->isDescendantOfView(sheet->view().get()));

  // The sheet's holder may be resized about its centre; the screen follows.
  auto holder = sheet->view()->superview();
  ASSERT_TRUE(holder && holder.get() != padWindow.get());
  holder->setBounds(Rect(0, 0, 533, 545));
  EXPECT_EQ(sheet->view()->convertRectToView(sheet->view()->bounds(), nullptr), Rect(117.5, 239.5, 533, 545));

  // A full-screen screen over the sheet, then back: the sheet returns to its holder.
  auto cover = std::make_shared<Recorder>("cover", &trace);
  sheet->presentViewController(cover, false);
  EXPECT_FALSE(sheet->view()->window());
  sheet->dismissViewController(false);
  EXPECT_EQ(sheet->view()->superview(), holder);
  trace.clear();
  root->dismissViewController(false);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"sheet-", "sheet--"}));
  EXPECT_EQ(padWindow->subviews(), (std::vector<std::shared_ptr<View>>{root->view()}));
  EXPECT_FALSE(sheet->view()->superview());
  padWindow->setRootViewController(nullptr);
  testing::hideKeyWindow(padWindow);
}

TEST_F(ControllerTest, AFormSheetOnAPhoneCoversTheWindow) {
  auto root = std::make_shared<Recorder>("root", &trace);
  window->setRootViewController(root);
  auto sheet = std::make_shared<Recorder>("sheet", &trace);
  sheet->setModalPresentationStyle(ModalPresentationStyle::FormSheet);
  trace.clear();
  root->presentViewController(sheet, false);
  EXPECT_EQ(sheet->view()->superview().get(), window.get());
  EXPECT_EQ(sheet->view()->frame(), sheet->frameForRootView(window->bounds()));
  EXPECT_FALSE(root->view()->window());
  EXPECT_EQ(trace.events, (std::vector<std::string>{"root-", "sheet+", "root--", "sheet++"}));
  root->dismissViewController(false);
  EXPECT_EQ(root->view()->window(), window.get());
  window->setRootViewController(nullptr);
}

}  // namespace
}  // namespace os::test
