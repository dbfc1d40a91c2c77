#include "os/views/Control.h"

#include <algorithm>

#include "os/views/GestureRecognizer.h"

namespace os {

void Control::addTarget(const void* target, Action action, unsigned events) {
  if (!action || events == 0) return;
  targets_.push_back({target, events, std::make_shared<Action>(std::move(action))});
}

void Control::removeTarget(const void* target, unsigned events) {
  for (auto& t : targets_) {
    if (target == nullptr || t.target == target) t.events &= ~events;
  }
  targets_.erase(std::remove_if(targets_.begin(), targets_.end(), [](const Target& t) { return t.events == 0; }), targets_.end());
}

void Control::sendActionsForControlEvents(unsigned events) {
  auto keep = weak_from_this().lock();
  auto targets = targets_;
  for (auto& t : targets) {
    if (t.events & events) (*t.action)(*this);
  }
}

bool Control::hasActionsForControlEvents(unsigned events) const {
  return std::any_of(targets_.begin(), targets_.end(), [&](const Target& t) { return t.events & events; });
}

void Control::setEnabled(bool e) {
  enabled_ = e;
  setNeedsLayout();
  setNeedsDisplay();
}

void Control::setSelected(bool s) {
  selected_ = s;
  setNeedsLayout();
  setNeedsDisplay();
}

void Control::setHighlighted(bool h) {
  highlighted_ = h;
  setNeedsLayout();
  setNeedsDisplay();
}

unsigned Control::state() const {
  unsigned s = kControlStateNormal;
  if (highlighted_) s |= kControlStateHighlighted;
  if (!enabled_) s |= kControlStateDisabled;
  if (selected_) s |= kControlStateSelected;
  return s;
}

void Control::setContentHorizontalAlignment(ControlContentHorizontalAlignment a) {
  hAlign_ = a;
  setNeedsLayout();
}

void Control::setContentVerticalAlignment(ControlContentVerticalAlignment a) {
  vAlign_ = a;
  setNeedsLayout();
}

void Control::setTouchAreaMargins(EdgeInsets m) {
  touchMargins_ = EdgeInsets{std::max(0.0, m.top), std::max(0.0, m.left), std::max(0.0, m.bottom), std::max(0.0, m.right)};
}

Rect Control::touchArea() const {
  Rect b = bounds();
  return Rect(b.origin.x - touchMargins_.left, b.origin.y - touchMargins_.top,
              b.size.width + touchMargins_.left + touchMargins_.right, b.size.height + touchMargins_.top + touchMargins_.bottom);
}

bool Control::pointInside(Point p, const Event* event) const {
  if (touchMargins_ == EdgeInsets{}) return View::pointInside(p, event);
  Rect r = touchArea();
  return p.x >= r.minX() && p.x < r.maxX() && p.y >= r.minY() && p.y < r.maxY();
}

std::shared_ptr<View> Control::hitTest(Point point, const Event* event) {
  if (!(touchMargins_ == EdgeInsets{})) {
    // An enlarged control takes every touch in its area, but never while hidden or inert.
    if (isHidden() || !isUserInteractionEnabled() || alpha() < 0.01 || !enabled_) return nullptr;
    if (!pointInside(point, event)) return nullptr;
    return std::static_pointer_cast<View>(shared_from_this());
  }
  if (!enabled_) {
    // A disabled control swallows nothing: the touch goes to what lies behind it.
    return nullptr;
  }
  return View::hitTest(point, event);
}

bool Control::gestureRecognizerShouldBegin(GestureRecognizer& recognizer) {
  if (recognizer.view() == this) return true;
  if (auto* tap = dynamic_cast<TapGestureRecognizer*>(&recognizer)) {
    if (tap->numberOfTapsRequired() == 1 && tap->numberOfTouchesRequired() == 1) return false;
  }
  return true;
}

bool Control::trackingContains(Point p) const {
  Rect r = bounds().insetBy(-kTrackingSlop, -kTrackingSlop);
  return pointInside(p, nullptr) || (p.x >= r.minX() && p.x < r.maxX() && p.y >= r.minY() && p.y < r.maxY());
}

void Control::touchesBegan(const TouchList& touches, const Event*) {
  if (touches.empty()) return;
  tracking_ = true;
  inside_ = true;
  setHighlighted(true);
  unsigned events = kControlEventTouchDown;
  if (touches.front()->tapCount() > 1) events |= kControlEventTouchDownRepeat;
  sendActionsForControlEvents(events);
}

void Control::touchesMoved(const TouchList& touches, const Event*) {
  if (!tracking_ || touches.empty()) return;
  bool inside = trackingContains(touches.front()->locationInView(this));
  unsigned events = inside ? kControlEventTouchDragInside : kControlEventTouchDragOutside;
  if (inside != inside_) events |= inside ? kControlEventTouchDragEnter : kControlEventTouchDragExit;
  inside_ = inside;
  setHighlighted(inside);
  sendActionsForControlEvents(events);
}

void Control::touchesEnded(const TouchList& touches, const Event*) {
  if (!tracking_ || touches.empty()) return;
  tracking_ = false;
  bool inside = trackingContains(touches.front()->locationInView(this));
  setHighlighted(false);
  auto keep = weak_from_this().lock();
  if (inside) {
    didTapInside(*touches.front());
    sendActionsForControlEvents(kControlEventTouchUpInside);
  } else {
    sendActionsForControlEvents(kControlEventTouchUpOutside);
  }
  inside_ = false;
}

void Control::touchesCancelled(const TouchList&, const Event*) {
  if (!tracking_) return;
  tracking_ = false;
  inside_ = false;
  setHighlighted(false);
  sendActionsForControlEvents(kControlEventTouchCancel);
}

}  // namespace os
