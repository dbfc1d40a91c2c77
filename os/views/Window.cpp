#include "os/views/Window.h"

#include <algorithm>

#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/views/GestureRecognizer.h"
#include "os/views/Screen.h"
#include "os/views/ScrollView.h"
#include "os/views/ViewController.h"

namespace os {

namespace {
std::vector<std::weak_ptr<Window>>& allWindows() {
  static std::vector<std::weak_ptr<Window>> list;
  return list;
}
std::weak_ptr<Window>& keyWindowRef() {
  static std::weak_ptr<Window> w;
  return w;
}
bool gLayoutScheduled = false;
}  // namespace

Window::Window() : Window(Screen::main().bounds()) {}

Window::Window(const Rect& frame) : View(frame) { View::setHidden(true); }

Window::~Window() = default;

void Window::registerWindow() {
  auto self = std::static_pointer_cast<Window>(shared_from_this());
  auto& list = allWindows();
  list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& w) { auto s = w.lock(); return !s || s == self; }),
             list.end());
  list.push_back(self);
}

void Window::setHidden(bool hidden) {
  View::setHidden(hidden);
  if (!hidden) {
    registerWindow();
    if (root_ && !rootAppeared_) {
      rootAppeared_ = true;
      root_->beginAppearanceTransition(true, false);
      root_->endAppearanceTransition();
    }
    NotificationCenter::defaultCenter().post(kWindowDidBecomeVisibleNotification, this);
  } else {
    auto& list = allWindows();
    list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& w) { auto s = w.lock(); return !s || s.get() == this; }),
               list.end());
    if (keyWindowRef().lock().get() == this) {
      keyWindowRef().reset();
      // The highest remaining normal window takes the key.
      auto rest = windows();
      if (!rest.empty()) keyWindowRef() = rest.back();
    }
  }
}

void Window::makeKeyWindow() {
  registerWindow();
  keyWindowRef() = std::static_pointer_cast<Window>(shared_from_this());
  NotificationCenter::defaultCenter().post(kWindowDidBecomeKeyNotification, this);
}

void Window::makeKeyAndVisible() {
  makeKeyWindow();
  setHidden(false);
  layoutAllWindows();
}

bool Window::isKeyWindow() const { return keyWindowRef().lock().get() == this; }

std::shared_ptr<Window> Window::keyWindow() { return keyWindowRef().lock(); }

std::vector<std::shared_ptr<Window>> Window::windows() {
  std::vector<std::shared_ptr<Window>> out;
  for (auto& w : allWindows()) {
    if (auto s = w.lock(); s && !s->isHidden()) out.push_back(s);
  }
  std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a->level_ < b->level_; });
  return out;
}

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
  if (root_ == controller) return;
  bool visible = !isHidden();
  if (root_) {
    if (visible && rootAppeared_) root_->beginAppearanceTransition(false, false);
    if (root_->isViewLoaded()) root_->view()->removeFromSuperview();
    if (visible && rootAppeared_) root_->endAppearanceTransition();
  }
  root_ = std::move(controller);
  rootAppeared_ = false;
  if (!root_) return;
  auto view = root_->view();
  view->setFrame(root_->frameForRootView(bounds()));
  if (visible) {
    rootAppeared_ = true;
    root_->beginAppearanceTransition(true, false);
  }
  addSubview(view);
  if (visible) root_->endAppearanceTransition();
}

void Window::sendEvent(const Event& event) {
  auto self = std::static_pointer_cast<Window>(shared_from_this());
  layoutAllWindows();
  // Recognizers first.
  struct Batch {
    std::shared_ptr<GestureRecognizer> recognizer;
    TouchList touches;
    TouchPhase phase;
  };
  std::vector<Batch> batches;
  for (auto& touch : event.allTouches()) {
    if (touch->phase() == TouchPhase::Began) {
      auto hit = hitTest(convertPointFromView(touch->locationInWindow(), nullptr), &event);
      touch->setView(hit.get());
      touch->cancelledInView_ = false;
      touch->stoppedScrolling_ = false;
      for (View* v = hit.get(); v; v = v->superviewPtr()) {
        if (auto* scroll = dynamic_cast<ScrollView*>(v); scroll && scroll->stopMotionForTouch()) touch->stoppedScrolling_ = true;
      }
      touch->recognizers_.clear();
      for (View* v = hit.get(); v; v = v->superviewPtr()) {
        for (auto& gr : v->gestureRecognizers()) {
          if (!gr->isEnabled()) continue;
          if (auto d = gr->delegate(); d && !d->shouldReceiveTouch(*gr, *touch)) continue;
          touch->recognizers_.push_back(gr);
        }
      }
    }
    for (auto& gr : touch->recognizers_) {
      auto it = std::find_if(batches.begin(), batches.end(),
                             [&](const Batch& b) { return b.recognizer == gr && b.phase == touch->phase(); });
      if (it == batches.end()) batches.push_back({gr, {touch}, touch->phase()});
      else it->touches.push_back(touch);
    }
  }
  for (auto& b : batches) b.recognizer->deliver(b.phase, b.touches, event);
  // Then the touched views, unless a recognizer took the touch.
  for (auto& touch : event.allTouches()) {
    auto keep = touch->viewRef_.lock();
    View* view = touch->view();
    if (!keep || !view || touch->cancelledInView_) continue;
    TouchList one{touch};
    switch (touch->phase()) {
      case TouchPhase::Began: view->touchesBegan(one, &event); break;
      case TouchPhase::Moved:
      case TouchPhase::Stationary: view->touchesMoved(one, &event); break;
      case TouchPhase::Ended: view->touchesEnded(one, &event); break;
      case TouchPhase::Cancelled: view->touchesCancelled(one, &event); break;
    }
  }
  GestureRecognizer::flushEngaged();
}

void Window::layoutAllWindows() {
  gLayoutScheduled = false;
  // Layout can mark more views; a few rounds settle it.
  for (int round = 0; round < 4; ++round) {
    bool again = false;
    for (auto& w : windows()) {
      w->layoutSubtree();
      w->displaySubtree();
    }
    for (auto& w : windows()) {
      std::vector<View*> stack{w.get()};
      while (!stack.empty() && !again) {
        View* v = stack.back();
        stack.pop_back();
        if (v->needsLayout()) again = true;
        for (auto& s : v->subviews()) stack.push_back(s.get());
      }
    }
    if (!again) break;
  }
  gLayoutScheduled = false;
}

void Window::scheduleLayoutPass() {
  if (gLayoutScheduled) return;
  gLayoutScheduled = true;
  RunLoop::main()->post([] {
    if (gLayoutScheduled) layoutAllWindows();
  });
}

// Touch lives here too: it is only ever made for a window.
Touch::Touch(Window* window, Point location, double timestamp, int tapCount)
    : window_(window), location_(location), previous_(location), timestamp_(timestamp), tapCount_(tapCount) {}

Point Touch::locationInView(const View* view) const {
  if (!view) return location_;
  return view->convertPointFromView(location_, nullptr);
}

Point Touch::previousLocationInView(const View* view) const {
  if (!view) return previous_;
  return view->convertPointFromView(previous_, nullptr);
}

void Touch::setView(View* view) {
  view_ = view;
  viewRef_ = view ? view->weak_from_this() : std::weak_ptr<Responder>();
}

void Touch::update(TouchPhase phase, Point location, double timestamp) {
  previous_ = location_;
  location_ = location;
  timestamp_ = timestamp;
  phase_ = phase;
}

}  // namespace os
