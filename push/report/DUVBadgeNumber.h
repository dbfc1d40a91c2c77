#pragma once
// The application's badge number, told to the push service's user service so the server can count
// on from it: one value uploaded at a time, resent after 40, 100, 200 and 300 s while the service
// cannot take it, carried over a pause of the application in the file cache.
#include <cstdint>
#include <memory>
#include <optional>

#include "push/report/DUVReportRequest.h"

namespace os {
class Timer;
}
class DUVFileCache;
class DUVBadgeNumberManager;

inline constexpr std::uint32_t kDUVReportBadge = 11;

// Kind 11: the badge body as plain JSON, signed over that JSON, never cached.
class DUVBadgeNumberReportRequest : public DUVReportRequest {
 public:
  DUVBadgeNumberReportRequest(std::weak_ptr<DUVBadgeNumberManager> manager, long badge)
      : DUVReportRequest(kDUVReportBadge, nullptr), manager_(std::move(manager)), badgeCount_(badge) {}
  long badgeCount() const { return badgeCount_; }
  std::optional<os::URLRequest> generateReportRequest(const std::string& url) override;
  bool cacheRequestRequired() const override { return false; }
  // The manager's lock while this is its current request; any other badge request answers true.
  bool isSendRequestLock() const override;
  void setIsSendRequestLock(bool lock) override;
  bool startDelaySend() override;
  void handleReceipt(int statusCode) override;

 private:
  std::weak_ptr<DUVBadgeNumberManager> manager_;
  long badgeCount_;
};

class DUVBadgeNumberManager : public std::enable_shared_from_this<DUVBadgeNumberManager> {
 public:
  static constexpr int kMaximumResends = 4;
  // The file-cache entry of a value still under way when the application went inactive.
  static constexpr const char* kBadgeKey = "zurar_user_default_badge_number";
  // `prepare` gives a new request its identity and sender (the scheduler's).
  DUVBadgeNumberManager(std::shared_ptr<DUVFileCache> fileCache,
                        std::function<void(const std::shared_ptr<DUVReportRequest>&)> prepare)
      : fileCache_(std::move(fileCache)), prepare_(std::move(prepare)) {}

  void setBadge(long value);
  void becomeActive();
  void willInactive();
  // A retryable failure: the next resend, or a warning after the fourth.
  bool startDelaySendBadge(DUVBadgeNumberReportRequest& request);
  // After an answer: keep false forgets the value (the upload ended), true keeps it.
  void stopDelayTimer(bool keep, const DUVBadgeNumberReportRequest& request);

  const std::optional<long>& badgeValue() const { return badgeValue_; }
  const std::shared_ptr<DUVBadgeNumberReportRequest>& badgeReport() const { return badgeReport_; }
  bool isSendingLock() const { return isSendingLock_; }
  void setIsSendingLock(bool lock) { isSendingLock_ = lock; }

 private:
  void stopDelayTimer(bool keep);

  std::shared_ptr<DUVFileCache> fileCache_;
  std::function<void(const std::shared_ptr<DUVReportRequest>&)> prepare_;
  bool isSendingLock_ = false;
  std::shared_ptr<os::Timer> delaySendTimer_;
  int delaySendIntervalIndex_ = 0;
  std::optional<long> badgeValue_;
  std::shared_ptr<DUVBadgeNumberReportRequest> badgeReport_;
};
