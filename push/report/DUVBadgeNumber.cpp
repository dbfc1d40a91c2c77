#include "push/report/DUVBadgeNumber.h"

#include "os/crypto/Digest.h"
#include "os/runtime/Timer.h"
#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVUtilities.h"

namespace {
constexpr double kResendTimetable[] = {40.0, 100.0, 200.0, 300.0};
std::shared_ptr<DUVLogger> logger() { return DUVClassLogger("DUVBadgeNumberManager"); }
}  // namespace

std::optional<os::URLRequest> DUVBadgeNumberReportRequest::generateReportRequest(const std::string& url) {
  os::Dictionary body{{"uid", os::Value(static_cast<std::int32_t>(identity().uid))},
                      {"platform", os::Value("i")},
                      {"app_key", os::Value(identity().appkey)},
                      {"itime", os::Value(DUVGetCurrentTimestamp())},
                      {"content", os::Value(os::Dictionary{{"badge", os::Value(badgeCount_ < 0 ? 0L : badgeCount_)}})}};
  auto json = ZRFJSONData(os::Value(body));
  if (!json || json->empty()) {
    logger()->logMessage(std::nullopt, "http report packet too short", &DUVLevel::error());
    return std::nullopt;
  }
  bodyData_ = *json;
  os::URLRequest request(url);
  request.setHTTPMethod("POST");
  request.setValueForHTTPHeaderField("text/plain", "Content-Type");
  request.setValueForHTTPHeaderField("application/json", "Accept");
  // Signed over the JSON itself: the badge body is not compressed.
  request.setValueForHTTPHeaderField(authorization(identity(), bodyData_), "Authorization");
  request.setHTTPBody(bodyData_);
  request.setTimeoutInterval(20.0);
  return request;
}

bool DUVBadgeNumberReportRequest::isSendRequestLock() const {
  auto manager = manager_.lock();
  return !manager || manager->badgeReport().get() != this || manager->isSendingLock();
}

void DUVBadgeNumberReportRequest::setIsSendRequestLock(bool lock) {
  // Only the current request speaks for the manager: a replaced one must not unlock its successor.
  auto manager = manager_.lock();
  if (manager && manager->badgeReport().get() == this) manager->setIsSendingLock(lock);
}

bool DUVBadgeNumberReportRequest::startDelaySend() {
  if (auto manager = manager_.lock()) manager->startDelaySendBadge(*this);
  return true;
}

void DUVBadgeNumberReportRequest::handleReceipt(int status) {
  bool keep = !(status == 200 || status == 400 || status == 401);
  if (auto manager = manager_.lock()) manager->stopDelayTimer(keep, *this);
  std::string badge = std::to_string(badgeCount_);
  switch (status) {
    case 200: return logger()->log(DUVLevel::force(), "set badge:" + badge + " succeed");
    case 400: return logger()->log(DUVLevel::force(), "send badge:" + badge + " parameter validate failed!");
    case 401: return logger()->log(DUVLevel::force(), "send badge:" + badge + " parameter check failed!");
    case 500: return logger()->log(DUVLevel::force(), "warning:badge:" + badge + " inner error failed");
    default:
      return logger()->log(DUVLevel::force(), "warning:badge:" + badge + " default error:" + std::to_string(status));
  }
}

void DUVBadgeNumberManager::setBadge(long value) {
  if (badgeValue_ && *badgeValue_ == value && isSendingLock_) return;
  isSendingLock_ = true;
  stopDelayTimer(false);
  badgeReport_ = std::make_shared<DUVBadgeNumberReportRequest>(weak_from_this(), value);
  badgeValue_ = value;
  if (prepare_) prepare_(badgeReport_);
  badgeReport_->send();
}

void DUVBadgeNumberManager::becomeActive() {
  os::Value stored = fileCache_ ? fileCache_->objectForKey(kBadgeKey) : os::Value();
  if (stored.isNumber()) setBadge(static_cast<long>(stored.intValue()));
}

void DUVBadgeNumberManager::willInactive() {
  if (fileCache_) fileCache_->setObject(badgeValue_ ? os::Value(*badgeValue_) : os::Value(), kBadgeKey);
  isSendingLock_ = false;
  stopDelayTimer(false);
}

void DUVBadgeNumberManager::stopDelayTimer(bool keep) {
  if (!keep) {
    badgeValue_.reset();
    badgeReport_.reset();
    delaySendIntervalIndex_ = 0;
  }
  if (delaySendTimer_) delaySendTimer_->invalidate();
  delaySendTimer_.reset();
}

void DUVBadgeNumberManager::stopDelayTimer(bool keep, const DUVBadgeNumberReportRequest& request) {
  if (badgeReport_.get() != &request) return;
  isSendingLock_ = false;
  stopDelayTimer(keep);
}

bool DUVBadgeNumberManager::startDelaySendBadge(DUVBadgeNumberReportRequest& request) {
  if (badgeReport_.get() != &request) return false;
  if (delaySendIntervalIndex_ >= kMaximumResends) {
    logger()->log(DUVLevel::warn(), "send badge count too more");
    return false;
  }
  stopDelayTimer(true);
  std::weak_ptr<DUVBadgeNumberManager> weak = weak_from_this();
  delaySendTimer_ = os::Timer::scheduled(kResendTimetable[delaySendIntervalIndex_++], false, [weak](os::Timer& fired) {
    auto self = weak.lock();
    if (!self || self->delaySendTimer_.get() != &fired || !self->badgeReport_) return;
    self->isSendingLock_ = true;
    self->badgeReport_->send();
  });
  return true;
}
