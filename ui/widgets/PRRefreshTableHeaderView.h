#pragma once
// The strip above the first row of a list that turns a downward pull into a refresh: past the
// trigger offset the arrow turns over, letting go starts loading, and while loading the list is
// held down by a fixed inset until the owner says the load has ended. The header does not watch
// the scroll view itself; the list's scroll delegate forwards the scroll and end-of-drag events.
// Main thread only.
#include <memory>
#include <optional>
#include <string>

#include "os/core/Date.h"
#include "os/graphics/Color.h"
#include "os/views/Label.h"
#include "os/views/Layer.h"
#include "os/views/Switch.h"
#include "os/views/View.h"

namespace os {
class ScrollView;
}

class PRRefreshTableHeaderView;

// Every operation is optional: one left alone counts as "not loading" and "no last update".
class PRRefreshTableHeaderDelegate {
 public:
  virtual ~PRRefreshTableHeaderDelegate() = default;
  // Start loading now; the header is already in the loading state.
  virtual void prRefreshTableHeaderDidTriggerRefresh(PRRefreshTableHeaderView& view) {}
  virtual bool prRefreshTableHeaderDataSourceIsLoading(PRRefreshTableHeaderView& view) { return false; }
  virtual std::optional<os::Date> prRefreshTableHeaderDataSourceLastUpdated(PRRefreshTableHeaderView& view) {
    return std::nullopt;
  }
};

enum PRRefreshState : int {
  PRRefreshPulling = 0,  // released now, it would refresh
  PRRefreshNormal = 1,
  PRRefreshLoading = 2,
};

// The defaults key that receives each rebuilt last-updated line.
inline constexpr const char* kPRRefreshLastRefreshKey = "PRRefreshTableView_LastRefresh";

class PRRefreshTableHeaderView : public os::View {
 public:
  // Pull distance that flips the arrow and triggers on release.
  static constexpr double kTriggerOffset = 65;
  // Top inset that keeps the header in view while loading.
  static constexpr double kLoadingInset = 60;
  static constexpr double kFlipDuration = 0.18;
  static constexpr double kExpandDuration = 0.2;
  static constexpr double kCollapseDuration = 0.3;

  PRRefreshTableHeaderView(const os::Rect& frame, const std::string& arrowImageName, const os::Color& textColor);
  // The blue arrow "blueArrow.png" and blue-grey text.
  explicit PRRefreshTableHeaderView(const os::Rect& frame);
  std::string className() const override { return "PRRefreshTableHeaderView"; }

  std::shared_ptr<PRRefreshTableHeaderDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<PRRefreshTableHeaderDelegate> delegate) { delegate_ = std::move(delegate); }

  int state() const { return state_; }
  // 0, 1 or 2 (PRRefreshState); another value is only stored.
  void setState(int state);
  // The last-updated line from the delegate's date, also written to the defaults; cleared when
  // the delegate has no date.
  void refreshLastUpdatedDate();

  void prRefreshScrollViewDidScroll(os::ScrollView& scrollView);
  void prRefreshScrollViewDidEndDragging(os::ScrollView& scrollView);
  void prRefreshScrollViewDataSourceDidFinishedLoading(os::ScrollView& scrollView);
  // A refresh the program starts itself: loading state, the content pulled into view, then the
  // delegate told. Nothing while already loading.
  void startLoadingAndExpand(os::ScrollView& scrollView);

  const std::shared_ptr<os::Label>& lastUpdatedLabel() const { return lastUpdatedLabel_; }
  const std::shared_ptr<os::Label>& statusLabel() const { return statusLabel_; }
  const std::shared_ptr<os::Layer>& arrowImage() const { return arrowImage_; }
  const std::shared_ptr<os::ActivityIndicatorView>& activityView() const { return activityView_; }

 private:
  bool delegateIsLoading();
  void triggerRefresh();

  std::weak_ptr<PRRefreshTableHeaderDelegate> delegate_;
  int state_ = PRRefreshNormal;
  std::shared_ptr<os::Label> lastUpdatedLabel_;
  std::shared_ptr<os::Label> statusLabel_;
  std::shared_ptr<os::Layer> arrowImage_;
  std::shared_ptr<os::ActivityIndicatorView> activityView_;
};
