#include "os/views/ScrollView.h"

#include <algorithm>
#include <cmath>

#include "os/core/String.h"
#include "os/runtime/RunLoop.h"
#include "os/views/GestureRecognizer.h"

namespace os {

ScrollView::ScrollView() {
  setClipsToBounds(true);
  pan_ = std::make_shared<PanGestureRecognizer>();
  pan_->addTarget(this, [this](GestureRecognizer& g) { handlePan(static_cast<PanGestureRecognizer&>(g)); });
  addGestureRecognizer(pan_);
}

ScrollView::ScrollView(const Rect& frame) : ScrollView() { setFrame(frame); }

ScrollView::~ScrollView() {
  pan_->removeTarget(this);
  if (decelerationTimer_) decelerationTimer_->invalidate();
  if (scrollAnimationTimer_) scrollAnimationTimer_->invalidate();
  if (zoomTimer_) zoomTimer_->invalidate();
}

void ScrollView::setContentOffset(Point p) {
  if (p == contentOffset()) return;
  auto keep = weak_from_this().lock();
  setBounds(Rect(p, bounds().size));
  contentOffsetDidChange();
  if (auto d = delegate()) d->scrollViewDidScroll(*this);
}

void ScrollView::setContentOffset(Point p, bool animated) {
  if (!animated) {
    stopScrollAnimation();
    setContentOffset(p);
    return;
  }
  if (p == contentOffset()) return;
  stopDeceleration();
  stopScrollAnimation();
  setContentOffset(p);
  std::weak_ptr<Responder> weak = weak_from_this();
  scrollAnimationTimer_ = Timer::scheduled(*RunLoop::main(), kScrollAnimationDuration, false, [weak, this](Timer&) {
    auto keep = weak.lock();
    if (!keep) return;
    scrollAnimationTimer_.reset();
    if (auto d = delegate()) d->scrollViewDidEndScrollingAnimation(*this);
  });
}

void ScrollView::stopScrollAnimation() {
  if (scrollAnimationTimer_) scrollAnimationTimer_->invalidate();
  scrollAnimationTimer_.reset();
}

void ScrollView::setContentSize(Size s) {
  contentSize_ = s;
  setNeedsLayout();
}

void ScrollView::setContentInset(EdgeInsets i) {
  inset_ = i;
  // A smaller inset leaves no room for an offset that lay inside the old one: unless a finger holds
  // the content there, it settles back within the new edges (a refresh header collapsing).
  if (dragging_) return;
  const Point offset = contentOffset();
  Point settled = clampOffset(offset);
  settled = Point{settled.x + 0.0, settled.y + 0.0};  // an edge at -0 reads as 0
  if (!(settled == offset)) setContentOffset(settled);
}

Point ScrollView::minimumContentOffset() const { return Point{-inset_.left, -inset_.top}; }

Point ScrollView::maximumContentOffset() const {
  Point min = minimumContentOffset();
  return Point{std::max(min.x, contentSize_.width + inset_.right - bounds().size.width),
               std::max(min.y, contentSize_.height + inset_.bottom - bounds().size.height)};
}

Point ScrollView::clampOffset(Point p) const {
  Point lo = minimumContentOffset(), hi = maximumContentOffset();
  return Point{std::clamp(p.x, lo.x, hi.x), std::clamp(p.y, lo.y, hi.y)};
}

// Past an edge the content follows the finger at half the distance.
Point ScrollView::rubberBand(Point p) const {
  Point lo = minimumContentOffset(), hi = maximumContentOffset();
  auto band = [](double v, double a, double b) {
    if (v < a) return a - (a - v) / 2;
    if (v > b) return b + (v - b) / 2;
    return v;
  };
  return Point{band(p.x, lo.x, hi.x), band(p.y, lo.y, hi.y)};
}

void ScrollView::scrollRectToVisible(const Rect& r, bool animated) {
  Point off = contentOffset();
  Size s = bounds().size;
  if (r.minX() < off.x || r.size.width > s.width) off.x = r.minX();
  else if (r.maxX() > off.x + s.width) off.x = r.maxX() - s.width;
  if (r.minY() < off.y || r.size.height > s.height) off.y = r.minY();
  else if (r.maxY() > off.y + s.height) off.y = r.maxY() - s.height;
  setContentOffset(clampOffset(off), animated);
}

void ScrollView::setScrollEnabled(bool e) {
  scrollEnabled_ = e;
  pan_->setEnabled(e);
}

void ScrollView::scrollToTop() {
  if (!scrollsToTop_) return;
  if (auto d = delegate(); d && !d->scrollViewShouldScrollToTop(*this)) return;
  setContentOffset(Point{contentOffset().x, -inset_.top}, true);
  if (auto d = delegate()) d->scrollViewDidScrollToTop(*this);
}

bool ScrollView::canScrollHorizontally() const {
  return scrollEnabled_ && (contentSize_.width + inset_.left + inset_.right > bounds().size.width || alwaysBounceH_);
}

bool ScrollView::canScrollVertically() const {
  return scrollEnabled_ && (contentSize_.height + inset_.top + inset_.bottom > bounds().size.height || alwaysBounceV_);
}

bool ScrollView::gestureRecognizerShouldBegin(GestureRecognizer& recognizer) {
  if (&recognizer != pan_.get()) return View::gestureRecognizerShouldBegin(recognizer);
  // Only a drag along an axis this view can move takes the touch; the rest is left to others.
  Point t = pan_->translationInView(nullptr);
  return std::fabs(t.x) > std::fabs(t.y) ? canScrollHorizontally() : canScrollVertically();
}

void ScrollView::handlePan(PanGestureRecognizer& pan) {
  auto keep = weak_from_this().lock();
  switch (pan.state()) {
    case GestureRecognizerState::Began:
      beginDragging();
      [[fallthrough]];
    case GestureRecognizerState::Changed: {
      Point t = pan.translationInView(nullptr);
      Point target{canScrollHorizontally() ? dragStartOffset_.x - t.x : dragStartOffset_.x,
                   canScrollVertically() ? dragStartOffset_.y - t.y : dragStartOffset_.y};
      setContentOffset(bounces_ ? rubberBand(target) : clampOffset(target));
      break;
    }
    case GestureRecognizerState::Ended: endDragging(pan.velocityInView(nullptr)); break;
    case GestureRecognizerState::Cancelled:
    case GestureRecognizerState::Failed:
      if (dragging_) endDragging(Point{});
      break;
    default: break;
  }
}

void ScrollView::beginDragging() {
  stopDeceleration();
  stopScrollAnimation();
  tracking_ = true;
  dragging_ = true;
  dragStartOffset_ = contentOffset();
  if (auto d = delegate()) d->scrollViewWillBeginDragging(*this);
}

void ScrollView::endDragging(Point velocity) {
  auto keep = weak_from_this().lock();
  if (!dragging_) beginDragging();
  tracking_ = false;
  if (!canScrollHorizontally()) velocity.x = 0;
  if (!canScrollVertically()) velocity.y = 0;
  Point offset = contentOffset();
  Point raw = offset;
  if (paging_) {
    Size page = bounds().size;
    auto settle = [&](double off, double start, double v, double size) {
      if (size <= 0) return off;
      double startPage = std::round(start / size);
      double nearest = std::round(off / size);
      if (std::fabs(v) >= kPagingFlickVelocity) nearest = startPage + (v < 0 ? 1 : -1);
      nearest = std::clamp(nearest, startPage - 1, startPage + 1);
      return nearest * size;
    };
    raw = Point{settle(offset.x, dragStartOffset_.x, velocity.x, page.width),
                settle(offset.y, dragStartOffset_.y, velocity.y, page.height)};
  } else {
    double k = decelerationRate_ / (1000 * (1 - decelerationRate_));
    double speed = std::hypot(velocity.x, velocity.y);
    if (speed >= kMinimumDecelerationVelocity) raw = Point{offset.x - velocity.x * k, offset.y - velocity.y * k};
  }
  Point target = clampOffset(raw);
  const Point proposed = target;
  if (auto d = delegate()) d->scrollViewWillEndDragging(*this, velocity, target);
  const bool redirected = !(target == proposed);
  bool decelerate = std::fabs(target.x - offset.x) > 0.5 || std::fabs(target.y - offset.y) > 0.5;
  dragging_ = false;
  if (auto d = delegate()) d->scrollViewDidEndDragging(*this, decelerate);
  if (!decelerate) return;
  // The delegate may have moved the insets (a refresh header holding the content down).
  target = clampOffset(redirected ? target : raw);
  decelerating_ = true;
  if (auto d = delegate()) d->scrollViewWillBeginDecelerating(*this);
  setContentOffset(target);
  std::weak_ptr<Responder> weak = weak_from_this();
  decelerationTimer_ = Timer::scheduled(*RunLoop::main(), kDecelerationDuration, false, [weak, this](Timer&) {
    auto keep = weak.lock();
    if (!keep) return;
    decelerationTimer_.reset();
    decelerating_ = false;
    if (auto d = delegate()) d->scrollViewDidEndDecelerating(*this);
  });
}

bool ScrollView::stopMotionForTouch() {
  // Programmatic scroll animations run to their end (their owners wait for it).
  bool moving = decelerating_;
  stopDeceleration();
  return moving;
}

void ScrollView::stopDeceleration() {
  if (decelerationTimer_) decelerationTimer_->invalidate();
  decelerationTimer_.reset();
  decelerating_ = false;
}

void ScrollView::applyZoom(double scale) {
  auto d = delegate();
  auto v = d ? d->viewForZoomingInScrollView(*this) : nullptr;
  if (!v) return;
  Size s = v->bounds().size;
  v->setTransform(AffineTransform::makeScale(scale, scale));
  v->setCenter(Point{s.width * scale / 2, s.height * scale / 2});
  zoomScale_ = scale;
  contentSize_ = Size{s.width * scale, s.height * scale};
  if (d) d->scrollViewDidZoom(*this);
}

void ScrollView::setZoomScale(double scale, bool animated) {
  scale = std::clamp(scale, minZoom_, std::max(minZoom_, maxZoom_));
  if (scale == zoomScale_) return;
  auto d = delegate();
  auto v = d ? d->viewForZoomingInScrollView(*this) : nullptr;
  if (!v) return;
  // Keep the middle of the visible area where it is.
  Size b = bounds().size;
  Point off = contentOffset();
  double k = scale / zoomScale_;
  Point mid{(off.x + b.width / 2) * k, (off.y + b.height / 2) * k};
  applyZoom(scale);
  setContentOffset(clampOffset(Point{mid.x - b.width / 2, mid.y - b.height / 2}));
  if (!animated) return;
  zooming_ = true;
  if (zoomTimer_) zoomTimer_->invalidate();
  std::weak_ptr<Responder> weak = weak_from_this();
  std::weak_ptr<Responder> weakView = v;
  zoomTimer_ = Timer::scheduled(*RunLoop::main(), kScrollAnimationDuration, false, [weak, weakView, this](Timer&) {
    auto keep = weak.lock();
    if (!keep) return;
    zoomTimer_.reset();
    zooming_ = false;
    auto view = std::static_pointer_cast<View>(weakView.lock());
    if (auto d = delegate()) d->scrollViewDidEndZooming(*this, view.get(), zoomScale_);
  });
}

void ScrollView::zoomToRect(const Rect& r, bool animated) {
  if (r.size.width <= 0 || r.size.height <= 0) return;
  auto d = delegate();
  auto v = d ? d->viewForZoomingInScrollView(*this) : nullptr;
  if (!v) return;
  Size b = bounds().size;
  double scale = std::clamp(std::min(b.width / r.size.width, b.height / r.size.height), minZoom_, std::max(minZoom_, maxZoom_));
  bool changed = scale != zoomScale_;
  applyZoom(scale);
  setContentOffset(clampOffset(Point{r.midX() * scale - b.width / 2, r.midY() * scale - b.height / 2}));
  if (!animated || !changed) return;
  zooming_ = true;
  if (zoomTimer_) zoomTimer_->invalidate();
  std::weak_ptr<Responder> weak = weak_from_this();
  std::weak_ptr<Responder> weakView = v;
  zoomTimer_ = Timer::scheduled(*RunLoop::main(), kScrollAnimationDuration, false, [weak, weakView, this](Timer&) {
    auto keep = weak.lock();
    if (!keep) return;
    zoomTimer_.reset();
    zooming_ = false;
    auto view = std::static_pointer_cast<View>(weakView.lock());
    if (auto d = delegate()) d->scrollViewDidEndZooming(*this, view.get(), zoomScale_);
  });
}

void ScrollView::describeForDump(std::vector<std::string>& parts) const {
  Point o = contentOffset();
  parts.push_back(format("offset=(%g, %g)", o.x, o.y));
  parts.push_back(format("content=%gx%g", contentSize_.width, contentSize_.height));
  if (zoomScale_ != 1) parts.push_back(format("zoom=%g", zoomScale_));
}

}  // namespace os
