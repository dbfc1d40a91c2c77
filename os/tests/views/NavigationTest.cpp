#include <gtest/gtest.h>

#include "os/core/Error.h"
#include "os/views/Button.h"
#include "os/views/NavigationController.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

// A screen that writes its appearance callbacks into a shared trace.
class Screen : public ViewController {
 public:
  Screen(std::string name, Trace* trace) : name_(std::move(name)), trace_(trace) { setTitle(name_); }
  void viewDidLoad() override { trace_->add(name_ + " load"); }
  void viewWillAppear(bool) override { trace_->add(name_ + " willAppear"); }
  void viewDidAppear(bool) override { trace_->add(name_ + " didAppear"); }
  void viewWillDisappear(bool) override { trace_->add(name_ + " willDisappear"); }
  void viewDidDisappear(bool) override { trace_->add(name_ + " didDisappear"); }

 private:
  std::string name_;
  Trace* trace_;
};

struct NavDelegate : NavigationControllerDelegate {
  Trace* trace;
  void willShowViewController(NavigationController&, ViewController& c, bool) override { trace->add("willShow " + c.title()); }
  void didShowViewController(NavigationController&, ViewController& c, bool) override { trace->add("didShow " + c.title()); }
};

class NavigationTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    home = std::make_shared<Screen>("home", &trace);
    nav = std::make_shared<NavigationController>(home);
    navDelegate = std::make_shared<NavDelegate>();
    navDelegate->trace = &trace;
    nav->setDelegate(navDelegate);
    window->setRootViewController(nav);
    TouchDriver::settle();
    trace.clear();
  }
  Trace trace;
  std::shared_ptr<Screen> home;
  std::shared_ptr<NavigationController> nav;
  std::shared_ptr<NavDelegate> navDelegate;
};

TEST_F(NavigationTest, TheRootAppearsWhenTheWindowShowsIt) {
  Trace t;
  auto root = std::make_shared<Screen>("root", &t);
  auto w = std::make_shared<Window>();
  w->setRootViewController(root);
  EXPECT_EQ(t.events, std::vector<std::string>{"root load"});
  w->makeKeyAndVisible();
  EXPECT_EQ(t.events, (std::vector<std::string>{"root load", "root willAppear", "root didAppear"}));
  // Before system 7 the root view starts below the status bar.
  EXPECT_EQ(root->view()->frame(), Rect(0, 20, 320, 548));
  w->setHidden(true);
}

TEST_F(NavigationTest, AnimatedPushAndPopRunTheAppearanceCallbacksInOrder) {
  auto detail = std::make_shared<Screen>("detail", &trace);
  nav->pushViewController(detail, true);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"willShow detail", "home willDisappear", "detail load",
                                                    "detail willAppear"}));
  TouchDriver::advance(ViewController::kTransitionDuration);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"willShow detail", "home willDisappear", "detail load",
                                                    "detail willAppear", "home didDisappear", "detail didAppear",
                                                    "didShow detail"}));
  EXPECT_EQ(nav->topViewController(), detail);
  EXPECT_EQ(detail->navigationController(), nav.get());
  EXPECT_FALSE(home->view()->window());
  // The content sits under the 44-point bar.
  EXPECT_EQ(detail->view()->frame(), Rect(0, 44, 320, 504));

  trace.clear();
  EXPECT_EQ(nav->popViewController(true), detail);
  TouchDriver::advance(ViewController::kTransitionDuration);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"willShow home", "detail willDisappear", "home willAppear",
                                                    "detail didDisappear", "home didAppear", "didShow home"}));
  EXPECT_EQ(detail->parentViewController(), nullptr);
  EXPECT_EQ(nav->popViewController(false), nullptr);  // the root stays
}

TEST_F(NavigationTest, ABackButtonAppearsAndPops) {
  auto detail = std::make_shared<Screen>("detail", &trace);
  nav->pushViewController(detail, false);
  TouchDriver::settle();
  auto back = nav->navigationBar()->backButton();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->currentTitle(), "home");
  EXPECT_TRUE(TouchDriver::tap(*back));
  TouchDriver::advance(ViewController::kTransitionDuration);
  EXPECT_EQ(nav->viewControllers().size(), 1u);
  // Left items of the screen's own replace the back button.
  auto own = std::make_shared<Screen>("own", &trace);
  own->navigationItem()->setLeftBarButtonItem(BarButtonItem::withTitle("Menu", BarButtonItemStyle::Plain, nullptr));
  nav->pushViewController(own, false);
  TouchDriver::settle();
  EXPECT_FALSE(nav->navigationBar()->backButton());
}

TEST_F(NavigationTest, PopToRootTellsOnlyTheTopAndTheRoot) {
  auto a = std::make_shared<Screen>("a", &trace), b = std::make_shared<Screen>("b", &trace);
  nav->pushViewController(a, false);
  nav->pushViewController(b, false);
  trace.clear();
  auto popped = nav->popToRootViewController(false);
  EXPECT_EQ(popped, (std::vector<std::shared_ptr<ViewController>>{a, b}));
  EXPECT_EQ(trace.events, (std::vector<std::string>{"willShow home", "b willDisappear", "home willAppear",
                                                    "b didDisappear", "home didAppear", "didShow home"}));
  EXPECT_THROW(nav->pushViewController(home, false), Exception);
}

TEST_F(NavigationTest, ModalPresentationCoversTheWindowAndDismissesWithCompletion) {
  auto modal = std::make_shared<Screen>("modal", &trace);
  int presented = 0, dismissed = 0;
  home->presentViewController(modal, true, [&] { ++presented; });
  EXPECT_EQ(trace.events, (std::vector<std::string>{"modal load", "home willDisappear", "modal willAppear"}));
  EXPECT_EQ(presented, 0);
  TouchDriver::advance(ViewController::kTransitionDuration);
  EXPECT_EQ(presented, 1);
  EXPECT_EQ(nav->presentedViewController(), modal);
  EXPECT_EQ(modal->presentingViewController(), nav.get());
  EXPECT_EQ(modal->view()->window(), window.get());
  EXPECT_FALSE(nav->view()->window());  // covered, out of the tree
  EXPECT_EQ(nav->visibleViewController(), home);

  trace.clear();
  modal->dismissViewController(true, [&] { ++dismissed; });
  TouchDriver::advance(ViewController::kTransitionDuration);
  EXPECT_EQ(dismissed, 1);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"modal willDisappear", "home willAppear", "modal didDisappear",
                                                    "home didAppear"}));
  EXPECT_EQ(nav->presentedViewController(), nullptr);
  EXPECT_EQ(nav->view()->window(), window.get());
  EXPECT_FALSE(modal->view()->window());
}

TEST_F(NavigationTest, ANewTransitionFinishesThePendingOneFirst) {
  auto a = std::make_shared<Screen>("a", &trace), b = std::make_shared<Screen>("b", &trace);
  nav->pushViewController(a, true);
  nav->pushViewController(b, true);
  TouchDriver::advance(ViewController::kTransitionDuration);
  auto didAppear = std::count(trace.events.begin(), trace.events.end(), "a didAppear");
  EXPECT_EQ(didAppear, 1);
  EXPECT_EQ(trace.events.back(), "didShow b");
  EXPECT_EQ(nav->view()->subviews().size(), 2u);  // bar and the top screen only
}

}  // namespace
}  // namespace os::test
