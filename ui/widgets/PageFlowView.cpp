#include "ui/widgets/PageFlowView.h"

#include <algorithm>
#include <cmath>

PageFlowView::PageFlowView() { initialize(); }

PageFlowView::PageFlowView(const os::Rect& frame) : os::View(frame) { initialize(); }

PageFlowView::~PageFlowView() {
  // The scroll view may outlive us in someone's hands: it must not call back into a dead view.
  scrollView_->setDelegate(std::weak_ptr<os::ScrollViewDelegate>{});
}

void PageFlowView::initialize() {
  setClipsToBounds(true);

  std::weak_ptr<int> alive = alive_;
  tapGestureRecognizer_ = std::make_shared<os::TapGestureRecognizer>();
  tapGestureRecognizer_->addTarget(this, [this, alive](os::GestureRecognizer& recognizer) {
    if (alive.lock()) handleTapGesture(recognizer);
  });
  addGestureRecognizer(tapGestureRecognizer_);

  needsReload_ = true;
  pageSize_ = bounds().size;
  pageCount_ = 0;
  currentPageIndex_ = 0;
  minimumPageAlpha_ = 1.0;
  minimumPageScale_ = 1.0;
  visibleRange_ = {};
  reusableCells_.clear();
  cells_.clear();

  scrollView_ = std::make_shared<os::ScrollView>(bounds());
  scrollView_->setDelegate(std::shared_ptr<os::ScrollViewDelegate>(alive_, this));
  scrollView_->setPagingEnabled(true);
  scrollView_->setClipsToBounds(false);
  scrollView_->setShowsHorizontalScrollIndicator(false);
  scrollView_->setShowsVerticalScrollIndicator(false);

  container_ = std::make_shared<os::View>(bounds());
  container_->setAutoresizingMask(os::kViewAutoresizingFlexibleWidth | os::kViewAutoresizingFlexibleHeight);
  container_->setBackgroundColor(os::Color::clear());
  container_->addSubview(scrollView_);
  addSubview(container_);
}

std::shared_ptr<os::View> PageFlowView::cellAtIndex(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= cells_.size()) return nullptr;
  return cells_[static_cast<std::size_t>(index)];
}

double PageFlowView::pageExtent() const {
  return orientation_ == kVertical ? pageSize_.height : pageSize_.width;
}

os::Rect PageFlowView::pageFrame(std::size_t index) const {
  double i = static_cast<double>(index);
  if (orientation_ == kVertical) return {0, i * pageSize_.height, pageSize_.width, pageSize_.height};
  return {i * pageSize_.width, 0, pageSize_.width, pageSize_.height};
}

// ---- pages ----

void PageFlowView::reloadData() {
  needsReload_ = true;
  setNeedsLayout();
}

void PageFlowView::queueReusableCell(const std::shared_ptr<os::View>& cell) { reusableCells_.push_back(cell); }

std::shared_ptr<os::View> PageFlowView::dequeueReusableCell() {
  if (reusableCells_.empty()) return nullptr;
  auto cell = reusableCells_.back();
  reusableCells_.pop_back();
  return cell;
}

void PageFlowView::removeCellAtIndex(std::size_t index) {
  if (index >= cells_.size()) return;
  auto cell = cells_[index];
  if (!cell) return;
  queueReusableCell(cell);
  if (cell->superviewPtr()) {
    cell->layer().setTransform(os::Transform3D::identity());
    cell->removeFromSuperview();
  }
  cells_[index] = nullptr;
}

void PageFlowView::setPageAtIndex(std::size_t index) {
  if (index >= cells_.size() || cells_[index]) return;
  auto source = dataSource();
  auto cell = source ? source->cellForPageAtIndex(*this, static_cast<int>(index)) : nullptr;
  // A data source with nothing for this page leaves the slot empty rather than failing later.
  if (!cell) return;
  cells_[index] = cell;
  if (orientation_ == kHorizontal || orientation_ == kVertical) cell->setFrame(pageFrame(index));
  if (!cell->superviewPtr()) scrollView_->addSubview(cell);
}

void PageFlowView::setPagesAtContentOffset(os::Point offset) {
  if (cells_.empty()) return;
  const std::size_t count = cells_.size();
  const bool vertical = orientation_ == kVertical;
  const double extent = pageExtent();

  std::size_t first = 0, last = 0;
  if (extent > 0 && std::isfinite(extent)) {
    double start = vertical ? offset.y - scrollView_->frame().origin.y : offset.x - scrollView_->frame().origin.x;
    double end = std::max(start, 0.0) + (vertical ? bounds().size.height : bounds().size.width);

    for (std::size_t i = 0; i < count; ++i) {
      if (static_cast<double>(i + 1) * extent > start) {
        first = i;
        break;
      }
    }
    last = first;
    // A view that ends exactly on the first page's far edge (pages as wide as the view, at
    // rest) shows that page alone; without this check the search below runs to the final page
    // and every later page would be loaded.
    bool endsInFirst = end <= static_cast<double>(first + 1) * extent;
    for (std::size_t i = first; !endsInFirst && i < count; ++i) {
      if (static_cast<double>(i + 1) * extent < end && static_cast<double>(i + 2) * extent >= end) {
        last = i + 1;
        break;
      }
      if (i + 2 == count) {
        last = i + 1;
        break;
      }
    }
  }
  // Pages without extent would all be "in view": load just the first.
  first = first > 0 ? first - 1 : 0;
  last = std::min(last + 1, count - 1);
  if (extent <= 0 || !std::isfinite(extent)) first = last = 0;

  Range range{first, last - first + 1};
  if (range == visibleRange_) return;
  visibleRange_ = range;
  for (std::size_t i = first; i <= last; ++i) setPageAtIndex(i);
  for (std::size_t i = 0; i < first; ++i) removeCellAtIndex(i);
  for (std::size_t i = last + 1; i < count; ++i) removeCellAtIndex(i);
}

void PageFlowView::refreshVisibleCellAppearance() {
  if (minimumPageAlpha_ == 1.0 && minimumPageScale_ == 1.0) return;
  const bool vertical = orientation_ == kVertical;
  const double offset = vertical ? scrollView_->contentOffset().y : scrollView_->contentOffset().x;
  const double extent = pageExtent();
  for (std::size_t i = visibleRange_.location; i < visibleRange_.location + visibleRange_.length && i < cells_.size(); ++i) {
    const auto& cell = cells_[i];
    if (!cell) continue;
    os::View::beginAnimations("CellAnimation");
    // The page's place in the strip, not its (scaled) frame, so repeated refreshes agree.
    os::Rect frame = pageFrame(i);
    double delta = std::fabs((vertical ? frame.origin.y : frame.origin.x) - offset);
    double alpha = minimumPageAlpha_, scale = minimumPageScale_;
    if (delta < extent) {
      alpha = 1 - (delta / extent) * (1 - minimumPageAlpha_);
      scale = 1 - (delta / extent) * (1 - minimumPageScale_);
    }
    cell->setAlpha(alpha);
    cell->layer().setTransform(os::Transform3D::makeScale(scale, scale, 1.0));
    os::View::commitAnimations();
  }
}

// ---- layout ----

void PageFlowView::layoutSubviews() {
  os::View::layoutSubviews();
  if (needsReload_) {
    if (auto source = dataSource()) {
      if (auto count = source->numberOfPagesInFlowView(*this)) {
        pageCount_ = std::max(*count, 0);
        if (pageControl_) pageControl_->setNumberOfPages(pageCount_);
      }
    }
    if (auto d = delegate()) {
      if (auto size = d->sizeForPageInFlowView(*this)) pageSize_ = *size;
    }
    reusableCells_.clear();
    visibleRange_ = {};
    for (std::size_t i = 0; i < cells_.size(); ++i) removeCellAtIndex(i);
    cells_.assign(static_cast<std::size_t>(pageCount_), nullptr);

    os::Size b = bounds().size;
    if (orientation_ == kHorizontal || orientation_ == kVertical) {
      scrollView_->setFrame(os::Rect{0, 0, pageSize_.width, pageSize_.height});
      if (orientation_ == kHorizontal) {
        scrollView_->setContentSize(os::Size{pageSize_.width * pageCount_, pageSize_.height});
      } else {
        scrollView_->setContentSize(os::Size{pageSize_.width, pageSize_.height * pageCount_});
      }
      scrollView_->setCenter(os::Point{b.width / 2, b.height / 2});
    }
    // The flag stays set: every layout pass of this view rebuilds the pages.
  }
  setPagesAtContentOffset(scrollView_->contentOffset());
  refreshVisibleCellAppearance();
}

void PageFlowView::scrollToPage(std::size_t page) {
  if (pageCount_ <= 0 || page >= static_cast<std::size_t>(pageCount_)) return;
  double p = static_cast<double>(page);
  if (orientation_ == kVertical) {
    scrollView_->setContentOffset(os::Point{0, p * pageSize_.height}, true);
  } else {
    scrollView_->setContentOffset(os::Point{p * pageSize_.width, 0}, true);
    scrollView_->scrollRectToVisible(os::Rect{p * pageSize_.width, 0, pageSize_.width, pageSize_.height}, false);
  }
  setPagesAtContentOffset(scrollView_->contentOffset());
  refreshVisibleCellAppearance();
}

// ---- scrolling and touches ----

void PageFlowView::scrollViewDidScroll(os::ScrollView& scrollView) {
  setPagesAtContentOffset(scrollView_->contentOffset());
  refreshVisibleCellAppearance();
}

void PageFlowView::scrollViewDidEndDecelerating(os::ScrollView& scrollView) {
  auto keep = weak_from_this().lock();
  double extent = pageExtent();
  double offset = orientation_ == kVertical ? scrollView_->contentOffset().y : scrollView_->contentOffset().x;
  // Kept to a real page: readers of cells() index with it.
  int index = 0;
  if (extent > 0 && std::isfinite(extent) && std::isfinite(offset)) {
    double page = std::floor(offset / extent);
    index = static_cast<int>(std::clamp(page, 0.0, static_cast<double>(std::max(pageCount_ - 1, 0))));
  }
  if (pageControl_) pageControl_->setCurrentPage(index);
  int previous = currentPageIndex_;
  currentPageIndex_ = index;
  if (index != previous) {
    if (auto d = delegate()) d->didScrollToPageAtIndex(*this, index);
  }
}

std::shared_ptr<os::View> PageFlowView::hitTest(os::Point point, const os::Event* event) {
  if (isHidden() || alpha() < 0.01 || !isUserInteractionEnabled()) return nullptr;
  if (!pointInside(point, event)) return nullptr;
  os::Point origin = container_->frame().origin;
  os::Point scrollOrigin = scrollView_->frame().origin;
  os::Point offset = scrollView_->contentOffset();
  os::Point inScroll{point.x - origin.x - scrollOrigin.x + offset.x, point.y - origin.y - scrollOrigin.y + offset.y};
  // Touches on a side page, outside the scroll view's frame, still move the strip.
  if (scrollView_->pointInside(inScroll, event)) return scrollView_->hitTest(inScroll, event);
  return scrollView_;
}

void PageFlowView::handleTapGesture(os::GestureRecognizer& recognizer) {
  os::Point location = recognizer.locationInView(scrollView_.get());
  if (!scrollView_->bounds().contains(location)) return;
  if (auto d = delegate()) d->didTapPageAtIndex(*this, currentPageIndex_);
}
