#pragma once
// A scroll view: content size, offset and inset, paging, bouncing, zooming, and a pan
// recognizer of its own that drags the content. On release it decelerates (or bounces back, or
// settles on a page): the end offset takes effect at once and the deceleration ends
// kDecelerationDuration later on os::Clock. Animated offset changes end after
// kScrollAnimationDuration. The delegate hears each step in the platform's order.
#include <memory>
#include <optional>

#include "os/runtime/Timer.h"
#include "os/views/View.h"

namespace os {

class ScrollView;
class PanGestureRecognizer;
class Timer;

class ScrollViewDelegate {
 public:
  virtual ~ScrollViewDelegate() = default;
  virtual void scrollViewDidScroll(ScrollView& scrollView) {}
  virtual void scrollViewWillBeginDragging(ScrollView& scrollView) {}
  // May move the offset the deceleration ends at.
  virtual void scrollViewWillEndDragging(ScrollView& scrollView, Point velocity, Point& targetContentOffset) {}
  virtual void scrollViewDidEndDragging(ScrollView& scrollView, bool willDecelerate) {}
  virtual void scrollViewWillBeginDecelerating(ScrollView& scrollView) {}
  virtual void scrollViewDidEndDecelerating(ScrollView& scrollView) {}
  virtual void scrollViewDidEndScrollingAnimation(ScrollView& scrollView) {}
  virtual std::shared_ptr<View> viewForZoomingInScrollView(ScrollView& scrollView) { return nullptr; }
  virtual void scrollViewWillBeginZooming(ScrollView& scrollView, View* view) {}
  virtual void scrollViewDidZoom(ScrollView& scrollView) {}
  virtual void scrollViewDidEndZooming(ScrollView& scrollView, View* view, double scale) {}
  virtual bool scrollViewShouldScrollToTop(ScrollView& scrollView) { return true; }
  virtual void scrollViewDidScrollToTop(ScrollView& scrollView) {}
};

class ScrollView : public View {
 public:
  static constexpr double kDecelerationDuration = 0.5;
  static constexpr double kScrollAnimationDuration = 0.3;
  static constexpr double kDecelerationRateNormal = 0.998;
  static constexpr double kDecelerationRateFast = 0.99;
  // Below this speed (points per second) a release does not decelerate.
  static constexpr double kMinimumDecelerationVelocity = 50;
  // A flick this fast moves a paging view to the next page.
  static constexpr double kPagingFlickVelocity = 300;

  ScrollView();
  explicit ScrollView(const Rect& frame);
  ~ScrollView() override;
  std::string className() const override { return "ScrollView"; }

  Point contentOffset() const { return bounds().origin; }
  void setContentOffset(Point offset);
  void setContentOffset(Point offset, bool animated);
  Size contentSize() const { return contentSize_; }
  void setContentSize(Size size);
  EdgeInsets contentInset() const { return inset_; }
  void setContentInset(EdgeInsets inset);
  EdgeInsets scrollIndicatorInsets() const { return indicatorInsets_; }
  void setScrollIndicatorInsets(EdgeInsets i) { indicatorInsets_ = i; }
  // Scrolls the least needed to show the rectangle (content coordinates).
  void scrollRectToVisible(const Rect& rect, bool animated);
  // The offsets the content may rest at (inset included).
  Point minimumContentOffset() const;
  Point maximumContentOffset() const;

  bool isScrollEnabled() const { return scrollEnabled_; }
  void setScrollEnabled(bool e);
  bool isPagingEnabled() const { return paging_; }
  void setPagingEnabled(bool p) { paging_ = p; }
  bool bounces() const { return bounces_; }
  void setBounces(bool b) { bounces_ = b; }
  bool alwaysBounceVertical() const { return alwaysBounceV_; }
  void setAlwaysBounceVertical(bool b) { alwaysBounceV_ = b; }
  bool alwaysBounceHorizontal() const { return alwaysBounceH_; }
  void setAlwaysBounceHorizontal(bool b) { alwaysBounceH_ = b; }
  bool isDirectionalLockEnabled() const { return directionalLock_; }
  void setDirectionalLockEnabled(bool d) { directionalLock_ = d; }
  bool scrollsToTop() const { return scrollsToTop_; }
  void setScrollsToTop(bool s) { scrollsToTop_ = s; }
  // The status-bar tap: scrolls to the top (animated) when allowed.
  void scrollToTop();
  bool showsHorizontalScrollIndicator() const { return showsH_; }
  void setShowsHorizontalScrollIndicator(bool s) { showsH_ = s; }
  bool showsVerticalScrollIndicator() const { return showsV_; }
  void setShowsVerticalScrollIndicator(bool s) { showsV_ = s; }
  double decelerationRate() const { return decelerationRate_; }
  void setDecelerationRate(double r) { decelerationRate_ = r; }
  bool delaysContentTouches() const { return delaysTouches_; }
  void setDelaysContentTouches(bool d) { delaysTouches_ = d; }
  bool canCancelContentTouches() const { return canCancel_; }
  void setCanCancelContentTouches(bool c) { canCancel_ = c; }

  bool isTracking() const { return tracking_; }
  bool isDragging() const { return dragging_; }
  bool isDecelerating() const { return decelerating_; }
  bool isZooming() const { return zooming_; }
  bool isZoomBouncing() const { return false; }

  // Zoom: the delegate's view for zooming is scaled by its transform; the content size follows.
  double zoomScale() const { return zoomScale_; }
  void setZoomScale(double scale, bool animated = false);
  double minimumZoomScale() const { return minZoom_; }
  void setMinimumZoomScale(double s) { minZoom_ = s; }
  double maximumZoomScale() const { return maxZoom_; }
  void setMaximumZoomScale(double s) { maxZoom_ = s; }
  bool bouncesZoom() const { return bouncesZoom_; }
  void setBouncesZoom(bool b) { bouncesZoom_ = b; }
  // Zooms so the rectangle (in the zoomed view's coordinates) fills the bounds.
  void zoomToRect(const Rect& rect, bool animated);

  std::shared_ptr<ScrollViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<ScrollViewDelegate> d) { delegate_ = std::move(d); }
  const std::shared_ptr<PanGestureRecognizer>& panGestureRecognizer() const { return pan_; }

  // Whether the content can move along each axis (bigger than the view, or bouncing always).
  bool canScrollHorizontally() const;
  bool canScrollVertically() const;

  bool gestureRecognizerShouldBegin(GestureRecognizer& recognizer) override;
  void describeForDump(std::vector<std::string>& parts) const override;

  // A finger coming down stops a deceleration under way (no end callback, as on the platform);
  // true when there was one.
  bool stopMotionForTouch();

  // Drivers: the release the pan recognizer would produce, with a velocity in points/second.
  void endDragging(Point velocity);

 protected:
  // Subclasses (tables) hear offset changes before the delegate.
  virtual void contentOffsetDidChange() {}

 private:
  void handlePan(PanGestureRecognizer& pan);
  void beginDragging();
  void stopDeceleration();
  void stopScrollAnimation();
  Point clampOffset(Point p) const;
  Point rubberBand(Point p) const;
  void applyZoom(double scale);

  Size contentSize_;
  EdgeInsets inset_, indicatorInsets_;
  bool scrollEnabled_ = true, paging_ = false, bounces_ = true;
  bool alwaysBounceV_ = false, alwaysBounceH_ = false, directionalLock_ = false;
  bool scrollsToTop_ = true, showsH_ = true, showsV_ = true;
  bool delaysTouches_ = true, canCancel_ = true;
  double decelerationRate_ = kDecelerationRateNormal;
  bool tracking_ = false, dragging_ = false, decelerating_ = false, zooming_ = false;
  double zoomScale_ = 1, minZoom_ = 1, maxZoom_ = 1;
  bool bouncesZoom_ = true;
  Point dragStartOffset_;
  std::weak_ptr<ScrollViewDelegate> delegate_;
  std::shared_ptr<PanGestureRecognizer> pan_;
  std::shared_ptr<Timer> decelerationTimer_, scrollAnimationTimer_, zoomTimer_;
};

}  // namespace os
