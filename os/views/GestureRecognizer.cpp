#include "os/views/GestureRecognizer.h"

#include <algorithm>
#include <cmath>

#include "os/runtime/RunLoop.h"
#include "os/runtime/Timer.h"
#include "os/views/View.h"

namespace os {

namespace {
std::vector<std::weak_ptr<GestureRecognizer>>& engaged() {
  static std::vector<std::weak_ptr<GestureRecognizer>> list;
  return list;
}

Point centroid(const TouchList& touches) {
  Point c;
  if (touches.empty()) return c;
  for (auto& t : touches) {
    c.x += t->locationInWindow().x;
    c.y += t->locationInWindow().y;
  }
  c.x /= static_cast<double>(touches.size());
  c.y /= static_cast<double>(touches.size());
  return c;
}

double distance(Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); }

bool isTerminal(GestureRecognizerState s) {
  return s == GestureRecognizerState::Ended || s == GestureRecognizerState::Cancelled || s == GestureRecognizerState::Failed;
}
}  // namespace

GestureRecognizer::GestureRecognizer(Action action) { addTarget(nullptr, std::move(action)); }

GestureRecognizer::~GestureRecognizer() = default;

void GestureRecognizer::addTarget(const void* target, Action action) {
  if (action) targets_.push_back({target, std::make_shared<Action>(std::move(action))});
}

void GestureRecognizer::removeTarget(const void* target) {
  targets_.erase(std::remove_if(targets_.begin(), targets_.end(),
                                [&](const Target& t) { return target == nullptr || t.target == target; }),
                 targets_.end());
}

void GestureRecognizer::setEnabled(bool e) {
  if (enabled_ == e) return;
  enabled_ = e;
  if (!e) {
    if (state_ == GestureRecognizerState::Began || state_ == GestureRecognizerState::Changed) {
      setState(GestureRecognizerState::Cancelled);
    } else if (state_ == GestureRecognizerState::Possible) {
      waiting_ = false;
      if (!touches_.empty()) setState(GestureRecognizerState::Failed);
    }
    touches_.clear();
    resetIfDone();
  }
}

void GestureRecognizer::requireGestureRecognizerToFail(const std::shared_ptr<GestureRecognizer>& other) {
  if (!other || other.get() == this) return;
  requirements_.push_back(other);
  other->dependents_.push_back(weak_from_this());
}

Point GestureRecognizer::locationInView(const View* view) const {
  Point p = touches_.empty() ? lastLocation_ : centroid(touches_);
  if (!view) return p;
  return view->convertPointFromView(p, nullptr);
}

void GestureRecognizer::touchesCancelled(const TouchList&, const Event&) {
  if (state_ == GestureRecognizerState::Began || state_ == GestureRecognizerState::Changed) {
    setState(GestureRecognizerState::Cancelled);
  } else if (state_ == GestureRecognizerState::Possible) {
    setState(GestureRecognizerState::Failed);
  }
}

void GestureRecognizer::deliver(TouchPhase phase, const TouchList& touches, const Event& event) {
  auto self = shared_from_this();
  if (!enabled_) return;
  if (phase == TouchPhase::Began) {
    bool known = std::any_of(engaged().begin(), engaged().end(), [&](const auto& w) { return w.lock() == self; });
    if (!known) engaged().push_back(self);
    for (auto& t : touches) touches_.push_back(t);
  }
  lastLocation_ = centroid(touches_.empty() ? touches : touches_);
  // A recognizer that already decided, or that waits for others to fail, only keeps count.
  bool decided = state_ == GestureRecognizerState::Failed || state_ == GestureRecognizerState::Cancelled ||
                 (state_ == GestureRecognizerState::Ended) || waiting_;
  if (!decided) {
    switch (phase) {
      case TouchPhase::Began: touchesBegan(touches, event); break;
      case TouchPhase::Moved:
      case TouchPhase::Stationary: touchesMoved(touches, event); break;
      case TouchPhase::Ended: touchesEnded(touches, event); break;
      case TouchPhase::Cancelled: touchesCancelled(touches, event); break;
    }
  }
  if (phase == TouchPhase::Ended || phase == TouchPhase::Cancelled) {
    for (auto& t : touches) forget(t.get());
  }
}

void GestureRecognizer::forget(const Touch* touch) {
  touches_.erase(std::remove_if(touches_.begin(), touches_.end(), [&](const auto& t) { return t.get() == touch; }),
                 touches_.end());
}

bool GestureRecognizer::shouldBegin() {
  if (auto d = delegate(); d && !d->gestureRecognizerShouldBegin(*this)) return false;
  if (view_ && !view_->gestureRecognizerShouldBegin(*this)) return false;
  for (auto& t : touches_) {
    if (t->view() && t->view() != view_ && !t->view()->gestureRecognizerShouldBegin(*this)) return false;
  }
  return true;
}

bool GestureRecognizer::requirementsFailed(bool* anyRecognized) const {
  bool allFailed = true;
  for (auto& w : requirements_) {
    auto r = w.lock();
    if (!r || !r->view_ || !r->enabled_) continue;
    if (r->state_ == GestureRecognizerState::Failed) continue;
    if (r->state_ == GestureRecognizerState::Possible && !r->waiting_ && r->touches_.empty() &&
        !std::any_of(engaged().begin(), engaged().end(), [&](const auto& e) { return e.lock() == r; })) {
      continue;  // never saw a touch: it cannot recognize this gesture
    }
    if (r->state_ != GestureRecognizerState::Possible || r->waiting_) {
      if (anyRecognized && r->state_ != GestureRecognizerState::Possible) *anyRecognized = true;
    }
    allFailed = false;
  }
  return allFailed;
}

void GestureRecognizer::setState(GestureRecognizerState s) {
  auto self = shared_from_this();
  using S = GestureRecognizerState;
  if (state_ == S::Possible && (s == S::Began || s == S::Ended)) {
    enterRecognition(s);
    return;
  }
  if (s == S::Failed) {
    if (state_ != S::Possible) return;
    waiting_ = false;
    state_ = S::Failed;
    for (auto& w : std::vector<std::weak_ptr<GestureRecognizer>>(dependents_)) {
      if (auto d = w.lock()) d->requirementResolved();
    }
    return;
  }
  if ((state_ == S::Began || state_ == S::Changed) && (s == S::Changed || s == S::Ended || s == S::Cancelled)) {
    state_ = s;
    fireActions();
  }
}

void GestureRecognizer::enterRecognition(GestureRecognizerState s) {
  using S = GestureRecognizerState;
  if (!waiting_ && !shouldBegin()) {
    state_ = S::Failed;
    for (auto& w : std::vector<std::weak_ptr<GestureRecognizer>>(dependents_)) {
      if (auto d = w.lock()) d->requirementResolved();
    }
    return;
  }
  bool anyRecognized = false;
  if (!requirementsFailed(&anyRecognized)) {
    if (anyRecognized) {
      waiting_ = false;
      state_ = S::Failed;
      return;
    }
    waiting_ = true;
    pending_ = s;
    return;
  }
  waiting_ = false;
  state_ = s;
  // Stop the other recognizers of the same touches.
  std::vector<std::shared_ptr<GestureRecognizer>> others;
  for (auto& t : touches_) {
    for (auto& g : t->recognizers_) {
      if (g.get() != this && std::find(others.begin(), others.end(), g) == others.end()) others.push_back(g);
    }
  }
  for (auto& o : others) {
    if (o->state_ != S::Possible) continue;
    bool together = false;
    if (auto d = delegate()) together = d->shouldRecognizeSimultaneouslyWithGestureRecognizer(*this, *o);
    if (!together) {
      if (auto d = o->delegate()) together = d->shouldRecognizeSimultaneouslyWithGestureRecognizer(*o, *this);
    }
    if (together || !canPreventGestureRecognizer(*o)) continue;
    bool dependsOnMe = std::any_of(o->requirements_.begin(), o->requirements_.end(),
                                   [this](const auto& w) { return w.lock().get() == this; });
    if (dependsOnMe) continue;  // handled below
    o->waiting_ = false;
    o->state_ = S::Failed;
    for (auto& w : std::vector<std::weak_ptr<GestureRecognizer>>(o->dependents_)) {
      if (auto d = w.lock()) d->requirementResolved();
    }
  }
  // Those that had to wait for this one to fail fail now.
  for (auto& w : std::vector<std::weak_ptr<GestureRecognizer>>(dependents_)) {
    if (auto d = w.lock(); d && d->state_ == S::Possible) {
      d->waiting_ = false;
      d->state_ = S::Failed;
    }
  }
  if (cancelsTouches_) {
    for (auto& t : touches_) {
      if (t->cancelledInView_ || !t->view()) continue;
      t->cancelledInView_ = true;
      Event e({t}, t->timestamp());
      t->view()->touchesCancelled({t}, &e);
    }
  }
  fireActions();
}

void GestureRecognizer::requirementResolved() {
  if (!waiting_) return;
  bool anyRecognized = false;
  if (!requirementsFailed(&anyRecognized)) {
    if (anyRecognized) {
      waiting_ = false;
      state_ = GestureRecognizerState::Failed;
    }
    return;
  }
  enterRecognition(pending_);
}

void GestureRecognizer::fireActions() {
  auto self = shared_from_this();
  auto targets = targets_;
  for (auto& t : targets) (*t.action)(*this);
}

void GestureRecognizer::resetIfDone() {
  if (waiting_ || !touches_.empty()) return;
  if (isTerminal(state_) || state_ == GestureRecognizerState::Possible) {
    bool wasPossible = state_ == GestureRecognizerState::Possible;
    if (wasPossible) {
      // A possible recognizer with no touches keeps its progress (a tap waiting for more taps).
      return;
    }
    state_ = GestureRecognizerState::Possible;
    reset();
  }
}

void GestureRecognizer::flushEngaged() {
  auto list = engaged();
  for (auto& w : list) {
    if (auto g = w.lock()) g->resetIfDone();
  }
  auto& live = engaged();
  live.erase(std::remove_if(live.begin(), live.end(),
                            [](const auto& w) {
                              auto g = w.lock();
                              return !g || (g->state_ == GestureRecognizerState::Possible && !g->waiting_ &&
                                            g->touches_.empty() && !g->isMidGesture());
                            }),
             live.end());
}

// ----- tap -----

TapGestureRecognizer::~TapGestureRecognizer() { cancelTimer(); }

void TapGestureRecognizer::cancelTimer() {
  if (timer_) timer_->invalidate();
  timer_.reset();
}

bool TapGestureRecognizer::isMidGesture() const { return tapsSoFar_ > 0 || down_ > 0; }

void TapGestureRecognizer::touchesBegan(const TouchList& touches, const Event&) {
  cancelTimer();
  Point p = centroid(touches);
  if (tapsSoFar_ == 0 && down_ == 0) downAt_ = p;
  else if (distance(p, downAt_) > 4 * kAllowableMovement) {
    setState(GestureRecognizerState::Failed);
    return;
  }
  down_ += static_cast<int>(touches.size());
  maxDown_ = std::max(maxDown_, down_);
  if (down_ > touchesRequired_) setState(GestureRecognizerState::Failed);
}

void TapGestureRecognizer::touchesMoved(const TouchList& touches, const Event&) {
  for (auto& t : touches) {
    if (distance(t->locationInWindow(), downAt_) > kAllowableMovement) {
      setState(GestureRecognizerState::Failed);
      return;
    }
  }
}

void TapGestureRecognizer::touchesEnded(const TouchList& touches, const Event&) {
  down_ -= static_cast<int>(touches.size());
  if (down_ > 0) return;
  down_ = 0;
  if (maxDown_ != touchesRequired_) {
    setState(GestureRecognizerState::Failed);
    return;
  }
  maxDown_ = 0;
  ++tapsSoFar_;
  if (tapsSoFar_ >= taps_) {
    setState(GestureRecognizerState::Recognized);
    return;
  }
  // Wait for the next tap of the gesture; give up after the interval.
  std::weak_ptr<GestureRecognizer> weak = weak_from_this();
  timer_ = Timer::scheduled(*RunLoop::main(), kMaximumTapInterval, false, [weak](Timer&) {
    auto self = std::static_pointer_cast<TapGestureRecognizer>(weak.lock());
    if (!self) return;
    self->timer_.reset();
    if (self->state() == GestureRecognizerState::Possible) self->setState(GestureRecognizerState::Failed);
    GestureRecognizer::flushEngaged();
  });
}

void TapGestureRecognizer::reset() {
  cancelTimer();
  tapsSoFar_ = 0;
  down_ = 0;
  maxDown_ = 0;
}

bool TapGestureRecognizer::canPreventGestureRecognizer(const GestureRecognizer& other) const {
  // A tap does not end another tap gesture that is still counting more taps.
  if (auto* tap = dynamic_cast<const TapGestureRecognizer*>(&other)) return tap->taps_ <= taps_;
  return true;
}

// ----- pan -----

Point PanGestureRecognizer::vectorInView(Point from, Point to, const View* view) const {
  if (!view) return Point{to.x - from.x, to.y - from.y};
  Point a = view->convertPointFromView(from, nullptr);
  Point b = view->convertPointFromView(to, nullptr);
  return Point{b.x - a.x, b.y - a.y};
}

Point PanGestureRecognizer::translationInView(const View* view) const {
  Point v = vectorInView(start_, last_, view);
  return Point{v.x + base_.x, v.y + base_.y};
}

void PanGestureRecognizer::setTranslation(Point t, const View* view) {
  start_ = last_;
  base_ = t;
  baseView_ = view;
}

Point PanGestureRecognizer::velocityInView(const View* view) const {
  double dt = lastTime_ - prevTime_;
  if (dt <= 0) return Point{};
  Point v = vectorInView(prev_, last_, view);
  return Point{v.x / dt, v.y / dt};
}

void PanGestureRecognizer::touchesBegan(const TouchList& touches, const Event& event) {
  int count = static_cast<int>(this->touches().size());
  if (count > maxTouches_) {
    if (state() == GestureRecognizerState::Possible) setState(GestureRecognizerState::Failed);
    return;
  }
  Point p = centroid(this->touches());
  if (!tracking_) {
    start_ = p;
    base_ = Point{};
    tracking_ = true;
  }
  prev_ = last_ = p;
  prevTime_ = lastTime_ = event.timestamp();
}

void PanGestureRecognizer::touchesMoved(const TouchList&, const Event& event) {
  Point p = centroid(touches());
  prev_ = last_;
  prevTime_ = lastTime_;
  last_ = p;
  lastTime_ = event.timestamp();
  if (state() == GestureRecognizerState::Possible) {
    if (static_cast<int>(touches().size()) < minTouches_) return;
    if (distance(p, start_) >= kHysteresis) setState(GestureRecognizerState::Began);
  } else {
    setState(GestureRecognizerState::Changed);
  }
}

void PanGestureRecognizer::touchesEnded(const TouchList& touches, const Event& event) {
  if (this->touches().size() > touches.size()) return;  // other fingers still down
  if (state() == GestureRecognizerState::Began || state() == GestureRecognizerState::Changed) {
    setState(GestureRecognizerState::Ended);
  } else {
    setState(GestureRecognizerState::Failed);
  }
}

void PanGestureRecognizer::reset() {
  tracking_ = false;
  base_ = Point{};
  baseView_ = nullptr;
  prevTime_ = lastTime_ = 0;
}

// ----- swipe -----

void SwipeGestureRecognizer::touchesBegan(const TouchList&, const Event&) {
  if (static_cast<int>(touches().size()) > touchesRequired_) {
    setState(GestureRecognizerState::Failed);
    return;
  }
  start_ = centroid(touches());
}

void SwipeGestureRecognizer::touchesMoved(const TouchList&, const Event&) {
  if (static_cast<int>(touches().size()) != touchesRequired_) return;
  Point p = centroid(touches());
  double dx = p.x - start_.x, dy = p.y - start_.y;
  auto check = [&](unsigned bit, double along, double across) {
    return (direction_ & bit) && along >= kMinimumDistance && std::fabs(across) <= along / 2;
  };
  if (check(kSwipeDirectionRight, dx, dy) || check(kSwipeDirectionLeft, -dx, dy) || check(kSwipeDirectionDown, dy, dx) ||
      check(kSwipeDirectionUp, -dy, dx)) {
    setState(GestureRecognizerState::Recognized);
  }
}

void SwipeGestureRecognizer::touchesEnded(const TouchList&, const Event&) {
  if (state() == GestureRecognizerState::Possible) setState(GestureRecognizerState::Failed);
}

// ----- long press -----

LongPressGestureRecognizer::~LongPressGestureRecognizer() { cancelTimer(); }

void LongPressGestureRecognizer::cancelTimer() {
  if (timer_) timer_->invalidate();
  timer_.reset();
}

void LongPressGestureRecognizer::touchesBegan(const TouchList&, const Event&) {
  start_ = centroid(touches());
  cancelTimer();
  std::weak_ptr<GestureRecognizer> weak = weak_from_this();
  timer_ = Timer::scheduled(*RunLoop::main(), duration_, false, [weak](Timer&) {
    auto self = std::static_pointer_cast<LongPressGestureRecognizer>(weak.lock());
    if (!self) return;
    self->timer_.reset();
    if (self->state() == GestureRecognizerState::Possible && self->numberOfTouches() > 0) {
      self->setState(GestureRecognizerState::Began);
    }
    GestureRecognizer::flushEngaged();
  });
}

void LongPressGestureRecognizer::touchesMoved(const TouchList&, const Event&) {
  if (state() == GestureRecognizerState::Possible) {
    if (distance(centroid(touches()), start_) > movement_) {
      cancelTimer();
      setState(GestureRecognizerState::Failed);
    }
  } else {
    setState(GestureRecognizerState::Changed);
  }
}

void LongPressGestureRecognizer::touchesEnded(const TouchList&, const Event&) {
  cancelTimer();
  if (state() == GestureRecognizerState::Possible) setState(GestureRecognizerState::Failed);
  else setState(GestureRecognizerState::Ended);
}

void LongPressGestureRecognizer::reset() { cancelTimer(); }

}  // namespace os
