#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "os/graphics/TextLayout.h"
#include "os/runtime/Clock.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/RunLoop.h"
#include "os/console/TouchDriver.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "os/views/Switch.h"
#include "os/views/Window.h"
#include "ui/widgets/KHProgressHUD.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct CountingDelegate : KHProgressHUDDelegate {
  int hidden = 0;
  void hudWasHidden(KHProgressHUD&) override { ++hidden; }
};

class KHProgressHUDTest : public ::testing::Test {
 protected:
  void SetUp() override { host_ = os::makeView<os::View>(os::Rect(0, 0, 320, 480)); }

  std::shared_ptr<KHProgressHUD> addHUD() {
    auto hud = KHProgressHUD::initWithView(*host_);
    host_->addSubview(hud);
    hud->setDelegate(delegate_);
    return hud;
  }
  static void advance(double seconds) { os::TouchDriver::advance(seconds); }

  os::VirtualClockScope clock_;
  std::shared_ptr<os::View> host_;
  std::shared_ptr<CountingDelegate> delegate_ = std::make_shared<CountingDelegate>();
};

// ---- layout

TEST_F(KHProgressHUDTest, TextModeBoxIsTheDetailsTextWithTheMarginAndNoGap) {
  auto hud = addHUD();
  hud->setMode(KHProgressHUDModeText);
  hud->setDetailsLabelFont(os::Font::systemFont(16));
  hud->setDetailsLabelText("网络异常，请检查网络设置后再试一次");
  hud->layoutSubviews();

  EXPECT_EQ(hud->indicator(), nullptr);
  // Wrapped within the bounds less four margins.
  os::Size text = os::sizeWithFont("网络异常，请检查网络设置后再试一次", os::Font::systemFont(16), os::Size{240, 480 - 4 - 80});
  ASSERT_GT(text.height, 0);
  EXPECT_EQ(hud->size().width, text.width + 40);
  EXPECT_EQ(hud->size().height, text.height + 40);
  EXPECT_EQ(hud->detailsLabel()->frame().origin.y, std::round((480 - (text.height + 40)) / 2) + 20);
  EXPECT_EQ(hud->detailsLabel()->frame().size.height, text.height);
}

TEST_F(KHProgressHUDTest, SpinnerAndLabelAreSeparatedByThePadding) {
  auto hud = addHUD();
  hud->setLabelText("Loading");
  hud->layoutSubviews();
  ASSERT_TRUE(hud->indicator());
  os::Size spinner = hud->indicator()->bounds().size;
  os::Size label = os::sizeWithFont("Loading", hud->labelFont());
  EXPECT_EQ(hud->size().height, spinner.height + 4 + label.height + 40);
  EXPECT_EQ(hud->size().width, std::max(spinner.width, label.width) + 40);
  EXPECT_EQ(hud->label()->frame().origin.y, hud->indicator()->frame().origin.y + spinner.height + 4);
}

TEST_F(KHProgressHUDTest, LongLabelIsClippedToTheBoundsLessFourMargins) {
  auto hud = addHUD();
  hud->setMode(KHProgressHUDModeText);
  hud->setLabelText(std::string(200, 'W'));
  hud->layoutSubviews();
  EXPECT_EQ(hud->label()->frame().size.width, 320 - 4 * 20);
  EXPECT_EQ(hud->size().width, 240 + 40);
}

TEST_F(KHProgressHUDTest, SquareBoxWhereItFits) {
  auto hud = addHUD();
  auto custom = os::makeView<os::View>(os::Rect(0, 0, 60, 20));
  hud->setCustomView(custom);
  hud->setMode(KHProgressHUDModeCustomView);
  hud->layoutSubviews();
  EXPECT_EQ(hud->indicator(), custom);
  EXPECT_EQ(hud->size(), (os::Size{100, 60}));
  hud->setSquare(true);
  hud->layoutSubviews();
  EXPECT_EQ(hud->size(), (os::Size{100, 100}));
  hud->setMinSize({150, 40});
  hud->layoutSubviews();
  EXPECT_EQ(hud->size(), (os::Size{150, 100}));
}

TEST_F(KHProgressHUDTest, IndicatorsFollowTheMode) {
  auto hud = addHUD();
  auto spinner = hud->indicator();
  ASSERT_TRUE(std::dynamic_pointer_cast<os::ActivityIndicatorView>(spinner));
  EXPECT_TRUE(std::static_pointer_cast<os::ActivityIndicatorView>(spinner)->isAnimating());
  hud->setMode(KHProgressHUDModeIndeterminate);
  EXPECT_EQ(hud->indicator(), spinner);

  hud->setMode(KHProgressHUDModeDeterminateHorizontalBar);
  auto bar = hud->indicator();
  ASSERT_TRUE(std::dynamic_pointer_cast<KHBarProgressView>(bar));
  EXPECT_EQ(bar->bounds().size, (os::Size{120, 20}));
  hud->setMode(KHProgressHUDModeDeterminateHorizontalBar);
  EXPECT_NE(hud->indicator(), bar);
  EXPECT_EQ(bar->superview(), nullptr);

  hud->setMode(KHProgressHUDModeDeterminate);
  auto round = std::dynamic_pointer_cast<KHRoundProgressView>(hud->indicator());
  ASSERT_TRUE(round);
  EXPECT_FALSE(round->isAnnular());
  hud->setMode(KHProgressHUDModeAnnularDeterminate);
  EXPECT_EQ(hud->indicator(), round);
  EXPECT_TRUE(round->isAnnular());
  hud->setProgress(0.4f);
  EXPECT_FLOAT_EQ(round->progress(), 0.4f);

  // A change made on another thread reaches the screen through the main thread.
  std::thread([&] { hud->setProgress(0.9f); }).join();
  os::RunLoop::main()->runUntilIdle();
  EXPECT_FLOAT_EQ(round->progress(), 0.9f);
}

// ---- timing

TEST_F(KHProgressHUDTest, MinimumShowTimeHoldsAnEarlyHide) {
  auto hud = addHUD();
  hud->setMinShowTime(1.0f);
  hud->show(false);
  EXPECT_EQ(hud->alpha(), 1);
  advance(0.3);
  hud->hide(false);
  advance(0.65);
  EXPECT_EQ(hud->alpha(), 1);
  EXPECT_EQ(delegate_->hidden, 0);
  advance(0.1);
  EXPECT_EQ(hud->alpha(), 0);
  EXPECT_EQ(delegate_->hidden, 1);
}

TEST_F(KHProgressHUDTest, GraceTimeShowsOnlyWhileATaskRuns) {
  auto idle = addHUD();
  idle->setGraceTime(0.5f);
  idle->show(true);
  advance(1.0);
  EXPECT_EQ(idle->alpha(), 0);
  EXPECT_FALSE(idle->showStarted());

  auto busy = addHUD();
  busy->setGraceTime(0.5f);
  busy->setTaskInProgress(true);
  busy->show(false);
  advance(0.4);
  EXPECT_EQ(busy->alpha(), 0);
  advance(0.2);
  EXPECT_EQ(busy->alpha(), 1);
}

TEST_F(KHProgressHUDTest, DelayedHideThenHideReportsOnce) {
  auto hud = addHUD();
  int completions = 0;
  hud->setCompletionBlock([&] { ++completions; });
  hud->show(false);
  hud->hide(true, 2.0);
  advance(0.5);
  hud->hide(false);
  EXPECT_EQ(hud->alpha(), 0);
  EXPECT_EQ(delegate_->hidden, 1);
  advance(3.0);  // past the cancelled delayed hide
  EXPECT_EQ(delegate_->hidden, 1);
  EXPECT_EQ(completions, 1);
}

TEST_F(KHProgressHUDTest, AHideThatOvertakesAHidingAnimationReportsOnce) {
  auto hud = addHUD();
  hud->show(false);
  hud->hide(true);  // a 0.3 s fade
  EXPECT_EQ(hud->alpha(), 0.02);
  hud->hide(false);  // finishes at once
  EXPECT_EQ(delegate_->hidden, 1);
  advance(0.5);  // the fade's end
  EXPECT_EQ(delegate_->hidden, 1);
  EXPECT_EQ(hud->alpha(), 0);
}

TEST_F(KHProgressHUDTest, AnimatedShowAndHideWithZoom) {
  auto hud = addHUD();
  hud->setAnimationType(KHProgressHUDAnimationZoomIn);
  hud->show(true);
  EXPECT_EQ(hud->alpha(), 1);
  EXPECT_EQ(hud->transform(), os::AffineTransform::identity());
  hud->hide(true);
  EXPECT_EQ(hud->transform(), os::AffineTransform::makeScale(1.5, 1.5));
  EXPECT_EQ(delegate_->hidden, 0);
  advance(0.31);
  EXPECT_EQ(delegate_->hidden, 1);
  EXPECT_EQ(hud->alpha(), 0);
  // Shown again after it was hidden, it reports its next hiding too.
  hud->show(false);
  hud->hide(false);
  EXPECT_EQ(delegate_->hidden, 2);
}

// ---- finding and tasks

TEST_F(KHProgressHUDTest, HideForViewTakesOnlyTheTopmostHUD) {
  auto first = KHProgressHUD::showHUDAddedTo(host_, false);
  auto second = KHProgressHUD::showHUDAddedTo(host_, false);
  host_->addSubview(os::makeView<os::View>(os::Rect(0, 0, 10, 10)));
  EXPECT_EQ(KHProgressHUD::HUDForView(*host_), second);
  EXPECT_EQ(KHProgressHUD::allHUDsForView(*host_).size(), 2u);

  EXPECT_TRUE(KHProgressHUD::hideHUDForView(*host_, false));
  EXPECT_EQ(second->superview(), nullptr);
  EXPECT_EQ(first->superview(), host_);
  EXPECT_EQ(first->alpha(), 1);
  EXPECT_EQ(KHProgressHUD::hideAllHUDsForView(*host_, false), 1u);
  EXPECT_FALSE(KHProgressHUD::hideHUDForView(*host_, false));
}

TEST_F(KHProgressHUDTest, ATaskOnAQueueHidesTheHUDAndThenCompletes) {
  auto hud = addHUD();
  std::atomic<bool> ran{false};
  bool completedOnMain = false, hiddenBeforeCompletion = false;
  hud->showAnimated(
      false, [&] { ran = true; }, os::DispatchQueue::create("hud.task"),
      [&] {
        completedOnMain = os::RunLoop::isMainThread();
        hiddenBeforeCompletion = hud->alpha() == 0;
      });
  EXPECT_TRUE(hud->taskInProgress());
  ASSERT_TRUE(os::RunLoop::main()->runUntil([&] { return delegate_->hidden > 0; }, 20));
  EXPECT_TRUE(ran);
  EXPECT_TRUE(completedOnMain);
  EXPECT_TRUE(hiddenBeforeCompletion);
  EXPECT_FALSE(hud->taskInProgress());

  auto threaded = addHUD();
  std::atomic<bool> threadRan{false};
  threaded->showWhileExecuting([&] { threadRan = true; }, false);
  ASSERT_TRUE(os::RunLoop::main()->runUntil([&] { return delegate_->hidden > 1; }, 20));
  EXPECT_TRUE(threadRan);
}

// ---- orientation

TEST_F(KHProgressHUDTest, InAWindowTheHUDFollowsTheStatusBarOrientation) {
  auto application = os::Application::create(nullptr, "com.example.hud");
  application->setStatusBarOrientation(os::InterfaceOrientation::LandscapeLeft);
  auto window = std::make_shared<os::Window>(os::Rect(0, 0, 320, 480));
  auto hud = KHProgressHUD::initWithWindow(*window);
  window->addSubview(hud);
  EXPECT_EQ(hud->bounds().size, (os::Size{480, 320}));
  EXPECT_EQ(hud->rotationTransform(), os::AffineTransform::makeRotation(-kPi / 2));
  EXPECT_EQ(hud->transform(), hud->rotationTransform());

  // In a plain view the HUD only takes the view's bounds on an orientation change.
  application->setStatusBarOrientation(os::InterfaceOrientation::Portrait);
  auto plain = addHUD();
  host_->setFrame(os::Rect(0, 0, 480, 320));
  os::Device::current().setOrientation(os::DeviceOrientation::LandscapeRight);
  EXPECT_EQ(plain->frame(), host_->bounds());
  EXPECT_EQ(plain->transform(), os::AffineTransform::identity());
  os::Device::current().setOrientation(os::DeviceOrientation::Portrait);
}

}  // namespace
