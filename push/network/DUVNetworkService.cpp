#include "push/network/DUVNetworkService.h"

#include "push/model/DUVNotifications.h"
#include "push/network/DUVReachability.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVUserDefaults.h"
#include "push/utilities/DUVUtilities.h"

namespace {
std::shared_ptr<DUVLogger> logger() { return DUVClassLogger("DUVNetworkService"); }
}  // namespace

int DUVNetworkTypeFromCarrierName(const std::optional<std::string>& carrierName) {
  os::NotificationCenter unused;
  auto internet = DUVReachability::reachabilityForInternetConnection(unused);
  long status = internet ? internet->currentReachabilityStatus() : 0;
  return status == 2 ? 4 : status == 3 ? DUVCarrierTypeFromCarrierName(carrierName) : 0;
}

std::shared_ptr<DUVNetworkService> DUVNetworkService::create(os::NotificationCenter& center,
                                                             std::shared_ptr<DUVUserDefaults> identity, Session session) {
  auto service = std::make_shared<DUVNetworkService>(PrivateTag{}, center, std::move(identity), std::move(session));
  std::weak_ptr<DUVNetworkService> weak = service;
  center.addObserver(service.get(), kDUVNetworkReachabilityChangedNotification, nullptr, [weak](const os::Notification&) {
    if (auto self = weak.lock()) self->reachabilityChanged();
  });
  center.addObserver(service.get(), kDUVUserDefaultsVerifiedNotification, nullptr, [weak](const os::Notification&) {
    if (auto self = weak.lock()) self->trySetupSession();
  });
  service->internetReachability_ = DUVReachability::reachabilityForInternetConnection(center);
  // A notifier that cannot start leaves the other triggers of trySetupSession.
  if (service->internetReachability_) service->internetReachability_->startNotifier();
  return service;
}

DUVNetworkService::~DUVNetworkService() {
  center_.removeObserver(this);
  if (internetReachability_) internetReachability_->stopNotifier();
}

long DUVNetworkService::currentNetworkStatus() const {
  return internetReachability_ ? internetReachability_->currentReachabilityStatus() : 0;
}

void DUVNetworkService::reachabilityChanged() {
  logger()->log(DUVLevel::error(), "network reachability changed, close session");
  if (session_.close) session_.close();
  trySetupSession();
}

void DUVNetworkService::trySetupSession() {
  long status = currentNetworkStatus();
  logger()->log(DUVLevel::debug(), "当前网络为:" + std::to_string(status));
  if (session_.report) session_.report(status);
  if (identity_ && identity_->verified() && status != 0 && session_.setup) session_.setup();
}
