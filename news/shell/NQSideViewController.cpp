#include "news/shell/NQSideViewController.h"

#include <algorithm>
#include <cmath>

#include "news/api/VXReaderContext.h"
#include "os/views/Device.h"
#include "os/views/Screen.h"
#include "os/views/View.h"

NQSideViewController::NQSideViewController() = default;

NQSideViewController::~NQSideViewController() = default;

std::shared_ptr<NQSideViewController> NQSideViewController::share() { return share(*VXReaderContext::current()); }

std::shared_ptr<NQSideViewController> NQSideViewController::share(VXReaderContext& context) {
  return context.sideController.get([] { return std::make_shared<NQSideViewController>(); });
}

std::shared_ptr<NQSideViewController> NQSideViewController::setShared(std::shared_ptr<NQSideViewController> controller) {
  return VXReaderContext::current()->sideController.set(std::move(controller));
}

void NQSideViewController::loadView() {
  auto v = std::make_shared<os::View>(frameForRootView(os::Screen::main().bounds()));
  v->setAutoresizingMask(os::kViewAutoresizingFlexibleWidth | os::kViewAutoresizingFlexibleHeight);
  setView(v);
}

void NQSideViewController::viewDidLoad() {
  auto v = view();
  const os::Rect b = v->bounds();
  showWidth_ = b.size.width - kCentreShownWhenOpen;

  std::weak_ptr<NQSideViewController> weak = std::static_pointer_cast<NQSideViewController>(shared_from_this());
  coverButton_ = os::makeView<os::Button>(os::Rect(0, 0, b.size.width, b.size.height), os::ButtonType::Custom);
  coverButton_->addTarget(this, [weak](os::Control&) {
    if (auto self = weak.lock()) self->clickButton();
  }, os::kControlEventTouchUpInside);

  panGesture_ = std::make_shared<os::PanGestureRecognizer>([weak](os::GestureRecognizer& g) {
    if (auto self = weak.lock()) self->pan(static_cast<os::PanGestureRecognizer&>(g));
  });
  panGesture_->setDelegate(std::weak_ptr<os::GestureRecognizerDelegate>(weak.lock()));
  // A container told not to drag before its view existed keeps its drag off.
  if (canDrag_) v->addGestureRecognizer(panGesture_);
}

os::Rect NQSideViewController::childFrame() const {
  const os::Rect screen = os::Screen::main().bounds();
  if (os::Device::current().systemVersionNumber() >= 7) return os::Rect(0, 0, screen.size.width, screen.size.height);
  return os::Rect(0, 0, screen.size.width, screen.size.height - os::Screen::kStatusBarHeight);
}

void NQSideViewController::adopt(std::shared_ptr<os::ViewController>& slot, std::shared_ptr<os::ViewController> controller) {
  if (slot == controller) return;
  if (slot) {
    if (slot->isViewLoaded() && isViewLoaded() && slot->view()->superviewPtr() == view().get()) slot->view()->removeFromSuperview();
    if (slot->parentViewController() == this) slot->removeFromParentViewController();
  }
  slot = std::move(controller);
  if (!slot) return;
  addChildViewController(slot);
  slot->view()->setFrame(childFrame());
}

void NQSideViewController::setRootViewController(std::shared_ptr<os::ViewController> controller) {
  adopt(root_, std::move(controller));
  if (root_) view()->addSubview(root_->view());
}

void NQSideViewController::setLeftViewController(std::shared_ptr<os::ViewController> controller) {
  // A side view goes into the container only when it is about to show.
  adopt(left_, std::move(controller));
}

void NQSideViewController::setRightViewController(std::shared_ptr<os::ViewController> controller) {
  adopt(right_, std::move(controller));
}

double NQSideViewController::centreX() const {
  return root_ && root_->isViewLoaded() ? root_->view()->frame().origin.x : 0;
}

void NQSideViewController::layoutCurrentViewWithOffset(double x) {
  if (!root_) return;
  auto centre = root_->view();
  if (centre->frame().origin.x == x) return;
  const os::Rect b = view()->bounds();
  centre->setFrame(os::Rect(x, 0, b.size.width, b.size.height));
}

bool NQSideViewController::willShowSide(const std::shared_ptr<os::ViewController>& side,
                                        const std::shared_ptr<os::ViewController>& other) {
  if (!side) return false;
  auto sideView = side->view();
  if (sideView->superviewPtr()) return false;
  auto container = view();
  if (root_ && root_->isViewLoaded() && root_->view()->superviewPtr() == container.get()) {
    container->insertSubviewBelow(sideView, root_->view().get());
  } else {
    container->insertSubview(sideView, 0);
  }
  if (other && other->isViewLoaded() && other->view()->superviewPtr()) other->view()->removeFromSuperview();
  return true;
}

bool NQSideViewController::willShowLeftViewController() { return willShowSide(left_, right_); }

bool NQSideViewController::willShowRightViewController() { return willShowSide(right_, left_); }

void NQSideViewController::showSide(bool left, bool animated) {
  if (!(left ? left_ : right_)) return;
  // One side at a time: opening this one takes the other's view out, so its flags go too.
  if (left) {
    showLeft_ = leftSideIsShow_ = true;
    showRight_ = rightSideIsShow_ = false;
    willShowLeftViewController();
  } else {
    showRight_ = rightSideIsShow_ = true;
    showLeft_ = leftSideIsShow_ = false;
    willShowRightViewController();
  }
  const double target = left ? showWidth_ : -showWidth_;
  const double x = centreX();
  const double travel = left ? std::fabs(showWidth_ - x) : std::fabs(showWidth_ + x);
  const double duration = animated && showWidth_ > 0 ? travel / showWidth_ * kSlideDuration : 0;
  ++slideGeneration_;
  std::weak_ptr<NQSideViewController> weak = std::static_pointer_cast<NQSideViewController>(shared_from_this());
  os::View::animate(duration, 0, os::kViewAnimationOptionCurveEaseInOut, [weak, target] {
    auto self = weak.lock();
    if (!self) return;
    self->layoutCurrentViewWithOffset(target);
    if (self->root_ && self->coverButton_) self->root_->view()->addSubview(self->coverButton_);
  });
}

void NQSideViewController::showLeftViewController(bool animated) { showSide(true, animated); }

void NQSideViewController::showRightViewController(bool animated) { showSide(false, animated); }

void NQSideViewController::hideSideViewController() {
  const double duration = showWidth_ > 0 ? std::fabs(centreX() / showWidth_) * kSlideDuration : 0;
  const std::uint64_t generation = ++slideGeneration_;
  std::weak_ptr<NQSideViewController> weak = std::static_pointer_cast<NQSideViewController>(shared_from_this());
  os::View::animate(
      duration, 0, os::kViewAnimationOptionCurveEaseInOut,
      [weak] {
        if (auto self = weak.lock()) self->layoutCurrentViewWithOffset(0);
      },
      [weak, generation](bool) {
        auto self = weak.lock();
        // A later open or drag owns the menu now.
        if (!self || generation != self->slideGeneration_) return;
        self->showLeft_ = self->showRight_ = false;
        self->leftSideIsShow_ = self->rightSideIsShow_ = false;
        for (auto* side : {&self->left_, &self->right_}) {
          if (*side && (*side)->isViewLoaded() && (*side)->view()->superviewPtr()) (*side)->view()->removeFromSuperview();
        }
        if (self->coverButton_) self->coverButton_->removeFromSuperview();
        self->startPoint_ = os::Point{self->centreX(), 0};
      });
}

void NQSideViewController::setCanDrag(bool canDrag) {
  canDrag_ = canDrag;
  if (!isViewLoaded() || !panGesture_) return;
  if (canDrag) {
    view()->addGestureRecognizer(panGesture_);
  } else {
    view()->removeGestureRecognizer(panGesture_.get());
  }
}

void NQSideViewController::pan(os::PanGestureRecognizer& gesture) {
  using S = os::GestureRecognizerState;
  switch (gesture.state()) {
    case S::Began:
      ++slideGeneration_;
      startPoint_ = os::Point{centreX(), 0};
      break;
    case S::Changed: {
      double x = startPoint_.x + gesture.translationInView(view().get()).x;
      if (x > 0 && !showLeft_ && !showRight_) showLeft_ = willShowLeftViewController();
      if (x <= 0 && !showLeft_ && !showRight_) showRight_ = willShowRightViewController();
      if (showLeft_) {
        layoutCurrentViewWithOffset(std::clamp(x, 0.0, std::max(0.0, showWidth_)));
      } else if (showRight_) {
        layoutCurrentViewWithOffset(std::clamp(x, std::min(0.0, -showWidth_), 0.0));
      }
      break;
    }
    case S::Ended: {
      const double x = centreX();
      if (!leftSideIsShow_ && x >= kOpenThreshold) {
        showLeftViewController(true);
      } else if (!leftSideIsShow_ && x <= -kOpenThreshold) {
        showRightViewController(true);
      } else {
        hideSideViewController();
      }
      break;
    }
    case S::Failed:
    case S::Cancelled:
      // A drag cut short must not leave the centre hanging half open.
      hideSideViewController();
      break;
    default:
      break;
  }
}
