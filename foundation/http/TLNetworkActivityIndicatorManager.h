#pragma once
// Counts running network operations from their start and finish broadcasts and shows the status
// bar's network activity indicator while any runs. Hiding waits 0.17 s, so back-to-back requests
// do not make it flicker; a request that starts meanwhile keeps it on. Disabled after creation.
//
// Changes go to the shared application's status bar, or to a handler when one is set.
#include <functional>
#include <memory>
#include <mutex>

#include "os/runtime/NotificationCenter.h"

namespace os {
class Timer;
}

class TLNetworkActivityIndicatorManager {
 public:
  static constexpr double kInvisibilityDelay = 0.17;
  using IndicatorHandler = std::function<void(bool visible)>;

  static TLNetworkActivityIndicatorManager& sharedManager();

  // Observes the operations' broadcasts from any sender.
  TLNetworkActivityIndicatorManager();
  ~TLNetworkActivityIndicatorManager();
  TLNetworkActivityIndicatorManager(const TLNetworkActivityIndicatorManager&) = delete;
  TLNetworkActivityIndicatorManager& operator=(const TLNetworkActivityIndicatorManager&) = delete;

  bool isEnabled() const;
  void setEnabled(bool enabled);
  int activityCount() const;
  void setActivityCount(int count);
  void incrementActivityCount();
  // Never below 0.
  void decrementActivityCount();
  bool isNetworkActivityIndicatorVisible() const { return activityCount() > 0; }

  // What the status bar shows now (main thread).
  bool indicatorShown() const { return shown_; }
  void setIndicatorHandler(IndicatorHandler handler) { handler_ = std::move(handler); }

 private:
  void networkingOperationDidStart(const os::Notification& notification);
  void networkingOperationDidFinish(const os::Notification& notification);
  void scheduleUpdate();
  void updateNetworkActivityIndicatorVisibilityDelayed();
  void showIndicator(bool visible);

  mutable std::mutex mutex_;
  bool enabled_ = false;
  int activityCount_ = 0;
  // Main thread only.
  std::shared_ptr<os::Timer> activityIndicatorVisibilityTimer_;
  bool shown_ = false;
  IndicatorHandler handler_;
  // Scheduled updates check it, so a manager that went away is not touched.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
