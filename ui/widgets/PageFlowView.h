#pragma once
// A strip of equally sized pages, one at rest in the middle of the view with its neighbours
// showing beside it, scrolled a page at a time, across or down. Pages are views the data source
// makes on demand; only the pages covering the view plus one on each side are loaded, the others
// go back to a reuse pool the data source can take from. Side pages can fade and shrink with
// their distance from the middle (off by default).
//
// Every layout pass of the flow view itself rebuilds the pages from the data source (the views
// it had loaded wait in the pool), so a data source must be able to fill a reused page again.
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "os/views/GestureRecognizer.h"
#include "os/views/ScrollView.h"
#include "os/views/Switch.h"
#include "os/views/View.h"

class PageFlowView;

class PageFlowViewDataSource {
 public:
  virtual ~PageFlowViewDataSource() = default;
  // Nothing: the data source does not say, and the count stays as it was.
  virtual std::optional<int> numberOfPagesInFlowView(PageFlowView& flowView) { return std::nullopt; }
  // The page's view, maybe one taken from dequeueReusableCell(). A null answer leaves the page
  // empty.
  virtual std::shared_ptr<os::View> cellForPageAtIndex(PageFlowView& flowView, int index) { return nullptr; }
};

class PageFlowViewDelegate {
 public:
  virtual ~PageFlowViewDelegate() = default;
  // Nothing: the page size stays as it was (at first the view's own size).
  virtual std::optional<os::Size> sizeForPageInFlowView(PageFlowView& flowView) { return std::nullopt; }
  // A deceleration came to rest on another page.
  virtual void didScrollToPageAtIndex(PageFlowView& flowView, int index) {}
  // A tap on the page in the middle.
  virtual void didTapPageAtIndex(PageFlowView& flowView, int index) {}
};

class PageFlowView : public os::View, public os::ScrollViewDelegate {
 public:
  enum Orientation : int { kHorizontal = 0, kVertical = 1 };

  // Which pages are loaded: [location, location + length).
  struct Range {
    std::size_t location = 0;
    std::size_t length = 0;
    bool operator==(const Range&) const = default;
  };

  PageFlowView();
  explicit PageFlowView(const os::Rect& frame);
  ~PageFlowView() override;
  std::string className() const override { return "PageFlowView"; }

  std::shared_ptr<PageFlowViewDataSource> dataSource() const { return dataSource_.lock(); }
  void setDataSource(std::weak_ptr<PageFlowViewDataSource> dataSource) { dataSource_ = std::move(dataSource); }
  std::shared_ptr<PageFlowViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<PageFlowViewDelegate> delegate) { delegate_ = std::move(delegate); }
  // Kept in step with the count (at the next reload) and the page a deceleration ends on.
  const std::shared_ptr<os::PageControl>& pageControl() const { return pageControl_; }
  void setPageControl(std::shared_ptr<os::PageControl> control) { pageControl_ = std::move(control); }
  double minimumPageAlpha() const { return minimumPageAlpha_; }
  void setMinimumPageAlpha(double alpha) { minimumPageAlpha_ = alpha; }
  double minimumPageScale() const { return minimumPageScale_; }
  void setMinimumPageScale(double scale) { minimumPageScale_ = scale; }
  int orientation() const { return orientation_; }
  void setOrientation(int orientation) { orientation_ = orientation; }
  // The page at rest in the middle; it changes when a deceleration ends, or when set.
  int currentPageIndex() const { return currentPageIndex_; }
  void setCurrentPageIndex(int index) { currentPageIndex_ = index; }
  // One slot per page: the page's view while it is loaded, else null.
  const std::vector<std::shared_ptr<os::View>>& cells() const { return cells_; }
  // The page's view when it is loaded; null for an empty slot or an index beyond the pages.
  std::shared_ptr<os::View> cellAtIndex(int index) const;
  const std::shared_ptr<os::TapGestureRecognizer>& tapGestureRecognizer() const { return tapGestureRecognizer_; }

  const std::shared_ptr<os::ScrollView>& scrollView() const { return scrollView_; }
  Range visibleRange() const { return visibleRange_; }
  os::Size pageSize() const { return pageSize_; }
  int pageCount() const { return pageCount_; }
  std::size_t reusableCellCount() const { return reusableCells_.size(); }

  // Rebuilds the pages at the next layout pass.
  void reloadData();
  // The most recently pooled page, or null.
  std::shared_ptr<os::View> dequeueReusableCell();
  // Moves to the page (ignored beyond the last). The current page index and the delegate are
  // left alone: they follow decelerations only.
  void scrollToPage(std::size_t page);

  void layoutSubviews() override;
  std::shared_ptr<os::View> hitTest(os::Point point, const os::Event* event) override;

  // Scroll view callbacks.
  void scrollViewDidScroll(os::ScrollView& scrollView) override;
  void scrollViewDidEndDecelerating(os::ScrollView& scrollView) override;

 private:
  void initialize();
  void queueReusableCell(const std::shared_ptr<os::View>& cell);
  void removeCellAtIndex(std::size_t index);
  void setPageAtIndex(std::size_t index);
  void setPagesAtContentOffset(os::Point offset);
  void refreshVisibleCellAppearance();
  void handleTapGesture(os::GestureRecognizer& recognizer);
  // Page width across, height down.
  double pageExtent() const;
  os::Rect pageFrame(std::size_t index) const;

  int orientation_ = kHorizontal;
  std::shared_ptr<os::View> container_;
  std::shared_ptr<os::ScrollView> scrollView_;
  bool needsReload_ = true;
  os::Size pageSize_;
  int pageCount_ = 0;
  int currentPageIndex_ = 0;
  Range visibleRange_;
  std::vector<std::shared_ptr<os::View>> reusableCells_;
  std::shared_ptr<os::PageControl> pageControl_;
  double minimumPageAlpha_ = 1.0;
  double minimumPageScale_ = 1.0;
  std::weak_ptr<PageFlowViewDataSource> dataSource_;
  std::weak_ptr<PageFlowViewDelegate> delegate_;
  std::vector<std::shared_ptr<os::View>> cells_;
  std::shared_ptr<os::TapGestureRecognizer> tapGestureRecognizer_;
  // Lives exactly as long as this view: the scroll view and the tap reach the view through it.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
