#include "os/views/ViewController.h"

#include <algorithm>

#include "os/core/Log.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Timer.h"
#include "os/views/Device.h"
#include "os/views/NavigationBar.h"
#include "os/views/NavigationController.h"
#include "os/views/Screen.h"
#include "os/views/View.h"
#include "os/views/Window.h"

namespace os {

namespace {
struct PendingTransition {
  std::function<void()> finish;
  std::shared_ptr<Timer> timer;
};
std::vector<PendingTransition>& pending() {
  static std::vector<PendingTransition> list;
  return list;
}
}  // namespace

ViewController::ViewController() = default;

ViewController::~ViewController() {
  if (view_ && view_->controller_ == this) view_->controller_ = nullptr;
  for (auto& c : children_) c->parent_ = nullptr;
  if (presented_) presented_->presenting_ = nullptr;
}

std::shared_ptr<View> ViewController::view() {
  if (!view_ && !loading_) {
    loading_ = true;
    loadView();
    if (!view_) setView(std::make_shared<View>(Screen::main().applicationFrame()));
    loading_ = false;
    viewDidLoad();
  }
  return view_;
}

void ViewController::setView(std::shared_ptr<View> view) {
  if (view_ && view_->controller_ == this) view_->controller_ = nullptr;
  view_ = std::move(view);
  if (view_) view_->controller_ = this;
}

void ViewController::loadView() {
  auto v = std::make_shared<View>(Screen::main().applicationFrame());
  v->setAutoresizingMask(kViewAutoresizingFlexibleWidth | kViewAutoresizingFlexibleHeight);
  setView(v);
}

void ViewController::setTitle(std::string title) {
  title_ = std::move(title);
  if (navigationItem_) navigationItem_->setTitle(title_);
}

std::shared_ptr<NavigationItem> ViewController::navigationItem() {
  if (!navigationItem_) navigationItem_ = std::make_shared<NavigationItem>(title_);
  return navigationItem_;
}

NavigationController* ViewController::navigationController() const {
  for (ViewController* c = parent_; c; c = c->parent_) {
    if (auto* nav = dynamic_cast<NavigationController*>(c)) return nav;
  }
  return nullptr;
}

void ViewController::addChildViewController(const std::shared_ptr<ViewController>& child) {
  if (!child || child.get() == this) return;
  if (child->parent_ == this) return;
  child->removeFromParentViewController();
  child->willMoveToParentViewController(this);
  child->parent_ = this;
  children_.push_back(child);
}

void ViewController::removeFromParentViewController() {
  if (!parent_) return;
  auto keep = weak_from_this().lock();
  ViewController* parent = parent_;
  auto& list = parent->children_;
  list.erase(std::remove_if(list.begin(), list.end(), [this](const auto& c) { return c.get() == this; }), list.end());
  parent_ = nullptr;
  didMoveToParentViewController(nullptr);
}

std::vector<ViewController*> ViewController::childrenForAppearance() const {
  std::vector<ViewController*> out;
  for (auto& c : children_) {
    if (c->isViewLoaded() && view_ && c->view_->isDescendantOfView(view_.get())) out.push_back(c.get());
  }
  return out;
}

void ViewController::beginAppearanceTransition(bool appearing, bool animated) {
  auto keep = weak_from_this().lock();
  if (appearing) {
    if (appearance_ == Appearance::Appearing || appearance_ == Appearance::Appeared) return;
    view();
    appearance_ = Appearance::Appearing;
    appearanceAnimated_ = animated;
    viewWillAppear(animated);
  } else {
    if (appearance_ == Appearance::Disappearing || appearance_ == Appearance::Disappeared) return;
    appearance_ = Appearance::Disappearing;
    appearanceAnimated_ = animated;
    viewWillDisappear(animated);
  }
  for (auto* c : childrenForAppearance()) c->beginAppearanceTransition(appearing, animated);
}

void ViewController::endAppearanceTransition() {
  auto keep = weak_from_this().lock();
  if (appearance_ == Appearance::Appearing) {
    appearance_ = Appearance::Appeared;
    viewDidAppear(appearanceAnimated_);
  } else if (appearance_ == Appearance::Disappearing) {
    appearance_ = Appearance::Disappeared;
    viewDidDisappear(appearanceAnimated_);
  } else {
    return;
  }
  for (auto* c : childrenForAppearance()) c->endAppearanceTransition();
}

void ViewController::runTransition(bool animated, std::function<void()> finish) {
  finishPendingTransition();
  if (!animated) {
    finish();
    return;
  }
  auto holder = std::make_shared<std::function<void()>>(std::move(finish));
  PendingTransition p;
  p.finish = [holder] {
    auto f = std::move(*holder);
    *holder = nullptr;
    if (f) f();
  };
  p.timer = Timer::scheduled(*RunLoop::main(), kTransitionDuration, false, [holder](Timer&) {
    auto& list = pending();
    list.erase(std::remove_if(list.begin(), list.end(), [](const PendingTransition& t) { return !t.timer || !t.timer->isValid(); }),
               list.end());
    auto f = std::move(*holder);
    *holder = nullptr;
    if (f) f();
  });
  pending().push_back(std::move(p));
}

void ViewController::finishPendingTransition() {
  auto list = std::move(pending());
  pending().clear();
  for (auto& p : list) {
    if (p.timer) p.timer->invalidate();
    if (p.finish) p.finish();
  }
}

ViewController* ViewController::presentationHost() {
  ViewController* host = this;
  while (host->parent_) host = host->parent_;
  return host;
}

void ViewController::presentViewController(const std::shared_ptr<ViewController>& controller, bool animated,
                                           std::function<void()> completion) {
  if (!controller) return;
  finishPendingTransition();
  ViewController* host = presentationHost();
  if (host->presented_) {
    log("a controller is already presented here; the new presentation is ignored");
    return;
  }
  Window* window = host->isViewLoaded() ? host->view_->window() : nullptr;
  auto keepHost = std::static_pointer_cast<ViewController>(host->shared_from_this());
  host->presented_ = controller;
  controller->presenting_ = host;
  auto view = controller->view();
  bool visible = window != nullptr;
  // A form sheet leaves its presenter on screen, so the presenter neither disappears nor
  // leaves the window.
  bool sheet = visible && controller->presentationStyle_ == ModalPresentationStyle::FormSheet &&
               Device::current().userInterfaceIdiom() == UserInterfaceIdiom::Pad;
  if (sheet) {
    // The sheet holds the screen before it hears that it will appear, so the screen can size
    // its sheet then.
    Rect b = window->bounds();
    controller->sheetDimming_ = std::make_shared<View>(b);
    controller->sheetDimming_->setBackgroundColor(Color::withWhite(0, 0.4));
    double w = std::min(kFormSheetSize.width, b.size.width), h = std::min(kFormSheetSize.height, b.size.height);
    controller->sheetContainer_ =
        std::make_shared<View>(Rect(b.origin.x + (b.size.width - w) / 2, b.origin.y + (b.size.height - h) / 2, w, h));
    view->setFrame(Rect(0, 0, w, h));
    view->setAutoresizingMask(kViewAutoresizingFlexibleWidth | kViewAutoresizingFlexibleHeight);
    controller->sheetContainer_->addSubview(view);
  }
  if (visible) {
    if (!sheet) host->beginAppearanceTransition(false, animated);
    controller->beginAppearanceTransition(true, animated);
    if (sheet) {
      window->addSubview(controller->sheetDimming_);
      window->addSubview(controller->sheetContainer_);
    } else {
      view->setFrame(controller->frameForRootView(window->bounds()));
      window->addSubview(view);
    }
  }
  std::weak_ptr<ViewController> weakHost = keepHost;
  runTransition(animated, [weakHost, controller, visible, sheet, completion = std::move(completion)] {
    auto host = weakHost.lock();
    if (visible && host) {
      if (!sheet) {
        if (host->view_ && host->view_->window() && host->presented_ == controller) host->view_->removeFromSuperview();
        host->endAppearanceTransition();
      }
      controller->endAppearanceTransition();
    }
    if (completion) completion();
  });
}

void ViewController::dismissViewController(bool animated, std::function<void()> completion) {
  finishPendingTransition();
  ViewController* host = presentationHost();
  if (!host->presented_) {
    if (presenting_) presenting_->dismissViewController(animated, std::move(completion));
    else if (host->presenting_) host->presenting_->dismissViewController(animated, std::move(completion));
    return;
  }
  auto keepHost = std::static_pointer_cast<ViewController>(host->shared_from_this());
  // Everything presented from here on goes; the one on screen is the last of the chain.
  std::vector<std::shared_ptr<ViewController>> chain;
  for (auto c = host->presented_; c; c = c->presented_) chain.push_back(c);
  auto top = chain.back();
  Window* window = top->isViewLoaded() ? top->view_->window() : nullptr;
  bool visible = window != nullptr;
  // Behind a form sheet the host never went away, so it has nothing to reappear from.
  bool hostStayed = chain.front()->sheetDimming_ != nullptr;
  if (visible) {
    top->beginAppearanceTransition(false, animated);
    if (!hostStayed) host->beginAppearanceTransition(true, animated);
    auto hostView = host->view();
    if (!hostView->window() && host->sheetContainer_) {
      host->sheetContainer_->addSubview(hostView);
    } else if (!hostView->window()) {
      auto siblings = window->subviews();
      auto it = std::find(siblings.begin(), siblings.end(), top->sheetDimming_ ? top->sheetDimming_ : top->view_);
      window->insertSubview(hostView, static_cast<std::size_t>(it - siblings.begin()));
    }
  }
  host->presented_ = nullptr;
  for (auto& c : chain) {
    c->presenting_ = nullptr;
    c->presented_ = nullptr;
  }
  runTransition(animated, [keepHost, chain, top, visible, hostStayed, completion = std::move(completion)] {
    for (auto& c : chain) {
      if (c->view_) c->view_->removeFromSuperview();
      for (auto* part : {&c->sheetDimming_, &c->sheetContainer_}) {
        if (*part) (*part)->removeFromSuperview();
        part->reset();
      }
    }
    if (visible) {
      top->endAppearanceTransition();
      if (!hostStayed) keepHost->endAppearanceTransition();
    }
    if (completion) completion();
  });
}

void ViewController::setNeedsStatusBarAppearanceUpdate() {
  if (auto app = Application::shared()) app->setStatusBarHidden(prefersStatusBarHidden());
}

Responder* ViewController::nextResponder() const {
  if (view_ && view_->superviewPtr()) return view_->superviewPtr();
  if (parent_) return parent_;
  return presenting_;
}

Rect ViewController::frameForRootView(const Rect& windowBounds) const {
  if (Device::current().systemVersionNumber() >= 7) return windowBounds;
  return Screen::main().applicationFrame();
}

}  // namespace os
