#pragma once
// The horizontally paged area under the tab strip: one news list per category. A tab tap pages
// it (animated), a swipe moves it and reports the page so the strip can follow; a page loads
// when it comes to rest in view. With no category at all it shows a retry view that loads the
// category list again. Built (again) whenever "fLaunchEnd" is posted. Main thread only.
#include <memory>
#include <string>
#include <vector>

#include "news/list/VXNewsTableView.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/GestureRecognizer.h"
#include "os/views/ScrollView.h"
#include "os/views/View.h"

class VXReaderContext;

class VXScrollPageViewDelegate {
 public:
  virtual ~VXScrollPageViewDelegate() = default;
  virtual void didScollPageViewChanged(int index) {}
};

class VXScrollPageView : public os::View, public os::ScrollViewDelegate {
 public:
  static constexpr double kCategoryTimeout = 0;  // the runner's default

  // `context`: the reader context whose categories, lists, servers and side menu it uses.
  static std::shared_ptr<VXScrollPageView> create(const os::Rect& frame,
                                                  std::shared_ptr<VXReaderContext> context);
  explicit VXScrollPageView(const os::Rect& frame);  // use create()
  ~VXScrollPageView() override;
  std::string className() const override { return "VXScrollPageView"; }

  // Rebuilds one page per category of the context's list and shows the first page.
  void addItemsToScrollView();
  // Pages to i (animated) unless it is already the page in view; the page loads when the
  // animation ends.
  void moveScrollViewWithIndex(int index);
  // Tells the page in view to load, unless it was the last one told; the retry view when there
  // are no pages.
  void loadData();
  // The retry view, made on first use.
  std::shared_ptr<os::View> errorView();
  // Reloads the category list from the server; success posts "fLaunchEnd", which rebuilds.
  void loadAgain();

  int currentPage() const { return currentPage_; }
  void setCurrentPage(int page) { currentPage_ = page; }
  int lastUpdate() const { return lastUpdate_; }
  bool scrollByClick() const { return scrollByClick_; }
  const std::shared_ptr<os::ScrollView>& scrollView() const { return scrollView_; }
  const std::vector<std::shared_ptr<VXNewsTableView>>& viewItems() const { return viewItems_; }

  std::shared_ptr<VXScrollPageViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<VXScrollPageViewDelegate> delegate) { delegate_ = std::move(delegate); }

  // --- scrolling ---
  void scrollViewDidScroll(os::ScrollView& scrollView) override;
  void scrollViewWillBeginDragging(os::ScrollView& scrollView) override;
  void scrollViewDidEndDecelerating(os::ScrollView& scrollView) override;
  void scrollViewDidEndScrollingAnimation(os::ScrollView& scrollView) override;
  // A rightward drag on the first page, already at its left end, moves the side menu instead.
  void panGestureRecognizeran(os::GestureRecognizer& gesture);

 private:
  void observeLaunchEnd();
  void categoriesAnswered(const std::optional<os::Dictionary>& data);
  void categoriesFailed();

  // Weak: the context holds the side menu, which holds the home screen and these pages.
  std::weak_ptr<VXReaderContext> context_;
  int currentPage_ = 0;
  int lastUpdate_ = -1;
  std::shared_ptr<os::ScrollView> scrollView_;
  std::vector<std::shared_ptr<VXNewsTableView>> viewItems_;
  bool scrollByClick_ = false;
  bool sideMenuPanAttached_ = false;
  std::shared_ptr<os::View> errorView_;
  std::weak_ptr<VXScrollPageViewDelegate> delegate_;
  os::NotificationCenter::ObserverToken launchEndToken_ = 0;
};
