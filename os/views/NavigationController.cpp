#include "os/views/NavigationController.h"

#include <algorithm>

#include "os/core/Error.h"
#include "os/views/Device.h"
#include "os/views/Screen.h"
#include "os/views/View.h"

namespace os {

namespace {
// The controller's root view: it asks the controller to place the bar and the content whenever
// its own layout runs.
class NavigationContainerView : public View {
 public:
  explicit NavigationContainerView(NavigationController* nav) : nav_(nav) {}
  std::string className() const override { return "NavigationContainerView"; }
  void layoutSubviews() override {
    if (nav_) nav_->layoutContent();
  }
  NavigationController* nav_;
};
}  // namespace

NavigationController::NavigationController() : bar_(std::make_shared<NavigationBar>()) {
  bar_->setBackAction([this] { popViewController(true); });
}

NavigationController::NavigationController(std::shared_ptr<ViewController> root) : NavigationController() {
  if (root) {
    root->removeFromParentViewController();
    root->parent_ = this;
    children_.push_back(root);
    stack_.push_back(root);
    bar_->pushNavigationItem(root->navigationItem());
  }
}

NavigationController::~NavigationController() {
  // The bar and the root view may outlive this controller in someone's hands.
  bar_->setBackAction(nullptr);
  if (auto* container = dynamic_cast<NavigationContainerView*>(view_.get())) container->nav_ = nullptr;
}

void NavigationController::loadView() {
  auto v = std::make_shared<NavigationContainerView>(this);
  v->setFrame(Screen::main().applicationFrame());
  v->setAutoresizingMask(kViewAutoresizingFlexibleWidth | kViewAutoresizingFlexibleHeight);
  setView(v);
  v->addSubview(bar_);
  if (auto top = topViewController()) v->insertSubviewBelow(top->view(), bar_.get());
  layoutContent();
}

Rect NavigationController::contentFrame(const ViewController& c) const {
  Rect b = isViewLoaded() ? view_->bounds() : Screen::main().applicationFrame();
  bool modern = Device::current().systemVersionNumber() >= 7;
  double barTop = 0;
  if (modern && !Application::isStatusBarHiddenNow() && view_ && view_->window() &&
      view_->convertPointToView(Point{0, 0}, nullptr).y < Screen::kStatusBarHeight) {
    barTop = Screen::kStatusBarHeight;
  }
  if (barHidden_ || (modern && (c.edgesForExtendedLayout() & kRectEdgeTop))) return Rect(0, 0, b.size.width, b.size.height);
  double top = barTop + NavigationBar::kHeight;
  return Rect(0, top, b.size.width, b.size.height - top);
}

void NavigationController::layoutContent() {
  if (!isViewLoaded()) return;
  Rect b = view_->bounds();
  bool modern = Device::current().systemVersionNumber() >= 7;
  double barTop = (modern && !Application::isStatusBarHiddenNow() && view_->window() &&
                   view_->convertPointToView(Point{0, 0}, nullptr).y < Screen::kStatusBarHeight)
                      ? Screen::kStatusBarHeight
                      : 0;
  bar_->setFrame(Rect(0, barTop, b.size.width, NavigationBar::kHeight));
  bar_->setHidden(barHidden_);
  if (auto top = topViewController(); top && top->isViewLoaded() && top->view_->superviewPtr() == view_.get()) {
    top->view_->setFrame(contentFrame(*top));
  }
}

std::shared_ptr<ViewController> NavigationController::visibleViewController() const {
  auto top = topViewController();
  if (top && top->presentedViewController()) return top->presentedViewController();
  return top;
}

std::vector<ViewController*> NavigationController::childrenForAppearance() const {
  if (stack_.empty()) return {};
  return {stack_.back().get()};
}

void NavigationController::setNavigationBarHidden(bool hidden, bool) {
  barHidden_ = hidden;
  if (isViewLoaded()) {
    layoutContent();
    view_->setNeedsLayout();
  }
}

void NavigationController::transition(const std::shared_ptr<ViewController>& from, const std::shared_ptr<ViewController>& to,
                                      bool animated, std::vector<std::shared_ptr<ViewController>> leaving) {
  auto self = std::static_pointer_cast<NavigationController>(shared_from_this());
  if (auto d = delegate(); d && to) d->willShowViewController(*this, *to, animated);
  bool visible = appearance() == Appearance::Appeared || appearance() == Appearance::Appearing;
  bool loaded = isViewLoaded();
  if (from == to) {
    // Only controllers below the top changed.
    for (auto& c : leaving) c->removeFromParentViewController();
    if (auto d = delegate(); d && to) d->didShowViewController(*this, *to, animated);
    return;
  }
  if (visible) {
    if (from) from->beginAppearanceTransition(false, animated);
    if (to) to->beginAppearanceTransition(true, animated);
  }
  if (loaded && to) {
    auto v = to->view();
    view_->insertSubviewBelow(v, bar_.get());
    v->setFrame(contentFrame(*to));
  }
  std::weak_ptr<NavigationController> weak = self;
  runTransition(animated, [weak, from, to, animated, visible, leaving] {
    auto nav = weak.lock();
    if (!nav) return;
    if (from && from->isViewLoaded() && from->view_->superviewPtr() == nav->view_.get() &&
        std::find(nav->stack_.begin(), nav->stack_.end(), from) == nav->stack_.end()) {
      from->view_->removeFromSuperview();
    } else if (from && from != nav->topViewController() && from->isViewLoaded() &&
               from->view_->superviewPtr() == nav->view_.get()) {
      from->view_->removeFromSuperview();
    }
    if (visible) {
      if (from) from->endAppearanceTransition();
      if (to) to->endAppearanceTransition();
    }
    for (auto& c : leaving) {
      if (std::find(nav->stack_.begin(), nav->stack_.end(), c) == nav->stack_.end()) c->removeFromParentViewController();
    }
    if (auto d = nav->delegate(); d && to) d->didShowViewController(*nav, *to, animated);
  });
}

void NavigationController::pushViewController(const std::shared_ptr<ViewController>& controller, bool animated) {
  if (!controller) return;
  if (std::find(stack_.begin(), stack_.end(), controller) != stack_.end()) {
    throw Exception(kInvalidArgumentException, "pushing a controller that is already on the navigation stack");
  }
  finishPendingTransition();
  auto from = topViewController();
  addChildViewController(controller);
  stack_.push_back(controller);
  bar_->pushNavigationItem(controller->navigationItem(), animated);
  transition(from, controller, animated, {});
}

std::shared_ptr<ViewController> NavigationController::popViewController(bool animated) {
  if (stack_.size() < 2) return nullptr;
  finishPendingTransition();
  auto from = stack_.back();
  stack_.pop_back();
  bar_->popNavigationItem(animated);
  transition(from, topViewController(), animated, {from});
  return from;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::popToViewController(const ViewController* target, bool animated) {
  auto it = std::find_if(stack_.begin(), stack_.end(), [&](const auto& c) { return c.get() == target; });
  if (it == stack_.end() || it + 1 == stack_.end()) return {};
  finishPendingTransition();
  auto from = stack_.back();
  std::vector<std::shared_ptr<ViewController>> popped(it + 1, stack_.end());
  stack_.erase(it + 1, stack_.end());
  std::vector<std::shared_ptr<NavigationItem>> items;
  for (auto& c : stack_) items.push_back(c->navigationItem());
  bar_->setItems(items, animated);
  transition(from, topViewController(), animated, popped);
  return popped;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::popToRootViewController(bool animated) {
  if (stack_.empty()) return {};
  return popToViewController(stack_.front().get(), animated);
}

void NavigationController::setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers, bool animated) {
  finishPendingTransition();
  auto from = topViewController();
  std::vector<std::shared_ptr<ViewController>> leaving;
  for (auto& c : stack_) {
    if (std::find(controllers.begin(), controllers.end(), c) == controllers.end()) leaving.push_back(c);
  }
  stack_.clear();
  for (auto& c : controllers) {
    if (!c || std::find(stack_.begin(), stack_.end(), c) != stack_.end()) continue;
    if (c->parent_ != this) addChildViewController(c);
    stack_.push_back(c);
  }
  std::vector<std::shared_ptr<NavigationItem>> items;
  for (auto& c : stack_) items.push_back(c->navigationItem());
  bar_->setItems(items, animated);
  transition(from, topViewController(), animated, leaving);
}

}  // namespace os
