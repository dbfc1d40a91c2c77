#include "news/shell/VXCustomNavController.h"

#include <algorithm>
#include <cmath>

#include "news/api/VXReaderContext.h"
#include "news/shell/NQSideViewController.h"
#include "os/graphics/BitmapContext.h"
#include "os/graphics/Color.h"
#include "os/views/Button.h"
#include "os/views/Device.h"
#include "os/views/NamedImage.h"
#include "os/views/Screen.h"
#include "os/views/Window.h"

namespace {

constexpr const char* kBackImageName = "navbar-back";
const os::Color kBarColor = os::Color::fromRGB255(204, 49, 49);

// The back arrow from the bundle; a drawn white chevron when the bundle has no picture of it.
std::shared_ptr<os::Image> backImage() {
  if (auto image = os::imageNamed(kBackImageName)) return image;
  const double scale = os::Screen::main().scale();
  const double w = 30, h = 21;
  os::BitmapContext context(static_cast<int>(w * scale), static_cast<int>(h * scale), scale);
  context.setStrokeColor(os::Color::white());
  context.setLineWidth(3);
  context.beginPath();
  context.moveTo(14, 3);
  context.addLineTo(6, h / 2);
  context.addLineTo(14, h - 3);
  context.strokePath();
  auto image = context.makeImage();
  if (image) image->setName(kBackImageName);
  return image;
}

}  // namespace

VXCustomNavController::VXCustomNavController(std::shared_ptr<os::ViewController> root,
                                             std::shared_ptr<VXReaderContext> context)
    : os::NavigationController(std::move(root)), context_(std::move(context)) {}

void VXCustomNavController::setSideMenuDrag(bool on) const {
  if (auto context = context_.lock()) NQSideViewController::share(*context)->setCanDrag(on);
}

void VXCustomNavController::viewDidLoad() {
  os::NavigationController::viewDidLoad();
  setBarTranslucent(false);
  if (os::Device::current().systemVersionNumber() >= 7) {
    navigationBar()->setBarTintColor(kBarColor);
  } else {
    navigationBar()->setTintColor(kBarColor);
  }
  std::weak_ptr<VXCustomNavController> weak = std::static_pointer_cast<VXCustomNavController>(shared_from_this());
  panGesture_ = std::make_shared<os::PanGestureRecognizer>([weak](os::GestureRecognizer& g) {
    if (auto self = weak.lock()) self->pan(static_cast<os::PanGestureRecognizer&>(g));
  });
  panGesture_->setDelegate(std::weak_ptr<os::GestureRecognizerDelegate>(weak.lock()));
  view()->addGestureRecognizer(panGesture_);
}

void VXCustomNavController::viewDidAppear(bool animated) {
  os::NavigationController::viewDidAppear(animated);
  // The root screen has nothing beneath it to drag back to: its level keeps an empty slot rather
  // than a full-screen picture (megabytes) that is never shown.
  if (screenShotsList_.empty()) screenShotsList_.push_back(nullptr);
}

void VXCustomNavController::setBarTranslucent(bool translucent) {
  if (translucent == barTranslucent_) return;
  barTranslucent_ = translucent;
  setNavigationBarHidden(translucent);
}

std::shared_ptr<os::PackedImage> VXCustomNavController::capture() const {
  auto window = os::Window::keyWindow();
  if (!window) return nullptr;
  const os::Size size = window->bounds().size;
  const double scale = os::Screen::main().scale();
  // Drawn and packed a band at a time: the screen's full pixels (megabytes) never exist at once.
  return os::PackedImage::render(static_cast<int>(std::ceil(size.width * scale)),
                                 static_cast<int>(std::ceil(size.height * scale)), scale, [&](os::BitmapContext& band) {
                                   // An opaque window leaves no see-through pixels in its picture.
                                   if (window->isOpaque()) band.fillAll(os::Color::black());
                                   window->layer().renderInContext(band);
                                 });
}

void VXCustomNavController::pushViewController(const std::shared_ptr<os::ViewController>& controller, bool animated) {
  if (!controller) return;
  // The screen about to be covered, shown again while the new one is dragged away.
  auto covered = capture();
  os::NavigationController::pushViewController(controller, animated);
  screenShotsList_.push_back(std::move(covered));
  const std::size_t depth = viewControllers().size();
  auto item = controller->navigationItem();
  if (item->leftBarButtonItems().empty() && depth >= 2) item->setLeftBarButtonItems(custumBackButton());
  if (depth >= 2) setSideMenuDrag(false);
  if (depth >= 3) needBackDelegate_ = false;
}

void VXCustomNavController::pushViewController(const std::shared_ptr<os::ViewController>& controller, bool animated,
                                               const std::shared_ptr<VXNavBackClickDelegate>& delegate) {
  backDelegate_ = delegate;
  pushViewController(controller, animated);
}

void VXCustomNavController::pushViewController(const std::shared_ptr<os::ViewController>& controller, bool animated,
                                               bool barTranslucent) {
  pushViewController(controller, animated);
  setBarTranslucent(barTranslucent);
}

std::shared_ptr<os::ViewController> VXCustomNavController::popViewController(bool animated) {
  setBarTranslucent(false);
  if (!screenShotsList_.empty()) screenShotsList_.pop_back();
  auto popped = os::NavigationController::popViewController(animated);
  const std::size_t depth = viewControllers().size();
  if (depth == 1) setSideMenuDrag(true);
  if (depth < 2) needBackDelegate_ = true;
  return popped;
}

std::vector<std::shared_ptr<os::BarButtonItem>> VXCustomNavController::custumBackButton() {
  auto button = os::makeView<os::Button>(os::Rect(0, 0, 30, 21), os::ButtonType::Custom);
  button->setImage(backImage(), os::kControlStateNormal);
  button->setAccessibilityLabel("返回");
  std::weak_ptr<VXCustomNavController> weak = std::static_pointer_cast<VXCustomNavController>(shared_from_this());
  button->addTarget(this, [weak](os::Control&) {
    if (auto self = weak.lock()) self->backButtonClick();
  }, os::kControlEventTouchUpInside);
  const double space = os::Device::current().systemVersionNumber() >= 7 ? -10 : 0;
  return {os::BarButtonItem::fixedSpace(space), os::BarButtonItem::withCustomView(button)};
}

void VXCustomNavController::backButtonClick() {
  auto keep = std::static_pointer_cast<VXCustomNavController>(shared_from_this());
  auto popped = popViewController(true);
  if (auto delegate = backDelegate_.lock(); delegate && needBackDelegate_) {
    backDelegate_.reset();
    delegate->backButtonClick();
  }
}

bool VXCustomNavController::dragBackAllowed() const { return viewControllers().size() >= 2 && canDragBack_; }

bool VXCustomNavController::shouldReceiveTouch(os::GestureRecognizer&, const os::Touch&) { return dragBackAllowed(); }

std::shared_ptr<os::View> VXCustomNavController::screenView() const {
  auto window = os::Window::keyWindow();
  if (!window || !window->rootViewController()) return nullptr;
  return window->rootViewController()->view();
}

void VXCustomNavController::moveViewWithX(double x) {
  auto screen = screenView();
  if (!screen) return;
  x = std::clamp(x, 0.0, screen->frame().size.width);
  os::Rect frame = screen->frame();
  frame.origin.x = x;
  screen->setFrame(frame);
  // Fades out over the first 160 points of travel.
  if (blackMask_) blackMask_->setAlpha(0.2 - x / 800);
}

void VXCustomNavController::pan(os::PanGestureRecognizer& gesture) {
  using S = os::GestureRecognizerState;
  if (!dragBackAllowed()) return;
  auto screen = screenView();
  if (!screen) return;
  const os::Point touch = gesture.locationInView(nullptr);
  switch (gesture.state()) {
    case S::Began: {
      // A drag that starts while the last one still settles would pop a second screen.
      if (isMoving_) return;
      isMoving_ = true;
      startTouch_ = touch;
      const os::Rect screenBounds = os::Screen::main().bounds();
      if (!backgroundView_) {
        backgroundView_ = os::makeView<os::View>(os::Rect(0, 0, screenBounds.size.width, screenBounds.size.height));
        blackMask_ = os::makeView<os::View>(os::Rect(0, 0, screenBounds.size.width, screenBounds.size.height));
        blackMask_->setBackgroundColor(os::Color::black());
        backgroundView_->addSubview(blackMask_);
      }
      if (auto holder = screen->superview(); holder && backgroundView_->superviewPtr() != holder.get()) {
        holder->insertSubviewBelow(backgroundView_, screen.get());
      }
      backgroundView_->setHidden(false);
      blackMask_->setAlpha(0.2);
      if (lastScreenShot_) lastScreenShot_->removeFromSuperview();
      std::shared_ptr<os::Image> beneath;
      if (!screenShotsList_.empty() && screenShotsList_.back()) beneath = screenShotsList_.back()->unpack();
      if (beneath) beneath->setName("screenshot");
      lastScreenShot_ = std::make_shared<os::ImageView>(beneath);
      lastScreenShot_->setFrame(backgroundView_->bounds());
      backgroundView_->insertSubviewBelow(lastScreenShot_, blackMask_.get());
      dragging_ = true;
      break;
    }
    case S::Changed:
      if (dragging_ && isMoving_) moveViewWithX(touch.x - startTouch_.x);
      break;
    case S::Ended:
      if (!dragging_) return;
      dragging_ = false;
      settle(touch.x - startTouch_.x > kDragBackThreshold);
      break;
    case S::Cancelled:
      if (!dragging_) return;
      dragging_ = false;
      settle(false);
      break;
    default:
      break;
  }
}

void VXCustomNavController::settle(bool pop) {
  auto screen = screenView();
  if (!screen) return;
  const double width = screen->frame().size.width;
  std::weak_ptr<VXCustomNavController> weak = std::static_pointer_cast<VXCustomNavController>(shared_from_this());
  std::weak_ptr<os::View> weakScreen = screen;
  os::View::animate(
      kSettleDuration, [weak, pop, width] {
        if (auto self = weak.lock()) self->moveViewWithX(pop ? width : 0);
      },
      [weak, weakScreen, pop](bool) {
        auto self = weak.lock();
        if (!self) return;
        std::shared_ptr<os::ViewController> popped;
        if (pop) popped = self->popViewController(false);
        if (auto screen = weakScreen.lock()) {
          os::Rect frame = screen->frame();
          frame.origin.x = 0;
          screen->setFrame(frame);
        }
        self->isMoving_ = false;
        if (self->backgroundView_) self->backgroundView_->setHidden(true);
        // The unpacked pixels are needed only while the snapshot shows.
        if (self->lastScreenShot_) self->lastScreenShot_->setImage(nullptr);
        if (auto delegate = self->backDelegate_.lock(); pop && delegate && self->needBackDelegate_) {
          self->backDelegate_.reset();
          delegate->panGetstureRecognizerEnded();
        }
      });
}
