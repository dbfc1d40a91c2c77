#pragma once
// The list of one news category, one page of the news view: shows the items stored for the
// category at once, refreshes them from the news API when they are older than the refresh
// interval or when the reader pulls the list down, appends older items when the reader scrolls
// to the end, and opens the item the reader taps. A plain view holding a table, a pull-to-refresh
// header and an empty-state footer. Main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "news/list/NQListLoad.h"
#include "news/store/VXNewsDO.h"
#include "os/core/Value.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/TableView.h"
#include "os/views/View.h"

namespace os {
class ViewController;
}
class VXNewsDBManager;
class VXReaderContext;

// Broadcast when the caches were cleared: every news list empties itself.
inline constexpr const char* kClearCachesNotification = "fClearCaches";

enum VXNewsRequestState : int {
  VXNewsRequestIdle = 0,
  VXNewsRequestLoading = 1,
  VXNewsRequestFailed = 2,
};

class VXNewsTableView : public os::View,
                        public os::TableViewDataSource,
                        public os::TableViewDelegate {
 public:
  // Seconds a category's list stays fresh: the application-wide state's "nctime", unless a source
  // is set in its place (null: back to the application-wide state).
  using RefreshIntervalSource = std::function<double()>;
  static void setRefreshIntervalSource(RefreshIntervalSource source);
  static double refreshInterval();
  static double refreshInterval(VXReaderContext& context);
  // Opens a tapped item from the given screen: the reader context's route, which the home
  // screen's wiring sets to record it as read and open it by its type. Replaces that route.
  using ItemOpener = std::function<void(const std::shared_ptr<VXNewsDO>& item, os::ViewController& controller)>;
  static void setItemOpener(ItemOpener opener);

  static constexpr int kPageCount = 20;
  static constexpr double kLoadMoreDistance = 22;

  // Builds the views and observes "fClearCaches". `context`: the reader context whose database,
  // refresh interval and item route the list uses.
  static std::shared_ptr<VXNewsTableView> create(const os::Rect& frame, long long newsID,
                                                 std::shared_ptr<VXReaderContext> context);
  ~VXNewsTableView() override;
  std::string className() const override { return "VXNewsTableView"; }

  long long ID() const { return ID_; }
  const std::vector<std::shared_ptr<VXNewsDO>>& dataList() const { return dataList_; }
  const std::shared_ptr<os::TableView>& tableView() const { return tableView_; }
  const std::shared_ptr<PRRefreshTableHeaderView>& refreshHeaderView() const { return load_.header(); }
  const std::shared_ptr<os::View>& backgroundView() const { return backgroundView_; }
  bool canLoadMore() const { return canLoadMore_; }
  bool forceLoad() const { return forceLoad_; }
  int requestState() const { return load_.state(); }
  void setRequestState(int state) { load_.setState(state); }
  const std::optional<os::IndexPath>& selectedIndexPath() const { return selectedIndexPath_; }

  // The page became current: the stored items on the first call, then a refresh when stale.
  void load();
  void forceRefresh();
  void pullToRefresh();
  void loadMore(os::ScrollView& scrollView);
  void clearSelectedIndexPath();
  // "fClearCaches": the list empties at once.
  void msgNotification(const os::Notification& notification);
  // The item dictionaries a list may show: "type" absent, "" or "album".
  static os::Array typeFilter(const os::Value& newslist);
  // The controller of the nearest screen up the responder chain.
  os::ViewController* prarentViewController() const;

  // --- table ---
  long numberOfRowsInSection(os::TableView& table, long section) override;
  std::shared_ptr<os::TableViewCell> cellForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  std::optional<double> heightForRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;
  std::optional<double> heightForFooterInSection(os::TableView& table, long section) override;
  std::shared_ptr<os::View> viewForFooterInSection(os::TableView& table, long section) override;
  void didSelectRowAtIndexPath(os::TableView& table, const os::IndexPath& indexPath) override;

  // --- scrolling and the header ---
  void scrollViewDidScroll(os::ScrollView& scrollView) override;
  void scrollViewDidEndDragging(os::ScrollView& scrollView, bool willDecelerate) override;
  void scrollViewDidEndDecelerating(os::ScrollView& scrollView) override;

  VXNewsTableView(const os::Rect& frame, long long newsID);  // use create()

 private:
  void viewInit();
  void createFooterView();
  void request(const os::Dictionary& params, bool front, bool clearDB);
  void answered(const std::optional<os::Dictionary>& data, bool front, bool clearDB);
  void failed(bool front);
  // The answer (or failure) of a request sent before the caches were last cleared.
  void outdated(bool front);
  // A forced refresh, shown by the header: the newest page replaces the list.
  void refreshAfresh();
  void finishRefresh();
  bool isLoadMoreRow(const os::IndexPath& indexPath) const;
  std::weak_ptr<VXNewsTableView> weakSelf() const;
  std::shared_ptr<VXNewsDBManager> database() const;

  long long ID_;
  // Weak: the context holds the side menu, which holds the screen showing this list.
  std::weak_ptr<VXReaderContext> context_;
  std::vector<std::shared_ptr<VXNewsDO>> dataList_;
  std::shared_ptr<os::TableView> tableView_;
  std::optional<os::IndexPath> selectedIndexPath_;
  bool firstLoad_ = true;
  bool forceLoad_ = false;
  bool canLoadMore_ = true;
  // "fClearCaches" heard so far: a request's answer counts only when none came after it was sent.
  unsigned clears_ = 0;
  NQListLoad load_;
  std::shared_ptr<os::View> backgroundView_;
  os::NotificationCenter::ObserverToken clearCachesToken_ = 0;
};
