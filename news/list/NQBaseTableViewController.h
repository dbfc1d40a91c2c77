#pragma once
// The screen of a table that loads its rows page by page from the news or promotion API: a first
// page on demand, the next page when the reader scrolls to the end, a fresh first page on
// pull-to-refresh, a loading view, an error view hook, a load-more row and the short
// network-error HUD. Subclasses supply the request and turn answers into rows.
//
// Main thread only; the next page's request is handed to the runner from a background queue, and
// every outcome comes back on the main thread.
#include <any>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "news/api/NQBaseRequest.h"
#include "news/list/NQListLoad.h"
#include "news/shell/NQBaseViewController.h"
#include "os/core/Value.h"
#include "os/views/TableView.h"

class VXReaderContext;

enum NQTableViewState : int {
  NQTableViewStateIdle = 0,
  NQTableViewStateLoading = 1,
  NQTableViewStateFailed = 2,
};

class NQBaseTableViewController : public NQBaseViewController,
                                  public os::TableViewDataSource,
                                  public os::TableViewDelegate {
 public:
  // A row's data object: what the subclass put there (a news item, an ad, a dictionary).
  using Row = std::any;

  // How far from the end of the content (points) a finished scroll asks for the next page.
  static constexpr double kLoadMoreDistance = 22;

  // `context`: the reader context whose servers and HUD it uses.
  NQBaseTableViewController(os::TableViewStyle style, std::shared_ptr<VXReaderContext> context);
  ~NQBaseTableViewController() override;
  std::string className() const override { return "NQBaseTableViewController"; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  const std::shared_ptr<os::TableView>& tableView() const { return tableView_; }
  std::vector<Row>& listData() { return listData_; }
  const std::vector<Row>& listData() const { return listData_; }
  int tableViewState() const { return load_.state(); }
  int separatorStyle() const { return separatorStyle_; }
  void setSeparatorStyle(int style);
  int currentPage() const { return currentPage_; }
  void setCurrentPage(int page) { currentPage_ = page; }
  int maxPage() const { return maxPage_; }
  void setMaxPage(int page) { maxPage_ = page; }
  bool canLoadMore() const { return canLoadMore_; }
  void setCanLoadMore(bool can) { canLoadMore_ = can; }
  bool addRefreshControl() const { return addRefreshControl_; }
  void setAddRefreshControl(bool add) { addRefreshControl_ = add; }
  bool addListDataBySelf() const { return addListDataBySelf_; }
  void setAddListDataBySelf(bool self) { addListDataBySelf_ = self; }
  const std::shared_ptr<os::View>& loadingView() const { return loadingView_; }
  const std::shared_ptr<os::View>& errorView() const { return errorView_; }
  void setErrorView(std::shared_ptr<os::View> view) { errorView_ = std::move(view); }
  const std::shared_ptr<PRRefreshTableHeaderView>& refreshHeaderView() const { return load_.header(); }

  // --- hooks for subclasses ---
  // The request of the page `currentPage()`; none means the screen has nothing to load.
  virtual std::unique_ptr<NQBaseRequest> request() { return nullptr; }
  // The new rows of an answer (nothing when the request's "data" was unusable).
  virtual std::vector<Row> parseResponse(const std::optional<os::Dictionary>& data) { return {}; }
  // Whether an answer that brought no rows still stands: an empty list, not a failure. The base
  // counts every answer without rows as failed.
  virtual bool isEmptyList(const std::optional<os::Dictionary>& data) { return false; }
  // For addListDataBySelf: applies the answer itself; true when it was useful.
  virtual bool parseResponseNoAddData(const std::optional<os::Dictionary>& data) { return false; }
  // Shown while the state is failed.
  virtual std::shared_ptr<os::View> getErrorView() { return nullptr; }

  // --- loading ---
  // Back to the loading state with no rows, then loadFirstPage() on the next turn of the run loop.
  void loadNewer();
  // Runs request() for the first page; a screen with its own answer handling replaces it.
  virtual void loadFirstPage();
  void loadNextPage();
  void loadFromPullToRefresh();
  // From the end of a drag or of a deceleration: the next page when the end is in view.
  void loadMore();
  void finishRefresh();
  // Records a changed state and shows it on the next turn of the main queue: the error view and the
  // "网络异常" HUD, the loading view, or neither. Screens that show their states otherwise replace
  // it (and record the state with setTableViewState()).
  virtual void changeTableViewState(int state);
  // Made once, the table's frame, a spinner at its centre.
  virtual std::shared_ptr<os::View> getLoadingView();
  static void setExtraCellLineHidden(os::TableView& table);
  void createRefreshControl();

  // --- table ---
  long numberOfRowsInSection(os::TableView& table, long section) override;
  std::shared_ptr<os::TableViewCell> cellForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  std::optional<double> heightForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  void didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  // Whether the row is the load-more row (index equal to the row count, never 0).
  bool isLoadMoreRow(const os::IndexPath& indexPath) const;

  // --- scrolling and the header ---
  void scrollViewDidScroll(os::ScrollView& scrollView) override;
  void scrollViewDidEndDragging(os::ScrollView& scrollView, bool willDecelerate) override;
  void scrollViewDidEndDecelerating(os::ScrollView& scrollView) override;

 protected:
  const std::optional<os::IndexPath>& selectedIndexPath() const { return selectedIndexPath_; }
  // Records the state without showing it.
  void setTableViewState(int state) { load_.setState(state); }
  void setLoadingView(std::shared_ptr<os::View> view) { loadingView_ = std::move(view); }
  // "加载数据失败 class is：" and the class name, on the console.
  void logLoadFailure() const;
  // The context it was made with; null once that context is gone.
  std::shared_ptr<VXReaderContext> readerContext() const { return context_.lock(); }
  // The context's HUD over `view` (nothing once the context is gone).
  void showHud(const std::string& text, const std::shared_ptr<os::View>& view, bool autoHide) const;
  void hideHud(bool animated) const;

 private:
  enum class PageKind { First, Next, Refresh };
  // Runs the request; the outcome comes back on the main thread.
  void run(std::unique_ptr<NQBaseRequest> request, PageKind kind);
  void answered(PageKind kind, const std::optional<os::Dictionary>& data);
  void failed(PageKind kind);
  std::weak_ptr<NQBaseTableViewController> weakSelf();

  // Weak: the context holds the side menu, which holds the screens.
  std::weak_ptr<VXReaderContext> context_;
  std::shared_ptr<os::TableView> tableView_;
  std::vector<Row> listData_;
  int separatorStyle_ = 1;
  int currentPage_ = -1;
  int maxPage_ = 0;
  bool canLoadMore_ = false;
  bool addRefreshControl_ = true;
  bool addListDataBySelf_ = false;
  std::shared_ptr<os::View> loadingView_;
  std::shared_ptr<os::View> errorView_;
  NQListLoad load_;
  std::optional<os::IndexPath> selectedIndexPath_;
};
