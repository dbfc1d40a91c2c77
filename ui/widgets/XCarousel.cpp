#include "ui/widgets/XCarousel.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/views/Control.h"
#include "os/views/Layer.h"
#include "os/views/ScrollView.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Opens a layer transaction; implicit animations are off unless enabled.
class AnimationState {
 public:
  explicit AnimationState(bool enabled) {
    os::LayerTransaction::begin();
    os::LayerTransaction::setDisableActions(!enabled);
  }
  ~AnimationState() { os::LayerTransaction::commit(); }
};

// A count turned into an int without overflow (an infinite or huge quotient counts as many).
int toCount(double value) {
  if (std::isnan(value)) return 0;
  if (value >= INT_MAX / 2) return INT_MAX / 2;
  if (value <= INT_MIN / 2) return INT_MIN / 2;
  return static_cast<int>(value);
}

}  // namespace

XCarousel::XCarousel() { setUp(); }

XCarousel::XCarousel(const os::Rect& frame) : os::View(frame) { setUp(); }

XCarousel::~XCarousel() { stopAnimation(); }

void XCarousel::setUp() {
  contentView_ = std::make_shared<os::View>(bounds());
  contentView_->setAutoresizingMask(os::kViewAutoresizingFlexibleWidth | os::kViewAutoresizingFlexibleHeight);
  pan_ = std::make_shared<os::PanGestureRecognizer>();
  pan_->addTarget(this, [this](os::GestureRecognizer& g) { didPan(static_cast<os::PanGestureRecognizer&>(g)); });
  tap_ = std::make_shared<os::TapGestureRecognizer>();
  tap_->addTarget(this, [this](os::GestureRecognizer& g) { didTap(static_cast<os::TapGestureRecognizer&>(g)); });
  contentView_->addGestureRecognizer(pan_);
  contentView_->addGestureRecognizer(tap_);
  addSubview(contentView_);
}

double XCarousel::now() const { return os::Clock::monotonic(); }

double XCarousel::axisLength() const { return vertical_ ? bounds().size.height : bounds().size.width; }

// MARK: properties

void XCarousel::setDataSource(const std::shared_ptr<XCarouselDataSource>& dataSource) {
  if (dataSource_.lock() == dataSource && hasDataSource_ == (dataSource != nullptr)) return;
  dataSource_ = dataSource;
  hasDataSource_ = dataSource != nullptr;
  if (dataSource) reloadData();
}

void XCarousel::setDelegate(const std::shared_ptr<XCarouselDelegate>& delegate) {
  if (delegate_.lock() == delegate) return;
  delegate_ = delegate;
  if (delegate && dataSource()) setNeedsLayout();
}

void XCarousel::setType(unsigned type) {
  if (type_ == type) return;
  type_ = type;
  layOutItemViews();
}

void XCarousel::setVertical(bool vertical) {
  if (vertical_ == vertical) return;
  vertical_ = vertical;
  layOutItemViews();
}

void XCarousel::setContentOffset(os::Size offset) {
  if (contentOffset_ == offset) return;
  contentOffset_ = offset;
  layOutItemViews();
}

void XCarousel::setPerspective(double perspective) {
  if (perspective_ == perspective) return;
  perspective_ = perspective;
  transformItemViews();
}

void XCarousel::setViewpointOffset(os::Size offset) {
  if (viewpointOffset_ == offset) return;
  viewpointOffset_ = offset;
  transformItemViews();
}

void XCarousel::setAutoscroll(double itemsPerSecond) {
  if (autoscroll_ == itemsPerSecond) return;
  autoscroll_ = itemsPerSecond;
  if (autoscroll_ != 0) startAnimation();
}

double XCarousel::valueForOption(XCarouselOption option, double value) {
  auto d = delegate();
  return d ? d->valueForOption(*this, option, value) : value;
}

// MARK: index arithmetic

int XCarousel::currentItemIndex() const { return clampedIndex(static_cast<int>(std::lround(scrollOffset_))); }

int XCarousel::clampedIndex(int index) const {
  const int n = numberOfItems_;
  if (wrapEnabled_) {
    if (n == 0) return 0;
    return index - n * static_cast<int>(std::floor(static_cast<double>(index) / n));
  }
  return std::min(std::max(0, index), std::max(0, n - 1));
}

double XCarousel::clampedOffset(double offset) const {
  const double n = numberOfItems_;
  if (wrapEnabled_) {
    if (numberOfItems_ == 0) return 0;
    return offset - n * std::floor(offset / n);
  }
  return std::min(std::max(0.0, offset), std::max(0.0, n - 1));
}

double XCarousel::offsetForItemAtIndex(int index) const {
  double offset = index - scrollOffset_;
  if (wrapEnabled_) {
    if (offset > numberOfItems_ / 2.0) offset -= numberOfItems_;
    else if (offset < -numberOfItems_ / 2.0) offset += numberOfItems_;
  }
  if (numberOfItems_ + numberOfPlaceholdersToShow_ == 1) offset = 0;
  return offset;
}

int XCarousel::minScrollDistanceFromIndex(int from, int to) const {
  int direct = to - from;
  if (!wrapEnabled_) return direct;
  int wrapped = std::min(from, to) + numberOfItems_ - std::max(from, to);
  if (to > from) wrapped = -wrapped;
  return std::abs(direct) > std::abs(wrapped) ? wrapped : direct;
}

double XCarousel::minScrollDistanceFromOffset(double from, double to) const {
  double direct = to - from;
  if (!wrapEnabled_) return direct;
  double wrapped = std::min(from, to) + numberOfItems_ - std::max(from, to);
  if (from < to) wrapped = -wrapped;
  return std::fabs(direct) <= std::fabs(wrapped) ? direct : wrapped;
}

double XCarousel::easeInOut(double t) {
  return t < 0.5 ? 0.5 * std::pow(t * 2, 3.0) : 0.5 * std::pow(t * 2 - 2, 3.0) + 1;
}

// MARK: item views

std::shared_ptr<os::View> XCarousel::itemViewAtIndex(int index) const {
  auto it = itemViews_.find(index);
  return it == itemViews_.end() ? nullptr : it->second;
}

int XCarousel::indexOfItemView(const os::View* view) const {
  for (const auto& [index, v] : itemViews_)
    if (v.get() == view) return index;
  return kNotFound;
}

int XCarousel::indexOfItemViewOrSubview(const os::View* view) const {
  while (view && view != contentView_.get()) {
    int index = indexOfItemView(view);
    if (index != kNotFound) return index;
    view = view->superviewPtr();
  }
  return kNotFound;
}

std::vector<int> XCarousel::indexesForVisibleItems() const {
  std::vector<int> out;
  for (const auto& entry : itemViews_) out.push_back(entry.first);
  return out;
}

std::vector<std::shared_ptr<os::View>> XCarousel::visibleItemViews() const {
  std::vector<std::shared_ptr<os::View>> out;
  for (const auto& entry : itemViews_) out.push_back(entry.second);
  return out;
}

std::shared_ptr<os::View> XCarousel::containerOfItemView(const os::View* view) const {
  if (!view || indexOfItemView(view) == kNotFound) return nullptr;
  return view->superview();
}

void XCarousel::queueView(const std::shared_ptr<os::View>& view, int index) {
  if (!view) return;
  if (index < 0 || index >= numberOfItems_) placeholderViewPool_.insert(view);
  else itemViewPool_.insert(view);
}

std::shared_ptr<os::View> XCarousel::dequeueView(bool placeholder) {
  auto& pool = placeholder ? placeholderViewPool_ : itemViewPool_;
  if (pool.empty()) return nullptr;
  auto view = *pool.begin();
  pool.erase(pool.begin());
  return view;
}

std::shared_ptr<os::View> XCarousel::containView(const std::shared_ptr<os::View>& view) {
  if (itemWidth_ == 0) itemWidth_ = vertical_ ? view->bounds().size.height : view->bounds().size.width;
  os::Rect frame = view->bounds();
  if (vertical_) frame.size.height = itemWidth_;
  else frame.size.width = itemWidth_;
  auto container = std::make_shared<os::View>(frame);
  view->setCenter({frame.size.width / 2, frame.size.height / 2});
  container->addSubview(view);
  return container;
}

std::shared_ptr<os::View> XCarousel::loadViewAtIndex(int index, const std::shared_ptr<os::View>& container) {
  AnimationState state(false);
  auto source = dataSource();
  if (!source) return nullptr;
  std::shared_ptr<os::View> view;
  const int p = numberOfPlaceholdersToShow_;
  if (index < 0) {
    view = source->placeholderViewAtIndex(*this, static_cast<int>(std::ceil(p / 2.0)) + index, dequeueView(true));
  } else if (index >= numberOfItems_) {
    view = source->placeholderViewAtIndex(*this, static_cast<int>(p / 2.0 + index - numberOfItems_), dequeueView(true));
  } else {
    view = source->viewForItemAtIndex(*this, index, dequeueView(false));
  }
  if (!view) view = std::make_shared<os::View>();
  itemViews_[index] = view;

  std::shared_ptr<os::View> box = container;
  if (box) {
    if (!box->subviews().empty()) {
      auto old = box->subviews().back();
      queueView(old, index);
      old->removeFromSuperview();
    }
    os::Rect b = box->bounds();
    const os::Size vs = view->bounds().size;
    if (vertical_) b = {b.origin, {vs.width, std::min(itemWidth_, vs.height)}};
    else b = {b.origin, {std::min(itemWidth_, vs.width), vs.height}};
    box->setBounds(b);
    view->setCenter({b.size.width / 2, b.size.height / 2});
    box->addSubview(view);
  } else {
    box = containView(view);
    contentView_->addSubview(box);
  }
  transformItemView(view, index);
  return view;
}

void XCarousel::updateItemWidth() {
  if (auto d = delegate()) {
    double w = d->carouselItemWidth(*this);
    if (w != 0) itemWidth_ = w;
  }
  if (numberOfItems_ > 0) {
    if (itemViews_.empty()) loadViewAtIndex(0);
  } else if (numberOfPlaceholders_ > 0) {
    if (itemViews_.empty()) loadViewAtIndex(-1);
  }
}

int XCarousel::circularCarouselItemCount() {
  const int total = numberOfItems_ + numberOfPlaceholdersToShow_;
  if (type_ < kXCarouselTypeRotary || type_ > kXCarouselTypeInvertedWheel) return total;
  double spacing = valueForOption(kXCarouselOptionSpacing, 1.0);
  double unit = spacing * itemWidth_;
  // No measured width yet: as many as fit is undefined, so take the largest ring.
  double fit = unit > 0 ? std::ceil(axisLength() / unit) * kPi : 30;
  int count = toCount(std::min(30.0, std::max(12.0, fit)));
  count = std::min(total, count);
  return toCount(valueForOption(kXCarouselOptionCount, count));
}

void XCarousel::updateNumberOfVisibleItems() {
  const double w = axisLength();
  auto fitting = [&](double defaultSpacing) {
    double unit = valueForOption(kXCarouselOptionSpacing, defaultSpacing) * itemWidth_;
    return unit > 0 ? toCount(std::ceil(w / unit)) + 2 : kMaxVisibleItems;
  };
  int visible = 0;
  switch (type_) {
    case kXCarouselTypeLinear: visible = fitting(1.0); break;
    case kXCarouselTypeCoverFlow:
    case kXCarouselTypeCoverFlow2: visible = fitting(0.25); break;
    case kXCarouselTypeRotary:
    case kXCarouselTypeCylinder: visible = circularCarouselItemCount(); break;
    case kXCarouselTypeInvertedRotary:
    case kXCarouselTypeInvertedCylinder: visible = toCount(std::ceil(circularCarouselItemCount() / 2.0)); break;
    case kXCarouselTypeWheel:
    case kXCarouselTypeInvertedWheel: {
      int count = circularCarouselItemCount();
      double spacing = valueForOption(kXCarouselOptionSpacing, 1.0);
      double arc = valueForOption(kXCarouselOptionArc, 2 * kPi);
      double radius = valueForOption(kXCarouselOptionRadius, arc != 0 ? itemWidth_ * spacing * count / arc : 0);
      if (radius - itemWidth_ / 2 < std::min(bounds().size.width, bounds().size.height) / 2) visible = count;
      else visible = toCount(std::ceil(count / 2.0)) + 1;
      break;
    }
    default: visible = kMaxVisibleItems; break;
  }
  visible = std::min(kMaxVisibleItems, visible);
  visible = toCount(valueForOption(kXCarouselOptionVisibleItems, visible));
  numberOfVisibleItems_ = std::max(0, std::min(visible, numberOfItems_ + numberOfPlaceholdersToShow_));
}

double XCarousel::alphaForItemWithOffset(double offset) {
  const double inf = std::numeric_limits<double>::infinity();
  double fadeMin = valueForOption(kXCarouselOptionFadeMin, type_ == kXCarouselTypeInvertedTimeMachine ? 0.0 : -inf);
  double fadeMax = valueForOption(kXCarouselOptionFadeMax, type_ == kXCarouselTypeTimeMachine ? 0.0 : inf);
  double range = valueForOption(kXCarouselOptionFadeRange, 1.0);
  double minAlpha = valueForOption(kXCarouselOptionFadeMinAlpha, 0.0);
  double factor = 0;
  if (offset > fadeMax) factor = offset - fadeMax;
  else if (offset < fadeMin) factor = fadeMin - offset;
  // A zero range means an abrupt fade rather than a division by zero.
  if (range <= 0) return factor > 0 ? minAlpha : 1.0;
  return 1.0 - std::min(factor, range) / range * (1.0 - minAlpha);
}

os::Transform3D XCarousel::transformForItemViewWithOffset(double offset) {
  os::Transform3D base = os::Transform3D::identity();
  base.m34 = perspective_;
  base = base.translate(-viewpointOffset_.width, -viewpointOffset_.height, 0);
  const double W = itemWidth_;
  // Along-axis translation and the "about y" rotation axis, turned for vertical carousels.
  auto along = [&](const os::Transform3D& t, double a, double z) {
    return vertical_ ? t.translate(0, a, z) : t.translate(a, 0, z);
  };
  auto rotateY = [&](const os::Transform3D& t, double angle) {
    return vertical_ ? t.rotate(angle, -1, 0, 0) : t.rotate(angle, 0, 1, 0);
  };
  switch (type_) {
    case kXCarouselTypeLinear: {
      double s = valueForOption(kXCarouselOptionSpacing, 1.0);
      return along(base, offset * W * s, 0);
    }
    case kXCarouselTypeRotary:
    case kXCarouselTypeInvertedRotary: {
      double c = circularCarouselItemCount();
      double s = valueForOption(kXCarouselOptionSpacing, 1.0);
      double a = valueForOption(kXCarouselOptionArc, 2 * kPi);
      double r = valueForOption(kXCarouselOptionRadius,
                                c > 0 ? std::max(W * s / 2, W * s / 2 / std::tan(a / 2 / c)) : W * s / 2);
      double theta = valueForOption(kXCarouselOptionAngle, c > 0 ? offset / c * a : 0);
      if (type_ == kXCarouselTypeInvertedRotary) {
        r = -r;
        theta = -theta;
      }
      return along(base, r * std::sin(theta), r * std::cos(theta) - r);
    }
    case kXCarouselTypeCylinder:
    case kXCarouselTypeInvertedCylinder: {
      double c = circularCarouselItemCount();
      double s = valueForOption(kXCarouselOptionSpacing, 1.0);
      double a = valueForOption(kXCarouselOptionArc, 2 * kPi);
      double r = valueForOption(kXCarouselOptionRadius, c > 0 ? std::max(0.01, W * s / 2 / std::tan(a / 2 / c)) : 0.01);
      double theta = valueForOption(kXCarouselOptionAngle, c > 0 ? offset / c * a : 0);
      if (type_ == kXCarouselTypeInvertedCylinder) {
        r = -r;
        theta = -theta;
      }
      auto t = base.translate(0, 0, -r);
      t = rotateY(t, theta);
      return t.translate(0, 0, r + 0.01);
    }
    case kXCarouselTypeWheel:
    case kXCarouselTypeInvertedWheel: {
      double c = circularCarouselItemCount();
      double s = valueForOption(kXCarouselOptionSpacing, 1.0);
      double a = valueForOption(kXCarouselOptionArc, 2 * kPi);
      double r = valueForOption(kXCarouselOptionRadius, a != 0 ? W * s * c / a : 0);
      double theta = valueForOption(kXCarouselOptionAngle, c > 0 ? a / c : 0);
      if (type_ == kXCarouselTypeInvertedWheel) {
        r = -r;
        theta = -theta;
      }
      if (vertical_) {
        auto t = base.translate(-r, 0, 0);
        t = t.rotate(theta * offset, 0, 0, 1);
        return t.translate(r, 0, offset * 0.01);
      }
      auto t = base.translate(0, r, 0);
      t = t.rotate(theta * offset, 0, 0, 1);
      return t.translate(0, -r, offset * 0.01);
    }
    case kXCarouselTypeCoverFlow:
    case kXCarouselTypeCoverFlow2: {
      double tilt = valueForOption(kXCarouselOptionTilt, 0.9);
      double s = valueForOption(kXCarouselOptionSpacing, 0.25);
      double clamped = std::max(-1.0, std::min(1.0, offset));
      if (type_ == kXCarouselTypeCoverFlow2) {
        const double g = toggle_;
        if (g > 0) {
          if (offset <= -0.5) clamped = -1;
          else if (offset <= 0.5) clamped = -g;
          else if (offset <= 1.5) clamped = 1 - g;
        } else {
          if (offset > 0.5) clamped = 1;
          else if (offset > -0.5) clamped = -g;
          else if (offset > -1.5) clamped = -1 - g;
        }
      }
      double x = (clamped * 0.5 * tilt + offset * s) * W;
      double z = std::fabs(clamped) * -W * 0.5;
      auto t = along(base, x, z);
      return rotateY(t, -clamped * kPi / 2 * tilt);
    }
    case kXCarouselTypeTimeMachine:
    case kXCarouselTypeInvertedTimeMachine: {
      double tilt = valueForOption(kXCarouselOptionTilt, 0.3);
      double s = valueForOption(kXCarouselOptionSpacing, 1.0);
      if (type_ == kXCarouselTypeInvertedTimeMachine) {
        tilt = -tilt;
        offset = -offset;
      }
      return vertical_ ? base.translate(0, offset * W * tilt, offset * W * s)
                       : base.translate(offset * W * tilt, 0, offset * W * s);
    }
    case kXCarouselTypeCustom:
      if (auto d = delegate()) return d->itemTransformForOffset(*this, offset, base);
      return base;
    default:
      return base;
  }
}

void XCarousel::transformItemView(const std::shared_ptr<os::View>& view, int index) {
  auto container = view ? view->superview() : nullptr;
  if (!container) return;
  const double offset = offsetForItemAtIndex(index);
  container->setCenter({bounds().size.width / 2 + contentOffset_.width, bounds().size.height / 2 + contentOffset_.height});
  container->layer().setOpacity(alphaForItemWithOffset(offset));
  container->setUserInteractionEnabled(!centerItemWhenSelected_ || index == currentItemIndex());

  // The cover-flow-2 tilt follows the offset only while the carousel moves by itself.
  double clamped = std::max(-1.0, std::min(1.0, offset));
  if (decelerating_ || (scrolling_ && !didDrag_) || (scrollOffset_ - clampedOffset(scrollOffset_) != 0)) {
    if (offset > 0) toggle_ = offset <= 0.5 ? -clamped : 1 - clamped;
    else toggle_ = offset > -0.5 ? -clamped : -1 - clamped;
  }

  const os::Transform3D transform = transformForItemViewWithOffset(offset);
  container->layer().setTransform(transform);

  // Views here are single-sided only when turned away on the inverted cylinder.
  bool backfaces = type_ != kXCarouselTypeInvertedCylinder;
  backfaces = valueForOption(kXCarouselOptionShowBackfaces, backfaces ? 1.0 : 0.0) != 0;
  container->setHidden(!(backfaces || transform.m33 > 0));
}

void XCarousel::transformItemViews() {
  // A copy: the delegate may reload the carousel from inside the loop.
  auto views = itemViews_;
  for (const auto& [index, view] : views) transformItemView(view, index);
}

void XCarousel::depthSortViews() {
  auto current = itemViewAtIndex(currentItemIndex());
  auto currentContainer = current ? current->superview() : nullptr;
  auto transformOf = [](const std::shared_ptr<os::View>& v) {
    auto c = v ? v->superview() : nullptr;
    return c ? c->layer().transform() : os::Transform3D::identity();
  };
  const os::Transform3D t3 = currentContainer ? currentContainer->layer().transform() : os::Transform3D::identity();
  std::vector<std::shared_ptr<os::View>> views = visibleItemViews();
  std::stable_sort(views.begin(), views.end(), [&](const auto& a, const auto& b) {
    const os::Transform3D t1 = transformOf(a), t2 = transformOf(b);
    double diff = (t1.m13 + t1.m23 + t1.m33 + t1.m43) - (t2.m13 + t2.m23 + t2.m33 + t2.m43);
    if (diff == 0) {
      double a1, a2, a3;
      if (vertical_) {
        a1 = t1.m12 + t1.m22 + t1.m32 + t1.m42;
        a2 = t2.m12 + t2.m22 + t2.m32 + t2.m42;
        a3 = t3.m12 + t3.m22 + t3.m32 + t3.m42;
      } else {
        a1 = t1.m11 + t1.m21 + t1.m31 + t1.m41;
        a2 = t2.m11 + t2.m21 + t2.m31 + t2.m41;
        a3 = t3.m11 + t3.m21 + t3.m31 + t3.m41;
      }
      diff = std::fabs(a2 - a3) - std::fabs(a1 - a3);
    }
    return diff < 0;
  });
  for (const auto& view : views)
    if (auto c = view->superview(); c && c->superviewPtr() == contentView_.get()) contentView_->bringSubviewToFront(c.get());
}

std::shared_ptr<os::View> XCarousel::itemViewAtPoint(os::Point point) const {
  const auto& subviews = contentView_->subviews();
  for (auto it = subviews.rbegin(); it != subviews.rend(); ++it) {
    const auto& container = *it;
    if (container->isHidden() || container->subviews().empty()) continue;
    const auto& view = container->subviews().back();
    if (indexOfItemView(view.get()) == kNotFound) continue;
    // The container's outline as its transform places it about its centre.
    const os::Size size = container->bounds().size;
    const os::Transform3D& t = container->layer().transform();
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (os::Point corner : {os::Point{-size.width / 2, -size.height / 2}, os::Point{size.width / 2, -size.height / 2},
                             os::Point{-size.width / 2, size.height / 2}, os::Point{size.width / 2, size.height / 2}}) {
      os::Point p = t.apply(corner);
      minX = std::min(minX, p.x);
      maxX = std::max(maxX, p.x);
      minY = std::min(minY, p.y);
      maxY = std::max(maxY, p.y);
    }
    const os::Point c = container->center();
    if (point.x >= c.x + minX && point.x < c.x + maxX && point.y >= c.y + minY && point.y < c.y + maxY) return view;
  }
  return nullptr;
}

void XCarousel::loadUnloadViews() {
  updateItemWidth();
  updateNumberOfVisibleItems();

  std::set<int> visible;
  int start = currentItemIndex() - numberOfVisibleItems_ / 2;
  if (!wrapEnabled_) {
    const int p = numberOfPlaceholdersToShow_;
    start = std::max(-static_cast<int>(std::ceil(p / 2.0)), std::min(numberOfItems_ - numberOfVisibleItems_ + p / 2, start));
  }
  for (int k = 0; k < numberOfVisibleItems_; ++k) {
    int index = start + k;
    if (wrapEnabled_) index = clampedIndex(index);
    if (alphaForItemWithOffset(offsetForItemAtIndex(index)) != 0) visible.insert(index);
  }

  for (auto it = itemViews_.begin(); it != itemViews_.end();) {
    if (visible.count(it->first)) {
      ++it;
      continue;
    }
    queueView(it->second, it->first);
    if (auto container = it->second->superview()) container->removeFromSuperview();
    it = itemViews_.erase(it);
  }
  for (int index : visible)
    if (!itemViews_.count(index)) loadViewAtIndex(index);
}

void XCarousel::removeViewAtIndex(int index) {
  std::map<int, std::shared_ptr<os::View>> rebuilt;
  for (auto& [i, view] : itemViews_) {
    if (i < index) rebuilt[i] = view;
    else if (i > index) rebuilt[i - 1] = view;
  }
  itemViews_ = std::move(rebuilt);
}

void XCarousel::insertViewAtIndex(const std::shared_ptr<os::View>& view, int index) {
  std::map<int, std::shared_ptr<os::View>> rebuilt;
  for (auto& [i, v] : itemViews_) rebuilt[i < index ? i : i + 1] = v;
  itemViews_ = std::move(rebuilt);
  if (view) itemViews_[index] = view;
}

// MARK: loading and layout

void XCarousel::reloadData() {
  for (const auto& [index, view] : itemViews_)
    if (auto container = view->superview()) container->removeFromSuperview();
  auto source = dataSource();
  if (!source || !contentView_) return;
  numberOfVisibleItems_ = 0;
  numberOfItems_ = std::max(0, source->numberOfItemsInCarousel(*this));
  numberOfPlaceholders_ = std::max(0, source->numberOfPlaceholdersInCarousel(*this));
  itemViews_.clear();
  itemViewPool_.clear();
  placeholderViewPool_.clear();
  setNeedsLayout();
  if (numberOfItems_ > 0 && scrollOffset_ < 0) scrollToItemAtIndex(0, numberOfPlaceholders_ > 0);
}

void XCarousel::layoutSubviews() {
  contentView_->setFrame(bounds());
  layOutItemViews();
}

void XCarousel::rereadWrap() { wrapEnabled_ = valueForOption(kXCarouselOptionWrap, wrapEnabled_ ? 1.0 : 0.0) != 0; }

void XCarousel::layOutItemViews() {
  if (!dataSource() || !contentView_) return;
  wrapEnabled_ = type_ >= kXCarouselTypeRotary && type_ <= kXCarouselTypeInvertedWheel;
  rereadWrap();
  numberOfPlaceholdersToShow_ = wrapEnabled_ ? 0 : numberOfPlaceholders_;
  updateItemWidth();
  updateNumberOfVisibleItems();
  previousItemIndex_ = currentItemIndex();
  const bool coverFlow = type_ == kXCarouselTypeCoverFlow || type_ == kXCarouselTypeCoverFlow2;
  offsetMultiplier_ = valueForOption(kXCarouselOptionOffsetMultiplier, coverFlow ? 2.0 : 1.0);
  if (!scrolling_ && !decelerating_) {
    if (scrollToItemBoundary_) scrollToItemAtIndex(currentItemIndex(), true);
    else scrollOffset_ = clampedOffset(scrollOffset_);
  }
  didScroll();
}

void XCarousel::didMoveToSuperview() {
  if (superviewPtr()) {
    if (auto self = std::dynamic_pointer_cast<XCarousel>(weak_from_this().lock())) {
      pan_->setDelegate(std::static_pointer_cast<os::GestureRecognizerDelegate>(self));
      tap_->setDelegate(std::static_pointer_cast<os::GestureRecognizerDelegate>(self));
    }
    startAnimation();
  } else {
    stopAnimation();
  }
}

// MARK: scrolling

void XCarousel::setScrollOffset(double offset) {
  scrolling_ = false;
  decelerating_ = false;
  startOffset_ = offset;
  endOffset_ = offset;
  if (scrollOffset_ != offset) {
    scrollOffset_ = offset;
    depthSortViews();
    didScroll();
  }
}

void XCarousel::scrollByOffset(double offset, double duration) {
  if (duration > 0) {
    decelerating_ = false;
    scrolling_ = true;
    startTime_ = now();
    startOffset_ = scrollOffset_;
    scrollDuration_ = duration;
    previousItemIndex_ = static_cast<int>(std::lround(scrollOffset_));
    endOffset_ = startOffset_ + offset;
    if (!wrapEnabled_) endOffset_ = clampedOffset(endOffset_);
    if (auto d = delegate()) d->carouselWillBeginScrollingAnimation(*this);
    startAnimation();
  } else {
    setScrollOffset(scrollOffset_ + offset);
  }
}

void XCarousel::scrollToOffset(double offset, double duration) {
  scrollByOffset(minScrollDistanceFromOffset(scrollOffset_, offset), duration);
}

void XCarousel::scrollByNumberOfItems(int count, double duration) {
  if (duration > 0) {
    double target;
    if (count > 0) target = std::floor(scrollOffset_) + count;
    else if (count < 0) target = std::ceil(scrollOffset_) + count;
    else target = std::round(scrollOffset_);
    scrollByOffset(target - scrollOffset_, duration);
  } else {
    setScrollOffset(clampedIndex(previousItemIndex_ + count));
  }
}

void XCarousel::scrollToItemAtIndex(int index, double duration) { scrollToOffset(index, duration); }

void XCarousel::scrollToItemAtIndex(int index, bool animated) {
  scrollToItemAtIndex(index, animated ? kScrollDuration : 0.0);
}

void XCarousel::startAnimation() {
  if (timer_) return;
  // The destructor invalidates the timer, so the raw pointer never outlives the carousel.
  timer_ = os::Timer::scheduled(*os::RunLoop::main(), kTimerInterval, true, [this](os::Timer&) { step(); });
  lastTime_ = now();
}

void XCarousel::stopAnimation() {
  if (timer_) timer_->invalidate();
  timer_.reset();
}

void XCarousel::didScroll() {
  if (wrapEnabled_) {
    scrollOffset_ = clampedOffset(scrollOffset_);
  } else if (bounces_) {
    const double min = -bounceDistance_;
    const double max = std::max(numberOfItems_ - 1, 0) + bounceDistance_;
    if (scrollOffset_ < min) {
      scrollOffset_ = min;
      startVelocity_ = 0;
    } else if (scrollOffset_ > max) {
      scrollOffset_ = max;
      startVelocity_ = 0;
    }
  } else {
    scrollOffset_ = clampedOffset(scrollOffset_);
  }

  const int current = static_cast<int>(std::lround(scrollOffset_));
  const int difference = minScrollDistanceFromIndex(previousItemIndex_, current);
  if (difference != 0) {
    toggleTime_ = now();
    toggle_ = std::max(-1.0, std::min(1.0, static_cast<double>(-difference)));
    startAnimation();
  }

  loadUnloadViews();
  transformItemViews();

  // Held for the calls: the delegate may let go of itself (or of the carousel's owner) inside.
  auto d = delegate();
  if (d) {
    AnimationState state(true);
    d->carouselDidScroll(*this);
  }
  if (d && clampedIndex(previousItemIndex_) != currentItemIndex()) {
    AnimationState state(true);
    d->carouselCurrentItemIndexDidChange(*this);
  }
  previousItemIndex_ = current;
}

double XCarousel::decelerationDistance() const {
  const double v = startVelocity_;
  const double denominator = 2 * v * kDecelerationMultiplier * (1 - decelerationRate_);
  if (denominator == 0) return 0;
  return v * v / denominator;
}

bool XCarousel::shouldDecelerate() const {
  return std::fabs(startVelocity_) > kMinSpeed && std::fabs(decelerationDistance()) > kMinDecelerationDistance;
}

bool XCarousel::shouldScroll() const {
  return std::fabs(startVelocity_) > kMinSpeed && std::fabs(scrollOffset_ - currentItemIndex()) > kMinFlickDistance;
}

void XCarousel::startDecelerating() {
  double distance = decelerationDistance();
  startOffset_ = scrollOffset_;
  endOffset_ = startOffset_ + distance;
  if (pagingEnabled_) endOffset_ = distance > 0 ? std::ceil(startOffset_) : std::floor(startOffset_);
  else if (stopAtItemBoundary_) endOffset_ = distance > 0 ? std::ceil(endOffset_) : std::floor(endOffset_);
  if (!wrapEnabled_) {
    if (bounces_) endOffset_ = std::max(-bounceDistance_, std::min(numberOfItems_ - 1 + bounceDistance_, endOffset_));
    else endOffset_ = clampedOffset(endOffset_);
  }
  distance = endOffset_ - startOffset_;
  startTime_ = now();
  scrollDuration_ = startVelocity_ != 0 ? std::fabs(distance) / std::fabs(0.5 * startVelocity_) : 0;
  if (distance != 0 && scrollDuration_ > 0) {
    decelerating_ = true;
    startAnimation();
  }
}

void XCarousel::step() {
  AnimationState state(false);
  const double time = now();
  const double delta = time - lastTime_;
  lastTime_ = time;

  if (toggle_ != 0) {
    double duration = startVelocity_ != 0 ? 0.2 + 0.2 * std::min(1.0, std::max(0.0, 1.0 / std::fabs(startVelocity_))) : 0.4;
    double t = std::min(1.0, (time - toggleTime_) / duration);
    double e = easeInOut(t);
    toggle_ = toggle_ < 0 ? e - 1 : 1 - e;
    didScroll();
  }

  if (scrolling_) {
    double t = scrollDuration_ > 0 ? std::min(1.0, (time - startTime_) / scrollDuration_) : 1.0;
    scrollOffset_ = startOffset_ + (endOffset_ - startOffset_) * easeInOut(t);
    didScroll();
    if (t >= 1.0) {
      scrolling_ = false;
      depthSortViews();
      if (auto d = delegate()) {
        AnimationState on(true);
        d->carouselDidEndScrollingAnimation(*this);
      }
    }
  } else if (decelerating_) {
    double t = std::min(scrollDuration_, time - startTime_);
    const double v = startVelocity_;
    scrollOffset_ = startOffset_ + v * t - 0.5 * (v / scrollDuration_) * t * t;
    didScroll();
    if (t >= scrollDuration_) {
      decelerating_ = false;
      if (auto d = delegate()) d->carouselDidEndDecelerating(*this);
      if (!scrollToItemBoundary_ && scrollOffset_ - clampedOffset(scrollOffset_) == 0) {
        double r = currentItemIndex() - scrollOffset_;
        if (r > 0.5) r -= 1;
        else if (r < -0.5) r += 1;
        toggleTime_ = time - 0.4 * std::fabs(r);
        toggle_ = std::max(-1.0, std::min(1.0, -r));
      } else if (std::fabs(scrollOffset_ - currentItemIndex()) < kFloatErrorMargin) {
        scrollToItemAtIndex(currentItemIndex(), 0.01);
      } else {
        scrollToItemAtIndex(currentItemIndex(), true);
      }
    }
  } else if (autoscroll_ != 0) {
    if (!dragging_) setScrollOffset(clampedOffset(scrollOffset_ - delta * autoscroll_));
  } else if (toggle_ == 0) {
    stopAnimation();
  }
}

// MARK: editing

void XCarousel::insertItemAtIndex(int index, bool animated) {
  ++numberOfItems_;
  rereadWrap();
  updateNumberOfVisibleItems();
  index = clampedIndex(index);
  insertViewAtIndex(nullptr, index);
  auto view = loadViewAtIndex(index);
  auto container = view ? view->superview() : nullptr;
  if (container) container->layer().setOpacity(0);
  if (itemWidth_ == 0) updateItemWidth();
  if (animated) {
    std::weak_ptr<os::View> weakSelf = std::static_pointer_cast<os::View>(weak_from_this().lock());
    os::View::animate(kScrollDuration, 0, os::kViewAnimationOptionNone, [this] { transformItemViews(); },
                      [weakSelf](bool) {
                        if (auto self = weakSelf.lock()) static_cast<XCarousel&>(*self).loadUnloadViews();
                      });
    std::weak_ptr<os::View> weakContainer = container;
    os::Timer::scheduled(*os::RunLoop::main(), 0.3, false, [this, weakSelf, weakContainer, view, index](os::Timer&) {
      auto self = weakSelf.lock();
      auto box = weakContainer.lock();
      if (!self || !box) return;
      int at = indexOfItemView(view.get());
      double alpha = alphaForItemWithOffset(offsetForItemAtIndex(at == kNotFound ? index : at));
      os::View::animate(0.1, [box, alpha] { box->layer().setOpacity(alpha); });
    });
  } else {
    AnimationState state(false);
    transformItemViews();
    if (container) container->layer().setOpacity(1);
  }
  if (scrollOffset_ < 0) scrollToItemAtIndex(0, animated && numberOfPlaceholders_ > 0);
}

void XCarousel::removeItemAtIndex(int index, bool animated) {
  if (numberOfItems_ <= 0) return;
  index = clampedIndex(index);
  auto view = itemViewAtIndex(index);
  auto container = view ? view->superview() : nullptr;
  auto closeUp = [this, index] {
    removeViewAtIndex(index);
    --numberOfItems_;
    rereadWrap();
    updateNumberOfVisibleItems();
    scrollOffset_ = currentItemIndex();
    didScroll();
  };
  if (animated && weak_from_this().lock()) {
    std::weak_ptr<os::View> weakSelf = std::static_pointer_cast<os::View>(weak_from_this().lock());
    if (container) {
      os::View::animate(0.1, [container] { container->layer().setOpacity(0); },
                        [container](bool) { container->removeFromSuperview(); });
    }
    os::Timer::scheduled(*os::RunLoop::main(), 0.1, false, [this, weakSelf, view, index](os::Timer&) {
      if (weakSelf.lock()) queueView(view, index);
    });
    os::View::animate(kScrollDuration, 0.1, os::kViewAnimationOptionNone, closeUp, [weakSelf](bool) {
      if (auto self = weakSelf.lock()) static_cast<XCarousel&>(*self).depthSortViews();
    });
  } else {
    AnimationState state(false);
    queueView(view, index);
    if (container) container->removeFromSuperview();
    removeViewAtIndex(index);
    --numberOfItems_;
    rereadWrap();
    scrollOffset_ = currentItemIndex();
    didScroll();
    depthSortViews();
  }
}

void XCarousel::reloadItemAtIndex(int index, bool animated) {
  auto view = itemViewAtIndex(index);
  auto container = view ? view->superview() : nullptr;
  if (!container) return;
  if (animated) {
    os::LayerTransaction::begin();
    os::LayerTransaction::setAnimationDuration(kScrollDuration);
    os::LayerTransaction::commit();
  }
  loadViewAtIndex(index, container);
}

// MARK: gestures

void XCarousel::didPan(os::PanGestureRecognizer& pan) {
  if (!scrollEnabled_) return;
  auto d = delegate();
  if (d) d->panGestureRecognizer(*this, pan);
  switch (pan.state()) {
    case os::GestureRecognizerState::Began: {
      dragging_ = true;
      scrolling_ = false;
      decelerating_ = false;
      os::Point t = pan.translationInView(this);
      previousTranslation_ = vertical_ ? t.y : t.x;
      if (d) d->carouselWillBeginDragging(*this);
      break;
    }
    case os::GestureRecognizerState::Ended:
    case os::GestureRecognizerState::Cancelled: {
      dragging_ = false;
      didDrag_ = true;
      if (shouldDecelerate()) {
        didDrag_ = false;
        startDecelerating();
      }
      if (d) {
        AnimationState on(true);
        d->carouselDidEndDragging(*this, decelerating_);
      }
      if (decelerating_) {
        if (d) d->carouselWillBeginDecelerating(*this);
      } else if (!scrollToItemBoundary_ && scrollOffset_ - clampedOffset(scrollOffset_) == 0) {
        depthSortViews();
      } else if (std::fabs(scrollOffset_ - currentItemIndex()) < kFloatErrorMargin) {
        scrollToItemAtIndex(currentItemIndex(), 0.01);
      } else if (shouldScroll()) {
        int direction = startVelocity_ > 0 ? 1 : (startVelocity_ < 0 ? -1 : 0);
        scrollToItemAtIndex(currentItemIndex() + direction, true);
      } else {
        scrollToItemAtIndex(currentItemIndex(), true);
      }
      break;
    }
    default: {
      // Without a measured width there is nothing to convert points into items with.
      if (itemWidth_ <= 0) break;
      os::Point t = pan.translationInView(this);
      os::Point v = pan.velocityInView(this);
      const double translation = vertical_ ? t.y : t.x;
      const double velocity = vertical_ ? v.y : v.x;
      double factor = 1.0;
      if (!wrapEnabled_ && bounces_ && bounceDistance_ > 0)
        factor = 1.0 - std::min(std::fabs(scrollOffset_ - clampedOffset(scrollOffset_)), bounceDistance_) / bounceDistance_;
      startVelocity_ = -velocity * factor * scrollSpeed_ / itemWidth_;
      scrollOffset_ -= (translation - previousTranslation_) * factor * offsetMultiplier_ / itemWidth_;
      previousTranslation_ = translation;
      didScroll();
      break;
    }
  }
}

void XCarousel::didTap(os::TapGestureRecognizer& tap) {
  auto view = itemViewAtPoint(tap.locationInView(contentView_.get()));
  int index = view ? indexOfItemView(view.get()) : kNotFound;
  if (index == kNotFound) return;
  auto d = delegate();
  if (!d || d->shouldSelectItemAtIndex(*this, index)) {
    const int current = currentItemIndex();
    if ((index != current && centerItemWhenSelected_) || (index == current && scrollToItemBoundary_))
      scrollToItemAtIndex(index, true);
    if (d) d->didSelectItemAtIndex(*this, index);
  } else if (scrollEnabled_ && scrollToItemBoundary_) {
    scrollToItemAtIndex(currentItemIndex(), true);
  }
}

bool XCarousel::shouldReceiveTouch(os::GestureRecognizer& recognizer, const os::Touch& touch) {
  if (scrollEnabled_) {
    dragging_ = false;
    scrolling_ = false;
    decelerating_ = false;
  }
  os::View* touched = touch.view();
  if (&recognizer == tap_.get()) {
    int index = indexOfItemViewOrSubview(touched);
    if (index == kNotFound && centerItemWhenSelected_ && touched && !touched->subviews().empty())
      index = indexOfItemView(touched->subviews().back().get());
    if (index != kNotFound) {
      // Controls inside an item handle their own touches.
      for (os::View* v = touched; v && v != contentView_.get(); v = v->superviewPtr())
        if (dynamic_cast<os::Control*>(v)) return false;
    }
    return true;
  }
  if (&recognizer == pan_.get()) {
    if (!scrollEnabled_) return false;
    for (os::View* v = touched; v && v != contentView_.get(); v = v->superviewPtr()) {
      if (auto* scroll = dynamic_cast<os::ScrollView*>(v)) {
        const os::Size content = scroll->contentSize();
        const os::Size frame = scroll->frame().size;
        const bool fits = vertical_ ? content.height <= frame.height : content.width <= frame.width;
        return !scroll->isScrollEnabled() || fits;
      }
    }
    return true;
  }
  return true;
}

bool XCarousel::gestureRecognizerShouldBegin(os::GestureRecognizer& recognizer) {
  if (&recognizer != pan_.get()) return true;
  if (edgeRecognition_) {
    os::Point v = pan_->velocityInView(this);
    if (scrollOffset_ == 0 && v.x > 0) return false;
    if (scrollOffset_ == numberOfItems_ - 1 && v.x < 0) return false;
  }
  if (!ignorePerpendicularSwipes_) return true;
  os::Point t = pan_->translationInView(this);
  return vertical_ ? std::fabs(t.x) <= std::fabs(t.y) : std::fabs(t.x) >= std::fabs(t.y);
}
