#pragma once
// A paged list's load state, and the pull-to-refresh header and the load-more row that show it.
// The list template and the news list both keep their state here and forward their scrolling
// here, so the header is wired one way: a pull it triggers calls the list back, and it asks here
// whether a load is on. Main thread only.
#include <functional>
#include <memory>
#include <optional>

#include "os/core/Date.h"
#include "ui/widgets/PRRefreshTableHeaderView.h"

namespace os {
class ScrollView;
class TableView;
class TableViewCell;
}  // namespace os

// The load-more row's cell, shared by the paged lists.
inline constexpr const char* kLoadMoreCellIdentifier = "Load_More_Cell";
inline constexpr int kLoadMoreIndicatorTag = 257;
// What the row says while a page may come ("正在加载...", its spinner turning) and once a page
// has failed (still, so that it does not claim a load that is over).
inline constexpr const char* kLoadMoreLoadingText = "正在加载...";
inline constexpr const char* kLoadMoreRestingText = "加载更多";

class NQListLoad final : public PRRefreshTableHeaderDelegate {
 public:
  // The states both lists count in: idle, loading (one load at a time) and failed.
  static constexpr int kIdle = 0;
  static constexpr int kLoading = 1;
  static constexpr int kFailed = 2;

  int state() const { return state_; }
  // A change to or from failed also shows on the load-more row in view.
  void setState(int state);
  bool isLoading() const { return state_ == kLoading; }

  // The table whose load-more row shows the state (a header's table is taken as well).
  void setTable(const std::shared_ptr<os::TableView>& table) { table_ = table; }
  // The load-more row's cell for the current state (a reused one is brought up to date).
  std::shared_ptr<os::TableViewCell> loadMoreCell(os::TableView& table) const;

  // Puts a header above the table's first row. `owner` keeps this object alive (it is the list
  // holding it), so the header's weak delegate lasts as long as the list; `pulled` runs when a
  // pull is let go past the trigger.
  template <class Owner>
  void addHeader(const std::shared_ptr<os::TableView>& table, const std::shared_ptr<Owner>& owner,
                 std::function<void()> pulled) {
    addHeader(table, std::shared_ptr<PRRefreshTableHeaderDelegate>(owner, this), std::move(pulled));
  }
  const std::shared_ptr<PRRefreshTableHeaderView>& header() const { return header_; }

  // The scroll events the header needs; nothing without a header.
  void didScroll(os::ScrollView& scrollView);
  void didEndDragging(os::ScrollView& scrollView);
  // The refresh is over: the header collapses.
  void finishRefresh();
  // A refresh the list starts itself: the header opens and then triggers the pull.
  void startRefresh();

  void prRefreshTableHeaderDidTriggerRefresh(PRRefreshTableHeaderView& view) override;
  bool prRefreshTableHeaderDataSourceIsLoading(PRRefreshTableHeaderView& view) override;
  std::optional<os::Date> prRefreshTableHeaderDataSourceLastUpdated(PRRefreshTableHeaderView& view) override;

 private:
  void addHeader(const std::shared_ptr<os::TableView>& table, const std::shared_ptr<PRRefreshTableHeaderDelegate>& delegate,
                 std::function<void()> pulled);

  int state_ = kIdle;
  std::weak_ptr<os::TableView> table_;
  std::shared_ptr<PRRefreshTableHeaderView> header_;
  std::function<void()> pulled_;
};
