#pragma once
// A view that lays a row of item views out along a line, a ring, a cylinder, a wheel, a
// cover-flow fan or a receding stack, and scrolls through them with inertia, bouncing and
// snapping to items. Item views come from the data source on demand, stay loaded only while
// visible and are recycled through pools. Each item view sits in a container view of its own;
// every visual decision is a 3D transform, an opacity, a hidden flag and a depth order applied
// to the containers. Motion is driven by one 1/60 s timer on the main run loop and by a pan and
// a tap recogniser on the content view. Main thread only.
#include <climits>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "os/graphics/Geometry.h"
#include "os/runtime/Timer.h"
#include "os/views/GestureRecognizer.h"
#include "os/views/View.h"

class XCarousel;

enum XCarouselType : unsigned {
  kXCarouselTypeLinear = 0,
  kXCarouselTypeRotary,
  kXCarouselTypeInvertedRotary,
  kXCarouselTypeCylinder,
  kXCarouselTypeInvertedCylinder,
  kXCarouselTypeWheel,
  kXCarouselTypeInvertedWheel,
  kXCarouselTypeCoverFlow,
  kXCarouselTypeCoverFlow2,
  kXCarouselTypeTimeMachine,
  kXCarouselTypeInvertedTimeMachine,
  kXCarouselTypeCustom,
};

enum XCarouselOption : unsigned {
  kXCarouselOptionWrap = 0,
  kXCarouselOptionShowBackfaces,
  kXCarouselOptionOffsetMultiplier,
  kXCarouselOptionVisibleItems,
  kXCarouselOptionCount,
  kXCarouselOptionArc,
  kXCarouselOptionAngle,
  kXCarouselOptionRadius,
  kXCarouselOptionTilt,
  kXCarouselOptionSpacing,
  kXCarouselOptionFadeMin,
  kXCarouselOptionFadeMax,
  kXCarouselOptionFadeRange,
  kXCarouselOptionFadeMinAlpha,
};

class XCarouselDataSource {
 public:
  virtual ~XCarouselDataSource() = default;
  virtual int numberOfItemsInCarousel(XCarousel& carousel) = 0;
  // `reusing` is a pooled view or null. A null answer is replaced by an empty view.
  virtual std::shared_ptr<os::View> viewForItemAtIndex(XCarousel& carousel, int index,
                                                       std::shared_ptr<os::View> reusing) = 0;
  virtual int numberOfPlaceholdersInCarousel(XCarousel& carousel) { return 0; }
  virtual std::shared_ptr<os::View> placeholderViewAtIndex(XCarousel& carousel, int index,
                                                           std::shared_ptr<os::View> reusing) {
    return nullptr;
  }
};

// Every operation has a default, so each may be sent unconditionally.
class XCarouselDelegate {
 public:
  virtual ~XCarouselDelegate() = default;
  virtual void carouselWillBeginScrollingAnimation(XCarousel& carousel) {}
  virtual void carouselDidEndScrollingAnimation(XCarousel& carousel) {}
  virtual void carouselDidScroll(XCarousel& carousel) {}
  virtual void carouselCurrentItemIndexDidChange(XCarousel& carousel) {}
  virtual void carouselWillBeginDragging(XCarousel& carousel) {}
  virtual void carouselDidEndDragging(XCarousel& carousel, bool willDecelerate) {}
  virtual void carouselWillBeginDecelerating(XCarousel& carousel) {}
  virtual void carouselDidEndDecelerating(XCarousel& carousel) {}
  virtual void didSelectItemAtIndex(XCarousel& carousel, int index) {}
  virtual bool shouldSelectItemAtIndex(XCarousel& carousel, int index) { return true; }
  // 0 leaves the measured width in force.
  virtual double carouselItemWidth(XCarousel& carousel) { return 0; }
  virtual os::Transform3D itemTransformForOffset(XCarousel& carousel, double offset, const os::Transform3D& base) {
    return base;
  }
  virtual double valueForOption(XCarousel& carousel, XCarouselOption option, double value) { return value; }
  virtual void panGestureRecognizer(XCarousel& carousel, os::PanGestureRecognizer& recognizer) {}
};

class XCarousel : public os::View, public os::GestureRecognizerDelegate {
 public:
  // Answer of the index look-ups for a view that is not loaded.
  static constexpr int kNotFound = INT_MAX;
  static constexpr double kTimerInterval = 1.0 / 60;
  static constexpr double kScrollDuration = 0.4;
  static constexpr double kMinSpeed = 2.0;
  static constexpr double kMinDecelerationDistance = 0.1;
  static constexpr double kMinFlickDistance = 0.1;
  static constexpr double kDecelerationMultiplier = 30;
  static constexpr double kFloatErrorMargin = 0.01;
  static constexpr int kMaxVisibleItems = 30;

  XCarousel();
  explicit XCarousel(const os::Rect& frame);
  ~XCarousel() override;
  std::string className() const override { return "XCarousel"; }

  std::shared_ptr<XCarouselDataSource> dataSource() const { return dataSource_.lock(); }
  void setDataSource(const std::shared_ptr<XCarouselDataSource>& dataSource);
  std::shared_ptr<XCarouselDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<XCarouselDelegate>& delegate);

  unsigned type() const { return type_; }
  void setType(unsigned type);
  double perspective() const { return perspective_; }
  void setPerspective(double perspective);
  double decelerationRate() const { return decelerationRate_; }
  void setDecelerationRate(double r) { decelerationRate_ = r; }
  double scrollSpeed() const { return scrollSpeed_; }
  void setScrollSpeed(double s) { scrollSpeed_ = s; }
  double bounceDistance() const { return bounceDistance_; }
  void setBounceDistance(double d) { bounceDistance_ = d; }
  bool isScrollEnabled() const { return scrollEnabled_; }
  void setScrollEnabled(bool e) { scrollEnabled_ = e; }
  bool isPagingEnabled() const { return pagingEnabled_; }
  void setPagingEnabled(bool e) { pagingEnabled_ = e; }
  bool isVertical() const { return vertical_; }
  void setVertical(bool vertical);
  bool isWrapEnabled() const { return wrapEnabled_; }
  bool bounces() const { return bounces_; }
  void setBounces(bool b) { bounces_ = b; }
  double scrollOffset() const { return scrollOffset_; }
  void setScrollOffset(double offset);
  double offsetMultiplier() const { return offsetMultiplier_; }
  os::Size contentOffset() const { return contentOffset_; }
  void setContentOffset(os::Size offset);
  os::Size viewpointOffset() const { return viewpointOffset_; }
  void setViewpointOffset(os::Size offset);
  int numberOfItems() const { return numberOfItems_; }
  int numberOfPlaceholders() const { return numberOfPlaceholders_; }
  int numberOfVisibleItems() const { return numberOfVisibleItems_; }
  double itemWidth() const { return itemWidth_; }
  const std::shared_ptr<os::View>& contentView() const { return contentView_; }
  double toggle() const { return toggle_; }
  double autoscroll() const { return autoscroll_; }
  void setAutoscroll(double itemsPerSecond);
  bool stopAtItemBoundary() const { return stopAtItemBoundary_; }
  void setStopAtItemBoundary(bool b) { stopAtItemBoundary_ = b; }
  bool scrollToItemBoundary() const { return scrollToItemBoundary_; }
  void setScrollToItemBoundary(bool b) { scrollToItemBoundary_ = b; }
  bool ignorePerpendicularSwipes() const { return ignorePerpendicularSwipes_; }
  void setIgnorePerpendicularSwipes(bool b) { ignorePerpendicularSwipes_ = b; }
  bool centerItemWhenSelected() const { return centerItemWhenSelected_; }
  void setCenterItemWhenSelected(bool b) { centerItemWhenSelected_ = b; }
  bool isDragging() const { return dragging_; }
  bool isDecelerating() const { return decelerating_; }
  bool isScrolling() const { return scrolling_; }
  bool edgeRecognition() const { return edgeRecognition_; }
  void setEdgeRecognition(bool b) { edgeRecognition_ = b; }
  bool isAnimating() const { return timer_ != nullptr; }
  const std::shared_ptr<os::PanGestureRecognizer>& panGestureRecognizer() const { return pan_; }
  const std::shared_ptr<os::TapGestureRecognizer>& tapGestureRecognizer() const { return tap_; }

  int currentItemIndex() const;
  void setCurrentItemIndex(int index) { setScrollOffset(index); }
  std::shared_ptr<os::View> currentItemView() const { return itemViewAtIndex(currentItemIndex()); }
  std::shared_ptr<os::View> itemViewAtIndex(int index) const;
  int indexOfItemView(const os::View* view) const;
  int indexOfItemViewOrSubview(const os::View* view) const;
  std::vector<int> indexesForVisibleItems() const;
  std::vector<std::shared_ptr<os::View>> visibleItemViews() const;
  // Point in the content view; the nearest item whose container covers it.
  std::shared_ptr<os::View> itemViewAtPoint(os::Point point) const;
  // The container of a loaded item view, or null.
  std::shared_ptr<os::View> containerOfItemView(const os::View* view) const;

  int clampedIndex(int index) const;
  double clampedOffset(double offset) const;
  double offsetForItemAtIndex(int index) const;
  double valueForOption(XCarouselOption option, double value);
  double alphaForItemWithOffset(double offset);
  os::Transform3D transformForItemViewWithOffset(double offset);
  int circularCarouselItemCount();
  int minScrollDistanceFromIndex(int from, int to) const;
  double minScrollDistanceFromOffset(double from, double to) const;
  static double easeInOut(double t);

  void reloadData();
  void layoutSubviews() override;
  void layOutItemViews();
  void didMoveToSuperview() override;

  void scrollByOffset(double offset, double duration);
  void scrollToOffset(double offset, double duration);
  void scrollByNumberOfItems(int count, double duration);
  void scrollToItemAtIndex(int index, double duration);
  void scrollToItemAtIndex(int index, bool animated);

  void insertItemAtIndex(int index, bool animated);
  void removeItemAtIndex(int index, bool animated);
  void reloadItemAtIndex(int index, bool animated);

  // One animation tick (the timer calls it).
  void step();

  // Gesture sharing.
  bool gestureRecognizerShouldBegin(os::GestureRecognizer& recognizer) override;
  bool shouldReceiveTouch(os::GestureRecognizer& recognizer, const os::Touch& touch) override;

 private:
  void setUp();
  void didPan(os::PanGestureRecognizer& pan);
  void didTap(os::TapGestureRecognizer& tap);
  void didScroll();
  void startAnimation();
  void stopAnimation();
  void updateItemWidth();
  void updateNumberOfVisibleItems();
  void loadUnloadViews();
  std::shared_ptr<os::View> loadViewAtIndex(int index, const std::shared_ptr<os::View>& container = nullptr);
  std::shared_ptr<os::View> containView(const std::shared_ptr<os::View>& view);
  void transformItemView(const std::shared_ptr<os::View>& view, int index);
  void transformItemViews();
  void depthSortViews();
  void queueView(const std::shared_ptr<os::View>& view, int index);
  std::shared_ptr<os::View> dequeueView(bool placeholder);
  void removeViewAtIndex(int index);
  void insertViewAtIndex(const std::shared_ptr<os::View>& view, int index);
  double decelerationDistance() const;
  bool shouldDecelerate() const;
  bool shouldScroll() const;
  void startDecelerating();
  void rereadWrap();
  double axisLength() const;
  double now() const;

  bool scrollEnabled_ = true;
  bool pagingEnabled_ = false;
  bool vertical_ = false;
  bool wrapEnabled_ = false;
  bool bounces_ = true;
  bool stopAtItemBoundary_ = true;
  bool scrollToItemBoundary_ = true;
  bool ignorePerpendicularSwipes_ = true;
  bool centerItemWhenSelected_ = true;
  bool dragging_ = false, decelerating_ = false, scrolling_ = false;
  bool edgeRecognition_ = false;
  bool didDrag_ = false;
  std::weak_ptr<XCarouselDataSource> dataSource_;
  std::weak_ptr<XCarouselDelegate> delegate_;
  bool hasDataSource_ = false;
  unsigned type_ = kXCarouselTypeLinear;
  double perspective_ = -1.0 / 500.0;
  double decelerationRate_ = 0.95;
  double scrollSpeed_ = 1.0;
  double bounceDistance_ = 1.0;
  double scrollOffset_ = 0;
  double offsetMultiplier_ = 1.0;
  int numberOfItems_ = 0, numberOfPlaceholders_ = 0;
  int numberOfVisibleItems_ = 0;
  double itemWidth_ = 0;
  std::shared_ptr<os::View> contentView_;
  double toggle_ = 0;
  double autoscroll_ = 0;
  std::map<int, std::shared_ptr<os::View>> itemViews_;
  std::set<std::shared_ptr<os::View>> itemViewPool_, placeholderViewPool_;
  int previousItemIndex_ = 0;
  int numberOfPlaceholdersToShow_ = 0;
  double startOffset_ = 0, endOffset_ = 0, startVelocity_ = 0;
  std::shared_ptr<os::Timer> timer_;
  double previousTranslation_ = 0;
  os::Size contentOffset_{0, 0};
  os::Size viewpointOffset_{0, 0};
  double scrollDuration_ = 0, startTime_ = 0, lastTime_ = 0, toggleTime_ = 0;
  std::shared_ptr<os::PanGestureRecognizer> pan_;
  std::shared_ptr<os::TapGestureRecognizer> tap_;
};
